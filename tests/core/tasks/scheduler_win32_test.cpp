// The Windows back end end to end through the system's Task Scheduler (Wine's mstask under
// Wine): tasks made through the wrapper under names of their own, saved into the store
// (C:\windows\Tasks), listed, opened, scheduled through the back end's triggers, read back as
// .job files and deleted; the identifiers the back end calls with; the system's error texts; the
// property sheet over real pages. What Wine does not implement (trigger texts, the task pages, an
// account refused at save) is covered against the scripted back end (task_scdl_paths_test.cpp).
// The Windows headers build on one another: their order matters.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <prsht.h>
#include <mstask.h>
// clang-format on
// prsht.h names PropertySheetA "PropertySheet", a method name of the back-end interface.
#undef PropertySheet

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/tasks/TaskScdl.h"
#include "core/tasks/job_file.h"
#include "core/tasks/scheduler_win32.h"
#include "core/tasks/task_flags.h"
#include "core/text/utf16.h"

namespace bv::tasks {
namespace {

namespace fs = std::filesystem;

constexpr HResult kNotImplemented = 0x80004001;  // E_NOTIMPL

bool underWine() { return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

std::wstring wide(std::string_view utf8) {
  const std::u16string text = text::utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string lowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The code of the ComError a call raises, and whether it was an ETaskException; kOk when the
// call returned.
struct Raised {
  HResult code = kOk;
  bool taskException = false;
  std::string message;
};

template <typename Call>
Raised raisedBy(Call call) {
  try {
    call();
  } catch (const ETaskException& error) {
    return {error.code(), true, error.what()};
  } catch (const ComError& error) {
    return {error.code(), false, error.what()};
  }
  return {};
}

// The local date and time now, to the minute.
LocalMinute localNow() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalMinute::at(now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute);
}

TaskTrigger dailyTrigger(const CivilDate& begin, int hour, int minute) {
  TaskTrigger trigger;
  trigger.type = TriggerType::Daily;
  trigger.beginYear = static_cast<std::uint16_t>(begin.year);
  trigger.beginMonth = static_cast<std::uint16_t>(begin.month);
  trigger.beginDay = static_cast<std::uint16_t>(begin.day);
  trigger.startHour = static_cast<std::uint16_t>(hour);
  trigger.startMinute = static_cast<std::uint16_t>(minute);
  trigger.daysInterval = 1;
  return trigger;
}

// Deletes a stored task's file. The Schedule service reads every .job file the store gains and
// holds it open meanwhile, so a delete right after a save can meet a sharing violation (seen
// under Wine about once in sixty saves): that one is tried again, a bounded number of times.
bool deleteStoredFile(const fs::path& path) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    if (::DeleteFileW(path.c_str())) return true;
    if (::GetLastError() != ERROR_SHARING_VIOLATION) return false;
    ::Sleep(10);
  }
  return false;
}

// A task name of one test, unique among the test processes CTest runs at once; the stored task
// of that name is deleted when the test ends.
class ScratchTask {
 public:
  ScratchTask()
      : name_("Brackenvale_w32test_" + std::to_string(::GetCurrentProcessId()) + "_" +
              std::to_string(++made_)) {}
  ~ScratchTask() { deleteStoredFile(storedFile()); }
  ScratchTask(const ScratchTask&) = delete;
  ScratchTask& operator=(const ScratchTask&) = delete;

  const std::string& name() const { return name_; }
  // Where the Task Scheduler keeps it: <Windows folder>\Tasks\<name>.job.
  fs::path storedFile() const {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(folder, MAX_PATH);
    return fs::path(std::wstring(folder, length)) / L"Tasks" / wide(name_ + ".job");
  }

