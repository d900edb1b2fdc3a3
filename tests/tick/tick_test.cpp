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
#include <optional>
#include <thread>

#include "core/sys/process_posix.h"
#include "core/sys/unique_fd.h"
#include "core/mail/mail_settings.h"
#include "core/tasks/TaskScdl.h"
#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"
#include "core/tasks/task_flags.h"
#include "core/tasks/task_list.h"
#include "core/tasks/task_store_posix.h"
#include "environment.h"
#include "silent_listener.h"
#include "smtp_fixture.h"
#include "standin_fixture.h"
#include "subprocess.h"
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
    tasks::recordScheduleSaved(job, LocalMinute::at(2026, 12, 1, 0, 0));
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

// Starts missed while no tick ran are made up once, at the next tick, within their bounds.
struct CatchUp {
  const char* name;
  TaskTrigger trigger;
  std::uint32_t flags;
  std::optional<LocalMinute> saved;  // none: a file without the record, saved at its mtime
  std::vector<LocalMinute> ticks;
  std::vector<bool> starts;  // per tick
  bool late;                 // the last start was made up
};

std::ostream& operator<<(std::ostream& out, const CatchUp& c) { return out << c.name; }

TaskTrigger hourlyWindow(bool killAtEnd) {
  TaskTrigger trigger = bvtest::dailyTrigger(2026, 12, 8, 1, 0);
  trigger.minutesInterval = 60;
  trigger.minutesDuration = 61;  // starts at 01:00 and 02:00, the window closing at 02:01
  trigger.flags = killAtEnd ? tasks::kTriggerFlagKillAtDurationEnd : 0;
  return trigger;
}

TaskTrigger onceAt(int hour, int minute) {
  TaskTrigger once = bvtest::dailyTrigger(2026, 12, 8, hour, minute);
  once.type = tasks::TriggerType::Once;
  return once;
}

LocalMinute on(int day, int hour, int minute) { return LocalMinute::at(2026, 12, day, hour, minute); }
const LocalMinute kLongAgo = on(1, 0, 0);

class TickCatchUp : public TickTest, public ::testing::WithParamInterface<CatchUp> {};

