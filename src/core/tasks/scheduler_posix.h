// The scheduler on POSIX, over the user's own task store: work items are .job files in the
// store's folder; saving proves a newly set run-as account through PAM; the next run comes from
// the next-run engine; the schedule page is the one the program installed (schedule_page.h).
// Qt-free.
#pragma once

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
  // Runs after a task was written, with the store's folder and the task as written (the
  // executor's crontab entry is installed here); its failure is the save's failure.
  std::function<HResult(const std::filesystem::path& storeFolder, const JobFile& saved)> afterSave;
};

std::shared_ptr<SchedulerService> createPosixScheduler(PosixSchedulerOptions options);

// The local wall-clock time now, to the minute.
LocalMinute localMinuteNow();

}  // namespace bv::tasks
