// The requests the server's sessions are running, as sys.dm_exec_requests lists them: which
// session, since when, what command it is on, and how far a backup, restore or verify has come.
// Sessions register their requests; the statements that copy report their progress.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "standin/sql/value.h"

namespace standin::server {

struct RequestInfo {
  int sessionId = 0;
  sql::DateTime startTime;  // the server's clock when the request arrived
  std::chrono::steady_clock::time_point started;
  std::string command;             // "SELECT", "BACKUP DATABASE", "RESTORE VERIFYON", ...
  std::string status = "running";  // running, suspended (waiting)
  std::string waitType;            // while suspended
  int databaseId = 0;
  int openTransactions = 0;
  std::uint64_t transactionId = 0;
  double percentComplete = 0;
  std::int64_t estimatedCompletionMs = 0;
  std::chrono::steady_clock::time_point progressStarted;
};

class Requests {
 public:
  void begin(int sessionId, const sql::DateTime& start, int databaseId);
  void end(int sessionId);
  // The statement the request is on now (what a statement of its kind is called).
  void setCommand(int sessionId, std::string command, std::string status = "running",
                  std::string waitType = {});
  void setDatabase(int sessionId, int databaseId);
  void setTransactions(int sessionId, int open, std::uint64_t transactionId);
  // How much of its work the statement has done (0 to 100); the time left is estimated from
  // how long it took so far.
  void setProgress(int sessionId, double percent);
  std::vector<RequestInfo> snapshot() const;

 private:
  mutable std::mutex mutex_;
  std::map<int, RequestInfo> running_;
};

}  // namespace standin::server
