#include "core/tasks/scheduler_posix.h"

#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "core/sys/system_info.h"
#include "core/tasks/crontab_posix.h"
#include "core/tasks/next_run.h"
#include "core/tasks/schedule_page.h"
#include "core/tasks/task_flags.h"
#include "core/tasks/task_store_posix.h"
#include "core/tasks/trigger_text.h"

namespace bv::tasks {
namespace {

constexpr HResult kNotImplemented = 0x80004001;  // E_NOTIMPL
constexpr HResult kFileExists = 0x80070050;      // HRESULT_FROM_WIN32(ERROR_FILE_EXISTS)

struct Shared {
  TaskStore store;
  PosixSchedulerOptions options;
  LocalMinute now() const { return options.clock ? options.clock() : localMinuteNow(); }
};

// The page handle of the one page this scheduler offers.
int schedulePageMarker = 0;

// Accounts proved in this process a moment ago: the account dialog proves the account through a
// task of its own, and the registration that follows saves its task with the same account and
// password; PAM is asked once per registration, not twice. Kept as a keyed digest of the
// password (never the password), for a few minutes, and taken by the first save that uses it.
class RecentProofs {
 public:
  // `where` names the PAM configuration that proved it: a proof counts only for the same one.
  void remember(const std::string& where, const std::string& user, const std::string& password) {
    const std::lock_guard lock(mutex_);
    proofs_.push_back({where, user, digest(password), Clock::now()});
  }
  bool take(const std::string& where, const std::string& user, const std::string& password) {
    const std::lock_guard lock(mutex_);
    const Clock::time_point now = Clock::now();
    std::erase_if(proofs_, [&](const Proof& proof) { return now - proof.when > kValidFor; });
    const std::size_t wanted = digest(password);
    for (auto it = proofs_.begin(); it != proofs_.end(); ++it) {
      if (it->where == where && it->user == user && it->digest == wanted) {
        proofs_.erase(it);
        return true;
      }
    }
    return false;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::minutes kValidFor{10};
  struct Proof {
    std::string where;
    std::string user;
    std::size_t digest;
    Clock::time_point when;
  };
  std::size_t digest(const std::string& password) const { return std::hash<std::string>{}(key_ + password); }

  std::mutex mutex_;
  std::vector<Proof> proofs_;
  const std::string key_ = std::to_string(std::random_device{}()) + std::to_string(std::random_device{}());
};

RecentProofs& recentProofs() {
  static RecentProofs proofs;
  return proofs;
}

class PosixWorkItem;

class PosixTrigger final : public SchedulerTrigger {
 public:
  PosixTrigger(PosixWorkItem& item, std::uint16_t index) : item_(item), index_(index) {}
  HResult GetTrigger(TaskTrigger& trigger) override;
  HResult SetTrigger(const TaskTrigger& trigger) override;
  HResult GetTriggerString(std::string& text) override;

 private:
  PosixWorkItem& item_;
  std::uint16_t index_;
};

class PosixTaskPages final : public TaskPages {
 public:
  PosixTaskPages(PosixWorkItem& item, SchedulePage& page, NativeWindow window)
      : item_(item), page_(page), window_(window) {}
  HResult GetPage(TaskPageType type, bool persistChanges, TaskPageHandle& page) override;
  int PropertySheet(const std::string& caption, const std::vector<TaskPageHandle>& pages) override;
  HResult SaveResult() const override { return saveResult_; }

 private:
  PosixWorkItem& item_;
  SchedulePage& page_;
  NativeWindow window_;
  bool persistChanges_ = false;
  HResult saveResult_ = kOk;
};

class PosixWorkItem final : public SchedulerWorkItem {
 public:
  PosixWorkItem(std::shared_ptr<const Shared> shared, std::string name, JobFile job, bool stored)
      : shared_(std::move(shared)), name_(std::move(name)), job_(std::move(job)), stored_(stored) {}
  ~PosixWorkItem() override { forgetPassword(); }

