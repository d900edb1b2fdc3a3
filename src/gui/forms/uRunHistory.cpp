#include "gui/forms/uRunHistory.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/text/duration_text.h"
#include "gui/widgets/error_report.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/qt_text.h"

namespace bv::forms {

using widgets::guarded;
using widgets::named;
using widgets::toQString;

namespace {

const widgets::ListColumn kColumns[] = {
    {"開始日時", 140}, {"所要時間", 90}, {"結果", 330}, {"開始", 70},
};

}  // namespace

TfrmRunHistory::TfrmRunHistory(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("frmRunHistory"));
  setModal(true);
  auto* root = new QVBoxLayout(this);
  lvRunList = named(new QTreeWidget(this), "lvRunList");
  widgets::makeReportList(lvRunList, kColumns, 260);
  lvRunList->setSelectionMode(QAbstractItemView::ExtendedSelection);
  root->addWidget(lvRunList, 1);
  lblLastRunOnly = named(
      new QLabel(QStringLiteral("タスク スケジューラが記録しているのは最後の実行とその結果だけです。"), this),
      "lblLastRunOnly");
  lblLastRunOnly->setVisible(false);
  root->addWidget(lblLastRunOnly);
  btnCopy = named(new QPushButton(QStringLiteral("コピー"), this), "btnCopy");
  btnClose = named(new QPushButton(QStringLiteral("閉じる"), this), "btnClose");
  auto* row = new QHBoxLayout;
  row->addStretch();
  for (QPushButton* button : {btnCopy, btnClose}) {
    button->setAutoDefault(false);
    button->setMinimumWidth(80);
    row->addWidget(button);
  }
  root->addLayout(row);
  connect(btnCopy, &QPushButton::clicked, this, guarded(this, &TfrmRunHistory::btnCopyClick));
  connect(btnClose, &QPushButton::clicked, this, &QDialog::accept);
  auto* copy = new QShortcut(QKeySequence::Copy, lvRunList);
  connect(copy, &QShortcut::activated, this, guarded(this, &TfrmRunHistory::btnCopyClick));
}

void TfrmRunHistory::ShowHistory(const QString& taskName, const tasks::TaskRunHistory& history) {
  setWindowTitle(QStringLiteral("実行履歴 - ") + taskName);
  lvRunList->clear();
  for (auto run = history.runs.rbegin(); run != history.runs.rend(); ++run) {
    auto* item = new QTreeWidgetItem(lvRunList);
    item->setText(0, toQString(tasks::runStartText(*run)));
    item->setText(1, history.lastRunOnly ? QString() : toQString(text::durationText(run->seconds)));
    item->setText(2, toQString(run->outcome));
    item->setText(3, run->late ? QStringLiteral("遅れて") : QStringLiteral("予定どおり"));
    if (!run->succeeded()) item->setIcon(2, style()->standardIcon(QStyle::SP_MessageBoxWarning));
  }
  lblLastRunOnly->setVisible(history.lastRunOnly);
  exec();
}

QString TfrmRunHistory::HistoryText() const {
  QString text;
  const QList<QTreeWidgetItem*> selected = lvRunList->selectedItems();
  QStringList captions;
  for (const widgets::ListColumn& column : kColumns) captions << QString::fromUtf8(column.caption);
  text += captions.join(QLatin1Char('\t')) + QLatin1Char('\n');
  for (int i = 0; i < lvRunList->topLevelItemCount(); ++i) {
    const QTreeWidgetItem* item = lvRunList->topLevelItem(i);
    if (!selected.isEmpty() && !item->isSelected()) continue;  // the selection, or every row
    QStringList fields;
    for (int column = 0; column < lvRunList->columnCount(); ++column) fields << item->text(column);
    text += fields.join(QLatin1Char('\t')) + QLatin1Char('\n');
  }
  return text;
}

void TfrmRunHistory::btnCopyClick() { QApplication::clipboard()->setText(HistoryText()); }

}  // namespace bv::forms