 private:
  static inline int made_ = 0;
  std::string name_;
};

// A new trigger made through the back end (CreateTrigger), then given the fields (SetTrigger).
void addTrigger(TTask& task, const TaskTrigger& trigger) {
  std::uint16_t index = 0xFFFF;
  std::unique_ptr<SchedulerTrigger> made;
  ASSERT_EQ(task.Item().CreateTrigger(index, made), kOk);
  ASSERT_TRUE(made);
  ASSERT_EQ(made->SetTrigger(trigger), kOk);
}

TaskTrigger triggerAt(TTask& task, std::uint16_t index) {
  std::unique_ptr<SchedulerTrigger> trigger;
  EXPECT_EQ(task.Item().GetTrigger(index, trigger), kOk);
  TaskTrigger fields;
  if (trigger) {
    EXPECT_EQ(trigger->GetTrigger(fields), kOk);
  }
  return fields;
}

std::vector<std::uint8_t> fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// --- The identifiers ---------------------------------------------------------------------------

std::string guidText(const GUID& guid) {
  wchar_t text[40] = {};
  const int length = ::StringFromGUID2(guid, text, 40);
  return length > 0 ? std::string(text, text + length - 1) : std::string();
}

TEST(SchedulerIdentifiers, AreTheSdksValuesAndThePublishedOnes) {
  struct Identifier {
    const GUID& ours;
    const GUID& sdk;
    const char* published;
  };
  const Identifier identifiers[] = {
      {kClsidCTaskScheduler, CLSID_CTaskScheduler, "{148BD52A-A2AB-11CE-B11F-00AA00530503}"},
      {kIidITaskScheduler, IID_ITaskScheduler, "{148BD527-A2AB-11CE-B11F-00AA00530503}"},
      {kClsidCTask, CLSID_CTask, "{148BD520-A2AB-11CE-B11F-00AA00530503}"},
      {kIidITask, IID_ITask, "{148BD524-A2AB-11CE-B11F-00AA00530503}"},
      {kIidIPersistFile, IID_IPersistFile, "{0000010B-0000-0000-C000-000000000046}"},
      {kIidIProvideTaskPage, IID_IProvideTaskPage, "{4086658A-CBBB-11CF-B604-00C04FD8D565}"},
  };
  for (const Identifier& id : identifiers) {
    EXPECT_TRUE(::IsEqualGUID(id.ours, id.sdk)) << id.published;
    EXPECT_EQ(guidText(id.ours), id.published);
  }
}

// --- The system's error texts ------------------------------------------------------------------

// Codes the message tables of Windows and Wine both have (Wine's has none for E_NOINTERFACE).
TEST(SystemErrorText, IsTheSystemsOwnTextWithoutItsLineBreak) {
  for (const HResult code : {kFileNotFound, kAccessDenied, kInvalidArgument, kOutOfMemory, kLogonFailure}) {
    const std::string text = systemErrorText(code);
    EXPECT_FALSE(text.empty()) << std::hex << code;
    EXPECT_EQ(text.find("0x"), std::string::npos) << std::hex << code << ": " << text;  // not the generic one
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n') << std::hex << code;
    EXPECT_NE(text.back(), '\r') << std::hex << code;
    EXPECT_TRUE(text::utf8ToUtf16Exact(text).has_value()) << std::hex << code;
  }
}

TEST(SystemErrorText, AWin32ErrorInHresultFormHasTheTextOfItsNumber) {
  EXPECT_EQ(systemErrorText(kFileNotFound), systemErrorText(2));     // ERROR_FILE_NOT_FOUND
  EXPECT_EQ(systemErrorText(kLogonFailure), systemErrorText(1326));  // ERROR_LOGON_FAILURE
  EXPECT_EQ(systemErrorText(kAccountRestriction), systemErrorText(1327));
  EXPECT_NE(systemErrorText(kFileNotFound), systemErrorText(kAccessDenied));
}

TEST(SystemErrorText, ACodeTheSystemHasNoTextForGetsTheGenericSentenceWithTheCode) {
  EXPECT_EQ(systemErrorText(0xA00F1234), "エラー 0xA00F1234 が発生しました。");
  EXPECT_EQ(systemErrorText(0x8007FFFE), "エラー 0x8007FFFE が発生しました。");
}

// --- The wrapper end to end --------------------------------------------------------------------

TEST(Win32Scheduler, ATaskIsCreatedSavedListedOpenedByNameAndDeleted) {
  ScratchTask scratch;
  const std::string& name = scratch.name();
  EXPECT_FALSE(TaskExists(name));
  {
    TTask task(name, true);
    EXPECT_FALSE(TaskExists(name));  // in memory until it is saved
    task.SetApplicationName("C:\\Program Files\\Brackenvale\\Brackenrun.exe");
    task.SetParameters("1 0 0 ABC DEF 0123 1 ");
    task.SetEnabled(true);
    task.SetAccountInformation(GetLogonUserName(), "secret-password");  // Wine accepts any
    task.Save();
  }
  EXPECT_TRUE(TaskExists(name));

  std::vector<std::string> names{"left over"};
  GetTaskNames(names);
  EXPECT_TRUE(contains(names, name));
  EXPECT_FALSE(contains(names, "left over"));
  for (const std::string& listed : names) {
    EXPECT_FALSE(listed.size() >= 4 && lowerAscii(listed.substr(listed.size() - 4)) == ".job") << listed;
  }

  TTask task(name, false);
  std::string program, parameters;
  EXPECT_EQ(task.Item().GetApplicationName(program), kOk);
  EXPECT_EQ(task.Item().GetParameters(parameters), kOk);
  EXPECT_EQ(program, "C:\\Program Files\\Brackenvale\\Brackenrun.exe");
  EXPECT_EQ(parameters, "1 0 0 ABC DEF 0123 1 ");  // the trailing blank kept
  std::uint32_t flags = 0xFFFFFFFF;
  EXPECT_EQ(task.Item().GetFlags(flags), kOk);
  EXPECT_EQ(flags & kTaskFlagDisabled, 0u);
  // Saved without a schedule: Windows keeps none; Wine stores a disabled stand-in trigger.
  const int count = task.Triggers().Count();
  if (underWine()) {
    ASSERT_EQ(count, 1);
    EXPECT_FALSE(triggerAt(task, 0).isEnabled());
  } else {
    EXPECT_EQ(count, 0);
  }

  const std::string file = task.FileName();
  EXPECT_EQ(lowerAscii(file), lowerAscii(scratch.storedFile().string()));
  ASSERT_TRUE(deleteStoredFile(wide(file)));
  EXPECT_FALSE(TaskExists(name));
  GetTaskNames(names);
  EXPECT_FALSE(contains(names, name));
}

TEST(Win32Scheduler, TheFileNameIsKnownBeforeTheFirstSave) {
  ScratchTask scratch;
  TTask task(scratch.name(), true);
  EXPECT_EQ(lowerAscii(task.FileName()), lowerAscii(scratch.storedFile().string()));
  EXPECT_FALSE(fs::exists(scratch.storedFile()));
  task.Save();
  EXPECT_TRUE(fs::exists(scratch.storedFile()));
}

TEST(Win32Scheduler, JapaneseTextAndBlanksSurviveTheStore) {
  ScratchTask scratch;
  const std::string parameters = "1 0 0 \"売上 データ\" 0 ABC ";
  {
    TTask task(scratch.name(), true);
    task.SetApplicationName("C:\\ブラッケンベール\\Brackenrun.exe");
    task.SetParameters(parameters);
    task.Save();
  }
  TTask task(scratch.name(), false);
  std::string program, read;
  task.Item().GetApplicationName(program);
  task.Item().GetParameters(read);
  EXPECT_EQ(program, "C:\\ブラッケンベール\\Brackenrun.exe");
  EXPECT_EQ(read, parameters);
}

TEST(Win32Scheduler, TextsTheCallWouldCutShortOrCannotCarryAreRefused) {
  ScratchTask scratch;
  TTask task(scratch.name(), true);
  const std::string withNul("1 0\0 hidden", 11);
  const std::string notUtf8 = "1 0 \xFF\xFE";
  for (const std::string& bad : {withNul, notUtf8}) {
    const Raised raised = raisedBy([&] { task.SetParameters(bad); });
    EXPECT_EQ(raised.code, kInvalidArgument);
    EXPECT_FALSE(raised.taskException);
    EXPECT_EQ(task.Item().SetAccountInformation("user", bad), kInvalidArgument);
  }
}

TEST(Win32Scheduler, TriggersMadeThroughTheBackEndReadBackFieldByFieldAfterASave) {
  ScratchTask scratch;
  TaskTrigger weekly = dailyTrigger({2030, 1, 7}, 2, 30);
  weekly.type = TriggerType::Weekly;
  weekly.daysInterval = 0;
  weekly.weeksInterval = 2;
  weekly.daysOfTheWeek = 0x22;  // Monday and Friday
  weekly.endYear = 2031;
  weekly.endMonth = 12;
  weekly.endDay = 31;
  weekly.flags = kTriggerFlagHasEndDate | kTriggerFlagKillAtDurationEnd;
  weekly.minutesDuration = 120;
  weekly.minutesInterval = 30;
  TaskTrigger monthlyDate = dailyTrigger({2030, 2, 1}, 23, 59);
  monthlyDate.type = TriggerType::MonthlyDate;
  monthlyDate.daysInterval = 0;
  monthlyDate.monthDays = 0x40000001;  // days 1 and 31
  monthlyDate.months = 0x841;          // January, July, December
  TaskTrigger monthlyDow = dailyTrigger({2030, 3, 1}, 0, 0);
  monthlyDow.type = TriggerType::MonthlyDow;
  monthlyDow.daysInterval = 0;
  monthlyDow.whichWeek = kLastWeek;
  monthlyDow.daysOfTheWeek = 0x40;  // Saturday
  monthlyDow.months = kAllMonths;
  monthlyDow.flags = kTriggerFlagDisabled;
  TaskTrigger once = dailyTrigger({2030, 4, 5}, 6, 7);
  once.type = TriggerType::Once;
  once.daysInterval = 0;
  TaskTrigger logon = once;
  logon.type = TriggerType::AtLogon;
  const std::vector<TaskTrigger> triggers = {weekly, monthlyDate, monthlyDow, once, logon};
  {
    TTask task(scratch.name(), true);
    for (const TaskTrigger& trigger : triggers) addTrigger(task, trigger);
    ASSERT_EQ(task.Triggers().Count(), 5);
    for (std::uint16_t i = 0; i < 5; ++i) EXPECT_EQ(triggerAt(task, i), triggers[i]) << i;
    task.Save();
  }
  TTask task(scratch.name(), false);
  ASSERT_EQ(task.Triggers().Count(), 5);
  for (std::uint16_t i = 0; i < 5; ++i) EXPECT_EQ(triggerAt(task, i), triggers[i]) << i;

  EXPECT_EQ(task.Item().DeleteTrigger(1), kOk);
  EXPECT_EQ(task.Triggers().Count(), 4);
  EXPECT_EQ(triggerAt(task, 1), monthlyDow);
}

TEST(Win32Scheduler, ANewTriggerIsDailyFromTodayAndDisabledUntilSet) {
  ScratchTask scratch;
  TTask task(scratch.name(), true);
  const LocalMinute before = localNow();
  std::uint16_t index = 0xFFFF;
  std::unique_ptr<SchedulerTrigger> made;
  ASSERT_EQ(task.Item().CreateTrigger(index, made), kOk);
  const LocalMinute after = localNow();
  EXPECT_EQ(index, 0);
  TaskTrigger fields;
  ASSERT_EQ(made->GetTrigger(fields), kOk);
  EXPECT_EQ(fields.type, TriggerType::Daily);
  EXPECT_EQ(fields.daysInterval, 1);
  EXPECT_FALSE(fields.isEnabled());
  const LocalMinute start = LocalMinute::at(fields.beginDate(), fields.startHour, fields.startMinute);
  EXPECT_LE(before, start);
  EXPECT_LE(start, after);
}

TEST(Win32Scheduler, AnInvalidTriggerIsRefusedWithInvalidArgument) {
  ScratchTask scratch;
  TTask task(scratch.name(), true);
  std::uint16_t index = 0;
  std::unique_ptr<SchedulerTrigger> made;
  ASSERT_EQ(task.Item().CreateTrigger(index, made), kOk);
  TaskTrigger badHour = dailyTrigger({2030, 1, 1}, 24, 0);
  EXPECT_EQ(made->SetTrigger(badHour), kInvalidArgument);
  TaskTrigger badType = dailyTrigger({2030, 1, 1}, 1, 0);
  badType.type = static_cast<TriggerType>(9);
  EXPECT_EQ(made->SetTrigger(badType), kInvalidArgument);
  TaskTrigger intervalNotBelowDuration = dailyTrigger({2030, 1, 1}, 1, 0);
  intervalNotBelowDuration.minutesInterval = 5;
  intervalNotBelowDuration.minutesDuration = 5;
  EXPECT_EQ(made->SetTrigger(intervalNotBelowDuration), kInvalidArgument);
}

// The next run for the cases Wine computes as Windows does.
TEST(Win32Scheduler, TheNextRunOfADailyTriggerFromTomorrowIsTomorrowAtItsTime) {
  ScratchTask scratch;
  TTask task(scratch.name(), true);
  // Read the clock around the call: a test that crossed midnight tries again.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const CivilDate today = localNow().date();
    const CivilDate tomorrow = addDays(today, 1);
    while (task.Triggers().Count() > 0) ASSERT_EQ(task.Item().DeleteTrigger(0), kOk);
    addTrigger(task, dailyTrigger(tomorrow, 3, 0));
    const SystemTime next = task.NextRunTime();
    if (localNow().date() != today) continue;
    EXPECT_EQ(LocalMinute::fromSystemTime(next), LocalMinute::at(tomorrow, 3, 0));
    EXPECT_EQ(next.dayOfWeek, weekdayOf(tomorrow));
    return;
  }
}