  HResult SetApplicationName(const std::string& path) override {
    job_.applicationName = path;
    changed_.applicationName = true;
    return kOk;
  }
  HResult GetApplicationName(std::string& path) override {
    path = job_.applicationName;
    return kOk;
  }
  HResult SetParameters(const std::string& parameters) override {
    job_.parameters = parameters;
    changed_.parameters = true;
    return kOk;
  }
  HResult GetParameters(std::string& parameters) override {
    parameters = job_.parameters;
    return kOk;
  }
  HResult GetFlags(std::uint32_t& flags) override {
    flags = job_.flags & kTaskFlagsApiMask;
    return kOk;
  }
  HResult SetFlags(std::uint32_t flags) override {
    job_.flags = (job_.flags & ~kTaskFlagsApiMask) | (flags & kTaskFlagsApiMask);
    changed_.flags = true;
    return kOk;
  }
  HResult SetAccountInformation(const std::string& user, const std::string& password) override {
    forgetPassword();
    pendingUser_ = user;
    pendingPassword_ = password;
    accountPending_ = true;
    return kOk;
  }
  HResult GetAccountInformation(std::string& user) override {
    user = accountPending_ ? pendingUser_ : recordedAccount(job_);
    return user.empty() ? kSchedAccountInformationNotSet : kOk;
  }

  HResult GetTriggerCount(std::uint16_t& count) override {
    count = static_cast<std::uint16_t>(job_.triggers.size());
    return kOk;
  }
  HResult GetTrigger(std::uint16_t index, std::unique_ptr<SchedulerTrigger>& trigger) override {
    if (index >= job_.triggers.size()) return kSchedTriggerNotFound;
    trigger = std::make_unique<PosixTrigger>(*this, index);
    return kOk;
  }
  HResult CreateTrigger(std::uint16_t& index, std::unique_ptr<SchedulerTrigger>& trigger) override {
    if (job_.triggers.size() >= 0xFFFF) return kOutOfMemory;
    job_.triggers.push_back(defaultTrigger(shared_->now().toSystemTime()));
    changed_.triggers = true;
    index = static_cast<std::uint16_t>(job_.triggers.size() - 1);
    trigger = std::make_unique<PosixTrigger>(*this, index);
    return kOk;
  }
  HResult DeleteTrigger(std::uint16_t index) override {
    if (index >= job_.triggers.size()) return kSchedTriggerNotFound;
    job_.triggers.erase(job_.triggers.begin() + index);
    changed_.triggers = true;
    return kOk;
  }

  HResult GetNextRunTime(SystemTime& time) override {
    const NextRun next = nextRunTime(job_.flags, job_.triggers, shared_->now());
    time = next.time;
    return next.code;
  }
  HResult GetMostRecentRunTime(SystemTime& time) override {
    time = job_.lastRunTime;
    return time.isZero() ? kSchedTaskHasNotRun : kOk;
  }
  HResult GetExitCode(std::uint32_t& exitCode) override {
    exitCode = job_.lastRunTime.isZero() ? 0 : job_.exitCode;
    return job_.lastRunTime.isZero() ? kSchedTaskHasNotRun : kOk;
  }
  HResult GetStatus(HResult& status) override {
    status = job_.status;
    return kOk;
  }
  HResult GetUnreportedFailure(std::optional<RunRecord>& run) override {
    run = shared_->store.unreportedFailure(name_);
    return kOk;
  }
  HResult GetRunHistory(std::vector<RunRecord>& runs) override {
    runs = shared_->store.runHistory(name_);
    // A run recorded before the store kept a history: the task's own last run.
    if (runs.empty() && !job_.lastRunTime.isZero() && job_.status != kSchedTaskRunning) {
      if (const auto minute = LocalMinute::fromSystemTime(job_.lastRunTime)) {
        const HResult error = job_.reservedData ? job_.reservedData->startError : kOk;
        const bool runner = std::filesystem::path(job_.applicationName).filename() == sys::runnerProgram(".").filename();
        runs.push_back(RunRecord{*minute, 0, job_.exitCode, error, false, runOutcomeText(job_.exitCode, error, runner)});
      }
    }
    return kOk;
  }

  HResult Save() override;
  HResult GetCurFile(std::string& path) override {
    path = shared_->store.fileOf(name_).string();
    return kOk;
  }
  HResult QueryTaskPages(const PageOwner& owner, std::unique_ptr<TaskPages>& pages) override {
    // The system has no pages here: the program's own page is the one the form handed in.
    if (owner.page == nullptr) return kNoInterface;
    pages = std::make_unique<PosixTaskPages>(*this, *owner.page, owner.window);
    return kOk;
  }

