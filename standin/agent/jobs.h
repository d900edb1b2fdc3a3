// The stand-in's SQL Server Agent: running a job (its steps, its history, its outcome, its
// removal when delete_level asks for it), the schedule upkeep, and the thread that runs due
// jobs once a second.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "standin/server/context.h"

namespace standin::agent {

// What started a run.
struct JobTrigger {
  std::string invokedBy;  // "User sa", "Schedule 3 (nightly_schedule)"
  std::string user;       // the login that asked for it; empty for a schedule
  int startStep = 0;      // 0: the job's start step
};

// Runs a job now on the calling thread; its history is written when this returns. Returns
// whether the job succeeded; false also when the job no longer exists. Throws sql::SqlError
// 22022 when the job is running already.
bool runJob(server::Server& server, const std::string& jobId, const JobTrigger& trigger);

// Runs every job whose next run has come at the server's clock, and moves each run schedule's
// next run on. What the Agent's thread does once a second.
void runDueJobs(server::Server& server);

// Sets every schedule's next run from the clock's time now (runs missed while the Agent was
// not running are skipped), as the Agent does when it starts.
void planSchedules(server::Server& server);

// The Agent's thread: plans the schedules, then runs due jobs once a second until stopped.
class AgentThread {
 public:
  explicit AgentThread(std::shared_ptr<server::Server> server);
  ~AgentThread();  // stops and joins
  AgentThread(const AgentThread&) = delete;
  AgentThread& operator=(const AgentThread&) = delete;
  void wake();  // look for due jobs now rather than at the next second

 private:
  void loop();
  std::shared_ptr<server::Server> server_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stop_ = false;
  bool woken_ = false;
  std::thread thread_;
};

}  // namespace standin::agent
