#include "core/scheduling/registration.h"

#include <functional>
#include <utility>

#include "core/db/database.h"
#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"

namespace bv::scheduling {

std::optional<TaskProblem> checkBackupTask(const maintenance::BackupRequest& request) {
  if (auto problem = maintenance::check(request)) return TaskProblem{problem->input, std::move(problem->message)};
  if (request.generations != maintenance::kKeepAllGenerations) {
    if (auto refused = maintenance::retentionServerProblem(db::loginConnectionSettings(request.login))) {
      return TaskProblem{std::nullopt, std::move(*refused)};
    }
  }
  try {
    (void)encodeTaskParameters(request);
  } catch (const tasks::TaskArgumentError&) {
    return TaskProblem{std::nullopt, std::string(kTaskCommandFailed)};
  }
  return std::nullopt;
}

tasks::TaskRegistrationResult registerBackupTask(const maintenance::BackupRequest& request, const std::string& user,
                                                 const std::string& password, const tasks::PageOwner& owner) {
  return tasks::registerBackupTask(encodeTaskParameters(request), user, password, owner);
}

std::string_view jobStepFailureHeader(JobStep step) {
  switch (step) {
    case JobStep::Job:
      return agent::kAddJobFailed;
    case JobStep::Step:
      return agent::kAddJobStepFailed;
    case JobStep::Schedule:
      return agent::kAddJobScheduleFailed;
    case JobStep::Server:
      return agent::kAddJobServerFailed;
  }
  return agent::kAddJobFailed;
}

JobRegistration registerBackupJob(agent::JobStore& store, const agent::TJobEntry& entry,
                                  std::string_view ownerLoginName, std::string_view databaseName) {
  JobRegistration registration;
  const std::pair<JobStep, std::function<void()>> steps[] = {
      {JobStep::Job, [&] { store.addJob(entry, ownerLoginName); }},
      {JobStep::Step, [&] { store.addJobStep(entry, databaseName); }},
      {JobStep::Schedule, [&] { store.addJobSchedule(entry); }},
      {JobStep::Server, [&] { store.addJobServer(entry); }},
  };
  store.beginTransaction();
  try {
    for (const auto& [step, send] : steps) {
      try {
        send();
      } catch (const db::ProviderError& error) {
        registration.failedStep = step;
        registration.message = std::string(jobStepFailureHeader(step)) + "\r\n\r\n" + error.what();
        store.rollbackTransaction();
        return registration;
      }
    }
    store.commitTransaction();
  } catch (const std::exception& error) {
    throw UnexpectedRegistrationError(error.what());
  }
  registration.registered = true;
  return registration;
}

}  // namespace bv::scheduling
