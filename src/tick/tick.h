// The task executor on POSIX: cron starts the tick program once a minute; each tick looks at the
// user's task store and starts the tasks that fell due since they could last have run, through
// the same next-run engine that answers a task's next run. A start missed while no tick ran (the
// computer off or asleep, cron late, the clock jumped forward) is made up at the next tick, once
// per task, but never one from before the task's schedule was saved and never one whose
// repetition window the task would be ended at has closed already. The system's start (an
// @reboot line beside the minute's line) and the user's logon (an XDG autostart entry) run the
// tick for the tasks of those events.
//
// A started task runs in its own session with the task's parameter string on its standard input
// when the program is Brackenrun (never on a command line: another user reads every process's
// command line); a watcher process waits for it, ends it when it outlives its maximum run time or
// its trigger's window, and records its exit code in the task's file. The watcher holds nothing
// of the tick's, so a task that runs for hours never holds back the next minute's tick.
//
// The tick may run as root over the store: it acts only on a store folder that belongs to the
// user it runs as and that nobody else can write, and opens every file in it relative to the
// folder and without following a link. Qt-free.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/tasks/crontab_posix.h"
#include "core/tasks/job_file.h"
#include "core/tasks/run_history.h"
#include "core/tasks/system_time.h"

namespace bv::tick {

// What started this tick: cron's minute, the system's start, or the user's logon. An event tick
// starts only the tasks of its event and leaves the minute's bookkeeping alone.
enum class TickKind { Minute, SystemStart, Logon };

// A run that ended, as the watcher recorded it: for whoever must tell someone (the mail).
struct FinishedRun {
  std::string taskName;
  tasks::JobFile job;                          // the task as it was at the run's start
  tasks::RunRecord run;                        // what was recorded
  std::optional<tasks::RunRecord> previous;    // the task's run before it, if any
  std::string output;                          // what the program wrote during this run
  bool taskGone = false;                       // deleted during the run, or when done
};

struct TickOptions {
  TickKind kind = TickKind::Minute;
  // The store to look at; the user's own (tasks::defaultTaskStoreFolder()) when empty.
  std::filesystem::path storeFolder;
  // The minute this tick runs for, and how far the real clock is into it (a deadline at the end
  // of a minute counts from there).
  tasks::LocalMinute now;
  std::chrono::milliseconds intoMinute{0};
  // Time a program is given to end after SIGTERM before it is killed.
  std::chrono::milliseconds terminationGrace{10000};
  // How long a tick waits for another one that holds the store (event ticks: both the start's
  // and the minute's tick can come in the boot minute); 0 ends at once.
  std::chrono::milliseconds lockWait{0};
  // How long a tick waits for a store folder that is not there yet (at boot the home folder may
  // be mounted later), looking again after each interval; 0 looks once.
  std::chrono::milliseconds storeWait{0};
  std::chrono::milliseconds storeRetryInterval{5000};
  // The user's crontab, whose tick entry is removed when the store holds no task; none leaves
  // the crontab alone.
  tasks::CrontabCommand* crontab = nullptr;
  // The tick's own log lines (never a parameter string); appended to "tick.log" in the store
  // when empty.
  std::function<void(std::string_view)> log;
  // Called in the watcher once a run is recorded and its run lock released (never for a run
  // that was not started because one was still going); the mail report when empty.
  std::function<void(const FinishedRun&)> afterRun;
  // The mail settings the report follows: none for the running account's own (the store
  // owner's, whoever the task ran as).
  std::optional<std::filesystem::path> mailSettings;
  // Trouble that keeps the tick from looking at the store at all, which tick.log (inside the
  // store) cannot take: the system log (facility user) and standard error when empty.
  std::function<void(std::string_view)> trouble;
};

enum class TickOutcome {
  Ran,           // the store was looked at
  Busy,          // another tick held the store for longer than this one waits
  StoreMissing,  // no store folder (or it cannot be walked): nothing changed, the crontab kept
  StoreUnsafe,   // the folder is a link, another user's, or writable by others: refused
};

struct TickResult {
  TickOutcome outcome = TickOutcome::Busy;
  std::vector<std::string> started;  // the tasks started, in the store's order
  std::vector<std::string> skipped;  // due but still running from an earlier start
  std::vector<pid_t> watchers;       // one per started task; each ends once its run is recorded
};

TickResult runTick(const TickOptions& options);

// The texts of the trouble reports (%1: the store's folder).
inline constexpr std::string_view kStoreUnsafeText =
    "タスクストア（%1）の所有者が実行ユーザーと異なるか、他のユーザーが書き込めるため、処理を中止しました。";
inline constexpr std::string_view kStoreMissingText =
    "タスクストア（%1）が見つからないか読めないため、何も変更していません。";

// The name of the runner, which gets its parameter string on standard input.
inline constexpr std::string_view kRunnerProgramName = "Brackenrun";

}  // namespace bv::tick
