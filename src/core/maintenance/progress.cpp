#include "core/maintenance/progress.h"

#include <cstdio>

#include "core/db/database.h"

namespace bv::maintenance {

std::optional<std::chrono::seconds> timeLeft(double percent, std::chrono::seconds elapsed) {
  if (percent <= 0 || percent > 100) return std::nullopt;
  const double total = static_cast<double>(elapsed.count()) * 100.0 / percent;
  return std::chrono::seconds(static_cast<long long>(total - static_cast<double>(elapsed.count()) + 0.5));
}

std::string timeLeftText(std::chrono::seconds left) {
  const long long seconds = left.count();
  char text[48];
  std::snprintf(text, sizeof text, "残り %lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

PercentWatcher::PercentWatcher(db::ConnectionSettings settings, long sessionId, PercentSink sink,
                               std::chrono::milliseconds interval)
    : sink_(std::move(sink)), interval_(interval) {
  settings.set("Database", "master");
  thread_ = std::thread([this, moved = std::move(settings), sessionId]() mutable { watch(std::move(moved), sessionId); });
}

PercentWatcher::~PercentWatcher() {
  {
    const std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void PercentWatcher::watch(db::ConnectionSettings settings, long sessionId) {
  const auto begun = std::chrono::steady_clock::now();
  try {
    db::Connection connection(settings);
    settings.forgetPassword();
    connection.open();
    connection.forgetPassword();
    const std::string question = "SELECT percent_complete FROM sys.dm_exec_requests WHERE session_id = " +
                                 std::to_string(sessionId) + " AND percent_complete > 0";
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, interval_, [this] { return stop_; })) return;
      }
      db::Query query(connection);
      query.addLine(question);
      query.setCommandTimeout(10);
      query.open();
      if (query.eof()) continue;
      const double percent = std::stod(query.fieldAsText("percent_complete"));
      const auto elapsed =
          std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begun);
      sink_(Progress{percent, timeLeft(percent, elapsed)});
    }
  } catch (const std::exception&) {
    // The view is not there, or this login may not read it: the busy bar stays.
  }
}

}  // namespace bv::maintenance
