// The run history dialog "実行履歴": one task's runs, newest first, read-only; the rows can be
// copied as text. Where the scheduler keeps only the last run (Windows), it says so.
#pragma once

#include <QString>

#include "core/tasks/TaskScdl.h"
#include "gui/widgets/history_dialog.h"

class QLabel;

namespace bv::forms {

class TfrmRunHistory : public widgets::HistoryDialog {
  Q_OBJECT

 public:
  explicit TfrmRunHistory(QWidget* parent = nullptr);

  // Shows the task's runs modally.
  void ShowHistory(const QString& taskName, const tasks::TaskRunHistory& history);

 private:
  QTreeWidget* lvRunList = nullptr;
  QLabel* lblLastRunOnly = nullptr;
};

}  // namespace bv::forms
