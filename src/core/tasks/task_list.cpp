#include "core/tasks/task_list.h"

#include <exception>

#include "core/tasks/TaskScdl.h"
#include "core/tasks/task_registration.h"

namespace bv::tasks {

std::vector<TTaskRow> listTasks(bool all) {
  std::vector<std::string> names;
  GetTaskNames(names);
  std::vector<TTaskRow> rows;
  for (const std::string& name : names) {
    if (!all && name.compare(0, TaskNamePrefix.size(), TaskNamePrefix) != 0) continue;
    TTask task(name, false);
    TTaskRow row;
    row.Name = name;
    const int triggers = task.Triggers().Count();
    row.ScheduleText = triggers == 0   ? std::string(kNoScheduleText)
                       : triggers == 1 ? task.Triggers().Items(0).TriggerString()
                                       : std::string(kCustomScheduleText);
    try {
      row.NextRun = task.NextRunTime();
    } catch (const std::exception&) {
      row.NextRun = {};
    }
    try {
      row.LastRun = task.MostRecentRunTime();
    } catch (const std::exception&) {
      row.LastRun = {};
    }
    if (!row.LastRun.isZero()) {
      TaskRunHistory history = task.RunHistory();
      if (!history.runs.empty()) row.LastOutcome = history.runs.back();
      row.UnreportedFailure = std::move(history.unreported);
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

bool rescheduleTask(const std::string& name, const PageOwner& owner) {
  TTask task(name, false);
  if (task.ShowPropertyPages(owner, "", kTaskPageSchedule) != kModalOk) return false;
  task.Save();
  return true;
}

void deleteTask(const std::string& name) {
  std::string storedFile;
  {
    TTask task(name, false);
    storedFile = task.FileName();
  }
  removeTaskFile(storedFile);
}

}  // namespace bv::tasks