TEST(Win32Scheduler, TheNextRunOfAOnceTriggerInTheFutureIsItsTime) {
  ScratchTask scratch;
  TTask task(scratch.name(), true);
  TaskTrigger once = dailyTrigger({2099, 6, 15}, 4, 30);
  once.type = TriggerType::Once;
  once.daysInterval = 0;
  addTrigger(task, once);
  const SystemTime next = task.NextRunTime();
  EXPECT_EQ(LocalMinute::fromSystemTime(next), LocalMinute::at(2099, 6, 15, 4, 30));
  EXPECT_EQ(next.dayOfWeek, weekdayOf({2099, 6, 15}));
  task.Save();
  EXPECT_EQ(LocalMinute::fromSystemTime(TTask(scratch.name(), false).NextRunTime()),
            LocalMinute::at(2099, 6, 15, 4, 30));
}

TEST(Win32Scheduler, ADisabledTaskHasNoNextRunAndSaysSo) {
  ScratchTask scratch;
  TTask task(scratch.name(), true);
  addTrigger(task, dailyTrigger({2099, 1, 1}, 3, 0));
  task.SetEnabled(false);
  const Raised raised = raisedBy([&] { task.NextRunTime(); });
  EXPECT_EQ(raised.code, kSchedTaskDisabled);
  EXPECT_TRUE(raised.taskException);
  EXPECT_EQ(raised.message, "タスクは無効にされています");
  task.SetEnabled(true);
  EXPECT_NO_THROW(task.NextRunTime());
}

