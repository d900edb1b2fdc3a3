// The wrapper's paths that need an answer no real scheduler here gives, against a scripted back
// end: the trigger text, the property pages (the order they are asked in, the caption, the
// sheet's result and the save after it) and an account refused at save.
#include <gtest/gtest.h>

#include "core/tasks/TaskScdl.h"
#include "fake_scheduler.h"

namespace bv::tasks {
namespace {

using bvtest::FakeScheduler;
using bvtest::FakeSchedulerScript;

constexpr HResult kNotImplemented = 0x80004001;  // E_NOTIMPL

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

class WrapperPathsTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeScheduler> scheduler = std::make_shared<FakeScheduler>();
  FakeSchedulerScript& script = scheduler->script();
};

// --- The trigger text --------------------------------------------------------------------------

TEST_F(WrapperPathsTest, TheTriggerTextIsTheSchedulersOwnWordingOfThatTrigger) {
  script.triggerTexts = {"毎日 2:00 に開始、開始日: 2026/12/08", "毎週 月曜日 の 3:30 に開始"};
  TTask task("Brackenvale_1", false, scheduler);
  EXPECT_EQ(task.Triggers().Items(1).TriggerString(), "毎週 月曜日 の 3:30 に開始");
  EXPECT_EQ(task.Triggers().Items(0).TriggerString(), "毎日 2:00 に開始、開始日: 2026/12/08");
  EXPECT_EQ(script.triggersAsked, (std::vector<std::uint16_t>{1, 0}));
}

TEST_F(WrapperPathsTest, TheTriggerTextsFailuresGoThroughTheTable) {
  script.triggerTexts = {"x"};
  TTask task("Brackenvale_1", false, scheduler);
  script.answers["GetTriggerString"] = kNotImplemented;  // Wine's answer
  const Raised notImplemented = raisedBy([&] { task.Triggers().Items(0).TriggerString(); });
  EXPECT_EQ(notImplemented.code, kNotImplemented);
  EXPECT_FALSE(notImplemented.taskException);
  EXPECT_EQ(notImplemented.message, systemErrorText(kNotImplemented));

  script.answers["GetTriggerString"] = kOk;
  script.answers["GetTrigger"] = kSchedTriggerNotFound;
  const Raised missing = raisedBy([&] { task.Triggers().Items(0).TriggerString(); });
  EXPECT_EQ(missing.code, kSchedTriggerNotFound);
  EXPECT_TRUE(missing.taskException);
  EXPECT_EQ(missing.message, "トリガーがありません");
}

// --- The property pages ------------------------------------------------------------------------

TEST_F(WrapperPathsTest, TheChosenPagesAreAskedForInTheOrderTaskScheduleSettingsAndPersistTheirChanges) {
  TTask task("Brackenvale_1", false, scheduler);
  struct Case {
    unsigned pages;
    std::vector<TaskPageType> asked;
  };
  const Case cases[] = {
      {kTaskPageTask | kTaskPageSchedule | kTaskPageSettings,
       {TaskPageType::Task, TaskPageType::Schedule, TaskPageType::Settings}},
      {kTaskPageSettings | kTaskPageTask, {TaskPageType::Task, TaskPageType::Settings}},
      {kTaskPageSchedule, {TaskPageType::Schedule}},
      {kTaskPageSettings, {TaskPageType::Settings}},
  };
  for (const Case& c : cases) {
    script.pagesAsked.clear();
    task.ShowPropertyPages({}, "caption", c.pages);
    std::vector<std::pair<TaskPageType, bool>> expected;
    std::vector<TaskPageHandle> handles;
    for (const TaskPageType type : c.asked) {
      expected.emplace_back(type, true);
      handles.push_back(FakeSchedulerScript::pageHandle(type));
    }
    EXPECT_EQ(script.pagesAsked, expected) << c.pages;
    EXPECT_EQ(script.sheetPages, handles) << c.pages;  // the handles, in that order
  }
}

// A page the back end is handed and never shows.
class UnshownPage final : public SchedulePage {
 public:
  int show(NativeWindow, const std::string&, std::vector<TaskTrigger>&) override { return 0; }
};

TEST_F(WrapperPathsTest, ThePagesAreAskedForTheOwnerHandedInAndTheSheetGetsTheCaptionOrTheTasksName) {
  TTask task("Brackenvale_20261208014100", false, scheduler);
  UnshownPage page;
  struct Case {
    PageOwner owner;
    std::string caption;
    std::string shownCaption;
  };
  const Case cases[] = {
      {{&page, static_cast<NativeWindow>(0x5678)}, "スケジュールの編集", "スケジュールの編集"},
      {{nullptr, static_cast<NativeWindow>(0x5678)}, "", "Brackenvale_20261208014100"},
      {{&page, NativeWindow::None}, "", "Brackenvale_20261208014100"},
      {{}, "x", "x"},
  };
  for (const Case& c : cases) {
    task.ShowPropertyPages(c.owner, c.caption, kTaskPageSchedule);
    EXPECT_EQ(script.pagesOwner.page, c.owner.page) << c.caption;
    EXPECT_EQ(script.pagesOwner.window, c.owner.window) << c.caption;
    EXPECT_EQ(script.sheetCaption, c.shownCaption);
  }
}

TEST_F(WrapperPathsTest, OnlyASheetResultOfExactlyOneIsOkAndSavesOnceWithAutoSave) {
  for (const bool autoSave : {false, true}) {
    for (const int sheetResult : {1, 0, -1, 2, 3}) {
      TTask task("Brackenvale_1", false, scheduler);
      task.AutoSave = autoSave;
      script.calls.clear();
      script.sheetResult = sheetResult;
      const int result = task.ShowPropertyPages({}, "", kTaskPageSchedule);
      const bool ok = sheetResult == 1;
      EXPECT_EQ(result, ok ? kModalOk : kModalCancel) << sheetResult;
      EXPECT_EQ(script.count("Save"), autoSave && ok ? 1 : 0) << autoSave << " " << sheetResult;
      if (autoSave && ok) {
        EXPECT_EQ(script.calls.back(), "Save");  // after the sheet closed
      }
    }
  }
}

TEST_F(WrapperPathsTest, AFailedSaveAfterTheSheetRaises) {
  TTask task("Brackenvale_1", false, scheduler);
  task.AutoSave = true;
  script.answers["Save"] = kAccessDenied;
  const Raised raised = raisedBy([&] { task.ShowPropertyPages({}, "", kTaskPageSchedule); });
  EXPECT_EQ(raised.code, kAccessDenied);
  EXPECT_FALSE(raised.taskException);
}

TEST_F(WrapperPathsTest, AFailedPageRaisesTheSystemsComErrorEvenForACodeOfTheTableAndShowsNothing) {
  TTask task("Brackenvale_1", false, scheduler);
  for (const HResult code : {kNotFileBasedStorage, kSchedInvalidTask, kNotImplemented, kSchedTaskNotReady}) {
    script.pageAnswers = {{TaskPageType::Schedule, code}};
    script.calls.clear();
    const Raised raised = raisedBy(
        [&] { task.ShowPropertyPages({}, "", kTaskPageTask | kTaskPageSchedule | kTaskPageSettings); });
    EXPECT_EQ(raised.code, code) << std::hex << code;
    EXPECT_FALSE(raised.taskException) << std::hex << code;
    EXPECT_EQ(raised.message, systemErrorText(code)) << std::hex << code;
    // The task page was made; the failed schedule page ends it before the settings page.
    EXPECT_EQ(script.calls, (std::vector<std::string>{"QueryTaskPages", "GetPage", "GetPage"}))
        << std::hex << code;
  }
}

TEST_F(WrapperPathsTest, APageSuccessCodeOfTheTableIsNoFailure) {
  TTask task("Brackenvale_1", false, scheduler);
  script.answers["GetPage"] = kSchedTaskReady;  // a success: the standard check lets it pass
  EXPECT_EQ(task.ShowPropertyPages({}, "", kTaskPageSchedule), kModalOk);
  EXPECT_EQ(script.count("PropertySheet"), 1);
}

TEST_F(WrapperPathsTest, AWorkItemWithoutPagesRaisesNoInterfaceAndAsksForNone) {
  TTask task("Brackenvale_1", false, scheduler);
  script.answers["QueryTaskPages"] = kNoInterface;
  const Raised raised = raisedBy([&] { task.ShowPropertyPages({}, "", kTaskPageSchedule); });
  EXPECT_EQ(raised.code, kNoInterface);
  EXPECT_FALSE(raised.taskException);
  EXPECT_EQ(script.count("GetPage"), 0);
  EXPECT_EQ(script.count("PropertySheet"), 0);
}

// --- An account refused at save ----------------------------------------------------------------

TEST_F(WrapperPathsTest, ALogonFailureAtSaveIsTheSystemsComErrorWithTheSystemsText) {
  script.answers["Save"] = kLogonFailure;
  TTask task("Brackenvale_1", true, scheduler);
  task.SetAccountInformation("DOMAIN\\user", "wrong password");  // accepted until the save
  const Raised raised = raisedBy([&] { task.Save(); });
  EXPECT_EQ(raised.code, kLogonFailure);
  EXPECT_FALSE(raised.taskException);
  EXPECT_EQ(raised.message, systemErrorText(kLogonFailure));
  EXPECT_FALSE(raised.message.empty());
}

TEST_F(WrapperPathsTest, WithAutoSaveTheAccountIsProvedAtOnceAndAnUnknownAccountHasTheTablesMessage) {
  script.answers["Save"] = kSchedAccountNameNotFound;
  TTask task("Brackenvale_1", true, scheduler);
  task.AutoSave = true;
  const Raised raised = raisedBy([&] { task.SetAccountInformation("nobody", "x"); });
  EXPECT_EQ(raised.code, kSchedAccountNameNotFound);
  EXPECT_TRUE(raised.taskException);
  EXPECT_EQ(raised.message, "指定したアカウントの存在を確認できません");
  EXPECT_EQ(script.calls.back(), "Save");
}

}  // namespace
}  // namespace bv::tasks
