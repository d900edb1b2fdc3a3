// The task list dialog "タスク編集": the program's scheduled tasks (or all of them on request)
// with their schedule and their next and last run; a task's schedule is changed on the schedule
// page, and a task is deleted through its stored file.
#pragma once

#include <QDialog>
#include <QString>
#include <string>
#include <vector>

#include "core/tasks/schedule_page.h"
#include "core/tasks/task_list.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace bv::forms {

using bv::tasks::TTaskRow;

class TfrmRunHistory;

class TfrmTaskSchedule : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmTaskSchedule(QWidget* parent = nullptr);
  ~TfrmTaskSchedule() override;

  // Event handlers, each run through the application's error report.
  void FormCreate();
  void FormShow();
  void FormHide();
  void FormDestroy();
  void chkDispAllClick();
  void btnEditClick();
  void btnDeleteClick();
  void btnHistoryClick();
  void btnMailSettingsClick();
  void btnEndClick();

  void RefreshTaskList();
  // Fills FTaskList; the message of an exception that stopped it, else empty.
  QString LoadTaskList();
  void FillTaskListView();

  const std::vector<TTaskRow>& TaskList() const { return FTaskList; }
  // The schedule page "変更" shows a task's schedule on; without one the scheduler has no page
  // to show where the system has none of its own.
  void SetSchedulePage(bv::tasks::SchedulePage* page) { FSchedulePage = page; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  // The task named in the selected row; empty when no row is selected.
  QString SelectedTaskName() const;

  std::vector<TTaskRow> FTaskList;
  bv::tasks::SchedulePage* FSchedulePage = nullptr;

  // Controls, each with its objectName.
  QGroupBox* gbxJobList = nullptr;
  QTreeWidget* lvScdlList = nullptr;
  QPushButton* btnEdit = nullptr;
  QPushButton* btnDelete = nullptr;
  QPushButton* btnHistory = nullptr;
  QPushButton* btnMailSettings = nullptr;
  QPushButton* btnEnd = nullptr;
  TfrmRunHistory* FRunHistory = nullptr;  // made on first use, a child of this dialog
  QCheckBox* chkDispAll = nullptr;
  QLabel* lblCronNotice = nullptr;
};

}  // namespace bv::forms
