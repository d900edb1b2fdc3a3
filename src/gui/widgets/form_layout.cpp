#include "gui/widgets/form_layout.h"

#include <algorithm>

#include <QDate>
#include <QDateEdit>
#include <QDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTreeWidget>

namespace bv::widgets {

void makeReportList(QTreeWidget* list, std::span<const ListColumn> columns, int minimumHeight) {
  list->setColumnCount(static_cast<int>(columns.size()));
  QStringList captions;
  for (const auto& column : columns) captions << QString::fromUtf8(column.caption);
  list->setHeaderLabels(captions);
  list->setRootIsDecorated(false);
  list->setItemsExpandable(false);
  list->setUniformRowHeights(true);
  list->setAllColumnsShowFocus(true);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setSortingEnabled(false);
  QHeaderView* header = list->header();
  header->setStretchLastSection(false);
  header->setSectionsMovable(false);
  header->setMinimumSectionSize(20);
  int width = 0;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    int columnWidth = columns[i].width;
    if (columns[i].widest != nullptr) {
      columnWidth = std::max(columnWidth, reportCellWidth(list, QString::fromUtf8(columns[i].widest), columns[i].marked));
    }
    header->resizeSection(static_cast<int>(i), columnWidth);
    width += columnWidth;
  }
  list->setMinimumSize(
      width + 2 * list->frameWidth() + list->style()->pixelMetric(QStyle::PM_ScrollBarExtent), minimumHeight);
}

int reportCellWidth(const QTreeWidget* list, const QString& text, bool marked) {
  // As the style lays an item out: a margin of the focus frame's and one pixel each side of the
  // text, and of the icon.
  const int margins = 2 * (list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1);
  const int icon = list->iconSize().width() > 0 ? list->iconSize().width()
                                                : list->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, list);
  return list->fontMetrics().horizontalAdvance(text) + margins + (marked ? icon + margins : 0);
}

Qt::WindowFlags dialogFlags() {
  return Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
}

QHBoxLayout* okCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel) {
  ok = named(new QPushButton(QStringLiteral("OK"), dialog), "btnOK");
  cancel = named(new QPushButton(QStringLiteral("キャンセル"), dialog), "btnCancel");
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(ok);
  row->addWidget(cancel);
  return row;
}

void makeOkTheDefault(QDialog* dialog, QPushButton* ok) {
  for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  ok->setDefault(true);
}

QSpinBox* numberBox(QWidget* parent, const char* name, int minimum, int maximum) {
  auto* box = named(new QSpinBox(parent), name);
  box->setRange(minimum, maximum);
  return box;
}

void setUpDateEdit(QDateEdit* edit) {
  edit->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
  edit->setCalendarPopup(true);
  edit->setMinimumDate(QDate(1601, 1, 1));
  edit->setMaximumDate(QDate(9999, 12, 31));
}

}  // namespace bv::widgets
