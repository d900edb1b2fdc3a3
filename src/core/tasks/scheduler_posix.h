// The scheduler on POSIX, over the user's own task store: work items are .job files in the
// store's folder; saving proves a newly set run-as account through PAM; the next run comes from
// the next-run engine; the schedule page is the one the form hands in (schedule_page.h).
// Qt-free.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>

#include "core/tasks/account_proof_posix.h"
#include "core/tasks/job_file.h"
#include "core/tasks/scheduler_backend.h"
#include "core/tasks/system_time.h"

namespace bv::tasks {

struct PosixSchedulerOptions {
  // The store's folder; empty for the user's own (defaultTaskStoreFolder()).
  std::filesystem::path storeFolder;
  AccountProofOptions accountProof;
  // The local time now; empty for the system's clock.
  std::function<LocalMinute()> clock;
  // Runs before a task is written, under the store's write lock, with the store's folder and the
  // task as it is about to be written (the executor's crontab entry is installed here); its
  // failure is the save's failure and the stored task stays as it was, so what the window
  // reports is what is stored.
  std::function<HResult(const std::filesystem::path& storeFolder, const JobFile& toWrite)> beforeCommit;
};

std::shared_ptr<SchedulerService> createPosixScheduler(PosixSchedulerOptions options);

// The local wall-clock time now, to the minute.
LocalMinute localMinuteNow();
// The local wall-clock minute of an instant, and how many seconds into that minute it lies.
LocalMinute localMinuteAt(std::time_t instant);
int secondsIntoLocalMinute(std::time_t instant);

}  // namespace bv::tasks
