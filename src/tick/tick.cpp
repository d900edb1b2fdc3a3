#include "tick/tick.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/close_range.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <thread>
#include <utility>

#include "core/sys/atomic_file.h"
#include "core/sys/unique_fd.h"
#include "core/tasks/job_file.h"
#include "core/tasks/next_run.h"
#include "core/tasks/task_codes.h"
#include "core/tasks/task_flags.h"
#include "core/tasks/task_store_posix.h"
#include "tick/run_mail.h"

namespace bv::tick {
namespace fs = std::filesystem;
using sys::UniqueFd;
using tasks::HResult;
using tasks::JobFile;
using tasks::LocalMinute;

namespace {

using Clock = std::chrono::steady_clock;

// The exit code recorded for a run the watcher had to end.
constexpr std::uint32_t kTerminatedExitCode = tasks::kSchedTaskTerminated;

constexpr std::string_view kTickLock = ".tick.lock";
constexpr std::string_view kTickState = ".tick.state";
constexpr std::string_view kTickLog = "tick.log";

// A name as it may go into a log line: control characters and the backslash escaped, so no
// task name (a file name anyone with the store could choose) can start a line of its own.
std::string printable(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F || c == '\\') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::string withFolder(std::string_view text, const fs::path& folder) {
  std::string out(text);
  const std::size_t at = out.find("%1");
  if (at != std::string::npos) out.replace(at, 2, printable(folder.string()));
  return out;
}

void reportTrouble(const TickOptions& options, const std::string& text) {
  if (options.trouble) {
    options.trouble(text);
    return;
  }
  ::openlog("brackenvale-tick", LOG_PID, LOG_USER);
  ::syslog(LOG_ERR, "%s", text.c_str());
  ::closelog();
  std::cerr << "brackenvale-tick: " << text << '\n';
}

class TickLog {
 public:
  TickLog(const tasks::TaskStore& store, std::function<void(std::string_view)> sink, LocalMinute now)
      : store_(store), sink_(std::move(sink)), now_(now) {}
  void operator()(const std::string& line) const {
    const std::string text = now_.toString() + " " + line;
    if (sink_) {
      sink_(text);
      return;
    }
    const UniqueFd fd = store_.openFile(std::string(kTickLog), O_WRONLY | O_APPEND | O_CREAT);
    if (!fd) return;
    const std::string withEnd = text + "\n";
    [[maybe_unused]] const ssize_t written = ::write(fd.get(), withEnd.data(), withEnd.size());
  }

