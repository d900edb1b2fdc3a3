// The task scheduler as the wrapper (TaskScdl) reaches it: small interfaces that mirror the
// Task Scheduler 1.0 COM methods the wrapper calls, each answering with an HRESULT-style code.
// Windows implements them over mstask's ITaskScheduler, ITask, ITaskTrigger, IEnumWorkItems,
// IProvideTaskPage and IPersistFile; POSIX over the program's own store of .job files. Texts
// are UTF-8; times are local wall-clock SYSTEMTIMEs. Qt-free.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/tasks/run_history.h"
#include "core/tasks/schedule_page.h"
#include "core/tasks/system_time.h"
#include "core/tasks/task_codes.h"
#include "core/tasks/task_trigger.h"

namespace bv::tasks {

// One trigger of a work item (ITaskTrigger).
class SchedulerTrigger {
 public:
  virtual ~SchedulerTrigger() = default;
  virtual HResult GetTrigger(TaskTrigger& trigger) = 0;
  virtual HResult SetTrigger(const TaskTrigger& trigger) = 0;
  // The scheduler's own wording of the trigger, in the system's language.
  virtual HResult GetTriggerString(std::string& text) = 0;
};

// The pages of a work item's property sheet (IProvideTaskPage), and the sheet that shows them
// (PropertySheetA).
enum class TaskPageType { Task = 0, Schedule = 1, Settings = 2 };

// An opaque page handle (HPROPSHEETPAGE on Windows).
using TaskPageHandle = void*;

class TaskPages {
 public:
  virtual ~TaskPages() = default;
  virtual HResult GetPage(TaskPageType type, bool persistChanges, TaskPageHandle& page) = 0;
  // Shows the pages modally over the window of the owner they were asked for; the sheet's
  // return: 1 when the user pressed OK, anything else otherwise.
  virtual int PropertySheet(const std::string& caption, const std::vector<TaskPageHandle>& pages) = 0;
  // The failure of a page that saves its changes when it closes, after PropertySheet answered
  // -1; kOk otherwise (the system's own pages report their failures themselves).
  virtual HResult SaveResult() const { return kOk; }
};

// One work item (ITask with IScheduledWorkItem and IPersistFile).
class SchedulerWorkItem {
 public:
  virtual ~SchedulerWorkItem() = default;

  virtual HResult SetApplicationName(const std::string& path) = 0;
  virtual HResult GetApplicationName(std::string& path) = 0;
  virtual HResult SetParameters(const std::string& parameters) = 0;
  virtual HResult GetParameters(std::string& parameters) = 0;
  virtual HResult GetFlags(std::uint32_t& flags) = 0;
  virtual HResult SetFlags(std::uint32_t flags) = 0;
  // The account proves itself when the work item is saved; the password is not kept.
  virtual HResult SetAccountInformation(const std::string& user, const std::string& password) = 0;
  virtual HResult GetAccountInformation(std::string& user) = 0;

  virtual HResult GetTriggerCount(std::uint16_t& count) = 0;
  virtual HResult GetTrigger(std::uint16_t index, std::unique_ptr<SchedulerTrigger>& trigger) = 0;
  virtual HResult CreateTrigger(std::uint16_t& index, std::unique_ptr<SchedulerTrigger>& trigger) = 0;
  virtual HResult DeleteTrigger(std::uint16_t index) = 0;

  virtual HResult GetNextRunTime(SystemTime& time) = 0;
  virtual HResult GetMostRecentRunTime(SystemTime& time) = 0;
  virtual HResult GetExitCode(std::uint32_t& exitCode) = 0;
  virtual HResult GetStatus(HResult& status) = 0;
  // The runs the store keeps for the work item, oldest first. Where the scheduler keeps only the
  // last run (Windows), E_NOTIMPL, and the caller builds that one run from the calls above.
  virtual HResult GetRunHistory(std::vector<RunRecord>& runs) {
    runs.clear();
    return 0x80004001;
  }

  // The first failure whose mail report could not be sent, where the executor mails (POSIX);
  // E_NOTIMPL where the scheduler keeps no such thing.
  virtual HResult GetUnreportedFailure(std::optional<RunRecord>& run) {
    run.reset();
    return 0x80004001;
  }

  // IPersistFile::Save(NULL, TRUE): writes the work item into the task store.
  virtual HResult Save() = 0;
  // IPersistFile::GetCurFile: the full path of the stored file, also before the first save.
  virtual HResult GetCurFile(std::string& path) = 0;

  // QueryInterface(IID_IProvideTaskPage): the pages, to be shown for that owner (over its window;
  // where the program shows its own page, the owner's page).
  virtual HResult QueryTaskPages(const PageOwner& owner, std::unique_ptr<TaskPages>& pages) = 0;
};

// The enumerator of the store's work items (IEnumWorkItems).
class SchedulerEnumerator {
 public:
  virtual ~SchedulerEnumerator() = default;
  // One name at a time, with its ".job": S_OK with the name, S_FALSE (1) when there are no more.
  virtual HResult Next(std::string& name) = 0;
};

inline constexpr HResult kFalse = 1;  // S_FALSE

// The scheduler (ITaskScheduler).
class SchedulerService {
 public:
  virtual ~SchedulerService() = default;
  // The stored work item of that name; kFileNotFound when there is none.
  virtual HResult Activate(const std::string& name, std::unique_ptr<SchedulerWorkItem>& item) = 0;
  // A new work item that exists only in memory until it is saved.
  virtual HResult NewWorkItem(const std::string& name, std::unique_ptr<SchedulerWorkItem>& item) = 0;
  virtual HResult Enum(std::unique_ptr<SchedulerEnumerator>& enumerator) = 0;
};

// The platform's scheduler object, defined in the platform's back-end file (scheduler_posix.cpp,
// scheduler_win32.cpp); raises ComError where the system's scheduler cannot be reached.
std::shared_ptr<SchedulerService> createPlatformScheduler();

}  // namespace bv::tasks