TEST(Win32Scheduler, WithoutAnEnabledTriggerThereAreNoValidTriggers) {
  ScratchTask scratch;
  TTask task(scratch.name(), true);
  const Raised none = raisedBy([&] { task.NextRunTime(); });
  EXPECT_EQ(none.code, kSchedTaskNoValidTriggers);
  EXPECT_TRUE(none.taskException);
  EXPECT_EQ(none.message, "タスクは有効なトリガーがありません");

  std::uint16_t index = 0;
  std::unique_ptr<SchedulerTrigger> made;
  ASSERT_EQ(task.Item().CreateTrigger(index, made), kOk);  // disabled as made
  EXPECT_EQ(raisedBy([&] { task.NextRunTime(); }).code, kSchedTaskNoValidTriggers);
}

TEST(Win32Scheduler, AWorkItemThatNeverRanHasNoMostRecentRun) {
  ScratchTask scratch;
  TTask task(scratch.name(), true);
  const Raised unsaved = raisedBy([&] { task.MostRecentRunTime(); });
  EXPECT_EQ(unsaved.code, kSchedTaskHasNotRun);
  EXPECT_TRUE(unsaved.taskException);
  EXPECT_EQ(unsaved.message, "タスクはまだ実行されていません");

  addTrigger(task, dailyTrigger({2099, 1, 1}, 3, 0));
  task.Save();
  TTask saved(scratch.name(), false);
  if (underWine()) {
    // Wine answers S_OK with an all-zero time once a scheduled task was saved.
    EXPECT_TRUE(saved.MostRecentRunTime().isZero());
  } else {
    EXPECT_EQ(raisedBy([&] { saved.MostRecentRunTime(); }).code, kSchedTaskHasNotRun);
  }
  HResult status = 0;
  EXPECT_EQ(saved.Item().GetStatus(status), kOk);
  EXPECT_EQ(status, kSchedTaskHasNotRun);
}

