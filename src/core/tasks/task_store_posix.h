// The task store on POSIX: one folder per user (mode 0700) holding one "<name>.job" file per task
// (mode 0600) in the .JOB layout. Every change is a read-modify-write under the store's write
// lock, into a temporary file that is synced and renamed over the task's file, so a reader sees
// the old file or the new one, never half, and fields another writer changed meanwhile (the run
// fields the executor records) are kept. Qt-free.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/tasks/job_file.h"
#include "core/tasks/task_codes.h"

namespace bv::tasks {

// The user's own store: $XDG_DATA_HOME/brackenvale/tasks, or ~/.local/share/brackenvale/tasks
// (the home folder from $HOME, else the password database). Empty when no home is known.
std::filesystem::path defaultTaskStoreFolder();

// The run-as account a task records, kept in the .JOB file's user-data area as the UTF-8 text
// "brackenvale-account=" + name. Empty when the task records none.
std::string recordedAccount(const JobFile& job);
void recordAccount(JobFile& job, const std::string& user);

class TaskStore {
 public:
  explicit TaskStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

  const std::filesystem::path& folder() const noexcept { return folder_; }
  std::filesystem::path fileOf(const std::string& taskName) const;

  // A name the store can hold as a file name: not empty, no "/", no NUL, no ".", not longer
  // than 200 bytes. kInvalidArgument otherwise.
  static HResult checkName(const std::string& taskName);

  // The task's file as it is now: kFileNotFound when there is none, the reader's code
  // (kSchedInvalidTask, kSchedUnknownObjectVersion) when it is damaged or foreign,
  // kAccessDenied when it cannot be read.
  HResult read(const std::string& taskName, JobFile& job) const;

  // Changes the task's file under the write lock. `change` receives the file as it is now (none
  // when it is missing or unreadable) and gives back the file to write, or none to leave the
  // store as it is. Makes the folder (0700) first when it is missing. kOk, kAccessDenied when
  // the folder belongs to another user or cannot be written, kInvalidArgument when the file
  // cannot hold the task.
  using Change = std::function<std::optional<JobFile>(const std::optional<JobFile>& current)>;
  HResult update(const std::string& taskName, const Change& change) const;

  // The stored tasks' file names ("<name>.job"), sorted; damaged files are listed too.
  std::vector<std::string> fileNames() const;

  // Makes the folder when missing and brings an existing one of the user's to mode 0700.
  // kAccessDenied when it belongs to another user or cannot be made.
  HResult prepare() const;

 private:
  std::filesystem::path folder_;
};

}  // namespace bv::tasks
