#include "standin/server/requests.h"

namespace standin::server {

void Requests::begin(int sessionId, const sql::DateTime& start, int databaseId) {
  std::lock_guard lock(mutex_);
  RequestInfo r;
  r.sessionId = sessionId;
  r.startTime = start;
  r.started = std::chrono::steady_clock::now();
  r.databaseId = databaseId;
  running_[sessionId] = r;
}

void Requests::end(int sessionId) {
  std::lock_guard lock(mutex_);
  running_.erase(sessionId);
}

void Requests::setCommand(int sessionId, std::string command, std::string status, std::string waitType) {
  std::lock_guard lock(mutex_);
  const auto it = running_.find(sessionId);
  if (it == running_.end()) return;
  it->second.command = std::move(command);
  it->second.status = std::move(status);
  it->second.waitType = std::move(waitType);
  it->second.percentComplete = 0;
  it->second.estimatedCompletionMs = 0;
}

void Requests::setDatabase(int sessionId, int databaseId) {
  std::lock_guard lock(mutex_);
  if (const auto it = running_.find(sessionId); it != running_.end()) it->second.databaseId = databaseId;
}

void Requests::setTransactions(int sessionId, int open, std::uint64_t transactionId) {
  std::lock_guard lock(mutex_);
  if (const auto it = running_.find(sessionId); it != running_.end()) {
    it->second.openTransactions = open;
    it->second.transactionId = transactionId;
  }
}

void Requests::setProgress(int sessionId, double percent) {
  std::lock_guard lock(mutex_);
  const auto it = running_.find(sessionId);
  if (it == running_.end()) return;
  auto& r = it->second;
  const auto now = std::chrono::steady_clock::now();
  if (r.percentComplete <= 0) r.progressStarted = now;
  r.percentComplete = percent;
  const double elapsed = std::chrono::duration<double, std::milli>(now - r.progressStarted).count();
  r.estimatedCompletionMs =
      percent > 0 ? static_cast<std::int64_t>(elapsed * (100.0 - percent) / percent) : 0;
}

std::vector<RequestInfo> Requests::snapshot() const {
  std::lock_guard lock(mutex_);
  std::vector<RequestInfo> out;
  for (const auto& [id, r] : running_) out.push_back(r);
  return out;
}

}  // namespace standin::server
