#include "core/tasks/TaskScdl.h"

#include <filesystem>
#include <utility>

#include "core/sys/system_info.h"

namespace bv::tasks {
namespace {

struct TableEntry {
  HResult code;
  std::string_view message;
};

constexpr TableEntry kMessages[] = {
    {kSchedTaskReady, "タスクは実行する準備ができています"},
    {kSchedTaskRunning, "タスクは実行中です"},
    {kSchedTaskDisabled, "タスクは無効にされています"},
    {kSchedTaskHasNotRun, "タスクはまだ実行されていません"},
    {kSchedTaskNoMoreRuns, "タスクは次のスケジュールが予定されていません"},
    {kSchedTaskNotScheduled, "タスクはスケジュールされていません"},
    {kSchedTaskTerminated, "タスクはユーザーによって終了されました"},
    {kSchedTaskNoValidTriggers, "タスクは有効なトリガーがありません"},
    {kSchedEventTrigger, "イベントトリガーは次の予定された時間がありません"},
    {kSchedTriggerNotFound, "トリガーがありません"},
    {kSchedTaskNotReady, "タスクは設定に問題があるため実行できません"},
    {kSchedTaskNotRunning, "終了させるタスクがありません"},
    {kSchedServiceNotInstalled, "タスクスケジュールサービスがインストールされていません"},
    {kSchedCannotOpenTask, "タスクを開けません"},
    {kSchedInvalidTask, "オブジェクトは無効なタスクか、タスクではありません"},
    {kSchedAccountInformationNotSet, "アカウント情報は未設定です"},
    {kSchedAccountNameNotFound, "指定したアカウントの存在を確認できません"},
    {kSchedAccountDbaseCorrupt, "タスクスケジューラセキュリティデータベースが不正です"},
    {kSchedNoSecurityServices, "セキュリティサービスは提供されていません"},
    {kSchedUnknownObjectVersion,
     "タスクオブジェクトのバージョンはサポートされていないか、不正なオブジェクトです"},
    {kSchedUnsupportedAccountOption,
     "アカウント設定とオプションはサポートされていない組み合わせに設定されています"},
    {kSchedServiceNotRunning, "タスクスケジューラサービスは開始されていません"},
};

SchedulerFactory& factoryOverride() {
  static SchedulerFactory factory;
  return factory;
}

std::string withoutJobExtension(std::string name) {
  constexpr std::string_view kExtension = ".job";
  if (name.size() >= kExtension.size() &&
      name.compare(name.size() - kExtension.size(), kExtension.size(), kExtension) == 0) {
    name.erase(name.size() - kExtension.size());
  }
  return name;
}

}  // namespace

std::string TaskErrorMessage(HResult code) {
  for (const auto& entry : kMessages) {
    if (entry.code == code) return std::string(entry.message);
  }
  return {};
}

void TaskCheck(HResult code) {
  const std::string message = TaskErrorMessage(code);
  if (!message.empty()) throw ETaskException(message, code);
  comCheck(code);
}

SchedulerFactoryOverride::SchedulerFactoryOverride(SchedulerFactory factory)
    : previous_(std::exchange(factoryOverride(), std::move(factory))) {}

SchedulerFactoryOverride::~SchedulerFactoryOverride() { factoryOverride() = std::move(previous_); }

std::shared_ptr<SchedulerService> CreateTaskScheduler() {
  std::shared_ptr<SchedulerService> scheduler =
      factoryOverride() ? factoryOverride()() : createPlatformScheduler();
  if (!scheduler) throw ComError(systemErrorText(kNoInterface), kNoInterface);
  return scheduler;
}

bool TaskExists(const std::string& name) {
  try {
    std::unique_ptr<SchedulerWorkItem> item;
    return CreateTaskScheduler()->Activate(name, item) == kOk;
  } catch (const std::exception&) {
    return false;
  }
}

std::shared_ptr<SchedulerWorkItem> NewTask(const std::string& name,
                                           const std::shared_ptr<SchedulerService>& scheduler) {
  std::unique_ptr<SchedulerWorkItem> item;
  TaskCheck(scheduler->NewWorkItem(name, item));
  return item;
}

std::shared_ptr<SchedulerWorkItem> OpenTask(const std::string& name,
                                            const std::shared_ptr<SchedulerService>& scheduler,
                                            bool createIfMissing) {
  std::unique_ptr<SchedulerWorkItem> item;
  const HResult result = scheduler->Activate(name, item);
  if (createIfMissing && result == kFileNotFound) return NewTask(name, scheduler);
  TaskCheck(result);
  if (!item) throw ComError(systemErrorText(kNoInterface), kNoInterface);
  return item;
}

void GetTaskNames(std::vector<std::string>& list) {
  const auto scheduler = CreateTaskScheduler();
  std::unique_ptr<SchedulerEnumerator> enumerator;
  TaskCheck(scheduler->Enum(enumerator));
  list.clear();
  for (std::string name; enumerator && enumerator->Next(name) == kOk; name.clear()) {
    list.push_back(withoutJobExtension(name));
  }
}

void ChangeTaskFlags(SchedulerWorkItem& item, std::uint32_t setMask, std::uint32_t clearMask) {
  std::uint32_t flags = 0;
  TaskCheck(item.GetFlags(flags));
  TaskCheck(item.SetFlags((flags & ~clearMask) | setMask));
}

std::string GetLogonUserName() { return sys::userName(); }

// --- Triggers ------------------------------------------------------------------------------

std::string TTaskTriggerItem::TriggerString() {
  std::unique_ptr<SchedulerTrigger> trigger;
  TaskCheck(Task.Item().GetTrigger(Index, trigger));
  std::string text;
  TaskCheck(trigger->GetTriggerString(text));
  return text;
}

int TTaskTriggers::Count() {
  std::uint16_t count = 0;
  TaskCheck(Task.Item().GetTriggerCount(count));
  return count;
}

TTaskTriggerItem& TTaskTriggers::Items(int index) {
  if (index < 0 || index >= Count()) TaskCheck(kSchedTriggerNotFound);
  const auto slot = static_cast<std::size_t>(index);
  if (slots_.size() <= slot) slots_.resize(slot + 1);
  if (!slots_[slot])
    slots_[slot] = std::make_unique<TTaskTriggerItem>(Task, static_cast<std::uint16_t>(index));
  return *slots_[slot];
}

// --- The task ------------------------------------------------------------------------------

TTask::TTask(std::string name, bool createIfMissing, std::shared_ptr<SchedulerService> scheduler)
    : Scheduler(scheduler ? std::move(scheduler) : CreateTaskScheduler()),
      Name(std::move(name)),
      item_(OpenTask(Name, Scheduler, createIfMissing)),
      triggers_(*this) {}

void TTask::Changed() {
  if (AutoSave) Save();
}

void TTask::Save() { TaskCheck(item_->Save()); }

void TTask::SetApplicationName(const std::string& path) {
  TaskCheck(item_->SetApplicationName(path));
  Changed();
}

void TTask::SetParameters(const std::string& parameters) {
  TaskCheck(item_->SetParameters(parameters));
  Changed();
}

void TTask::SetEnabled(bool enabled) {
  constexpr std::uint32_t kDisabled = 4;  // TASK_FLAG_DISABLED
  if (enabled) {
    ChangeTaskFlags(*item_, 0, kDisabled);
  } else {
    ChangeTaskFlags(*item_, kDisabled, 0);
  }
  Changed();
}

void TTask::SetAccountInformation(const std::string& user, const std::string& password) {
  TaskCheck(item_->SetAccountInformation(user, password));
  Changed();
}

SystemTime TTask::NextRunTime() {
  SystemTime time;
  TaskCheck(item_->GetNextRunTime(time));
  return time;
}

SystemTime TTask::MostRecentRunTime() {
  SystemTime time;
  TaskCheck(item_->GetMostRecentRunTime(time));
  return time;
}

TaskRunHistory TTask::RunHistory() {
  TaskRunHistory history;
  item_->GetUnreportedFailure(history.unreported);
  if (item_->GetRunHistory(history.runs) == kOk) return history;
  history.lastRunOnly = true;
  history.runs.clear();
  SystemTime last;
  std::uint32_t exitCode = 0;
  const auto minute = item_->GetMostRecentRunTime(last) == kOk ? LocalMinute::fromSystemTime(last) : std::nullopt;
  if (!minute || item_->GetExitCode(exitCode) != kOk) return history;
  std::string program;
  item_->GetApplicationName(program);
  const bool runner = sys::runnerProgram(".").filename() == std::filesystem::path(program).filename();
  history.runs.push_back(RunRecord{*minute, 0, exitCode, kOk, false, runOutcomeText(exitCode, kOk, runner)});
  return history;
}

std::string TTask::FileName() {
  std::string path;
  comCheck(item_->GetCurFile(path));
  return path;
}

int TTask::ShowPropertyPages(const PageOwner& owner, const std::string& caption, unsigned pages) {
  std::unique_ptr<TaskPages> provider;
  comCheck(item_->QueryTaskPages(owner, provider));
  std::vector<TaskPageHandle> handles;
  const std::pair<unsigned, TaskPageType> kinds[] = {{kTaskPageTask, TaskPageType::Task},
                                                     {kTaskPageSchedule, TaskPageType::Schedule},
                                                     {kTaskPageSettings, TaskPageType::Settings}};
  for (const auto& [bit, type] : kinds) {
    if ((pages & bit) == 0) continue;
    TaskPageHandle handle = nullptr;
    comCheck(provider->GetPage(type, true, handle));
    handles.push_back(handle);
  }
  const std::string shownCaption = caption.empty() ? Name : caption;
  const int shown = provider->PropertySheet(shownCaption, handles);
  comCheck(provider->SaveResult());  // the page saved and failed: its reason, not a cancel
  if (shown != 1) return kModalCancel;
  Changed();
  return kModalOk;
}

}  // namespace bv::tasks
