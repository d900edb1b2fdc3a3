// The task scheduler wrapper: a small object model over the scheduler's work items (TTask, its
// triggers TTaskTriggers and TTaskTriggerItem) and a few free functions, written once over the
// back-end interfaces of scheduler_backend.h. Its second job is error reporting: every result
// code that the table below knows becomes a Japanese message raised as ETaskException, the
// scheduler's informational success codes included, so that callers meet the states "never
// ran" and "no next run" as exceptions. Qt-free.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/tasks/run_history.h"
#include "core/tasks/scheduler_backend.h"
#include "core/tasks/system_error.h"
#include "core/tasks/system_time.h"
#include "core/tasks/task_codes.h"

namespace bv::tasks {

// The name every task of the program begins with.
inline constexpr std::string_view TaskNamePrefix = "Brackenvale_";

// The pages of ShowPropertyPages, as a set of bits.
inline constexpr unsigned kTaskPageTask = 1;
inline constexpr unsigned kTaskPageSchedule = 2;
inline constexpr unsigned kTaskPageSettings = 4;

// The modal results of ShowPropertyPages.
inline constexpr int kModalOk = 1;
inline constexpr int kModalCancel = 2;

// A result code of the message table, with its message.
class ETaskException : public ComError {
 public:
  using ComError::ComError;
};

// The message of a scheduler result code; empty for a code outside the table.
std::string TaskErrorMessage(HResult code);

// A code with a message in the table raises ETaskException with it, success codes included.
// Otherwise a failure raises ComError with the system's text; a success returns.
void TaskCheck(HResult code);

// A new scheduler object: the platform's (mstask on Windows, the user's store on POSIX) unless a
// SchedulerFactoryOverride is alive. Failure raises ComError.
std::shared_ptr<SchedulerService> CreateTaskScheduler();

// Installs another way to make scheduler objects for its lifetime (tests: a store of their own);
// restores the previous one after.
using SchedulerFactory = std::function<std::shared_ptr<SchedulerService>()>;
class SchedulerFactoryOverride {
 public:
  explicit SchedulerFactoryOverride(SchedulerFactory factory);
  ~SchedulerFactoryOverride();
  SchedulerFactoryOverride(const SchedulerFactoryOverride&) = delete;
  SchedulerFactoryOverride& operator=(const SchedulerFactoryOverride&) = delete;

 private:
  SchedulerFactory previous_;
};

// True exactly when a new scheduler object activates the task with S_OK; never raises.
bool TaskExists(const std::string& name);

// The work item of that name. When it is missing (0x80070002) and createIfMissing is set, a new,
// unsaved work item (NewTask); every other result through TaskCheck.
std::shared_ptr<SchedulerWorkItem> OpenTask(const std::string& name,
                                            const std::shared_ptr<SchedulerService>& scheduler,
                                            bool createIfMissing);

// A new work item of that name, in memory until it is saved.
std::shared_ptr<SchedulerWorkItem> NewTask(const std::string& name,
                                           const std::shared_ptr<SchedulerService>& scheduler);

// The names of every stored task, ".job" removed, in the enumerator's order. The list is
// cleared first.
void GetTaskNames(std::vector<std::string>& list);

// New flags = (old flags without the clear mask) with the set mask.
void ChangeTaskFlags(SchedulerWorkItem& item, std::uint32_t setMask, std::uint32_t clearMask);

// The name of the user running the program.
std::string GetLogonUserName();

class TTask;

// A task's runs as far as its scheduler keeps them, oldest first. `lastRunOnly`: the scheduler
// records only the last run and its exit code (Windows), so that is all there is.
struct TaskRunHistory {
  std::vector<RunRecord> runs;
  bool lastRunOnly = false;
  // The first failure whose mail report could not be sent yet (POSIX, where the executor mails).
  std::optional<RunRecord> unreported;
};

// One trigger of a task, by its index.
class TTaskTriggerItem {
 public:
  TTaskTriggerItem(TTask& task, std::uint16_t index) : Task(task), Index(index) {}
  // The scheduler's own wording of the trigger.
  std::string TriggerString();

  TTask& Task;
  const std::uint16_t Index;
};

// A task's triggers; an item is made on first use and kept per index.
class TTaskTriggers {
 public:
  explicit TTaskTriggers(TTask& task) : Task(task) {}
  int Count();
  // An index below 0 or not below Count raises "トリガーがありません" (0x80041309).
  TTaskTriggerItem& Items(int index);

  TTask& Task;

 private:
  std::vector<std::unique_ptr<TTaskTriggerItem>> slots_;
};

// One named task, for one operation of its caller: made by name, changed, saved or not, and
// released. Releasing it never deletes or saves the stored task.
class TTask {
 public:
  // Opens the task (OpenTask) through the scheduler, or through a new one when none is given.
  TTask(std::string name, bool createIfMissing, std::shared_ptr<SchedulerService> scheduler = nullptr);
  virtual ~TTask() = default;
  TTask(const TTask&) = delete;
  TTask& operator=(const TTask&) = delete;

  // Saves when AutoSave is set, else does nothing.
  void Changed();
  // Writes the task into the store; where the scheduler proves the run-as account.
  void Save();
  void SetApplicationName(const std::string& path);
  void SetParameters(const std::string& parameters);
  // Clears (true) or sets (false) the disabled flag.
  void SetEnabled(bool enabled);
  virtual void SetAccountInformation(const std::string& user, const std::string& password);
  SystemTime NextRunTime();
  SystemTime MostRecentRunTime();
  TaskRunHistory RunHistory();
  // The full path of the task's stored file (standard COM check).
  std::string FileName();
  // Shows the chosen pages (kTaskPage* bits) for the owner, over its window; an empty caption
  // becomes the task's name. kModalOk when the user pressed OK, kModalCancel otherwise.
  virtual int ShowPropertyPages(const PageOwner& owner, const std::string& caption, unsigned pages);

  TTaskTriggers& Triggers() { return triggers_; }
  SchedulerWorkItem& Item() { return *item_; }

  std::shared_ptr<SchedulerService> Scheduler;
  const std::string Name;
  bool AutoSave = false;

 private:
  std::shared_ptr<SchedulerWorkItem> item_;
  TTaskTriggers triggers_;
};

}  // namespace bv::tasks
