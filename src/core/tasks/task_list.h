// The task list's use cases: the program's tasks (or all of them) as the list shows them, with
// what each one's last run came to; a task's new schedule from the schedule page; a task's
// deletion with what the executor kept beside it. Qt-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/tasks/run_history.h"
#include "core/tasks/schedule_page.h"
#include "core/tasks/system_time.h"

namespace bv::tasks {

inline constexpr std::string_view kNoScheduleText = "タスクがスケジュールされていません";
inline constexpr std::string_view kCustomScheduleText = "自由設定";

// One row of the list.
struct TTaskRow {
  std::string Name;  // as the scheduler lists it, without ".job"
  std::string ScheduleText;
  SystemTime LastRun;  // all zero: none
  SystemTime NextRun;  // all zero: none
  // The last run, when the scheduler tells what it came to.
  std::optional<RunRecord> LastOutcome;

  // The first failure whose mail report could not be sent (POSIX), until one has gone through.
  std::optional<RunRecord> UnreportedFailure;

  bool lastRunFailed() const { return LastOutcome && !LastOutcome->succeeded(); }
  bool noticeUnsent() const { return UnreportedFailure.has_value(); }
};

// The stored tasks whose names start with TaskNamePrefix, or every task with `all`; a task's
// next or last run that cannot be read shows as none. Throws what the scheduler raised when the
// names or a task cannot be read (the caller keeps the rows it had).
std::vector<TTaskRow> listTasks(bool all);

// Shows the task's schedule page for the owner the form hands in and saves the schedule on OK;
// whether it changed.
bool rescheduleTask(const std::string& name, const PageOwner& owner);

// Deletes the task through its stored file; a file that cannot be deleted is not reported.
void deleteTask(const std::string& name);

}  // namespace bv::tasks