  std::vector<TaskTrigger>& triggers() { return job_.triggers; }
  void triggersChanged() { changed_.triggers = true; }
  bool stored() const { return stored_; }

 private:
  // The fields this item changed since it was read; the rest of a stored file stays as the
  // store has it, the run fields that the executor records among them.
  struct ChangedFields {
    bool applicationName = false;
    bool parameters = false;
    bool flags = false;
    bool triggers = false;
  };

  void forgetPassword() {
    explicit_bzero(pendingPassword_.data(), pendingPassword_.size());
    pendingPassword_.clear();
  }

  JobFile merged(const std::optional<JobFile>& current) const {
    if (!current || current->uuid != job_.uuid) return job_;
    JobFile out = *current;
    if (changed_.applicationName) out.applicationName = job_.applicationName;
    if (changed_.parameters) out.parameters = job_.parameters;
    if (changed_.flags) out.flags = (out.flags & ~kTaskFlagsApiMask) | (job_.flags & kTaskFlagsApiMask);
    if (changed_.triggers) out.triggers = job_.triggers;
    out.userData = job_.userData;
    return out;
  }

  std::shared_ptr<const Shared> shared_;
  std::string name_;
  JobFile job_;
  bool stored_;
  ChangedFields changed_;
  bool accountPending_ = false;
  std::string pendingUser_;
  std::string pendingPassword_;
};

HResult PosixWorkItem::Save() {
  if (accountPending_) {
    const std::string pam = shared_->options.accountProof.pamConfigFolder.string();
    if (!recentProofs().take(pam, pendingUser_, pendingPassword_)) {
      const HResult proof = proveAccount(pendingUser_, pendingPassword_, shared_->options.accountProof);
      if (proof != kOk) {
        forgetPassword();
        return proof;
      }
      // The account dialog proves an account through a task of its own: the registration that
      // follows need not ask PAM again.
      recentProofs().remember(pam, pendingUser_, pendingPassword_);
    }
    forgetPassword();
    recordAccount(job_, pendingUser_);
    accountPending_ = false;
  }
  // The executor makes up a start missed while it could not run, but never one from before the
  // schedule was saved.
  if (changed_.triggers || !stored_) recordScheduleSaved(job_, shared_->now());
  std::optional<JobFile> written;
  HResult refused = kOk;
  const HResult result =
      shared_->store.update(name_, [&](const std::optional<JobFile>& current) -> std::optional<JobFile> {
        JobFile out = merged(current);
        // A task that never ran tells whether it has a schedule; one that ran keeps its status.
        if (out.lastRunTime.isZero()) {
          out.status = out.triggers.empty() ? kSchedTaskNotScheduled : kSchedTaskHasNotRun;
        }
        if (shared_->options.beforeCommit) {
          refused = shared_->options.beforeCommit(shared_->store.folder(), out);
          if (refused != kOk) return std::nullopt;
        }
        written = out;
        return out;
      });
  if (result != kOk) return result;
  if (refused != kOk) return refused;
  if (!written) return kAccessDenied;
  job_ = std::move(*written);
  changed_ = {};
  stored_ = true;
  return kOk;
}

HResult PosixTrigger::GetTrigger(TaskTrigger& trigger) {
  if (index_ >= item_.triggers().size()) return kSchedTriggerNotFound;
  trigger = item_.triggers()[index_];
  return kOk;
}

HResult PosixTrigger::SetTrigger(const TaskTrigger& trigger) {
  if (index_ >= item_.triggers().size()) return kSchedTriggerNotFound;
  if (const HResult valid = validateTrigger(trigger); valid != kOk) return valid;
  item_.triggers()[index_] = trigger;
  item_.triggersChanged();
  return kOk;
}

HResult PosixTrigger::GetTriggerString(std::string& text) {
  if (index_ >= item_.triggers().size()) return kSchedTriggerNotFound;
  text = triggerText(item_.triggers()[index_]);
  return kOk;
}

HResult PosixTaskPages::GetPage(TaskPageType type, bool persistChanges, TaskPageHandle& page) {
  // As Windows documents it: the page of a work item that was never saved to disk cannot be
  // made.
  if (!item_.stored()) return kNotFileBasedStorage;
  if (type != TaskPageType::Schedule) return kNotImplemented;
  persistChanges_ = persistChanges;
  page = &schedulePageMarker;
  return kOk;
}

int PosixTaskPages::PropertySheet(const std::string& caption, const std::vector<TaskPageHandle>& pages) {
  if (pages.size() != 1 || pages[0] != &schedulePageMarker) return -1;
  std::vector<TaskTrigger> copy = item_.triggers();
  const int result = page_.show(window_, caption, copy);
  if (result != 1) return result;
  for (const TaskTrigger& trigger : copy) {
    if (validateTrigger(trigger) != kOk) return -1;  // a page that broke the rules changes nothing
  }
  item_.triggers() = std::move(copy);
  item_.triggersChanged();
  // A page that persists its changes saves the task when it closes; the caller's own save then
  // finds nothing new. A save that fails is the page's failure, with its code for the caller.
  if (persistChanges_) {
    saveResult_ = item_.Save();
    if (saveResult_ != kOk) return -1;
  }
  return result;
}

class PosixEnumerator final : public SchedulerEnumerator {
 public:
  explicit PosixEnumerator(std::vector<std::string> names) : names_(std::move(names)) {}
  HResult Next(std::string& name) override {
    if (next_ >= names_.size()) return kFalse;
    name = names_[next_++];
    return kOk;
  }