 private:
  const tasks::TaskStore& store_;
  std::function<void(std::string_view)> sink_;
  LocalMinute now_;
};

// An exclusive lock on a file of the store: taken at once, or within `wait`; nothing otherwise.
UniqueFd lockFile(const tasks::TaskStore& store, const std::string& name, std::chrono::milliseconds wait) {
  UniqueFd fd = store.openFile(name, O_RDWR | O_CREAT);
  if (!fd) return fd;
  const Clock::time_point until = Clock::now() + wait;
  for (;;) {
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return fd;
    if (errno != EWOULDBLOCK && errno != EINTR) return UniqueFd();
    if (Clock::now() >= until) return UniqueFd();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

std::optional<LocalMinute> readState(const tasks::TaskStore& store) {
  const UniqueFd fd = store.openFile(std::string(kTickState), O_RDONLY);
  if (!fd) return std::nullopt;
  char text[32] = {};
  const ssize_t got = ::read(fd.get(), text, sizeof text - 1);
  if (got <= 0) return std::nullopt;
  char* end = nullptr;
  const long long minutes = std::strtoll(text, &end, 10);
  if (end == text) return std::nullopt;
  return LocalMinute::fromMinutes(minutes);
}

// The file's last change as a local minute: when a task file written before the store recorded
// its schedule's saving was saved at the latest.
std::optional<LocalMinute> modifiedMinute(const tasks::TaskStore& store, const std::string& file) {
  const UniqueFd fd = store.openFile(file, O_RDONLY);
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0) return std::nullopt;
  std::tm local{};
  if (::localtime_r(&info.st_mtime, &local) == nullptr) return std::nullopt;
  return LocalMinute::at(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
}

// Only files the user wrote and nobody else could have: a regular file owned by the user, not
// writable by group or others.
bool trustworthy(const tasks::TaskStore& store, const std::string& file) {
  const UniqueFd fd = store.openFile(file, O_RDONLY);
  struct stat info {};
  return fd && ::fstat(fd.get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::string taskNameOf(const std::string& fileName) { return fileName.substr(0, fileName.size() - 4); }

bool isRunner(const std::string& program) {
  return fs::path(program).filename() == std::string(kRunnerProgramName);
}

std::vector<std::string> splitBlanks(const std::string& text) {
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find(' ', start), text.size());
    if (end > start) words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

// --- When a task is due ---------------------------------------------------------------------------

// One start the tick makes: the trigger it comes from (as planned, checked again under the
// store's write lock) and, for a time trigger, the scheduled start and its window.
struct PlannedStart {
  std::size_t triggerIndex = 0;
  tasks::TaskTrigger trigger;
  std::optional<tasks::ScheduledStart> scheduled;  // none for an event's start
  bool late = false;
};

bool closesWindowAt(const tasks::TaskTrigger& trigger) {
  return (trigger.flags & tasks::kTriggerFlagKillAtDurationEnd) != 0 && trigger.minutesDuration > 0;
}

// The latest start of the task's time triggers that fell due since it could last have run: after
// its schedule was saved, after its last run, and after the previous tick (a start that tick
// passed over, because a run was still going, is not made up). A start whose trigger ends the
// program at the end of a window already closed is passed over.
std::optional<PlannedStart> dueTimedStart(const JobFile& job, LocalMinute now, std::optional<LocalMinute> lastTick,
                                          LocalMinute saved) {
  LocalMinute after = tasks::recordedScheduleSaved(job).value_or(saved);
  if (const auto lastRun = LocalMinute::fromSystemTime(job.lastRunTime); lastRun && *lastRun > after) {
    after = *lastRun;
  }
  if (lastTick && *lastTick <= now && *lastTick > after) after = *lastTick;
  const auto start = tasks::latestStartBetween(job.flags, job.triggers, after, now, [&](const tasks::ScheduledStart& s) {
    const tasks::TaskTrigger& trigger = job.triggers[s.triggerIndex];
    return !closesWindowAt(trigger) || s.base.plusMinutes(trigger.minutesDuration) > now;
  });
  if (!start) return std::nullopt;
  return PlannedStart{start->triggerIndex, job.triggers[start->triggerIndex], start, start->time < now};
}

std::optional<PlannedStart> dueEventStart(const JobFile& job, TickKind kind) {
  if ((job.flags & tasks::kTaskFlagDisabled) != 0) return std::nullopt;
  const tasks::TriggerType wanted =
      kind == TickKind::SystemStart ? tasks::TriggerType::AtSystemStart : tasks::TriggerType::AtLogon;
  for (std::size_t index = 0; index < job.triggers.size(); ++index) {
    const tasks::TaskTrigger& trigger = job.triggers[index];
    if (trigger.type == wanted && trigger.isEnabled()) return PlannedStart{index, trigger, std::nullopt, false};
  }
  return std::nullopt;
}

// --- The watcher ------------------------------------------------------------------------------

// Who the program runs as, and the environment it gets.
struct Account {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  std::string home;
};

std::optional<Account> accountNamed(const std::string& name) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  return Account{found->pw_uid, found->pw_gid, found->pw_name, found->pw_dir ? found->pw_dir : "/"};
}

std::optional<Account> runningAccount() {
  const passwd* entry = ::getpwuid(::geteuid());
  if (entry == nullptr) return std::nullopt;
  return accountNamed(entry->pw_name);
}

// The account the task records; the store's owner when it records none. Only root starts a
// program as another account.
std::optional<Account> accountFor(const JobFile& job) {
  std::optional<Account> account = runningAccount();
  const std::string recorded = tasks::recordedAccount(job);
  if (!recorded.empty() && (!account || recorded != account->name)) {
    account = ::geteuid() == 0 ? accountNamed(recorded) : std::nullopt;
  }
  return account;
}

std::vector<std::string> programEnvironment(const Account& account) {
  std::vector<std::string> environment = {
      "HOME=" + account.home, "USER=" + account.name, "LOGNAME=" + account.name,
      "SHELL=/bin/sh",        "PATH=/usr/bin:/bin",   "LANG=C.UTF-8",
  };
  // Settings of the data provider and of the runner's log pass on.
  for (const char* name :
       {"BRACKENVALE_ODBC_DRIVER", "BRACKENRUN_LOG", "ODBCSYSINI", "ODBCINI", "FREETDSCONF", "TZ"}) {
    if (const char* value = std::getenv(name)) environment.push_back(std::string(name) + "=" + value);
  }
  return environment;
}

HResult fromErrno(int error) { return 0x80070000u | (static_cast<HResult>(error) & 0xFFFFu); }

struct RunPlan {
  std::string name;
  JobFile job;  // as recorded at the start
  PlannedStart start;
  LocalMinute now;
  std::chrono::milliseconds intoMinute;
  std::chrono::milliseconds grace;
  std::function<void(const FinishedRun&)> afterRun;
};

// The size of the task's output log now: where this run's output begins.
off_t outputLogSize(const tasks::TaskStore& store, const std::string& name) {
  const UniqueFd fd = store.openFile(name + std::string(tasks::kOutputLogSuffix), O_RDONLY);
  struct stat info {};
  return fd && ::fstat(fd.get(), &info) == 0 ? info.st_size : 0;
}

// What the run added to the task's output log (at most 64 KiB of it, the end kept).
std::string outputSince(const tasks::TaskStore& store, const std::string& name, off_t from) {
  constexpr off_t kMaxOutput = 64 * 1024;
  const UniqueFd fd = store.openFile(name + std::string(tasks::kOutputLogSuffix), O_RDONLY);
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || info.st_size <= from) return {};
  const off_t start = std::max(from, info.st_size - kMaxOutput);
  std::string text(static_cast<std::size_t>(info.st_size - start), '\0');
  const ssize_t got = ::pread(fd.get(), text.data(), text.size(), start);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

// A program started for a run, or why it could not start.
struct Started {
  pid_t pid = -1;
  HResult error = tasks::kOk;
};

Started startProgram(const tasks::TaskStore& store, const RunPlan& plan) {
  const JobFile& job = plan.job;
  const std::optional<Account> account = accountFor(job);
  if (!account) return {-1, tasks::kAccessDenied};
  const bool switchUser = account->uid != ::geteuid();

  int input[2] = {-1, -1};
  int failure[2] = {-1, -1};
  if (::pipe2(input, O_CLOEXEC) != 0) return {-1, fromErrno(errno)};
  UniqueFd inputRead(input[0]), inputWrite(input[1]);
  if (::pipe2(failure, O_CLOEXEC) != 0) return {-1, fromErrno(errno)};
  UniqueFd failureRead(failure[0]), failureWrite(failure[1]);
  UniqueFd output = store.openFile(plan.name + std::string(tasks::kOutputLogSuffix), O_WRONLY | O_APPEND | O_CREAT);

  std::vector<std::string> argvStorage{job.applicationName};
  const bool runner = isRunner(job.applicationName);
  if (runner) {
    argvStorage.emplace_back("-");
  } else {
    for (auto& word : splitBlanks(job.parameters)) argvStorage.push_back(std::move(word));
  }
  std::vector<char*> argv;
  for (auto& word : argvStorage) argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> environmentStorage = programEnvironment(*account);
  std::vector<char*> environment;
  for (auto& entry : environmentStorage) environment.push_back(entry.data());
  environment.push_back(nullptr);
  const std::string folder = job.workingDirectory.empty() ? account->home : job.workingDirectory;

  const pid_t program = ::fork();
  if (program == 0) {
    ::setsid();  // its own session and process group: the watcher can end it with its children
    ::dup2(inputRead.get(), STDIN_FILENO);
    const int sink = output ? output.get() : ::open("/dev/null", O_WRONLY);
    ::dup2(sink, STDOUT_FILENO);
    ::dup2(sink, STDERR_FILENO);
    ::umask(077);
    const auto fail = [&](int error) {
      [[maybe_unused]] const ssize_t n = ::write(failureWrite.get(), &error, sizeof error);
      ::_exit(127);
    };
    if (switchUser) {
      if (::initgroups(account->name.c_str(), account->gid) != 0) fail(errno);
      if (::setgid(account->gid) != 0) fail(errno);
      if (::setuid(account->uid) != 0) fail(errno);
    }
    if (::chdir(folder.c_str()) != 0 && ::chdir("/") != 0) fail(errno);
    ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);  // only the failure pipe survives until exec
    ::execve(argv[0], argv.data(), environment.data());
    fail(errno);
  }
  inputRead.reset();
  failureWrite.reset();
  output.reset();
  if (program < 0) return {-1, fromErrno(errno)};
  int startErrno = 0;
  if (::read(failureRead.get(), &startErrno, sizeof startErrno) == static_cast<ssize_t>(sizeof startErrno)) {
    ::waitpid(program, nullptr, 0);
    return {-1, fromErrno(startErrno)};
  }
  if (runner) {
    // The parameter string and its line feed; the runner reads one line.
    const std::string line = job.parameters + "\n";
    ::signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    while (written < line.size()) {
      const ssize_t n = ::write(inputWrite.get(), line.data() + written, line.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
    }
  }
  return {program, tasks::kOk};
}

// The moment the run must end by, if any: the task's maximum run time, and the end of the
// trigger's window when the trigger says to stop the program there.
std::optional<Clock::time_point> deadlineOf(const RunPlan& plan, Clock::time_point begun) {
  std::optional<Clock::time_point> deadline;
  const JobFile& job = plan.job;
  if (job.maxRunTimeMs != 0 && job.maxRunTimeMs != tasks::kInfiniteRunTime) {
    deadline = begun + std::chrono::milliseconds(job.maxRunTimeMs);
  }
  if (plan.start.scheduled && closesWindowAt(plan.start.trigger)) {
    const LocalMinute windowEnd = plan.start.scheduled->base.plusMinutes(plan.start.trigger.minutesDuration);
    const auto left = std::chrono::minutes(windowEnd.minutesSinceEpoch() - plan.now.minutesSinceEpoch()) - plan.intoMinute;
    const Clock::time_point end = begun + std::max<Clock::duration>(left, Clock::duration::zero());
    if (!deadline || end < *deadline) deadline = end;
  }
  return deadline;
}

// Waits for the program, ending it at its deadline (SIGTERM to its group, SIGKILL after the
// grace period); its exit code, or kTerminatedExitCode for a program that had to be ended.
std::uint32_t supervise(pid_t program, std::optional<Clock::time_point> deadline, std::chrono::milliseconds grace) {
  int status = 0;
  bool terminated = false;
  std::optional<Clock::time_point> killAt;
  for (;;) {
    const pid_t done = ::waitpid(program, &status, WNOHANG);
    if (done == program) break;
    if (done < 0 && errno != EINTR) break;
    const Clock::time_point now = Clock::now();
    if (!terminated && deadline && now >= *deadline) {
      ::kill(-program, SIGTERM);
      terminated = true;
      killAt = now + grace;
    } else if (killAt && now >= *killAt) {
      ::kill(-program, SIGKILL);
      killAt.reset();
    }
    ::poll(nullptr, 0, 50);
  }
  if (terminated) return kTerminatedExitCode;
  if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
  return kTerminatedExitCode;
}

// Records the end of a run, unless the task was deleted (or replaced) meanwhile. A task marked
// delete-when-done with no runs left goes after its last run. Whether the task is gone.
bool record(const tasks::TaskStore& store, const RunPlan& plan, std::uint32_t exitCode, HResult startError) {
  bool present = false;
  store.update(plan.name, [&](const std::optional<JobFile>& current) -> std::optional<JobFile> {
    if (!current || current->uuid != plan.job.uuid) return std::nullopt;
    present = true;
    JobFile out = *current;
    out.exitCode = exitCode;
    out.status = tasks::kSchedTaskReady;
    out.runningInstanceCount = 0;
    if (!out.reservedData) out.reservedData = tasks::JobReservedData{};
    out.reservedData->startError = startError;
    return out;
  });
  JobFile current;
  if (present && store.read(plan.name, current) == tasks::kOk && current.uuid == plan.job.uuid &&
      (current.flags & tasks::kTaskFlagDeleteWhenDone) != 0 && !tasks::hasRunsAfter(current.triggers, plan.now)) {
    store.removeTask(plan.name);
    present = false;
  }
  return !present;
}

// The watcher's whole life, in the forked child: start the program, supervise it, record the
// outcome, then report it. The run lock is released only once the end is recorded, so the next
// start of the task never meets this run's record, and before the report, which may wait out a
// mail server's time-out. Never returns.
[[noreturn]] void watch(const tasks::TaskStore& store, const RunPlan& plan, UniqueFd runLock) {
  ::setsid();
  const int devNull = ::open("/dev/null", O_RDWR);
  if (devNull >= 0) {
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
    if (devNull > STDERR_FILENO) ::close(devNull);
  }
  const off_t outputStart = outputLogSize(store, plan.name);
  const Clock::time_point begun = Clock::now();
  const Started started = startProgram(store, plan);
  const std::uint32_t exitCode =
      started.pid < 0 ? started.error : supervise(started.pid, deadlineOf(plan, begun), plan.grace);
  const HResult startError = started.pid < 0 ? started.error : tasks::kOk;
  const bool gone = record(store, plan, exitCode, startError);
  const std::vector<tasks::RunRecord> earlier = store.runHistory(plan.name);
  const tasks::RunRecord run{
      plan.now,
      std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - begun).count(),
      exitCode,
      startError,
      plan.start.late,
      tasks::runOutcomeText(exitCode, startError, isRunner(plan.job.applicationName))};
  if (!gone) store.recordRun(plan.name, run);
  FinishedRun finished{plan.name, plan.job, run,
                       earlier.empty() ? std::nullopt : std::optional<tasks::RunRecord>(earlier.back()),
                       outputSince(store, plan.name, outputStart), gone};
  // The report may wait out a mail server's time-out: the task's next start must not wait for it.
  runLock.reset();
  if (plan.afterRun) {
    try {
      plan.afterRun(finished);
    } catch (...) {
      // Telling someone must never change what the run recorded.
    }
  }
  if (gone) store.removeCompanions(plan.name);  // what was kept beside a task deleted during its run
  ::_exit(0);
}

// Records the start under the store's write lock, reading the task again: a task deleted,
// replaced or re-scheduled since the plan (the planned trigger no longer where it was) is not
// started. The recorded task, or nothing.
std::optional<JobFile> recordStart(const tasks::TaskStore& store, const std::string& name, const JobFile& planned,
                                   const PlannedStart& start, LocalMinute now) {
  std::optional<JobFile> recorded;
  store.update(name, [&](const std::optional<JobFile>& current) -> std::optional<JobFile> {
    if (!current || current->uuid != planned.uuid) return std::nullopt;
    if (start.triggerIndex >= current->triggers.size() || current->triggers[start.triggerIndex] != start.trigger) {
      return std::nullopt;
    }
    JobFile out = *current;
    out.lastRunTime = now.toSystemTime();
    out.status = tasks::kSchedTaskRunning;
    out.runningInstanceCount = 1;
    if (!out.reservedData) out.reservedData = tasks::JobReservedData{};
    out.reservedData->startError = tasks::kOk;
    recorded = out;
    return out;
  });
  return recorded;
}

// The store's folder, opened and checked; at boot it may come a while after the tick.
std::optional<tasks::TaskStore> openStore(const TickOptions& options, const fs::path& folder, TickResult& result) {
  const Clock::time_point until = Clock::now() + options.storeWait;
  for (;;) {
    auto descriptor = std::make_shared<UniqueFd>();
    const tasks::StoreFolderState state =
        folder.empty() ? tasks::StoreFolderState::Missing : tasks::TaskStore::openChecked(folder, *descriptor);
    if (state == tasks::StoreFolderState::Usable) return tasks::TaskStore(folder, std::move(descriptor));
    if (state == tasks::StoreFolderState::Unsafe) {
      reportTrouble(options, withFolder(kStoreUnsafeText, folder));
      result.outcome = TickOutcome::StoreUnsafe;
      return std::nullopt;
    }
    if (Clock::now() >= until) break;
    std::this_thread::sleep_for(options.storeRetryInterval);
  }
  reportTrouble(options, withFolder(kStoreMissingText, folder));
  result.outcome = TickOutcome::StoreMissing;
  return std::nullopt;
}

}  // namespace

TickResult runTick(const TickOptions& options) {
  TickResult result;
  const fs::path folder = options.storeFolder.empty() ? tasks::defaultTaskStoreFolder() : options.storeFolder;
  const std::optional<tasks::TaskStore> opened = openStore(options, folder, result);
  if (!opened) return result;
  const tasks::TaskStore& store = *opened;
  const UniqueFd tickLock = lockFile(store, std::string(kTickLock), options.lockWait);
  if (!tickLock) return result;  // Busy
  result.outcome = TickOutcome::Ran;
  const LocalMinute now = options.now;
  const TickLog log(store, options.log, now);
  const bool minuteTick = options.kind == TickKind::Minute;
  const std::function<void(const FinishedRun&)> afterRun =
      options.afterRun ? options.afterRun : [&store, settings = options.mailSettings](const FinishedRun& run) {
        mailAfterRun(store, run, settings);
      };

  store.removeOrphanedCompanions();
  const std::vector<std::string> files = store.fileNames();
  // The entry goes only for a store that is there and empty, never for one that cannot be seen.
  if (files.empty() && minuteTick && options.crontab != nullptr) {
    if (tasks::removeTickEntry(*options.crontab, folder) == tasks::kOk)
      log("store empty: no tick entry left for it");
  }
  const std::optional<LocalMinute> lastTick = minuteTick ? readState(store) : std::nullopt;
  for (const std::string& file : files) {
    const std::string name = taskNameOf(file);
    if (!trustworthy(store, file)) {
      log(printable(name) + ": skipped (not a private file of this user)");
      continue;
    }
    JobFile job;
    if (const HResult read = store.read(name, job); read != tasks::kOk) {
      log(printable(name) + ": skipped (unreadable)");
      continue;
    }
    if ((job.flags & tasks::kTaskFlagDisabled) != 0) continue;
    const std::optional<PlannedStart> due =
        minuteTick ? dueTimedStart(job, now, lastTick, modifiedMinute(store, file).value_or(now))
                   : dueEventStart(job, options.kind);
    if (!due) continue;
    const std::string when = due->scheduled ? due->scheduled->time.toString()
                                            : (options.kind == TickKind::SystemStart ? "system start" : "logon");

    UniqueFd runLock = lockFile(store, name + std::string(tasks::kRunLockSuffix), std::chrono::milliseconds(0));
    if (!runLock) {
      result.skipped.push_back(name);
      log(printable(name) + ": due at " + when + ", still running: skipped");
      continue;
    }
    const std::optional<JobFile> recorded = recordStart(store, name, job, *due, now);
    if (!recorded) continue;

    const RunPlan plan{name, *recorded, *due, now, options.intoMinute, options.terminationGrace, afterRun};
    const pid_t watcher = ::fork();
    if (watcher == 0) {
      // The watcher holds its run lock and nothing else of the tick's: the next minute's tick
      // must find the store free while this run goes on.
      ::close(tickLock.get());
      try {
        watch(store, plan, std::move(runLock));
      } catch (...) {
        ::_exit(1);
      }
    }
    if (watcher < 0) {
      const HResult error = fromErrno(errno);
      record(store, plan, error, error);
      store.recordRun(name, tasks::RunRecord{now, 0, error, error, due->late, tasks::runOutcomeText(error, error, false)});
      log(printable(name) + ": could not be started");
      continue;
    }
    // The watcher holds the run lock from here on; this copy closes without unlocking it.
    result.started.push_back(name);
    result.watchers.push_back(watcher);
    log(printable(name) + ": started for " + when + (due->late ? " (late)" : ""));
  }
  if (minuteTick) {
    const std::string text = std::to_string(now.minutesSinceEpoch()) + "\n";
    const UniqueFd folderFd = store.openFile(".", O_RDONLY | O_DIRECTORY);
    if (folderFd) sys::writeFileAtomicallyAt(folderFd.get(), std::string(kTickState), text, 0600);
  }
  return result;
}

}  // namespace bv::tick
