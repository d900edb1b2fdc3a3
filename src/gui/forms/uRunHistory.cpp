#include "gui/forms/uRunHistory.h"

#include <QLabel>
#include <QStyle>
#include <QTreeWidget>

#include "core/text/duration_text.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/qt_text.h"

namespace bv::forms {

using widgets::named;
using widgets::toQString;

namespace {

const widgets::ListColumn kColumns[] = {
    {"開始日時", 140}, {"所要時間", 90}, {"結果", 330}, {"開始", 70},
};

}  // namespace

TfrmRunHistory::TfrmRunHistory(QWidget* parent)
    : HistoryDialog(parent, "frmRunHistory", "lvRunList", kColumns, 260), lvRunList(list()) {
  lblLastRunOnly = named(
      new QLabel(QStringLiteral("タスク スケジューラが記録しているのは最後の実行とその結果だけです。"), this),
      "lblLastRunOnly");
  lblLastRunOnly->setVisible(false);
  addBelowList(lblLastRunOnly);
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

}  // namespace bv::forms