TEST(Win32Scheduler, OpeningAMissingTaskFailsWithTheSystemsErrorUnlessItMayBeCreated) {
  ScratchTask scratch;
  const Raised raised = raisedBy([&] { TTask task(scratch.name(), false); });
  EXPECT_EQ(raised.code, kFileNotFound);
  EXPECT_FALSE(raised.taskException);
  EXPECT_EQ(raised.message, systemErrorText(kFileNotFound));
  EXPECT_NO_THROW(TTask(scratch.name(), true));
  EXPECT_FALSE(TaskExists(scratch.name()));  // made and released, never saved
}

TEST(Win32Scheduler, ANameWithADotIsRefused) {
  ScratchTask scratch;
  const std::string name = scratch.name() + ".x";
  const Raised raised = raisedBy([&] { TTask task(name, true); });
  EXPECT_EQ(raised.code, kInvalidArgument);
  EXPECT_FALSE(raised.taskException);
  EXPECT_FALSE(TaskExists(name));
}

TEST(Win32Scheduler, TheTriggerTextIsTheSystemsOrNotImplemented) {
  ScratchTask scratch;
  TTask task(scratch.name(), true);
  addTrigger(task, dailyTrigger({2099, 1, 1}, 3, 0));
  std::string text;
  const Raised raised = raisedBy([&] { text = task.Triggers().Items(0).TriggerString(); });
  if (underWine()) {
    EXPECT_EQ(raised.code, kNotImplemented);  // Wine has no trigger texts
    EXPECT_FALSE(raised.taskException);
  } else {
    EXPECT_EQ(raised.code, kOk);
    EXPECT_FALSE(text.empty());
  }
}

