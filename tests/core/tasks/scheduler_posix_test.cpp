// The wrapper end to end on POSIX, through the program's own task store in a scratch folder:
// tasks created, given a program, parameters and an account proved by PAM (a test PAM
// configuration, no real password), scheduled through a scripted schedule page, saved, listed,
// read back and deleted; damaged files, concurrent writers and the codes each real failure gives.
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "core/tasks/TaskScdl.h"
#include "core/tasks/account_proof_posix.h"
#include "core/tasks/task_flags.h"
#include "core/tasks/task_registration.h"
#include "core/tasks/task_store_posix.h"
#include "task_store_fixture.h"

namespace bv::tasks {
namespace {
namespace fs = std::filesystem;
using bvtest::PamPolicy;

std::string fileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

unsigned modeOf(const fs::path& path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

template <typename Call>
HResult codeOf(Call call) {
  try {
    call();
  } catch (const ComError& error) {
    return error.code();
  }
  return kOk;
}

class TaskStoreTest : public ::testing::Test {
 protected:
  // A saved task with a program, parameters and an account, and no schedule yet.
  void createTask(const std::string& name) {
    TTask task(name, true);
    task.SetApplicationName("/opt/brackenvale/Brackenrun");
    task.SetParameters("1 0 0 ABC DEF 0123 1 ");
    task.SetEnabled(true);
    task.SetAccountInformation(bvtest::TaskStoreFixture::currentUser(), "secret-password");
    task.Save();
  }

  bvtest::TaskStoreFixture store;
  bvtest::ScriptedSchedulePage page;
};

TEST_F(TaskStoreTest, ATaskIsCreatedScheduledSavedListedReadBackAndDeleted) {
  store.setNow(LocalMinute::at(2026, 12, 8, 1, 41));
  const std::string name = "Brackenvale_20261208014100";
  EXPECT_FALSE(TaskExists(name));
  createTask(name);
  EXPECT_TRUE(TaskExists(name));

  page.edit = [](std::vector<TaskTrigger>& triggers) {
    triggers.push_back(bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  };
  {
    TTask task(name, false);
    EXPECT_EQ(task.Triggers().Count(), 0);
    EXPECT_EQ(task.ShowPropertyPages(page.owner(static_cast<NativeWindow>(0x1234)), "", kTaskPageSchedule),
              kModalOk);
    EXPECT_EQ(page.lastCaption, name);  // no caption of its own: the task's name
    EXPECT_EQ(page.lastOwner, static_cast<NativeWindow>(0x1234));
    task.Save();
  }

  std::vector<std::string> names{"left over"};
  GetTaskNames(names);
  EXPECT_EQ(names, std::vector<std::string>{name});

  TTask task(name, false);
  ASSERT_EQ(task.Triggers().Count(), 1);
  EXPECT_EQ(&task.Triggers().Items(0), &task.Triggers().Items(0));  // kept per index
  EXPECT_EQ(task.Triggers().Items(0).TriggerString(), "毎日 2:00 に開始、開始日: 2026/12/08");
  const SystemTime next = task.NextRunTime();
  EXPECT_EQ(LocalMinute::fromSystemTime(next), LocalMinute::at(2026, 12, 8, 2, 0));
  EXPECT_EQ(next.dayOfWeek, 2);  // a Tuesday
  EXPECT_EQ(codeOf([&] { task.MostRecentRunTime(); }), kSchedTaskHasNotRun);

  std::string program, parameters, account;
  task.Item().GetApplicationName(program);
  task.Item().GetParameters(parameters);
  task.Item().GetAccountInformation(account);
  EXPECT_EQ(program, "/opt/brackenvale/Brackenrun");
  EXPECT_EQ(parameters, "1 0 0 ABC DEF 0123 1 ");  // the trailing blank kept
  EXPECT_EQ(account, bvtest::TaskStoreFixture::currentUser());
  HResult status = 0;
  task.Item().GetStatus(status);
  EXPECT_EQ(status, kSchedTaskHasNotRun);

  const std::string file = task.FileName();
  EXPECT_EQ(fs::path(file), store.storeFolder() / (name + ".job"));
  fs::remove(file);
  EXPECT_FALSE(TaskExists(name));
  GetTaskNames(names);
  EXPECT_TRUE(names.empty());
}

// What the window reports is what is stored: the executor's entry is installed before the new
// schedule is written, and the page's own save reports its failure instead of a cancel.
TEST_F(TaskStoreTest, AScheduleIsStoredOnlyOnceTheExecutorsEntryIsInAndItsFailureReachesTheCaller) {
  store.setNow(LocalMinute::at(2026, 12, 8, 10, 0));
  HResult entry = kCrontabTooLarge;
  store.setBeforeCommit([&](const JobFile& job) { return job.triggers.empty() ? kOk : entry; });
  createTask("Brackenvale_1");
  page.edit = [](std::vector<TaskTrigger>& triggers) { triggers = {bvtest::dailyTrigger(2026, 12, 9, 2, 0)}; };
  {
    TTask task("Brackenvale_1", false);
    try {
      task.ShowPropertyPages(page.owner(), "", kTaskPageSchedule);
      ADD_FAILURE() << "the page's failed save passed as " << "OK or cancel";
    } catch (const ComError& error) {
      EXPECT_EQ(error.code(), kCrontabTooLarge);
      EXPECT_STREQ(error.what(), "crontab が大きすぎて最後まで読めなかったため、変更していません。");
    }
  }
  EXPECT_EQ(TTask("Brackenvale_1", false).Triggers().Count(), 0);  // nothing stored

  entry = kOk;
  TTask task("Brackenvale_1", false);
  EXPECT_EQ(task.ShowPropertyPages(page.owner(), "", kTaskPageSchedule), kModalOk);
  JobFile stored;
  ASSERT_EQ(TaskStore(store.storeFolder()).read("Brackenvale_1", stored), kOk);
  EXPECT_EQ(stored.triggers.size(), 1u);
  EXPECT_EQ(recordedScheduleSaved(stored), LocalMinute::at(2026, 12, 8, 10, 0));
  EXPECT_EQ(recordedAccount(stored), bvtest::TaskStoreFixture::currentUser());
}

TEST_F(TaskStoreTest, DeletingATaskTakesWhatTheExecutorKeptBesideItUnlessItRuns) {
  for (const char* name : {"idle", "running"}) {
    createTask(name);
    for (const char* suffix : {".log", ".history", ".job.lock"}) {
      std::ofstream(store.storeFolder() / (std::string(name) + suffix)) << "x";
    }
  }
  const int held = ::open((store.storeFolder() / "running.job.lock").c_str(), O_RDWR);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  removeTaskFile(TTask("idle", false).FileName());
  removeTaskFile(TTask("running", false).FileName());
  EXPECT_FALSE(fs::exists(store.storeFolder() / "idle.job"));
  EXPECT_FALSE(fs::exists(store.storeFolder() / "idle.log"));
  EXPECT_FALSE(fs::exists(store.storeFolder() / "idle.history"));
  EXPECT_FALSE(fs::exists(store.storeFolder() / "idle.job.lock"));
  EXPECT_FALSE(fs::exists(store.storeFolder() / "running.job"));
  EXPECT_TRUE(fs::exists(store.storeFolder() / "running.log"));  // the run goes on: its files stay
  ::close(held);
  TaskStore(store.storeFolder()).removeOrphanedCompanions();  // the executor's sweep after the run
  EXPECT_FALSE(fs::exists(store.storeFolder() / "running.log"));
  EXPECT_FALSE(fs::exists(store.storeFolder() / "running.job.lock"));
}

TEST_F(TaskStoreTest, TheStoreIsOwnerOnlyAndHoldsNoPassword) {
  createTask("Brackenvale_1");
  EXPECT_EQ(modeOf(store.storeFolder()), 0700u);
  const fs::path file = store.storeFolder() / "Brackenvale_1.job";
  EXPECT_EQ(modeOf(file), 0600u);
  for (const auto& entry : fs::directory_iterator(store.storeFolder())) {
    const std::string bytes = fileText(entry.path());
    EXPECT_EQ(bytes.find("secret-password"), std::string::npos) << entry.path();
    const std::string utf16("s\0e\0c\0r\0e\0t\0-\0p\0a\0s\0s", 21);
    EXPECT_EQ(bytes.find(utf16), std::string::npos) << entry.path();
    EXPECT_EQ(entry.path().filename().string().find(".tmp."), std::string::npos);
  }
}

TEST_F(TaskStoreTest, AnExistingFolderOpenToOthersIsClosedBeforeTheFirstWrite) {
  fs::create_directories(store.storeFolder());
  ::chmod(store.storeFolder().c_str(), 0755);
  createTask("Brackenvale_1");
  EXPECT_EQ(modeOf(store.storeFolder()), 0700u);
}

TEST_F(TaskStoreTest, TheSchedulePageOfATaskNeverSavedIsRefusedAsWindowsDocuments) {
  TTask task("Brackenvale_new", true);
  try {
    task.ShowPropertyPages(page.owner(), "", kTaskPageSchedule);
    FAIL() << "a page for an unsaved task";
  } catch (const ETaskException&) {
    FAIL() << "not a scheduler code";
  } catch (const ComError& error) {
    EXPECT_EQ(error.code(), kNotFileBasedStorage);
  }
  EXPECT_EQ(page.shown, 0);
}

TEST(NoSchedulePage, WithoutAPageHandedInTheCallFailsWithNoInterfaceNotACrash) {
  bvtest::TaskStoreFixture store;
  {
    TTask task("Brackenvale_1", true);
    task.Save();
  }
  TTask task("Brackenvale_1", false);
  try {
    task.ShowPropertyPages({nullptr, static_cast<NativeWindow>(0x1234)}, "", kTaskPageSchedule);
    FAIL() << "a page was shown";
  } catch (const ComError& error) {
    EXPECT_EQ(error.code(), kNoInterface);
  }
}

// Nothing is installed anywhere: each call shows the page its caller hands in, over the window
// the caller names.
TEST_F(TaskStoreTest, EachCallShowsThePageItIsHandedOverTheWindowItNames) {
  createTask("Brackenvale_1");
  bvtest::ScriptedSchedulePage other;
  struct Case {
    bvtest::ScriptedSchedulePage* page;
    NativeWindow window;
  };
  const Case cases[] = {
      {&page, static_cast<NativeWindow>(0x1234)},
      {&other, NativeWindow::None},
      {&other, static_cast<NativeWindow>(0x42)},
      {&page, NativeWindow::None},
  };
  int shownOnPage = 0;
  int shownOnOther = 0;
  for (const Case& c : cases) {
    TTask task("Brackenvale_1", false);
    EXPECT_EQ(task.ShowPropertyPages(c.page->owner(c.window), "", kTaskPageSchedule), kModalOk);
    ++(c.page == &page ? shownOnPage : shownOnOther);
    EXPECT_EQ(c.page->lastOwner, c.window);
    EXPECT_EQ(page.shown, shownOnPage);
    EXPECT_EQ(other.shown, shownOnOther);
  }
}

TEST_F(TaskStoreTest, CancelOnThePageChangesNothing) {
  createTask("Brackenvale_1");
  page.answer = 2;
  page.edit = [](std::vector<TaskTrigger>& triggers) {
    triggers.push_back(bvtest::dailyTrigger(2026, 1, 1, 0, 0));
  };
  TTask task("Brackenvale_1", false);
  EXPECT_EQ(task.ShowPropertyPages(page.owner(), "caption", kTaskPageSchedule), kModalCancel);
  EXPECT_EQ(page.lastCaption, "caption");
  EXPECT_EQ(task.Triggers().Count(), 0);
  EXPECT_EQ(TTask("Brackenvale_1", false).Triggers().Count(), 0);
}

TEST_F(TaskStoreTest, TriggerIndexesOutsideTheListRaiseNoSuchTrigger) {
  createTask("Brackenvale_1");
  TTask task("Brackenvale_1", false);
  for (const int index : {-1, 0, 1}) {
    try {
      task.Triggers().Items(index);
      FAIL() << index;
    } catch (const ETaskException& error) {
      EXPECT_STREQ(error.what(), "トリガーがありません");
      EXPECT_EQ(error.code(), kSchedTriggerNotFound);
    }
  }
}

TEST_F(TaskStoreTest, OpeningAMissingTaskFailsUnlessItMayBeCreated) {
  try {
    TTask task("Brackenvale_missing", false);
    FAIL() << "a missing task opened";
  } catch (const ETaskException&) {
    FAIL() << "0x80070002 is not in the table";
  } catch (const ComError& error) {
    EXPECT_EQ(error.code(), kFileNotFound);
    EXPECT_STREQ(error.what(), "指定されたファイルが見つかりません。");
  }
  TTask created("Brackenvale_missing", true);
  EXPECT_FALSE(TaskExists("Brackenvale_missing"));  // in memory until saved
  created.Save();
  EXPECT_TRUE(TaskExists("Brackenvale_missing"));
}

TEST_F(TaskStoreTest, NamesTheStoreCannotHoldAreRefused) {
  for (const std::string& bad : {std::string(), std::string("a.b"), std::string("../escape"),
                                 std::string("a/b"), std::string("a\0b", 3)}) {
    EXPECT_EQ(codeOf([&] { TTask task(bad, true); }), kInvalidArgument) << bad;
  }
}

TEST_F(TaskStoreTest, SavingTwiceIsHarmlessAndAReSaveKeepsTheAccountWithoutAProof) {
  createTask("Brackenvale_1");
  store.setPolicy(PamPolicy::DenyPassword);  // no proof could pass now
  TTask task("Brackenvale_1", false);
  task.SetParameters("2 X Y Z W V 0 ");
  task.Save();
  task.Save();
  TTask again("Brackenvale_1", false);
  std::string account, parameters;
  again.Item().GetAccountInformation(account);
  again.Item().GetParameters(parameters);
  EXPECT_EQ(account, bvtest::TaskStoreFixture::currentUser());
  EXPECT_EQ(parameters, "2 X Y Z W V 0 ");
}

TEST_F(TaskStoreTest, TheDisabledFlagIsSetAndClearedAndTheNextRunSaysDisabled) {
  createTask("Brackenvale_1");
  page.edit = [](std::vector<TaskTrigger>& triggers) {
    triggers.push_back(bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  };
  TTask task("Brackenvale_1", false);
  task.ShowPropertyPages(page.owner(), "", kTaskPageSchedule);
  task.SetEnabled(false);
  std::uint32_t flags = 0;
  task.Item().GetFlags(flags);
  EXPECT_EQ(flags & kTaskFlagDisabled, kTaskFlagDisabled);
  try {
    task.NextRunTime();
    FAIL();
  } catch (const ETaskException& error) {
    EXPECT_EQ(error.code(), kSchedTaskDisabled);
    EXPECT_STREQ(error.what(), "タスクは無効にされています");
  }
  task.SetEnabled(true);
  task.Item().GetFlags(flags);
  EXPECT_EQ(flags & kTaskFlagDisabled, 0u);
}

TEST_F(TaskStoreTest, TheNextRunAnswersEachInformationalCodeAsAnException) {
  store.setNow(LocalMinute::at(2026, 12, 8, 1, 41));
  createTask("Brackenvale_1");
  const auto nextRunCode = [&](std::vector<TaskTrigger> triggers) {
    page.edit = [&](std::vector<TaskTrigger>& shown) { shown = triggers; };
    TTask task("Brackenvale_1", false);
    task.ShowPropertyPages(page.owner(), "", kTaskPageSchedule);
    return codeOf([&] { task.NextRunTime(); });
  };
  EXPECT_EQ(nextRunCode({}), kSchedTaskNoValidTriggers);
  TaskTrigger past = bvtest::dailyTrigger(2026, 12, 1, 3, 0);
  past.type = TriggerType::Once;
  EXPECT_EQ(nextRunCode({past}), kSchedTaskNoMoreRuns);
  TaskTrigger logon;
  logon.type = TriggerType::AtLogon;
  logon.beginYear = 2026;
  logon.beginMonth = 12;
  logon.beginDay = 1;
  EXPECT_EQ(nextRunCode({logon}), kSchedEventTrigger);
  EXPECT_EQ(nextRunCode({bvtest::dailyTrigger(2026, 12, 8, 2, 0)}), kOk);
}

TEST_F(TaskStoreTest, ADamagedOrForeignFileIsReportedWithTheTablesCodeAndHidesNoOtherTask) {
  createTask("Brackenvale_1");
  createTask("Brackenvale_3");
  std::string bytes = fileText(store.storeFolder() / "Brackenvale_1.job");
  std::ofstream(store.storeFolder() / "Brackenvale_2.job", std::ios::binary) << bytes.substr(0, 100);
  bytes[2] = 2;  // file version 2
  std::ofstream(store.storeFolder() / "Brackenvale_4.job", std::ios::binary) << bytes;
  std::ofstream(store.storeFolder() / "notes.txt") << "not a task";

  std::vector<std::string> names;
  GetTaskNames(names);
  EXPECT_EQ(names,
            (std::vector<std::string>{"Brackenvale_1", "Brackenvale_2", "Brackenvale_3", "Brackenvale_4"}));
  const auto openCode = [](const std::string& name) { return codeOf([&] { TTask task(name, false); }); };
  EXPECT_EQ(openCode("Brackenvale_2"), kSchedInvalidTask);
  EXPECT_EQ(openCode("Brackenvale_4"), kSchedUnknownObjectVersion);
  EXPECT_EQ(openCode("Brackenvale_3"), kOk);
  EXPECT_FALSE(TaskExists("Brackenvale_2"));
}

TEST_F(TaskStoreTest, ARunRecordedMeanwhileSurvivesTheDialogsSave) {
  createTask("Brackenvale_1");
  TTask dialog("Brackenvale_1", false);  // opened before the run is recorded
  // The executor records a run while the task is open elsewhere.
  const TaskStore direct(store.storeFolder());
  ASSERT_EQ(direct.update("Brackenvale_1",
                          [](const std::optional<JobFile>& current) -> std::optional<JobFile> {
                            JobFile out = *current;
                            out.lastRunTime = LocalMinute::at(2026, 12, 8, 2, 0).toSystemTime();
                            out.exitCode = 4;
                            out.status = kSchedTaskReady;
                            return out;
                          }),
            kOk);
  dialog.SetParameters("1 0 0 NEW NEW NEW 0 ");
  dialog.Save();
  TTask read("Brackenvale_1", false);
  EXPECT_EQ(LocalMinute::fromSystemTime(read.MostRecentRunTime()), LocalMinute::at(2026, 12, 8, 2, 0));
  std::uint32_t exitCode = 0;
  EXPECT_EQ(read.Item().GetExitCode(exitCode), kOk);
  EXPECT_EQ(exitCode, 4u);
  std::string parameters;
  read.Item().GetParameters(parameters);
  EXPECT_EQ(parameters, "1 0 0 NEW NEW NEW 0 ");
}

TEST_F(TaskStoreTest, TwoWritersAtOnceLoseNeitherOnesFields) {
  createTask("Brackenvale_1");
  const TaskStore direct(store.storeFolder());
  constexpr int kRounds = 200;
  std::thread runs([&] {
    for (int i = 1; i <= kRounds; ++i) {
      direct.update("Brackenvale_1", [i](const std::optional<JobFile>& current) -> std::optional<JobFile> {
        JobFile out = *current;
        out.exitCode = static_cast<std::uint32_t>(i);
        return out;
      });
    }
  });
  std::thread edits([&] {
    for (int i = 1; i <= kRounds; ++i) {
      TTask task("Brackenvale_1", false);
      task.SetParameters(std::to_string(i));
      task.Save();
    }
  });
  runs.join();
  edits.join();
  TTask read("Brackenvale_1", false);
  std::string parameters;
  read.Item().GetParameters(parameters);
  JobFile job;
  ASSERT_EQ(direct.read("Brackenvale_1", job), kOk);
  EXPECT_EQ(parameters, std::to_string(kRounds));
  EXPECT_EQ(job.exitCode, static_cast<std::uint32_t>(kRounds));
}

// --- The account proof through PAM -------------------------------------------------------------

HResult saveWithAccount(const std::string& user, const std::string& password) {
  return codeOf([&] {
    TTask task("Brackenvale_probe", true);
    task.SetAccountInformation(user, password);
    task.Save();
  });
}

TEST(AccountProof, AnAcceptedAccountIsRecordedAndARefusedOneWritesNothing) {
  bvtest::TaskStoreFixture store(PamPolicy::MatrixPassword);
  const std::string me = bvtest::TaskStoreFixture::currentUser();
  store.setPassword(me, "right one");
  EXPECT_EQ(saveWithAccount(me, "wrong one"), kLogonFailure);
  EXPECT_FALSE(TaskExists("Brackenvale_probe"));
  EXPECT_EQ(saveWithAccount(me, "right one"), kOk);
  EXPECT_TRUE(TaskExists("Brackenvale_probe"));
}

TEST(AccountProof, EachRefusalHasItsCode) {
  bvtest::TaskStoreFixture store(PamPolicy::DenyPassword);
  const std::string me = bvtest::TaskStoreFixture::currentUser();
  EXPECT_EQ(saveWithAccount(me, "x"), kLogonFailure);
  store.setPolicy(PamPolicy::DenyAccount);
  EXPECT_EQ(saveWithAccount(me, "x"), kAccountRestriction);
  store.setPolicy(PamPolicy::NoService);
  EXPECT_EQ(saveWithAccount(me, "x"), kSchedNoSecurityServices);
  store.setPolicy(PamPolicy::Permit);
  EXPECT_EQ(saveWithAccount("no-such-user-bv", "x"), kSchedAccountNameNotFound);
  EXPECT_EQ(saveWithAccount(me, "x"), kOk);
}

TEST(AccountProof, TheRefusalsOutsideTheTableTakeTheSystemErrorPath) {
  bvtest::TaskStoreFixture store(PamPolicy::DenyPassword);
  try {
    TTask task("Brackenvale_probe", true);
    task.SetAccountInformation(bvtest::TaskStoreFixture::currentUser(), "x");
    task.Save();
    FAIL();
  } catch (const ETaskException&) {
    FAIL() << "0x8007052E is not in the table";
  } catch (const ComError& error) {
    EXPECT_EQ(error.code(), kLogonFailure);
    EXPECT_EQ(error.what(), systemErrorText(kLogonFailure));
  }
  try {
    store.setPolicy(PamPolicy::Permit);
    TTask task("Brackenvale_probe", true);
    task.SetAccountInformation("no-such-user-bv", "x");
    task.Save();
    FAIL();
  } catch (const ETaskException& error) {
    EXPECT_STREQ(error.what(), "指定したアカウントの存在を確認できません");
  }
}

TEST(AccountProof, PamsAnswersReadAsTheSchedulersCodes) {
  EXPECT_EQ(authenticationResult(0), kOk);
  EXPECT_EQ(authenticationResult(7), kLogonFailure);               // PAM_AUTH_ERR
  EXPECT_EQ(authenticationResult(10), kSchedAccountNameNotFound);  // PAM_USER_UNKNOWN
  EXPECT_EQ(accountResult(0), kOk);
  EXPECT_EQ(accountResult(12), kPasswordMustChange);  // PAM_NEW_AUTHTOK_REQD
  EXPECT_EQ(accountResult(13), kAccountRestriction);  // PAM_ACCT_EXPIRED
  EXPECT_EQ(accountResult(7), kAccountRestriction);
}

// An ordinary user may name only their own account: another name is refused before PAM.
TEST(AccountProof, AnOrdinaryUserNamingAnotherAccountIsRefusedBeforePam) {
  if (::geteuid() != 0) {
    bvtest::TaskStoreFixture store(PamPolicy::Permit);
    EXPECT_EQ(saveWithAccount("root", "x"), kAccessDenied);
    return;
  }
  // Running as root: the check runs in a child that has become "nobody".
  const passwd* nobody = ::getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  bvtest::TempDir pam("bv-pam");
  std::ofstream(pam.path() / "brackenvale")
      << "auth required pam_permit.so\naccount required pam_permit.so\n";
  fs::permissions(pam.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) ::_exit(90);
    const HResult other = proveAccount("root", "x", {pam.path()});
    const HResult own = proveAccount("nobody", "x", {pam.path()});
    ::_exit(other != kAccessDenied ? 1 : own != kOk ? 2 : 0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(AccountProof, RootMayNameAnyExistingAccountAndTheTaskRecordsIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root may name another account";
  bvtest::TaskStoreFixture store(PamPolicy::Permit);
  EXPECT_EQ(saveWithAccount("nobody", "x"), kOk);
  TTask task("Brackenvale_probe", false);
  std::string account;
  task.Item().GetAccountInformation(account);
  EXPECT_EQ(account, "nobody");
  EXPECT_EQ(fs::path(task.FileName()).parent_path(), store.storeFolder());  // the running user's store
}

}  // namespace
}  // namespace bv::tasks
