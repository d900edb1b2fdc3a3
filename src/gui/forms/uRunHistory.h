// The run history dialog "実行履歴": one task's runs, newest first, read-only; the rows can be
// copied as text. Where the scheduler keeps only the last run (Windows), it says so.
#pragma once

#include <QDialog>
#include <QString>

#include "core/tasks/TaskScdl.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace bv::forms {

class TfrmRunHistory : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmRunHistory(QWidget* parent = nullptr);

  // Shows the task's runs modally.
  void ShowHistory(const QString& taskName, const tasks::TaskRunHistory& history);
  // The rows as text, a line each, fields separated by tabs, the captions first.
  QString HistoryText() const;

  void btnCopyClick();

 private:
  QTreeWidget* lvRunList = nullptr;
  QLabel* lblLastRunOnly = nullptr;
  QPushButton* btnCopy = nullptr;
  QPushButton* btnClose = nullptr;
};

}  // namespace bv::forms