TEST(Win32Scheduler, UnderWineThePropertyPagesAreNoInterfaceNotACrash) {
  if (!underWine()) GTEST_SKIP() << "Windows would show the pages to a user";
  ScratchTask scratch;
  TTask task(scratch.name(), true);
  task.Save();
  for (const unsigned pages : {kTaskPageSchedule, kTaskPageTask | kTaskPageSchedule | kTaskPageSettings}) {
    const Raised raised = raisedBy([&] { task.ShowPropertyPages({}, "", pages); });
    EXPECT_EQ(raised.code, kNoInterface);
    EXPECT_FALSE(raised.taskException);
  }
}

// --- The .job files the scheduler writes -------------------------------------------------------

TEST(Win32Scheduler, TheStoredFileHoldsWhatWasSetThroughTheInterfaces) {
  ScratchTask scratch;
  const TaskTrigger daily = dailyTrigger({2030, 12, 8}, 2, 0);
  constexpr std::uint32_t kFlags = kTaskFlagRunOnlyIfLoggedOn | kTaskFlagDontStartIfOnBatteries;
  {
    TTask task(scratch.name(), true);
    task.SetApplicationName("C:\\bv\\Brackenrun.exe");
    task.SetParameters("1 0 0 4142 ");
    ChangeTaskFlags(task.Item(), kFlags, 0);
    addTrigger(task, daily);
    task.Save();
  }
  const JobFile job = readJobFile(fileBytes(scratch.storedFile()));
  EXPECT_EQ(job.applicationName, "C:\\bv\\Brackenrun.exe");
  EXPECT_EQ(job.parameters, "1 0 0 4142 ");
  EXPECT_EQ(job.workingDirectory, "");
  EXPECT_EQ(job.flags & kTaskFlagsApiMask, kFlags);
  EXPECT_EQ(job.triggers, std::vector<TaskTrigger>{daily});
  EXPECT_EQ(job.status, kSchedTaskHasNotRun);
  EXPECT_TRUE(job.lastRunTime.isZero());
  EXPECT_EQ(job.exitCode, 0u);
  EXPECT_EQ(job.priority, kPriorityNormal);
  EXPECT_NE(job.uuid, JobUuid{});

  TTask task(scratch.name(), false);
  HResult status = 0;
  ASSERT_EQ(task.Item().GetStatus(status), kOk);
  EXPECT_EQ(status, job.status);
}