 private:
  std::vector<std::string> names_;
  std::size_t next_ = 0;
};

class PosixScheduler final : public SchedulerService {
 public:
  explicit PosixScheduler(std::shared_ptr<const Shared> shared) : shared_(std::move(shared)) {}

  HResult Activate(const std::string& name, std::unique_ptr<SchedulerWorkItem>& item) override {
    JobFile job;
    const HResult result = shared_->store.read(name, job);
    if (result != kOk) return result;
    item = std::make_unique<PosixWorkItem>(shared_, name, std::move(job), true);
    return kOk;
  }
  HResult NewWorkItem(const std::string& name, std::unique_ptr<SchedulerWorkItem>& item) override {
    if (const HResult check = TaskStore::checkName(name); check != kOk) return check;
    JobFile existing;
    if (shared_->store.read(name, existing) != kFileNotFound) return kFileExists;
    JobFile job;
    job.uuid = randomJobUuid();
    item = std::make_unique<PosixWorkItem>(shared_, name, std::move(job), false);
    return kOk;
  }
  HResult Enum(std::unique_ptr<SchedulerEnumerator>& enumerator) override {
    enumerator = std::make_unique<PosixEnumerator>(shared_->store.fileNames());
    return kOk;
  }

 private:
  std::shared_ptr<const Shared> shared_;
};

}  // namespace

LocalMinute localMinuteNow() { return localMinuteAt(std::time(nullptr)); }

LocalMinute localMinuteAt(std::time_t instant) {
  std::tm local{};
  ::localtime_r(&instant, &local);
  return LocalMinute::at(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min);
}

int secondsIntoLocalMinute(std::time_t instant) {
  std::tm local{};
  ::localtime_r(&instant, &local);
  return std::min(local.tm_sec, 59);  // a leap second counts as the minute's last
}

std::shared_ptr<SchedulerService> createPosixScheduler(PosixSchedulerOptions options) {
  std::filesystem::path folder = options.storeFolder.empty() ? defaultTaskStoreFolder() : options.storeFolder;
  auto shared = std::make_shared<const Shared>(Shared{TaskStore(std::move(folder)), std::move(options)});
  return std::make_shared<PosixScheduler>(std::move(shared));
}

std::shared_ptr<SchedulerService> createPlatformScheduler() {
  PosixSchedulerOptions options;
  // A task that can run needs the tick's entry in the user's crontab; a task without a schedule
  // (the account dialog's probe, a new task before its schedule is set) does not.
  options.beforeCommit = [](const std::filesystem::path& storeFolder, const JobFile& toWrite) -> HResult {
    if (toWrite.triggers.empty()) return kOk;
    return installTickEntry(*systemCrontab(), sys::executableFolder() / kTickProgramName, storeFolder);
  };
  return createPosixScheduler(std::move(options));
}

}  // namespace bv::tasks
