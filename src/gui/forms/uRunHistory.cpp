#include "gui/forms/uRunHistory.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
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
  const widgets::CopyCloseRow buttons =
      widgets::makeCopyCloseRow(this, lvRunList, guarded(this, &TfrmRunHistory::btnCopyClick));
  btnCopy = buttons.copy;
  btnClose = buttons.close;
  root->addLayout(buttons.row);
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

QString TfrmRunHistory::HistoryText() const { return widgets::reportListText(lvRunList); }

void TfrmRunHistory::btnCopyClick() { QApplication::clipboard()->setText(HistoryText()); }

}  // namespace bv::forms
