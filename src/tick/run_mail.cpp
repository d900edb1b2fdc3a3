#include "tick/run_mail.h"

#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>

#include "core/mail/run_notification.h"
#include "core/sys/unique_fd.h"
#include "core/sys/wipe.h"
#include "core/tasks/task_argument.h"

namespace bv::tick {
namespace {

mail::RunOutcome outcomeOf(const std::optional<tasks::RunRecord>& run) {
  if (!run) return mail::RunOutcome::None;
  return run->succeeded() ? mail::RunOutcome::Succeeded : mail::RunOutcome::Failed;
}

// What the report names: the backup's database, server and file, read from those fields of the
// runner's parameter string alone (the password is never decoded here; the words are wiped).
void describeBackup(const tasks::JobFile& job, mail::RunReport& report) {
  if (std::filesystem::path(job.applicationName).filename() != std::string(kRunnerProgramName)) return;
  std::vector<std::string> words = tasks::splitTaskParameters(job.parameters);
  try {
    const tasks::TaskTarget target = tasks::readTaskTarget(words);
    report.server = target.server;
    report.database = target.database;
    report.backupFile = target.backupFile;
  } catch (const std::exception&) {
    // A parameter string the runner refused too: the report names the task only.
  }
  for (std::string& word : words) sys::wipe(word);
}

std::chrono::system_clock::time_point instantOf(tasks::LocalMinute minute) {
  std::tm local{};
  const tasks::CivilDate date = minute.date();
  local.tm_year = date.year - 1900;
  local.tm_mon = date.month - 1;
  local.tm_mday = date.day;
  local.tm_hour = minute.hour();
  local.tm_min = minute.minute();
  local.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(::mktime(&local));
}

}  // namespace

void mailAfterRun(const tasks::TaskStore& store, const FinishedRun& run,
                  const std::optional<std::filesystem::path>& settingsFile) {
  mail::RunReport report;
  report.started = mail::localTimeOf(instantOf(run.run.start));
  report.duration = std::chrono::seconds(run.run.seconds);
  report.succeeded = run.run.succeeded();
  report.outcome = run.run.outcome;
  report.taskName = run.taskName;
  report.serverMessages = run.output;
  describeBackup(run.job, report);
  // Taken under the store's write lock: of two watchers of the task only one reports it.
  const std::optional<tasks::RunRecord> unreported =
      run.taskGone ? std::nullopt : store.takeUnreportedFailure(run.taskName);
  if (unreported) report.unreported = mail::RunReport::Unreported{mail::localTimeOf(instantOf(unreported->start)), unreported->outcome};
  const mail::RunNotification sent = settingsFile
                                         ? mail::notifyAfterRun(report, outcomeOf(run.previous), *settingsFile)
                                         : mail::notifyAfterRun(report, outcomeOf(run.previous));
  if (sent.failureUnreported && !run.taskGone) store.keepUnreportedFailure(run.taskName, unreported.value_or(run.run));
  if (sent.logText.empty()) return;
  // A task gone with its run keeps no log: the line goes only into one that is still there.
  const sys::UniqueFd log = store.openFile(run.taskName + std::string(tasks::kOutputLogSuffix),
                                           O_WRONLY | O_APPEND | (run.taskGone ? 0 : O_CREAT));
  const std::string line = sent.logText + (sent.logText.back() == '\n' ? "" : "\n");
  if (log) [[maybe_unused]] const ssize_t written = ::write(log.get(), line.data(), line.size());
  if (sent.state == mail::RunNotification::State::Failed ||
      sent.state == mail::RunNotification::State::SettingsDamaged ||
      sent.state == mail::RunNotification::State::SettingsRefused) {
    ::openlog("brackenvale-tick", LOG_PID, LOG_USER);
    ::syslog(LOG_WARNING, "%s: %s", run.taskName.c_str(), sent.logText.c_str());
    ::closelog();
  }
}

}  // namespace bv::tick
