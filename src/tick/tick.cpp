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
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <utility>

#include "core/tasks/job_file.h"
#include "core/tasks/next_run.h"
#include "core/tasks/task_codes.h"
#include "core/tasks/task_flags.h"
#include "core/tasks/task_store_posix.h"

namespace bv::tick {
namespace fs = std::filesystem;
using tasks::HResult;
using tasks::JobFile;
using tasks::LocalMinute;

namespace {

using Clock = std::chrono::steady_clock;

// A previous tick this recent bounds the window, so starts missed while cron was late still run;
// after a longer gap only the last minute counts, as a run missed while the computer was off is
// not made up.
constexpr int kMaxTickGapMinutes = 10;

// The exit code recorded for a run the watcher had to end.
constexpr std::uint32_t kTerminatedExitCode = tasks::kSchedTaskTerminated;

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }
  void reset() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// An exclusive lock taken without waiting; nothing when another process holds it.
Descriptor tryLock(const fs::path& file) {
  Descriptor fd(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.valid() || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return Descriptor();
  return fd;
}

class TickLog {
 public:
  TickLog(const fs::path& folder, std::function<void(std::string_view)> sink, LocalMinute now)
      : folder_(folder), sink_(std::move(sink)), now_(now) {}
  void operator()(const std::string& line) const {
    const std::string text = now_.toString() + " " + line;
    if (sink_) {
      sink_(text);
      return;
    }
    Descriptor fd(::open((folder_ / "tick.log").c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid()) return;
    const std::string withEnd = text + "\n";
    [[maybe_unused]] const ssize_t written = ::write(fd.get(), withEnd.data(), withEnd.size());
  }

 private:
  fs::path folder_;
  std::function<void(std::string_view)> sink_;
  LocalMinute now_;
};

std::optional<LocalMinute> readState(const fs::path& file) {
  std::ifstream in(file);
  long long minutes = 0;
  if (!(in >> minutes)) return std::nullopt;
  return LocalMinute::fromMinutes(minutes);
}

void writeState(const fs::path& folder, LocalMinute now) {
  const fs::path temporary = folder / (".tick.state.tmp." + std::to_string(::getpid()));
  {
    Descriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!fd.valid()) return;
    const std::string text = std::to_string(now.minutesSinceEpoch()) + "\n";
    if (::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        ::fsync(fd.get()) != 0) {
      ::unlink(temporary.c_str());
      return;
    }
  }
  if (::rename(temporary.c_str(), (folder / ".tick.state").c_str()) != 0) ::unlink(temporary.c_str());
}

// Only files the user wrote and nobody else could have: a regular file owned by the user, not
// writable by group or others.
bool trustworthy(const fs::path& file) {
  struct stat info {};
  return ::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
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

// Who the program runs as, and the environment it gets.
struct Account {
  uid_t uid = 0;
  gid_t gid = 0;
  std::string name;
  std::string home;
  std::string shell;
};

std::optional<Account> accountNamed(const std::string& name) {
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
    return std::nullopt;
  }
  return Account{found->pw_uid, found->pw_gid, found->pw_name, found->pw_dir ? found->pw_dir : "/",
                 found->pw_shell ? found->pw_shell : "/bin/sh"};
}

std::optional<Account> runningAccount() {
  const passwd* entry = ::getpwuid(::geteuid());
  if (entry == nullptr) return std::nullopt;
  return accountNamed(entry->pw_name);
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

// Records the end of a run, unless the task was deleted (or replaced) meanwhile.
void recordEnd(const tasks::TaskStore& store, const std::string& name, const tasks::JobUuid& uuid,
               std::uint32_t exitCode, HResult startError) {
  store.update(name, [&](const std::optional<JobFile>& current) -> std::optional<JobFile> {
    if (!current || current->uuid != uuid) return std::nullopt;
    JobFile out = *current;
    out.exitCode = exitCode;
    out.status = tasks::kSchedTaskReady;
    out.runningInstanceCount = 0;
    if (!out.reservedData) out.reservedData = tasks::JobReservedData{};
    out.reservedData->startError = startError;
    return out;
  });
}

void deleteIfDone(const tasks::TaskStore& store, const std::string& name, const tasks::JobUuid& uuid,
                  LocalMinute now) {
  JobFile current;
  if (store.read(name, current) != tasks::kOk || current.uuid != uuid) return;
  if ((current.flags & tasks::kTaskFlagDeleteWhenDone) == 0) return;
  if (tasks::hasRunsAfter(current.triggers, now)) return;
  ::unlink(store.fileOf(name).c_str());
}

struct RunPlan {
  std::string name;
  JobFile job;
  tasks::ScheduledStart start;
  LocalMinute now;
  std::chrono::milliseconds grace;
  fs::path folder;
};

// The watcher's whole life, in the forked child: start the program, wait for it within its
// limits, record the outcome. Never returns.
[[noreturn]] void watch(const RunPlan& plan) {
  const tasks::TaskStore store(plan.folder);
  const JobFile& job = plan.job;
  ::setsid();
  const int devNull = ::open("/dev/null", O_RDWR);
  if (devNull >= 0) {
    ::dup2(devNull, STDIN_FILENO);
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
    if (devNull > STDERR_FILENO) ::close(devNull);
  }

  // Who the program runs as: the account the task records; the store's owner when none.
  std::optional<Account> account = runningAccount();
  const std::string recorded = tasks::recordedAccount(job);
  if (!recorded.empty() && (!account || recorded != account->name)) {
    account = ::geteuid() == 0 ? accountNamed(recorded) : std::nullopt;
  }
  if (!account) {
    recordEnd(store, plan.name, job.uuid, tasks::kAccessDenied, tasks::kAccessDenied);
    ::_exit(0);
  }
  const bool switchUser = account->uid != ::geteuid();

  int input[2] = {-1, -1};
  int failure[2] = {-1, -1};
  if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(failure, O_CLOEXEC) != 0) {
    recordEnd(store, plan.name, job.uuid, fromErrno(errno), fromErrno(errno));
    ::_exit(0);
  }
  const fs::path logFile = plan.folder / (plan.name + ".log");
  const int output = ::open(logFile.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);

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
    ::dup2(input[0], STDIN_FILENO);
    const int sink = output >= 0 ? output : ::open("/dev/null", O_WRONLY);
    ::dup2(sink, STDOUT_FILENO);
    ::dup2(sink, STDERR_FILENO);
    ::umask(077);
    const auto fail = [&](int error) {
      [[maybe_unused]] const ssize_t n = ::write(failure[1], &error, sizeof error);
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
  ::close(input[0]);
  ::close(failure[1]);
  if (output >= 0) ::close(output);
  if (program < 0) {
    recordEnd(store, plan.name, job.uuid, fromErrno(errno), fromErrno(errno));
    ::_exit(0);
  }
  int startErrno = 0;
  if (::read(failure[0], &startErrno, sizeof startErrno) == static_cast<ssize_t>(sizeof startErrno)) {
    ::waitpid(program, nullptr, 0);
    recordEnd(store, plan.name, job.uuid, fromErrno(startErrno), fromErrno(startErrno));
    ::_exit(0);
  }
  ::close(failure[0]);
  if (runner) {
    // The parameter string and its line feed; the runner reads one line.
    const std::string line = job.parameters + "\n";
    ::signal(SIGPIPE, SIG_IGN);
    std::size_t written = 0;
    while (written < line.size()) {
      const ssize_t n = ::write(input[1], line.data() + written, line.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
    }
  }
  ::close(input[1]);

  // The deadlines: the task's maximum run time, and the end of the trigger's window when the
  // trigger says to stop the program there.
  const Clock::time_point begun = Clock::now();
  std::optional<Clock::time_point> deadline;
  if (job.maxRunTimeMs != 0 && job.maxRunTimeMs != tasks::kInfiniteRunTime) {
    deadline = begun + std::chrono::milliseconds(job.maxRunTimeMs);
  }
  const tasks::TaskTrigger& trigger = job.triggers[plan.start.triggerIndex];
  if ((trigger.flags & tasks::kTriggerFlagKillAtDurationEnd) != 0 && trigger.minutesDuration > 0) {
    const LocalMinute windowEnd = plan.start.base.plusMinutes(trigger.minutesDuration);
    const auto left = std::chrono::minutes(windowEnd.minutesSinceEpoch() - plan.now.minutesSinceEpoch());
    const Clock::time_point end = begun + std::max(left, std::chrono::minutes(0));
    if (!deadline || end < *deadline) deadline = end;
  }

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
      killAt = now + plan.grace;
    } else if (killAt && now >= *killAt) {
      ::kill(-program, SIGKILL);
      killAt.reset();
    }
    ::poll(nullptr, 0, 50);
  }
  const std::uint32_t exitCode = terminated            ? kTerminatedExitCode
                                 : WIFEXITED(status)   ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                 : WIFSIGNALED(status) ? 128u + static_cast<std::uint32_t>(WTERMSIG(status))
                                                       : kTerminatedExitCode;
  recordEnd(store, plan.name, job.uuid, exitCode, tasks::kOk);
  deleteIfDone(store, plan.name, job.uuid, plan.now);
  ::_exit(0);
}

}  // namespace

TickResult runTick(const TickOptions& options) {
  TickResult result;
  const fs::path folder = options.storeFolder.empty() ? tasks::defaultTaskStoreFolder() : options.storeFolder;
  const tasks::TaskStore store(folder);
  const LocalMinute now = options.now;

  std::error_code missing;
  if (folder.empty() || !fs::is_directory(folder, missing)) {
    if (options.crontab != nullptr) tasks::removeTickEntry(*options.crontab, folder);
    result.ran = true;
    return result;
  }
  const Descriptor tickLock = tryLock(folder / ".tick.lock");
  if (!tickLock.valid()) return result;
  result.ran = true;
  const TickLog log(folder, options.log, now);

  // The window: from the previous tick, unless there was none, it is long ago, or the clock went
  // back; then the last minute only.
  const std::optional<LocalMinute> last = readState(folder / ".tick.state");
  LocalMinute after = now.plusMinutes(-1);
  if (last && *last <= now && *last >= now.plusMinutes(-kMaxTickGapMinutes)) after = *last;

  const std::vector<std::string> files = store.fileNames();
  if (files.empty() && options.crontab != nullptr) {
    if (tasks::removeTickEntry(*options.crontab, folder) == tasks::kOk)
      log("store empty: no tick entry left for it");
  }
  for (const std::string& file : files) {
    const std::string name = taskNameOf(file);
    if (!trustworthy(folder / file)) {
      log(name + ": skipped (not a private file of this user)");
      continue;
    }
    JobFile job;
    if (const HResult read = store.read(name, job); read != tasks::kOk) {
      log(name + ": skipped (unreadable)");
      continue;
    }
    if ((job.flags & tasks::kTaskFlagDisabled) != 0) continue;
    std::optional<tasks::ScheduledStart> due;
    const auto lastRun = LocalMinute::fromSystemTime(job.lastRunTime);
    for (const auto& start : tasks::scheduledStartsBetween(job.flags, job.triggers, after, now)) {
      if (lastRun && start.time <= *lastRun) continue;  // made already, before a clock step
      due = start;
    }
    if (!due) continue;

    Descriptor runLock = tryLock(folder / (file + ".lock"));
    if (!runLock.valid()) {
      result.skipped.push_back(name);
      log(name + ": due at " + due->time.toString() + ", still running: skipped");
      continue;
    }
    bool recorded = false;
    store.update(name, [&](const std::optional<JobFile>& current) -> std::optional<JobFile> {
      if (!current || current->uuid != job.uuid) return std::nullopt;
      JobFile out = *current;
      out.lastRunTime = now.toSystemTime();
      out.status = tasks::kSchedTaskRunning;
      out.runningInstanceCount = 1;
      if (!out.reservedData) out.reservedData = tasks::JobReservedData{};
      out.reservedData->startError = tasks::kOk;
      job = out;
      recorded = true;
      return out;
    });
    if (!recorded) continue;

    const RunPlan plan{name, job, *due, now, options.terminationGrace, folder};
    const pid_t watcher = ::fork();
    if (watcher == 0) {
      try {
        watch(plan);
      } catch (...) {
        ::_exit(1);
      }
    }
    if (watcher < 0) {
      recordEnd(store, name, job.uuid, fromErrno(errno), fromErrno(errno));
      log(name + ": could not be started");
      continue;
    }
    // The watcher holds the run lock from here on; this copy closes without unlocking it.
    result.started.push_back(name);
    result.watchers.push_back(watcher);
    log(name + ": started for " + due->time.toString());
  }
  writeState(folder, now);
  return result;
}

}  // namespace bv::tick
