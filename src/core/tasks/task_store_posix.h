// The task store on POSIX: one folder per user (mode 0700) holding one "<name>.job" file per task
// (mode 0600) in the .JOB layout. Every change is a read-modify-write under the store's write
// lock, into a temporary file that is synced and renamed over the task's file, so a reader sees
// the old file or the new one, never half, and fields another writer changed meanwhile (the run
// fields the executor records) are kept.
//
// Every file of the store is opened relative to the folder's own descriptor and never through a
// symbolic link (openat with O_NOFOLLOW): the executor may run as root over the store, and a link
// planted there must not let it write anywhere else. Beside each task the executor keeps its run
// lock ("<name>.job.lock"), the program's output ("<name>.log"), the run history
// ("<name>.history") and the first failure whose report could not be sent ("<name>.unreported");
// they go with the task. Qt-free.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/sys/unique_fd.h"
#include "core/tasks/job_file.h"
#include "core/tasks/run_history.h"
#include "core/tasks/system_time.h"
#include "core/tasks/task_codes.h"

namespace bv::tasks {

// The user's own store: $XDG_DATA_HOME/brackenvale/tasks, or ~/.local/share/brackenvale/tasks
// (the home folder from $HOME, else the password database). Empty when no home is known.
std::filesystem::path defaultTaskStoreFolder();

// What the store records in a task's user-data area, as lines "brackenvale-<key>=<value>": the
// run-as account, and the minute its schedule was last saved (so the executor never makes up a
// start from before it). A file of an earlier version holds only "brackenvale-account=<name>".
std::string recordedAccount(const JobFile& job);
void recordAccount(JobFile& job, const std::string& user);
std::optional<LocalMinute> recordedScheduleSaved(const JobFile& job);
void recordScheduleSaved(JobFile& job, LocalMinute when);

// The files the executor keeps beside a task.
inline constexpr std::string_view kRunLockSuffix = ".job.lock";
inline constexpr std::string_view kOutputLogSuffix = ".log";
inline constexpr std::string_view kHistorySuffix = ".history";
inline constexpr std::string_view kUnreportedSuffix = ".unreported";

// The folder's state for a store that is to be trusted by a program running as its user: a
// folder (not a link) owned by that user and writable by nobody else.
enum class StoreFolderState { Usable, Missing, Unsafe };

class TaskStore {
 public:
  // A store reached through its path, opened anew for each operation.
  explicit TaskStore(std::filesystem::path folder) : folder_(std::move(folder)) {}
  // A store whose folder is already open (and checked); every operation goes through that
  // descriptor, whatever becomes of the path meanwhile.
  TaskStore(std::filesystem::path folder, std::shared_ptr<const sys::UniqueFd> openFolder)
      : folder_(std::move(folder)), open_(std::move(openFolder)) {}

  // Opens the folder without following a link and checks it: Usable with the descriptor set,
  // Missing when it does not exist (or its path cannot be walked), Unsafe when it is not a
  // folder, belongs to another user or is writable by group or others.
  static StoreFolderState openChecked(const std::filesystem::path& folder, sys::UniqueFd& descriptor);

  const std::filesystem::path& folder() const noexcept { return folder_; }
  std::filesystem::path fileOf(const std::string& taskName) const;

  // A name the store can hold as a file name: not empty, no "/", no ".", no NUL or other control
  // character, not longer than 200 bytes. kInvalidArgument otherwise.
  static HResult checkName(const std::string& taskName);

  // The task's file as it is now: kFileNotFound when there is none, the reader's code
  // (kSchedInvalidTask, kSchedUnknownObjectVersion) when it is damaged or foreign (a link
  // included), kAccessDenied when it cannot be read.
  HResult read(const std::string& taskName, JobFile& job) const;

  // Changes the task's file under the write lock. `change` receives the file as it is now (none
  // when it is missing or unreadable) and gives back the file to write, or none to leave the
  // store as it is. Makes the folder (0700) first when it is missing. kOk, kAccessDenied when
  // the folder belongs to another user or cannot be written, kInvalidArgument when the file
  // cannot hold the task.
  using Change = std::function<std::optional<JobFile>(const std::optional<JobFile>& current)>;
  HResult update(const std::string& taskName, const Change& change) const;

  // The stored tasks' file names ("<name>.job"), sorted; damaged files are listed too, links
  // and other non-files are not.
  std::vector<std::string> fileNames() const;

  // Makes the folder when missing and brings an existing one of the user's to mode 0700.
  // kAccessDenied when it belongs to another user or cannot be made.
  HResult prepare() const;

  // Opens a file of the store by its own name, relative to the folder and without following a
  // link; an invalid descriptor (errno set) otherwise.
  sys::UniqueFd openFile(const std::string& fileName, int flags, mode_t mode = 0600) const;

  // A file kept beside the tasks (a run history): its whole text, "" when there is none; and
  // its replacement under the store's write lock, `change` getting the current text and giving
  // the new one, written to a temporary file and renamed over it (0600).
  std::string readCompanion(const std::string& fileName) const;
  HResult rewriteCompanion(const std::string& fileName,
                           const std::function<std::string(const std::string& current)>& change) const;

  // The task's runs as the executor recorded them, oldest first; and one more run recorded.
  std::vector<RunRecord> runHistory(const std::string& taskName) const;
  HResult recordRun(const std::string& taskName, const RunRecord& run) const;

  // The task's first failure whose mail report could not be sent, kept until a report has gone
  // through. Taking it reads and removes it under the store's write lock, so of two watchers
  // that end together only one reports it; keeping it leaves an earlier one in place.
  std::optional<RunRecord> unreportedFailure(const std::string& taskName) const;
  std::optional<RunRecord> takeUnreportedFailure(const std::string& taskName) const;
  HResult keepUnreportedFailure(const std::string& taskName, const RunRecord& run) const;

  // Removes the task's .job file (its companions stay; see removeCompanions).
  void removeTask(const std::string& taskName) const;

  // Removes what the executor kept beside a task that is gone: its run lock, output log and
  // history, unless a run holds the lock (the executor removes them after that run).
  void removeCompanions(const std::string& taskName) const;
  // Likewise for every task whose .job file is gone.
  void removeOrphanedCompanions() const;

 private:
  // The folder's descriptor: the one given, or the folder opened now.
  std::shared_ptr<const sys::UniqueFd> folderDescriptor() const;

  std::filesystem::path folder_;
  std::shared_ptr<const sys::UniqueFd> open_;
};

// Removes the task's .job file given by its path and, when no run holds its lock, what the
// executor kept beside it.
void removeStoredTask(const std::filesystem::path& jobFile);

}  // namespace bv::tasks
