// The two registrations of a backup, each one use case the form calls once, in the order its road
// asks the user: the task (the checks, then — the form's part — the run-as account, then the
// registration with the scheduler), and the Agent job (the four msdb procedures in one
// transaction on the Agent dialog's own connection). Both take the one description of a backup.
// Qt-free.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "core/agent/job_registration.h"
#include "core/agent/job_store.h"
#include "core/maintenance/operations.h"
#include "core/tasks/task_registration.h"

namespace bv::scheduling {

inline constexpr std::string_view kTaskCommandFailed = "タスク登録用コマンドの生成に失敗しました。";

// Why a backup cannot become a task, and the input to focus (none for the server's refusal and
// for a text the parameter string cannot carry).
struct TaskProblem {
  std::optional<maintenance::RequestInput> input;
  std::string message;
};

// The task road's checks in their order: the request's own (maintenance::check), then, where
// generations are kept, that the server can delete old files (read on a connection of its own),
// then that the parameter string can carry every text. The first problem, or nothing.
std::optional<TaskProblem> checkBackupTask(const maintenance::BackupRequest& request);

// Registers the checked request as a task running Brackenrun with its parameter string, under the
// account, its schedule set on the page (tasks::registerBackupTask). Throws what the scheduler
// raised.
tasks::TaskRegistrationResult registerBackupTask(const maintenance::BackupRequest& request, const std::string& user,
                                                 const std::string& password, const tasks::PageOwner& owner);

// The step of a job's registration that failed, each with its header.
enum class JobStep { Job, Step, Schedule, Server };
std::string_view jobStepFailureHeader(JobStep step);

struct JobRegistration {
  bool registered = false;
  JobStep failedStep = JobStep::Job;
  std::string message;  // the step's header, CR LF CR LF, the server's text
};

// Anything but a server's refusal of a step once the transaction began (a rollback or commit
// that fails, a step that fails otherwise): the dialog closes after it.
class UnexpectedRegistrationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// sp_add_job, sp_add_jobstep (and the steps after the backup), sp_add_jobschedule and
// sp_add_jobserver on the dialog's connection in one transaction, committed when all went through
// and rolled back at the first that failed, which it names. A transaction that cannot begin
// throws what the store raised; after that, UnexpectedRegistrationError.
JobRegistration registerBackupJob(agent::JobStore& store, const agent::TJobEntry& entry,
                                  std::string_view ownerLoginName, std::string_view databaseName);

}  // namespace bv::scheduling
