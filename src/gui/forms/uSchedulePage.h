// The schedule page of a task, as the program shows it where the system has no page of its own:
// a property sheet with the one tab "スケジュール" (the task scheduler's TASKPAGE_SCHEDULE), OK
// and "キャンセル". Top to bottom: the text of the selected schedule (with "複数のスケジュールを
// 表示する" on, a drop-down of every schedule with "新規" and "削除"), the kind, the start time,
// "詳細設定..." (start and end date, repetition), the inputs of the kind, and the check box.
// The page edits copies of the task's triggers; only OK writes them back. A form hands the
// scheduler a SchedulePageOnFirstShow with its window (pageOwner, core/tasks/schedule_page.h),
// which makes the page when a schedule is first shown. 詳細設定... opens TfrmAdvancedSchedule
// (uAdvancedSchedule), 月の選択... TfrmSelectMonths (uSelectMonths).
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/tasks/schedule_mapping.h"
#include "core/tasks/schedule_page.h"
#include "core/tasks/system_time.h"
#include "core/tasks/task_trigger.h"

class QVBoxLayout;

namespace bv::forms {

class TfrmSchedulePage : public QDialog, public bv::tasks::SchedulePage {
  Q_OBJECT

 public:
  // The local time now, for the schedule a new one starts from; empty for the system's clock.
  using Clock = std::function<bv::tasks::LocalMinute()>;

  explicit TfrmSchedulePage(Clock clock = {}, QWidget* parent = nullptr);
  ~TfrmSchedulePage() override;

  // Shows the page modally with the caption as its title, over the owner window when it is one
  // of this program's windows. Returns 1 on OK, after `triggers` received the page's schedules
  // in their order; 0 on Cancel or when the window is closed, with `triggers` untouched.
  int show(bv::tasks::NativeWindow owner, const std::string& caption,
           std::vector<bv::tasks::TaskTrigger>& triggers) override;
  using QWidget::show;

  // OK: checks every schedule it writes from the page's inputs; the first refusal shows its box,
  // selects its schedule and keeps the page open.
  void accept() override;

 private:
  struct Controls;
  // One schedule of the page: the task's trigger it was shown for (a trigger the user leaves
  // alone goes back as it was), or a new one.
  struct Entry {
    bool fromTask = false;
    bv::tasks::TaskTrigger original;
    bv::tasks::Schedule schedule;
  };

  // The controls, group by group in the page's order.
  void BuildControls();
  void BuildSchedulesRow(QVBoxLayout* column);
  void BuildKindAndStartTime(QVBoxLayout* column);
  void BuildKindGroup(QVBoxLayout* column);
  void BuildDailyPanel();
  void BuildWeeklyPanel();
  void BuildMonthlyPanel();
  void BuildOncePanel();
  void BuildIdlePanel();
  void ConnectHandlers();
  bv::tasks::LocalMinute Now() const;
  bv::tasks::Schedule NewSchedule() const;
  void LoadTriggers(const std::vector<bv::tasks::TaskTrigger>& triggers);
  bv::tasks::TaskTrigger TriggerOf(const Entry& entry) const;
  // Whether OK writes the entry's trigger from its schedule (and so checks the schedule).
  bool IsWrittenFromSchedule(const Entry& entry) const;
  bv::tasks::Schedule& Current() { return FEntries[static_cast<std::size_t>(FCurrent)].schedule; }

  // Puts the current schedule into the controls.
  void ShowSchedule();
  void ShowKind();
  void ShowMonthlyMode();
  void ShowMultiple();
  void RefreshSummary();
  // Applies an edit of the user's to the current schedule; ignored while the controls are
  // being filled.
  void Edit(const std::function<void(bv::tasks::Schedule&)>& change);

  void cmbSchedulesChange();
  void chkShowMultipleClick();
  void btnNewClick();
  void btnDeleteClick();
  void btnAdvancedClick();
  void btnSelectMonthsClick();
  void FocusInput(bv::tasks::ScheduleInput input);

  Clock FClock;
  std::unique_ptr<Controls> FControls;
  std::vector<Entry> FEntries;
  int FCurrent = 0;
  bool FFilling = false;
  std::vector<bv::tasks::TaskTrigger> FAccepted;
};

// The schedule page as the program hands it to the scheduler: the TfrmSchedulePage is made the
// first time a task's schedule is shown, and kept for every showing after, so that the program's
// start does not build a page most sessions never open.
class SchedulePageOnFirstShow : public bv::tasks::SchedulePage {
 public:
  explicit SchedulePageOnFirstShow(TfrmSchedulePage::Clock clock = {});
  ~SchedulePageOnFirstShow() override;

  int show(bv::tasks::NativeWindow owner, const std::string& caption,
           std::vector<bv::tasks::TaskTrigger>& triggers) override;

  // The page once made; null before the first showing.
  TfrmSchedulePage* page() const { return page_.get(); }

 private:
  TfrmSchedulePage::Clock clock_;
  std::unique_ptr<TfrmSchedulePage> page_;
};

// The native window of the widget's window, as the scheduler takes a page's owner.
bv::tasks::NativeWindow nativeWindowOf(const QWidget* widget);

// What a form hands the scheduler for a task's pages: the page (may be null) over the form's
// window.
bv::tasks::PageOwner pageOwner(const QWidget* form, bv::tasks::SchedulePage* page);

}  // namespace bv::forms
