// The task executor on POSIX: cron starts the tick program once a minute; each tick looks at the
// user's task store and starts the tasks due since the previous tick, through the same next-run
// engine that answers a task's next run. A started task runs in its own session with the task's
// parameter string on its standard input when the program is Brackenrun (never on a command line:
// another user reads every process's command line); a watcher process waits for it, ends it when
// it outlives its maximum run time or its trigger's window, and records its exit code in the
// task's file. Qt-free.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/tasks/crontab_posix.h"
#include "core/tasks/system_time.h"

namespace bv::tick {

struct TickOptions {
  // The store to look at; the user's own (tasks::defaultTaskStoreFolder()) when empty.
  std::filesystem::path storeFolder;
  // The minute this tick runs for.
  tasks::LocalMinute now;
  // Time a program is given to end after SIGTERM before it is killed.
  std::chrono::milliseconds terminationGrace{10000};
  // The user's crontab, whose tick entry is removed when the store holds no task; none leaves
  // the crontab alone.
  tasks::CrontabCommand* crontab = nullptr;
  // The tick's own log lines (never a parameter string); appended to "tick.log" in the store
  // when empty.
  std::function<void(std::string_view)> log;
};

struct TickResult {
  bool ran = false;                  // false: another tick still holds the store
  std::vector<std::string> started;  // the tasks started, in the store's order
  std::vector<std::string> skipped;  // due but still running from an earlier start
  std::vector<pid_t> watchers;       // one per started task; each ends once its run is recorded
};

// One tick: under the store's tick lock, the window since the previous tick (the last minute
// only on the first tick, after a gap or when the clock went back), each task due in it started
// once, the tick's time written. Starts at or before a task's recorded last run are not made
// again.
TickResult runTick(const TickOptions& options);

// The name of the runner, which gets its parameter string on standard input.
inline constexpr std::string_view kRunnerProgramName = "Brackenrun";

}  // namespace bv::tick
