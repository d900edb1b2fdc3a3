// The tick against a task store of the test's own, with the clock the test sets (never a wait for
// a real minute): which tasks it starts and when, what the watcher records, the limits it
// enforces, another account's run as root, the runner's hidden parameter string, and a backup of
// the stand-in's database run end to end through the real runner.
#include "tick/tick.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <map>
#include <thread>

#include "core/sys/process_posix.h"
#include "core/tasks/TaskScdl.h"
#include "core/tasks/task_argument.h"
#include "core/tasks/task_flags.h"
#include "core/tasks/task_store_posix.h"
#include "silent_listener.h"
#include "standin_fixture.h"
#include "task_store_fixture.h"

namespace bv::tick {
namespace {
namespace fs = std::filesystem;
using tasks::JobFile;
using tasks::LocalMinute;
using tasks::TaskTrigger;

std::string fileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::map<std::string, std::string> report(const fs::path& path) {
  std::map<std::string, std::string> values;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) values[line.substr(0, equals)] = line.substr(equals + 1);
  }
  return values;
}

void waitForWatchers(const TickResult& result) {
  for (const pid_t watcher : result.watchers) {
    int status = 0;
    while (::waitpid(watcher, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

class TickTest : public ::testing::Test {
 protected:
  // A task that runs the probe on the trigger, written straight into the store.
  JobFile addProbeTask(const std::string& name, const TaskTrigger& trigger, int exitCode = 0, int sleepMs = 0,
                       std::uint32_t flags = 0) {
    JobFile job;
    job.uuid = tasks::randomJobUuid();
    job.applicationName = TICK_PROBE_PATH;
    job.parameters = reportOf(name).string() + " " + std::to_string(exitCode) + " " +
                     std::to_string(sleepMs) + " alpha  beta ";
    job.flags = flags;
    job.triggers = {trigger};
    job.status = tasks::kSchedTaskHasNotRun;
    write(name, job);
    return job;
  }
  void write(const std::string& name, const JobFile& job) {
    ASSERT_EQ(
        store().update(name, [&](const std::optional<JobFile>&) { return std::optional<JobFile>(job); }),
        tasks::kOk);
  }
  JobFile read(const std::string& name) const {
    JobFile job;
    EXPECT_EQ(store().read(name, job), tasks::kOk);
    return job;
  }
  tasks::TaskStore store() const { return tasks::TaskStore(tasks_.storeFolder()); }
  fs::path reportOf(const std::string& name) const { return scratch_.path() / (name + ".report"); }

  TickResult tick(LocalMinute now) {
    TickOptions options;
    options.storeFolder = tasks_.storeFolder();
    options.now = now;
    options.terminationGrace = std::chrono::milliseconds(300);
    options.log = [this](std::string_view line) { log_.emplace_back(line); };
    return runTick(options);
  }
  TickResult tickAndWait(LocalMinute now) {
    TickResult result = tick(now);
    waitForWatchers(result);
    return result;
  }

  static LocalMinute at(int hour, int minute) { return LocalMinute::at(2026, 12, 8, hour, minute); }

  bvtest::TaskStoreFixture tasks_;
  bvtest::TempDir scratch_{"bv-tick"};
  std::vector<std::string> log_;
};

TEST_F(TickTest, ATaskRunsAtItsMinuteAndItsOutcomeIsRecorded) {
  addProbeTask("daily", bvtest::dailyTrigger(2026, 12, 8, 2, 0), 7);
  EXPECT_TRUE(tickAndWait(at(1, 59)).started.empty());
  EXPECT_FALSE(fs::exists(reportOf("daily")));

  const TickResult result = tickAndWait(at(2, 0));
  EXPECT_EQ(result.started, std::vector<std::string>{"daily"});
  const auto probe = report(reportOf("daily"));
  EXPECT_EQ(probe.at("args"), "[alpha][beta]");  // the parameters as words, no runner here
  EXPECT_EQ(probe.at("stdin"), "[]");
  EXPECT_EQ(probe.at("session"), "own");
  const JobFile after = read("daily");
  EXPECT_EQ(LocalMinute::fromSystemTime(after.lastRunTime), at(2, 0));
  EXPECT_EQ(after.exitCode, 7u);
  EXPECT_EQ(after.status, tasks::kSchedTaskReady);
  EXPECT_EQ(after.runningInstanceCount, 0);

  // The next minute's tick finds nothing new.
  EXPECT_TRUE(tickAndWait(at(2, 1)).started.empty());
}

TEST_F(TickTest, AShortDelayStillRunsAMissedStartButALongGapDoesNot) {
  addProbeTask("late", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  tickAndWait(at(1, 57));
  EXPECT_EQ(tickAndWait(at(2, 4)).started, std::vector<std::string>{"late"});  // cron was 7 minutes late

  addProbeTask("gap", bvtest::dailyTrigger(2026, 12, 8, 3, 0));
  tickAndWait(at(2, 45));
  EXPECT_TRUE(tickAndWait(at(3, 5)).started.empty());  // 20 minutes without a tick: the run is missed
  EXPECT_TRUE(read("gap").lastRunTime.isZero());
}

TEST_F(TickTest, AClockThatWentBackDoesNotRunAStartAgain) {
  addProbeTask("once", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  EXPECT_EQ(tickAndWait(at(2, 0)).started.size(), 1u);
  tickAndWait(at(2, 30));
  EXPECT_TRUE(tickAndWait(at(2, 0)).started.empty());  // the clock stepped back half an hour
}

TEST_F(TickTest, ARunStillGoingIsNotStartedTwice) {
  addProbeTask("busy", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  const int held = ::open((tasks_.storeFolder() / "busy.job.lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  const TickResult result = tickAndWait(at(2, 0));
  ::close(held);
  EXPECT_TRUE(result.started.empty());
  EXPECT_EQ(result.skipped, std::vector<std::string>{"busy"});
  ASSERT_FALSE(log_.empty());
  EXPECT_NE(log_.back().find("busy: due at 2026-12-08 02:00, still running: skipped"), std::string::npos)
      << log_.back();
}

TEST_F(TickTest, TheMaximumRunTimeEndsTheProgram) {
  JobFile job = addProbeTask("slow", bvtest::dailyTrigger(2026, 12, 8, 2, 0), 0, 30000);
  job.maxRunTimeMs = 300;
  write("slow", job);
  tickAndWait(at(2, 0));
  EXPECT_TRUE(fs::exists(reportOf("slow")));
  EXPECT_FALSE(fs::exists(reportOf("slow").string() + ".done"));
  EXPECT_EQ(read("slow").exitCode, tasks::kSchedTaskTerminated);
}

TEST_F(TickTest, TheEndOfTheTriggersWindowEndsTheProgramWhenTheTriggerSaysSo) {
  TaskTrigger hourly = bvtest::dailyTrigger(2026, 12, 8, 1, 0);
  hourly.minutesInterval = 60;
  hourly.minutesDuration = 61;  // starts at 01:00 and 02:00, each window closing at 02:01
  hourly.flags = tasks::kTriggerFlagKillAtDurationEnd;
  addProbeTask("windowed", hourly, 0, 30000);
  tickAndWait(at(1, 59));
  tickAndWait(at(2, 1));  // the 02:00 start, with its window already over
  EXPECT_FALSE(fs::exists(reportOf("windowed").string() + ".done"));
  EXPECT_EQ(read("windowed").exitCode, tasks::kSchedTaskTerminated);
}

TEST_F(TickTest, ATaskMarkedDeleteWhenDoneGoesAfterItsLastRun) {
  TaskTrigger once = bvtest::dailyTrigger(2026, 12, 8, 2, 0);
  once.type = tasks::TriggerType::Once;
  addProbeTask("one-off", once, 0, 0, tasks::kTaskFlagDeleteWhenDone);
  addProbeTask("daily", bvtest::dailyTrigger(2026, 12, 8, 2, 0), 0, 0, tasks::kTaskFlagDeleteWhenDone);
  EXPECT_EQ(tickAndWait(at(2, 0)).started.size(), 2u);
  EXPECT_FALSE(fs::exists(tasks_.storeFolder() / "one-off.job"));
  EXPECT_TRUE(fs::exists(tasks_.storeFolder() / "daily.job"));  // it has runs left
}

TEST_F(TickTest, ATaskDeletedWhileItRunsIsNotRecreatedByItsLastRecord) {
  addProbeTask("doomed", bvtest::dailyTrigger(2026, 12, 8, 2, 0), 0, 500);
  const TickResult result = tick(at(2, 0));
  ASSERT_EQ(result.started.size(), 1u);
  fs::remove(tasks_.storeFolder() / "doomed.job");
  waitForWatchers(result);
  EXPECT_TRUE(fs::exists(reportOf("doomed").string() + ".done"));
  EXPECT_FALSE(fs::exists(tasks_.storeFolder() / "doomed.job"));
}

TEST_F(TickTest, AProgramThatCannotStartRecordsWhy) {
  JobFile job = addProbeTask("missing", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  job.applicationName = "/nonexistent/program";
  write("missing", job);
  tickAndWait(at(2, 0));
  const JobFile after = read("missing");
  ASSERT_TRUE(after.reservedData);
  EXPECT_EQ(after.reservedData->startError, 0x80070000u | ENOENT);
  EXPECT_EQ(after.status, tasks::kSchedTaskReady);
}

TEST_F(TickTest, AFileOthersCouldHaveWrittenIsNotRun) {
  addProbeTask("shared", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  fs::permissions(tasks_.storeFolder() / "shared.job", fs::perms::group_write, fs::perm_options::add);
  EXPECT_TRUE(tickAndWait(at(2, 0)).started.empty());
  EXPECT_FALSE(fs::exists(reportOf("shared")));
}

TEST_F(TickTest, ADisabledTaskIsNotRun) {
  addProbeTask("off", bvtest::dailyTrigger(2026, 12, 8, 2, 0), 0, 0, tasks::kTaskFlagDisabled);
  EXPECT_TRUE(tickAndWait(at(2, 0)).started.empty());
}

TEST_F(TickTest, ATickWhileAnotherHoldsTheStoreDoesNothing) {
  addProbeTask("daily", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  fs::create_directories(tasks_.storeFolder());
  const int held = ::open((tasks_.storeFolder() / ".tick.lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_FALSE(tick(at(2, 0)).ran);
  ::close(held);
  EXPECT_TRUE(tickAndWait(at(2, 0)).ran);
}

TEST_F(TickTest, AReaderNeverSeesHalfARecord) {
  addProbeTask("busy", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  std::atomic<bool> stop{false};
  std::atomic<int> failures{0};
  std::thread reader([&] {
    while (!stop) {
      JobFile job;
      if (store().read("busy", job) != tasks::kOk) ++failures;
    }
  });
  for (int minute = 0; minute < 30; ++minute) {
    JobFile job = read("busy");
    job.exitCode = static_cast<std::uint32_t>(minute);
    job.comment = std::string(static_cast<std::size_t>(minute) * 100, 'x');
    write("busy", job);
  }
  stop = true;
  reader.join();
  EXPECT_EQ(failures, 0);
}

// A crontab command that keeps the crontab in memory.
class FakeCrontab final : public tasks::CrontabCommand {
 public:
  tasks::HResult read(std::string& out, std::string&) override {
    out = text;
    return tasks::kOk;
  }
  tasks::HResult install(const std::string& in, std::string&) override {
    text = in;
    return tasks::kOk;
  }
  std::string text;
};

TEST_F(TickTest, AnEmptyStoreTakesTheTickEntryOutOfTheCrontab) {
  FakeCrontab crontab;
  crontab.text = *tasks::withTickBlock("0 1 * * * /mine\n", "/x/brackenvale-tick", tasks_.storeFolder());
  addProbeTask("daily", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  TickOptions options;
  options.storeFolder = tasks_.storeFolder();
  options.now = at(1, 0);
  options.crontab = &crontab;
  runTick(options);
  EXPECT_NE(crontab.text.find("brackenvale-tick"), std::string::npos);  // a task is stored
  fs::remove(tasks_.storeFolder() / "daily.job");
  runTick(options);
  EXPECT_EQ(crontab.text, "0 1 * * * /mine\n");
}

// --- Another account, as root -------------------------------------------------------------------

TEST_F(TickTest, RootStartsATaskRecordedForAnotherAccountAsThatAccount) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root starts programs as another account";
  const std::string user = "bvtick" + std::to_string(::getpid());
  ASSERT_EQ(sys::runProgram("useradd", {"--no-create-home", "--shell", "/bin/sh", user}, {}, 30000).exitCode,
            0);
  struct Removal {
    std::string user;
    ~Removal() { sys::runProgram("userdel", {user}, {}, 30000); }
  } removal{user};
  const passwd* entry = ::getpwnam(user.c_str());
  ASSERT_NE(entry, nullptr);
  fs::permissions(scratch_.path(), fs::perms::all);  // the other account writes its report here

  JobFile job = addProbeTask("theirs", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  tasks::recordAccount(job, user);
  write("theirs", job);
  tickAndWait(at(2, 0));
  const auto probe = report(reportOf("theirs"));
  EXPECT_EQ(probe.at("uid"), std::to_string(entry->pw_uid));
  EXPECT_EQ(probe.at("gid"), std::to_string(entry->pw_gid));
  EXPECT_NE(probe.at("groups").find(std::to_string(entry->pw_gid) + ","), std::string::npos);
  EXPECT_EQ(probe.at("groups").find("0,"), std::string::npos) << probe.at("groups");  // none of root's
  // Its log and records stay in the store, which stays root's.
  EXPECT_EQ(read("theirs").status, tasks::kSchedTaskReady);
}

// --- The runner -------------------------------------------------------------------------------------

// The processes running the program whose parent is `parent`: only this test's own runner, never
// one that another test running beside it has started.
std::vector<pid_t> childrenRunning(pid_t parent, const std::string& program) {
  std::vector<pid_t> found;
  DIR* proc = ::opendir("/proc");
  while (const dirent* entry = proc ? ::readdir(proc) : nullptr) {
    const std::string name = entry->d_name;
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code error;
    if (fs::read_symlink("/proc/" + name + "/exe", error) != fs::path(program)) continue;
    const std::string status = fileText("/proc/" + name + "/status");
    const auto ppid = status.find("\nPPid:\t");
    if (ppid != std::string::npos && std::stoi(status.substr(ppid + 7)) == parent)
      found.push_back(std::stoi(name));
  }
  if (proc) ::closedir(proc);
  return found;
}

TEST_F(TickTest, TheRunnersCommandLineHoldsNoPartOfTheParameterString) {
  const bvtest::SilentListener silent;  // accepts and never answers: the runner waits at its login
  tasks::TaskBackup backup;
  backup.useSqlAuth = true;
  backup.userName = "sa";
  backup.password = "Hidden-pass-word";
  backup.server = silent.serverText();
  backup.database = "Sample";
  backup.backupFile = "/tmp/x_%date%.bak";
  JobFile job;
  job.uuid = tasks::randomJobUuid();
  job.applicationName = BRACKENRUN_PATH;
  job.parameters = tasks::buildTaskParameters(backup);
  job.triggers = {bvtest::dailyTrigger(2026, 12, 8, 2, 0)};
  write("hidden", job);

  const TickResult result = tick(at(2, 0));
  ASSERT_EQ(result.started.size(), 1u);
  ASSERT_EQ(result.watchers.size(), 1u);
  std::vector<pid_t> runners;
  for (int attempt = 0; attempt < 200 && runners.empty(); ++attempt) {
    runners = childrenRunning(result.watchers[0], BRACKENRUN_PATH);
    if (runners.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  struct Reaper {  // a runner left waiting at its login would outlive a failed assertion
    const std::vector<pid_t>& pids;
    const TickResult& result;
    ~Reaper() {
      for (const pid_t pid : pids) ::kill(pid, SIGTERM);
      waitForWatchers(result);
    }
  } reaper{runners, result};
  ASSERT_EQ(runners.size(), 1u);
  const std::string commandLine = fileText("/proc/" + std::to_string(runners[0]) + "/cmdline");
  // Its one argument is "-", or blanks once the runner has copied and wiped its arguments.
  const std::string program = std::string(BRACKENRUN_PATH) + '\0';
  EXPECT_TRUE(commandLine == program + std::string("-\0", 2) || commandLine == program + std::string(2, '\0'))
      << commandLine;
  for (const std::string& argument : tasks::splitTaskParameters(job.parameters)) {
    if (argument.size() > 2) {
      EXPECT_EQ(commandLine.find(argument), std::string::npos) << argument;
    }
  }
  EXPECT_EQ(commandLine.find(tasks::EncodeTaskArgument("Hidden-pass-word")), std::string::npos);
  // The tick's own log never holds a parameter either.
  for (const auto& line : log_)
    EXPECT_EQ(line.find(tasks::EncodeTaskArgument("sa")), std::string::npos) << line;
}

// --- End to end: a backup of the stand-in's database ------------------------------------------------

class TickBackup : public TickTest {
 protected:
  // A task saved through the wrapper whose program is the built runner.
  void saveBackupTask(const std::string& name, const std::string& file) {
    tasks::TaskBackup backup;
    backup.useSqlAuth = true;
    backup.userName = "sa";
    backup.password = standin_.saPassword();
    backup.server = standin_.serverText();
    backup.database = standin_.sampleDatabase();
    backup.backupFile = file;
    bvtest::ScriptedSchedulePage page;
    page.edit = [](std::vector<TaskTrigger>& triggers) {
      triggers = {bvtest::dailyTrigger(2026, 12, 8, 2, 0)};
    };
    tasks::TTask task(name, true);
    task.SetApplicationName(BRACKENRUN_PATH);
    task.SetParameters(tasks::buildTaskParameters(backup));
    task.SetEnabled(true);
    task.Save();
    task.ShowPropertyPages(nullptr, "", tasks::kTaskPageSchedule);
    task.Save();
  }
  static std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    return text;
  }

  bvtest::StandinFixture standin_;
};

TEST_F(TickBackup, OneTickBacksUpTheDatabaseAndTheRunReadsBackThroughTheWrapper) {
  saveBackupTask("Brackenvale_backup", (standin_.scratchDir() / "tick_%date%.bak").string());
  tickAndWait(at(2, 0));
  const fs::path written = standin_.scratchDir() / ("tick_" + today() + ".bak");
  EXPECT_TRUE(fs::exists(written)) << fileText(tasks_.storeFolder() / "Brackenvale_backup.log");

  tasks::TTask task("Brackenvale_backup", false);
  EXPECT_EQ(LocalMinute::fromSystemTime(task.MostRecentRunTime()), at(2, 0));
  std::uint32_t exitCode = 99;
  EXPECT_EQ(task.Item().GetExitCode(exitCode), tasks::kOk);
  EXPECT_EQ(exitCode, 0u);
  tasks::HResult status = 0;
  task.Item().GetStatus(status);
  EXPECT_EQ(status, tasks::kSchedTaskReady);
}

TEST_F(TickBackup, AFailingBackupRecordsTheRunnersExitCode) {
  saveBackupTask("Brackenvale_broken", (standin_.scratchDir() / "no-such-folder" / "x_%date%.bak").string());
  tickAndWait(at(2, 0));
  tasks::TTask task("Brackenvale_broken", false);
  std::uint32_t exitCode = 0;
  EXPECT_EQ(task.Item().GetExitCode(exitCode), tasks::kOk);
  EXPECT_EQ(exitCode, 4u);  // the batch ran and the server refused it
  EXPECT_NE(fileText(tasks_.storeFolder() / "Brackenvale_broken.log")
                .find("バックアップ中にエラーが発生しました。"),
            std::string::npos);
}

}  // namespace
}  // namespace bv::tick