TEST_P(TickCatchUp, StartsAsExpected) {
  const CatchUp& c = GetParam();
  JobFile job = addProbeTask("task", c.trigger, 0, 0, c.flags);
  if (!c.saved) {
    job.userData.clear();
    write("task", job);
    std::tm midnight{};  // 2026-12-08 00:00, local
    midnight.tm_year = 126;
    midnight.tm_mon = 11;
    midnight.tm_mday = 8;
    midnight.tm_isdst = -1;
    const std::time_t saved = ::mktime(&midnight);
    const timespec times[2] = {{saved, 0}, {saved, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (tasks_.storeFolder() / "task.job").c_str(), times, 0), 0);
  } else {
    tasks::recordScheduleSaved(job, *c.saved);
    write("task", job);
  }
  for (std::size_t i = 0; i < c.ticks.size(); ++i) {
    const TickResult result = tickAndWait(c.ticks[i]);
    EXPECT_EQ(result.started.size(), c.starts[i] ? 1u : 0u) << "tick at " << c.ticks[i].toString();
  }
  const bool anyStart = std::find(c.starts.begin(), c.starts.end(), true) != c.starts.end();
  if (anyStart && (c.flags & tasks::kTaskFlagDeleteWhenDone) == 0) {
    const std::size_t last = static_cast<std::size_t>(std::find(c.starts.rbegin(), c.starts.rend(), true) - c.starts.rbegin());
    // The last run is when it really started, not when it was due.
    EXPECT_EQ(LocalMinute::fromSystemTime(read("task").lastRunTime), c.ticks[c.ticks.size() - 1 - last]);
  }
  if (anyStart) {
    const auto started = std::find_if(log_.rbegin(), log_.rend(),
                                      [](const std::string& line) { return line.find("started for") != std::string::npos; });
    ASSERT_NE(started, log_.rend());
    EXPECT_EQ(started->find("(late)") != std::string::npos, c.late) << *started;
  }
  if ((c.flags & tasks::kTaskFlagDeleteWhenDone) != 0) {
    EXPECT_EQ(fs::exists(tasks_.storeFolder() / "task.job"), !anyStart);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Window, TickCatchUp,
    ::testing::Values(
        CatchUp{"OnTime", bvtest::dailyTrigger(2026, 12, 8, 2, 30), 0, kLongAgo, {on(8, 2, 29), on(8, 2, 30)}, {false, true}, false},
        CatchUp{"CronTwelveMinutesLate", bvtest::dailyTrigger(2026, 12, 8, 2, 30), 0, kLongAgo, {on(8, 2, 19), on(8, 2, 31)}, {false, true}, true},
        CatchUp{"SwitchedOnAnHourLater", bvtest::dailyTrigger(2026, 12, 8, 2, 30), 0, kLongAgo, {on(8, 1, 59), on(8, 3, 0)}, {false, true}, true},
        CatchUp{"AWeekMissedRunsOnce", bvtest::dailyTrigger(2026, 12, 1, 2, 0), 0, kLongAgo, {on(1, 1, 0), on(8, 10, 0), on(8, 10, 1)}, {false, true, false}, true},
        CatchUp{"FirstTickEver", bvtest::dailyTrigger(2026, 12, 8, 2, 0), 0, kLongAgo, {on(8, 2, 5)}, {true}, true},
        CatchUp{"SavedAfterItsStart", bvtest::dailyTrigger(2026, 12, 8, 2, 0), 0, on(8, 10, 0), {on(8, 10, 1), on(9, 2, 0)}, {false, true}, false},
        CatchUp{"OldFileSavedAtItsModificationTime", bvtest::dailyTrigger(2026, 12, 7, 2, 0), 0, std::nullopt, {on(8, 10, 0)}, {true}, true},
        CatchUp{"OldFileModifiedAfterItsStart", bvtest::dailyTrigger(2026, 12, 7, 23, 30), 0, std::nullopt, {on(8, 10, 0)}, {false}, false},
        CatchUp{"ClosedWindowIsNotStarted", hourlyWindow(true), 0, kLongAgo, {on(8, 0, 50), on(8, 2, 30)}, {false, false}, false},
        CatchUp{"OpenEndedWindowIsStarted", hourlyWindow(false), 0, kLongAgo, {on(8, 0, 50), on(8, 2, 30)}, {false, true}, true},
        CatchUp{"DeleteWhenDoneGoesAfterTheMadeUpRun", onceAt(2, 0), tasks::kTaskFlagDeleteWhenDone, kLongAgo, {on(8, 1, 0), on(8, 3, 0)}, {false, true}, true}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(TickTest, AStartPassedOverWhileTheRunWentOnIsNotMadeUp) {
  TaskTrigger everyMinute = bvtest::dailyTrigger(2026, 12, 8, 2, 0);
  everyMinute.minutesInterval = 1;
  everyMinute.minutesDuration = 60;
  addProbeTask("busy", everyMinute);
  const int held = ::open((tasks_.storeFolder() / "busy.job.lock").c_str(), O_RDWR | O_CREAT, 0600);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  EXPECT_TRUE(tickAndWait(at(2, 0)).started.empty());
  ::close(held);
  EXPECT_EQ(tickAndWait(at(2, 1)).started.size(), 1u);
  EXPECT_EQ(log_.back().find("(late)"), std::string::npos) << log_.back();  // 02:01's own start
}

// A run that goes on for hours holds nothing of the tick's: every later minute's tick still
// starts what falls due.
TEST_F(TickTest, ALongRunNeverHoldsBackAnotherTasksStarts) {
  const fs::path fifo = scratch_.path() / "hold";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  JobFile longRun = addProbeTask("long", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  longRun.parameters = reportOf("long").string() + " 0 fifo:" + fifo.string();
  write("long", longRun);
  TaskTrigger everyMinute = bvtest::dailyTrigger(2026, 12, 8, 2, 0);
  everyMinute.minutesInterval = 1;
  everyMinute.minutesDuration = 60;
  addProbeTask("minutely", everyMinute);

  std::vector<TickResult> ticks;
  for (int minute = 0; minute < 3; ++minute) {
    ticks.push_back(tick(at(2, minute)));
    EXPECT_EQ(ticks.back().outcome, TickOutcome::Ran) << "02:0" << minute;
    // Each minutely run ends before the next tick; the long one is still waiting on the pipe.
    for (std::size_t i = ticks.back().started.size(); i-- > 0;) {
      if (ticks.back().started[i] == "minutely") ::waitpid(ticks.back().watchers[i], nullptr, 0);
    }
  }
  EXPECT_EQ(fileText(reportOf("minutely").string() + ".runs"), "run\nrun\nrun\n");
  EXPECT_EQ(ticks[1].skipped, std::vector<std::string>{});
  { std::ofstream release(fifo); }  // the long run ends now
  for (const TickResult& result : ticks) waitForWatchers(result);
  EXPECT_EQ(fileText(reportOf("long").string() + ".runs"), "run\n");
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
  addProbeTask("windowed", hourlyWindow(true), 0, 30000);
  // The 02:00 start, a fraction of a second before its window closes at 02:01.
  TickOptions options;
  options.storeFolder = tasks_.storeFolder();
  options.now = at(2, 0);
  options.intoMinute = std::chrono::milliseconds(59700);
  options.terminationGrace = std::chrono::milliseconds(300);
  options.log = [this](std::string_view line) { log_.emplace_back(line); };
  waitForWatchers(runTick(options));
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
  EXPECT_EQ(tick(at(2, 0)).outcome, TickOutcome::Busy);
  ::close(held);
  EXPECT_EQ(tickAndWait(at(2, 0)).outcome, TickOutcome::Ran);
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

// --- The real program: event starts, a faked clock, trouble with the store --------------------------

// The whole output of a command run through the shell, as cron and the desktop run the lines the
// scheduler writes.
int shell(const std::string& command) {
  return bvtest::runProcess({"/bin/sh", "-c", command}, "").exitCode;
}

// Waits (bounded) for a file a watcher writes after the tick program itself has ended.
bool appears(const fs::path& file) {
  for (int attempt = 0; attempt < 400; ++attempt) {
    if (fs::exists(file)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

TEST_F(TickTest, StartUpAndLogonTasksRunFromTheLinesTheSchedulerWrites) {
  TaskTrigger startup{};
  startup.type = tasks::TriggerType::AtSystemStart;
  startup.beginYear = 2026, startup.beginMonth = 12, startup.beginDay = 1;
  TaskTrigger logon = startup;
  logon.type = tasks::TriggerType::AtLogon;
  addProbeTask("boot", startup);
  addProbeTask("logon", logon);
  addProbeTask("daily", bvtest::dailyTrigger(2026, 12, 1, 2, 0));

  const std::string block = tasks::tickBlock(TICK_PATH, tasks_.storeFolder());
  const std::size_t reboot = block.find("\n@reboot ");
  ASSERT_NE(reboot, std::string::npos) << block;
  const std::string atBoot = block.substr(reboot + 9, block.find('\n', reboot + 1) - reboot - 9);
  ASSERT_EQ(shell(atBoot), 0) << atBoot;
  EXPECT_TRUE(appears(reportOf("boot").string() + ".done"));
  EXPECT_FALSE(fs::exists(reportOf("logon")));
  EXPECT_FALSE(fs::exists(reportOf("daily")));  // an event tick makes up no timed start

  const std::string entry = tasks::logonEntry(TICK_PATH, tasks_.storeFolder());
  const std::size_t exec = entry.find("\nExec=");
  ASSERT_NE(exec, std::string::npos) << entry;
  const std::string atLogon = entry.substr(exec + 6, entry.find('\n', exec + 1) - exec - 6);
  ASSERT_EQ(shell(atLogon), 0) << atLogon;
  EXPECT_TRUE(appears(reportOf("logon").string() + ".done"));
  EXPECT_EQ(fileText(reportOf("boot").string() + ".runs"), "run\n");
  EXPECT_FALSE(fs::exists(reportOf("daily")));
  EXPECT_FALSE(fs::exists(tasks_.storeFolder() / ".tick.state"));  // the minute's bookkeeping untouched
}

// Local time jumps: the real program with a faked clock in a zone with daylight saving time.
TEST_F(TickTest, ADaylightSavingJumpNeitherLosesNorRepeatsAStart) {
  const bvtest::ScopedEnvironment zone("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
  const auto tickAt = [&](std::time_t instant) {
    return bvtest::runProcess({TICK_PATH, "--store", tasks_.storeFolder().string(), "--at", std::to_string(instant)},
                              "");
  };
  JobFile spring = addProbeTask("spring", bvtest::dailyTrigger(2026, 3, 1, 2, 30));
  tasks::recordScheduleSaved(spring, LocalMinute::at(2026, 3, 29, 0, 0));
  write("spring", spring);
  // 01:59 CET, then one real minute later 03:00 CEST: 02:30 never happened that night.
  EXPECT_EQ(tickAt(1774745940).output, "");
  const auto jumped = tickAt(1774746000);
  EXPECT_EQ(jumped.output, "開始: spring\n");
  EXPECT_TRUE(appears(reportOf("spring").string() + ".done"));
  fs::remove(tasks_.storeFolder() / "spring.job");

  JobFile autumn = addProbeTask("autumn", bvtest::dailyTrigger(2026, 10, 1, 2, 30));
  tasks::recordScheduleSaved(autumn, LocalMinute::at(2026, 10, 25, 0, 0));
  write("autumn", autumn);
  // Every real minute from 02:28 CEST to 02:32 CET: 02:30 comes twice, the task runs once.
  for (std::time_t instant = 1792888080; instant <= 1792891920; instant += 60) tickAt(instant);
  EXPECT_TRUE(appears(reportOf("autumn").string() + ".done"));
  EXPECT_EQ(fileText(reportOf("autumn").string() + ".runs"), "run\n");
}

TEST_F(TickTest, AStoreThatCannotBeSeenChangesNothingAndIsReported) {
  FakeCrontab crontab;
  crontab.text = *tasks::withTickBlock("0 1 * * * /mine\n", "/x/brackenvale-tick", tasks_.storeFolder());
  const std::string before = crontab.text;
  addProbeTask("daily", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  const fs::path away = scratch_.path() / "away";
  fs::rename(tasks_.storeFolder(), away);  // the home folder not mounted yet

  std::vector<std::string> trouble;
  TickOptions options;
  options.storeFolder = tasks_.storeFolder();
  options.now = at(2, 0);
  options.crontab = &crontab;
  options.trouble = [&](std::string_view text) { trouble.emplace_back(text); };
  EXPECT_EQ(runTick(options).outcome, TickOutcome::StoreMissing);
  EXPECT_EQ(crontab.text, before);
  ASSERT_EQ(trouble.size(), 1u);
  EXPECT_EQ(trouble[0], "タスクストア（" + tasks_.storeFolder().string() + "）が見つからないか読めないため、何も変更していません。");

  fs::rename(away, tasks_.storeFolder());
  options.now = at(2, 1);
  const TickResult back = runTick(options);
  waitForWatchers(back);
  EXPECT_EQ(back.started, std::vector<std::string>{"daily"});  // made up a minute late
  EXPECT_EQ(crontab.text, before);
}

// Run as root over a folder others control, the tick touches nothing; in its own store it never
// writes through a link and no file name can forge a line of its log.
TEST_F(TickTest, NoOneCanTurnTheTickAgainstItsOwner) {
  if (::geteuid() != 0) GTEST_SKIP() << "the tick is turned against root only by another user";
  const fs::path hostile = scratch_.path() / "hostile";
  fs::create_directories(hostile);
  const fs::path target = scratch_.path() / "root-only";
  std::ofstream(target) << "root's own\n";
  fs::create_symlink(target, hostile / "tick.log");
  fs::create_symlink(scratch_.path() / "created-through-link", hostile / ".tick.lock");
  ASSERT_EQ(::chown(hostile.c_str(), 65534, 65534), 0);  // nobody's folder
  std::vector<std::string> trouble;
  TickOptions options;
  options.storeFolder = hostile;
  options.now = at(2, 0);
  options.trouble = [&](std::string_view text) { trouble.emplace_back(text); };
  EXPECT_EQ(runTick(options).outcome, TickOutcome::StoreUnsafe);
  ASSERT_EQ(trouble.size(), 1u);
  EXPECT_NE(trouble[0].find("所有者が実行ユーザーと異なるか"), std::string::npos);
  EXPECT_EQ(fileText(target), "root's own\n");
  EXPECT_FALSE(fs::exists(scratch_.path() / "created-through-link"));
  ASSERT_EQ(::chown(hostile.c_str(), 0, 0), 0);
  fs::permissions(hostile, fs::perms::others_write, fs::perm_options::add);  // root's, but open to all
  EXPECT_EQ(runTick(options).outcome, TickOutcome::StoreUnsafe);

  // Its own store with links where its files go, and a task named to forge a log line.
  addProbeTask("daily", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  const fs::path store = tasks_.storeFolder();
  for (const char* name : {"tick.log", ".tick.lock", ".tick.state", "daily.log", "daily.job.lock"}) {
    fs::create_symlink(scratch_.path() / (std::string("through-") + name), store / name);
  }
  JobFile forged = addProbeTask("forged", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  fs::rename(store / "forged.job", store / "x\nINJECTED LINE\ny.job");
  options.storeFolder = store;
  options.log = nullptr;
  const TickResult result = runTick(options);
  waitForWatchers(result);
  EXPECT_EQ(result.outcome, TickOutcome::Busy);  // its lock is a link: it does not run at all
  for (const char* name : {"tick.log", ".tick.lock", ".tick.state", "daily.log", "daily.job.lock"}) {
    EXPECT_FALSE(fs::exists(scratch_.path() / (std::string("through-") + name))) << name;
  }
  fs::remove(store / ".tick.lock");
  fs::remove(store / "tick.log");
  waitForWatchers(runTick(options));
  const std::string log = fileText(store / "tick.log");
  EXPECT_NE(log.find("x\\x0AINJECTED LINE\\x0Ay: skipped"), std::string::npos) << log;
  EXPECT_EQ(log.find("\nINJECTED LINE"), std::string::npos) << log;
  EXPECT_FALSE(fs::exists(scratch_.path() / "through-daily.log"));  // its run lock is a link: not run
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
  bv::maintenance::BackupRequest backup;
  backup.login.useSqlAuth = true;
  backup.login.userName = "sa";
  backup.login.password = "Hidden-pass-word";
  backup.login.server = silent.serverText();
  backup.database = "Sample";
  backup.backupFile = "/tmp/x_%date%.bak";
  JobFile job;
  job.uuid = tasks::randomJobUuid();
  job.applicationName = BRACKENRUN_PATH;
  job.parameters = bv::scheduling::encodeTaskParameters(backup);
  job.triggers = {bvtest::dailyTrigger(2026, 12, 8, 2, 0)};
  tasks::recordScheduleSaved(job, LocalMinute::at(2026, 12, 1, 0, 0));
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

// The report goes after the run lock is released: a mail that waits out its time-out (up to
// 600 s) must not keep the task's next start from being made.
TEST_F(TickTest, TheReportIsMadeOnceTheRunLockIsReleased) {
  addProbeTask("frequent", bvtest::dailyTrigger(2026, 12, 8, 2, 0));
  const fs::path seen = scratch_.path() / "lock-seen";
  TickOptions options;
  options.storeFolder = tasks_.storeFolder();
  options.now = at(2, 0);
  options.log = [](std::string_view) {};
  options.afterRun = [&](const FinishedRun& run) {
    const sys::UniqueFd lock = store().openFile(run.taskName + std::string(tasks::kRunLockSuffix), O_RDWR);
    const bool free = lock && ::flock(lock.get(), LOCK_EX | LOCK_NB) == 0;
    std::ofstream(seen) << (free ? "free" : "held");
  };
  waitForWatchers(runTick(options));
  EXPECT_EQ(fileText(seen), "free");
}

// --- End to end: a backup of the stand-in's database ------------------------------------------------

class TickBackup : public TickTest {
 protected:
  // A task saved through the wrapper whose program is the built runner.
  void saveBackupTask(const std::string& name, const std::string& file, const std::string& password = {}) {
    tasks_.setNow(LocalMinute::at(2026, 12, 7, 12, 0));  // saved the day before its first start
    bv::maintenance::BackupRequest backup;
    backup.login.useSqlAuth = true;
    backup.login.userName = "sa";
    backup.login.password = password.empty() ? standin_.saPassword() : password;
    backup.login.server = standin_.serverText();
    backup.database = standin_.sampleDatabase();
    backup.backupFile = file;
    bvtest::ScriptedSchedulePage page;
    page.edit = [](std::vector<TaskTrigger>& triggers) {
      triggers = {bvtest::dailyTrigger(2026, 12, 8, 2, 0)};
    };
    tasks::TTask task(name, true);
    task.SetApplicationName(BRACKENRUN_PATH);
    task.SetParameters(bv::scheduling::encodeTaskParameters(backup));
    task.SetEnabled(true);
    task.Save();
    task.ShowPropertyPages(page.owner(), "", tasks::kTaskPageSchedule);
    task.Save();
  }
  // The minute's tick at 02:00 on that day of December 2026, mailing with those settings; its
  // watchers waited for.
  void tickOn(int day, const fs::path& settingsFile) {
    TickOptions options;
    options.storeFolder = tasks_.storeFolder();
    options.now = LocalMinute::at(2026, 12, day, 2, 0);
    options.mailSettings = settingsFile;
    waitForWatchers(runTick(options));
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

// --- Mail after a run ----------------------------------------------------------------------------------

// The real tick runs the real runner against the stand-in and mails through a real SMTP server
// (STARTTLS, AUTH): one mail for a failure, none while it goes on failing, one when it recovers,
// one per run under 毎回; a mail server that is down changes nothing the run recorded.
TEST_F(TickBackup, AFailureIsMailedOnceAndItsRecoveryToo) {
  bvtest::SmtpServerFixture smtp(bvtest::SmtpMode::StartTls);
  const fs::path settingsFile = scratch_.path() / "mail.conf";
  bv::mail::MailSettings settings = smtp.settings();
  ASSERT_TRUE(bv::mail::saveMailSettings(settingsFile, settings).ok);
  const std::string wrongPassword = "Wr0ng-sql-pass";
  const std::string file = (standin_.scratchDir() / "mailed_%date%.bak").string();
  saveBackupTask("Brackenvale_mailed", file, wrongPassword);
  const auto tickOn = [&](int day) { TickBackup::tickOn(day, settingsFile); };

  tickOn(8);
  std::vector<bvtest::DeliveredMail> mails = smtp.deliveries();
  ASSERT_EQ(mails.size(), 1u) << smtp.serverLog();
  EXPECT_EQ(mails[0].message.subject(), "[Brackenvale] バックアップ失敗: Sample (" + standin_.serverText() + ")");
  const std::string body = mails[0].message.body();
  EXPECT_NE(body.find("結果: 失敗（サーバにログインできませんでした）"), std::string::npos) << body;
  EXPECT_NE(body.find("タスク: Brackenvale_mailed"), std::string::npos) << body;
  EXPECT_NE(body.find("ファイル: " + file), std::string::npos) << body;
  EXPECT_NE(body.find("Login failed for user 'sa'."), std::string::npos) << body;  // the server's words
  for (const std::string& secret : {wrongPassword, bvtest::SmtpServerFixture::password()}) {
    EXPECT_EQ(mails[0].message.raw().find(secret), std::string::npos);
    EXPECT_EQ(body.find(secret), std::string::npos);
  }

  tickOn(9);  // failing again: no mail
  EXPECT_EQ(smtp.deliveries().size(), 1u);

  saveBackupTask("Brackenvale_mailed", file);  // the right password
  tickOn(10);
  mails = smtp.deliveries();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[1].message.subject(), "[Brackenvale] バックアップ復旧: Sample (" + standin_.serverText() + ")");

  settings.sendWhen = bv::mail::SendWhen::EveryRun;
  ASSERT_TRUE(bv::mail::saveMailSettings(settingsFile, settings).ok);
  tickOn(11);
  mails = smtp.deliveries();
  ASSERT_EQ(mails.size(), 3u);
  EXPECT_EQ(mails[2].message.subject(), "[Brackenvale] バックアップ成功: Sample (" + standin_.serverText() + ")");

  // The mail server down: the run's outcome stands and the task's log says why no mail came.
  const bvtest::SmtpServerFixture down(bvtest::SmtpMode::Down);
  bv::mail::MailSettings unreachable = down.settings(std::chrono::seconds(2));
  unreachable.sendWhen = bv::mail::SendWhen::EveryRun;
  ASSERT_TRUE(bv::mail::saveMailSettings(settingsFile, unreachable).ok);
  saveBackupTask("Brackenvale_mailed", file, wrongPassword);
  tickOn(12);
  tasks::TTask task("Brackenvale_mailed", false);
  std::uint32_t exitCode = 0;
  task.Item().GetExitCode(exitCode);
  EXPECT_EQ(exitCode, 3u);
  const std::string log = fileText(tasks_.storeFolder() / "Brackenvale_mailed.log");
  EXPECT_NE(log.find("メール通知"), std::string::npos) << log;
  EXPECT_EQ(log.find(bvtest::SmtpServerFixture::password()), std::string::npos);
}

// Under 失敗したときのみ a failure mail that could not be sent is not lost: the task list marks
// the task, and the next run's end tries again with one mail naming the first unreported failure
// and this run. Once it has gone through, a failure that goes on sends nothing more, and the
// recovery is mailed as before.
TEST_F(TickBackup, AFailureMailThatCouldNotBeSentGoesWithTheNextFailure) {
  bvtest::SmtpServerOptions serverOptions{bvtest::SmtpMode::StartTls, true, {}};
  auto smtp = std::make_unique<bvtest::SmtpServerFixture>(serverOptions);
  const fs::path settingsFile = scratch_.path() / "mail.conf";
  ASSERT_TRUE(bv::mail::saveMailSettings(settingsFile, smtp->settings(std::chrono::seconds(5))).ok);
  serverOptions.port = smtp->port();
  smtp.reset();  // the mail server is down for the first failure
  const std::string wrongPassword = "Wr0ng-sql-pass";
  const std::string file = (standin_.scratchDir() / "lost_%date%.bak").string();
  saveBackupTask("Brackenvale_lost", file, wrongPassword);
  const auto tickOn = [&](int day) { TickBackup::tickOn(day, settingsFile); };
  const auto marked = [] {
    const std::vector<tasks::TTaskRow> rows = tasks::listTasks(true);
    return rows.size() == 1 && rows[0].noticeUnsent();
  };

  tickOn(8);
  EXPECT_TRUE(marked());
  smtp = std::make_unique<bvtest::SmtpServerFixture>(serverOptions);  // up again, on the same port
  tickOn(9);
  std::vector<bvtest::DeliveredMail> mails = smtp->deliveries();
  ASSERT_EQ(mails.size(), 1u) << fileText(tasks_.storeFolder() / "Brackenvale_lost.log");
  EXPECT_EQ(mails[0].message.subject(), "[Brackenvale] バックアップ失敗: Sample (" + standin_.serverText() + ")");
  const std::string body = mails[0].message.body();
  EXPECT_NE(body.find("通知できなかった失敗: 2026/12/08 02:00:00 失敗（サーバにログインできませんでした）"),
            std::string::npos)
      << body;
  EXPECT_NE(body.find("実行日時: 2026/12/09 02:00:00"), std::string::npos) << body;
  EXPECT_FALSE(marked());

  tickOn(10);  // failing on: nothing more
  EXPECT_EQ(smtp->deliveries().size(), 1u);
  saveBackupTask("Brackenvale_lost", file);  // the right password
  tickOn(11);
  mails = smtp->deliveries();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[1].message.subject(), "[Brackenvale] バックアップ復旧: Sample (" + standin_.serverText() + ")");
  EXPECT_EQ(mails[1].message.body().find("通知できなかった失敗"), std::string::npos);
}

}  // namespace
}  // namespace bv::tick
