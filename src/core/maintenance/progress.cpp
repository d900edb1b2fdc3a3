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

namespace {

// The step a statement is, in words, where it is not the operation's own statement.
std::string stepOf(const std::string& command) {
  // sys.dm_exec_requests.command holds sixteen characters: "RESTORE VERIFYON".
  if (command.rfind("RESTORE VERIFYON", 0) == 0) return "ベリファイしています...";
  return {};
}

}  // namespace

void PercentWatcher::watch(db::ConnectionSettings settings, long sessionId) {
  using Clock = std::chrono::steady_clock;
  try {
    db::Connection connection(settings);
    settings.forgetPassword();
    connection.open();
    connection.forgetPassword();
    // The request's start_time is the batch's: a statement of it (the verify after the backup)
    // is known by its command, and timed from the first reading that saw it.
    const std::string question = "SELECT command, start_time, percent_complete FROM sys.dm_exec_requests "
                                 "WHERE session_id = " + std::to_string(sessionId);
    Clock::time_point lastLook = Clock::now();
    Clock::time_point statementBegun = lastLook;
    std::string statementKey;
    double lastPercent = 0;
    int statement = 0;
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        if (wake_.wait_for(lock, interval_, [this] { return stop_; })) return;
      }
      db::Query query(connection);
      query.addLine(question);
      query.setCommandTimeout(10);
      query.open();
      const Clock::time_point now = Clock::now();
      if (query.eof()) {
        lastLook = now;
        continue;
      }
      const std::string command = query.fieldAsText("command");
      const std::string key = command + '\t' + query.fieldAsText("start_time");
      const std::string percentText = query.fieldAsText("percent_complete");
      const double percent = percentText.empty() ? 0 : std::stod(percentText);
      if (key != statementKey || percent < lastPercent) {
        // It began after the last reading that did not see it: half-way is the best guess.
        statementKey = key;
        statementBegun = lastLook + (now - lastLook) / 2;
        ++statement;
      }
      lastLook = now;
      lastPercent = percent;
      if (percent <= 0) continue;
      const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - statementBegun);
      sink_(Progress{percent, timeLeft(percent, elapsed), statement, stepOf(command)});
    }
  } catch (const std::exception&) {
    // The view is not there, or this login may not read it: the busy bar stays.
  }
}

}  // namespace bv::maintenance