TEST(Win32Scheduler, TheStoredFileOfATaskWithoutTriggers) {
  ScratchTask scratch;
  {
    TTask task(scratch.name(), true);
    task.SetApplicationName("C:\\bv\\Brackenrun.exe");
    task.SetEnabled(false);
    task.Save();
  }
  const JobFile job = readJobFile(fileBytes(scratch.storedFile()));
  EXPECT_EQ(job.applicationName, "C:\\bv\\Brackenrun.exe");
  EXPECT_EQ(job.parameters, "");
  EXPECT_EQ(job.flags & kTaskFlagsApiMask, kTaskFlagDisabled);
  EXPECT_EQ(job.status, kSchedTaskNotScheduled);
  if (underWine()) {
    // Wine writes one disabled stand-in trigger for a task without any.
    ASSERT_EQ(job.triggers.size(), 1u);
    EXPECT_FALSE(job.triggers[0].isEnabled());
  } else {
    EXPECT_TRUE(job.triggers.empty());
  }
}

// --- The property sheet ------------------------------------------------------------------------

// What a page of the sheet saw once it was shown, and the button it then pressed.
struct SheetProbe {
  int button = PSBTN_OK;
  bool markChanged = true;
  bool seen = false;
  std::wstring caption;
  HWND owner = nullptr;
  std::vector<std::wstring> tabs;
  bool applyButtonVisible = true;
};

constexpr UINT kProbeMessage = WM_APP + 1;

