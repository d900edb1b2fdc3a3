// The server's own percentage of a running backup, verify or restore: while the work runs on its
// connection, a second connection (to master, never to the database, or a restore would be
// refused with 3101) reads sys.dm_exec_requests.percent_complete of the working session once a
// second, with the statement's command, so that each statement of the batch (a backup, then its
// verify) is timed from its own start and named. Where the view answers nothing (SQL Server 2000, or a login without VIEW SERVER STATE,
// which sees only its own session), nothing is reported and the caller keeps its busy bar.
// Qt-free.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "core/db/connection_settings.h"

namespace bv::maintenance {

// One statement's percentage (0 to 100) and the time left estimated from it and the time since
// that statement began; which statement of the batch it is (counted from 1, so a caller sees a new
// one start at its own 0 %), and its step in words where it is not the operation itself
// ("ベリファイしています..."; empty for the operation's own statement).
struct Progress {
  double percent = 0;
  std::optional<std::chrono::seconds> left;
  int statement = 1;
  std::string step;
};
using PercentSink = std::function<void(const Progress&)>;

// Time left from the percentage and the time elapsed; nothing until the percentage says anything.
std::optional<std::chrono::seconds> timeLeft(double percent, std::chrono::seconds elapsed);

// "残り 1:02:03" for the progress window and the runner.
std::string timeLeftText(std::chrono::seconds left);

class PercentWatcher {
 public:
  // Starts watching the session on its own thread; `settings` reach the server (the watcher uses
  // master and wipes its copy of the password once connected).
  PercentWatcher(db::ConnectionSettings settings, long sessionId, PercentSink sink,
                 std::chrono::milliseconds interval = std::chrono::seconds(1));
  // Stops and waits for the thread.
  ~PercentWatcher();
  PercentWatcher(const PercentWatcher&) = delete;
  PercentWatcher& operator=(const PercentWatcher&) = delete;

 private:
  void watch(db::ConnectionSettings settings, long sessionId);

  PercentSink sink_;
  std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace bv::maintenance
