#include "gui/widgets/history_dialog.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/widgets/error_report.h"

namespace bv::widgets {

HistoryDialog::HistoryDialog(QWidget* parent, const char* name, const char* listName,
                             std::span<const ListColumn> columns, int listHeight)
    : QDialog(parent, dialogFlags()) {
  setObjectName(QString::fromLatin1(name));
  setModal(true);
  root_ = new QVBoxLayout(this);
  list_ = named(new QTreeWidget(this), listName);
  makeReportList(list_, columns, listHeight);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  root_->addWidget(list_, 1);

  // コピー and 閉じる at the right, neither taking Return.
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  auto* btnCopy = named(new QPushButton(QStringLiteral("コピー"), this), "btnCopy");
  auto* btnClose = named(new QPushButton(QStringLiteral("閉じる"), this), "btnClose");
  for (QPushButton* button : {btnCopy, btnClose}) {
    button->setAutoDefault(false);
    button->setMinimumWidth(80);
    buttons->addWidget(button);
  }
  const auto copy = guarded(this, &HistoryDialog::btnCopyClick);
  connect(btnCopy, &QPushButton::clicked, this, copy);
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
  auto* keys = new QShortcut(QKeySequence::Copy, list_);
  connect(keys, &QShortcut::activated, this, copy);
  root_->addLayout(buttons);
}

void HistoryDialog::addAboveList(QWidget* widget) { root_->insertWidget(root_->indexOf(list_), widget); }

void HistoryDialog::addBelowList(QWidget* widget) { root_->insertWidget(root_->indexOf(list_) + 1, widget); }

QString HistoryDialog::HistoryText() const {
  const QTreeWidgetItem* header = list_->headerItem();
  QStringList captions;
  for (int column = 0; column < list_->columnCount(); ++column) captions << header->text(column);
  QString text = captions.join(QLatin1Char('\t')) + QLatin1Char('\n');
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  for (int i = 0; i < list_->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = list_->topLevelItem(i);
    if (!selected.isEmpty() && !item->isSelected()) continue;
    QStringList fields;
    for (int column = 0; column < list_->columnCount(); ++column) fields << item->text(column);
    text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
  }
  return text;
}

void HistoryDialog::btnCopyClick() { QApplication::clipboard()->setText(HistoryText()); }

}  // namespace bv::widgets