INT_PTR CALLBACK probePage(HWND page, UINT message, WPARAM, LPARAM parameter) {
  if (message == WM_INITDIALOG) {
    const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEW*>(parameter);
    ::SetWindowLongPtrW(page, DWLP_USER, sheetPage->lParam);
    ::PostMessageW(page, kProbeMessage, 0, 0);  // once the sheet stands
    return TRUE;
  }
  if (message != kProbeMessage) return FALSE;
  auto* probe = reinterpret_cast<SheetProbe*>(::GetWindowLongPtrW(page, DWLP_USER));
  const HWND sheet = ::GetParent(page);
  probe->seen = true;
  wchar_t caption[256] = {};
  ::GetWindowTextW(sheet, caption, 256);
  probe->caption = caption;
  probe->owner = ::GetWindow(sheet, GW_OWNER);
  const HWND tabs = PropSheet_GetTabControl(sheet);
  const int count = TabCtrl_GetItemCount(tabs);
  for (int i = 0; i < count; ++i) {
    wchar_t title[64] = {};
    TCITEMW item{};
    item.mask = TCIF_TEXT;
    item.pszText = title;
    item.cchTextMax = 64;
    ::SendMessageW(tabs, TCM_GETITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    probe->tabs.emplace_back(title);
  }
  const HWND apply = ::GetDlgItem(sheet, 0x3021);  // the sheet's Apply button
  probe->applyButtonVisible = apply != nullptr && ::IsWindowVisible(apply);
  if (probe->markChanged) ::SendMessageW(sheet, PSM_CHANGED, reinterpret_cast<WPARAM>(page), 0);
  ::PostMessageW(sheet, PSM_PRESSBUTTON, static_cast<WPARAM>(probe->button), 0);
  return TRUE;
}

// A dialog template without controls, in memory.
struct PageTemplate {
  DLGTEMPLATE dialog{};
  WORD menu = 0;
  WORD windowClass = 0;
  WORD title = 0;
  WORD padding = 0;
};

class SheetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::InitCommonControls();
    layout.dialog.style = WS_CHILD | DS_CONTROL;
    layout.dialog.cx = 200;
    layout.dialog.cy = 100;
    owner = ::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                              nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
  }
  void TearDown() override {
    if (owner != nullptr) ::DestroyWindow(owner);
  }

  HPROPSHEETPAGE makePage(const wchar_t* title) {
    PROPSHEETPAGEW page{};
    page.dwSize = sizeof page;
    page.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
    page.pResource = &layout.dialog;
    page.pfnDlgProc = probePage;
    page.pszTitle = title;
    page.lParam = reinterpret_cast<LPARAM>(&probe);
    return ::CreatePropertySheetPageW(&page);
  }

  PageTemplate layout;
  HWND owner = nullptr;
  SheetProbe probe;
};

TEST_F(SheetTest, ThePagesShowInOrderUnderTheCaptionOverTheOwnerWithoutApply) {
  std::vector<TaskPageHandle> pages = {makePage(L"タスク"), makePage(L"スケジュール"), makePage(L"設定")};
  for (TaskPageHandle page : pages) ASSERT_NE(page, nullptr);
  const int result = showTaskPropertySheet(owner, "Brackenvale_20261208014100 のスケジュール", pages);
  ASSERT_TRUE(probe.seen);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(probe.caption, L"Brackenvale_20261208014100 のスケジュール");
  EXPECT_EQ(probe.owner, owner);
  EXPECT_EQ(probe.tabs, (std::vector<std::wstring>{L"タスク", L"スケジュール", L"設定"}));
  EXPECT_FALSE(probe.applyButtonVisible);
}

TEST_F(SheetTest, CancelIsNoOk) {
  probe.button = PSBTN_CANCEL;
  const int result = showTaskPropertySheet(owner, "x", {makePage(L"スケジュール")});
  ASSERT_TRUE(probe.seen);
  EXPECT_NE(result, 1);
  EXPECT_EQ(result, 0);
}

// Wine's comctl32 would show an empty sheet and wait for a user.
TEST_F(SheetTest, NoPagesShowNoSheet) { EXPECT_EQ(showTaskPropertySheet(owner, "x", {}), -1); }

}  // namespace
}  // namespace bv::tasks
