// The Agent's clockwork: next runs planned from the server's clock, due jobs run, and the
// thread that does it once a second.
#include "standin/agent/jobs.h"
#include "standin/agent/msdb.h"

namespace standin::agent {

using server::Server;

namespace {

struct Msdb {
  storage::Database conn;
  MsdbTables tables;
};

std::optional<Msdb> openMsdb(const Server& server) {
  const auto entry = server.catalog.find("msdb");
  if (!entry) return std::nullopt;
  auto conn = storage::Database::open(entry->file, false);
  sqlite3* raw = conn.get();
  return Msdb{std::move(conn), MsdbTables{raw, "", server.version.year}};
}

}  // namespace

void planSchedules(Server& server) {
  auto m = openMsdb(server);
  if (!m) return;
  const Moment now = Moment::of(server.now());
  // Read first and write only the next runs that change: a client's transaction that has read
  // msdb cannot wait for a writer when it comes to write itself (SQLite refuses it at once), so
  // the Agent's start takes no write lock it does not need.
  std::vector<std::pair<JobSchedule, std::optional<Moment>>> changes;
  for (auto& s : jobSchedules(m->tables)) {
    auto next = s.enabled ? nextRun(s.schedule, now) : std::nullopt;
    const int date = next ? static_cast<int>(next->packedDate()) : 0;
    const int time = next ? static_cast<int>(next->packedTime()) : 0;
    if (date != s.nextRunDate || time != s.nextRunTime) changes.emplace_back(std::move(s), next);
  }
  if (changes.empty()) return;
  storage::execute(m->tables.db, "BEGIN IMMEDIATE");
  try {
    for (const auto& [s, next] : changes) setNextRun(m->tables, s, next);
    storage::execute(m->tables.db, "COMMIT");
  } catch (...) {
    sqlite3_exec(m->tables.db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void runDueJobs(Server& server) {
  auto m = openMsdb(server);
  if (!m) return;
  const MsdbTables& t = m->tables;
  const Moment now = Moment::of(server.now());
  struct Due {
    JobSchedule schedule;
    Moment at;
  };
  std::vector<Due> due;
  for (auto& s : jobSchedules(t)) {
    if (s.nextRunDate == 0) continue;
    const auto at = Moment::fromPacked(s.nextRunDate, s.nextRunTime);
    if (!at || *at > now) continue;
    due.push_back(Due{std::move(s), *at});
  }
  for (const auto& d : due) {
    const auto& s = d.schedule;
    // The next run is set first, so that a long run is not started a second time.
    const Moment after = std::max(d.at, now).plusSeconds(1);
    setNextRun(t, s, s.enabled ? nextRun(s.schedule, after) : std::nullopt);
    if (!s.enabled) continue;
    // Only enabled jobs that target this server run.
    const auto ready =
        storage::select(t.db,
                        "SELECT 1 FROM sysjobs j JOIN sysjobservers v ON v.job_id = j.job_id AND"
                        " v.server_id = 0 WHERE j.job_id = ? AND j.enabled = 1",
                        {s.jobId});
    if (ready.empty()) continue;
    try {
      runJob(server, s.jobId,
             JobTrigger{"Schedule " + std::to_string(s.scheduleId) + " (" + s.name + ")", std::string(), 0});
    } catch (const sql::SqlError&) {
      // Still running from an earlier request: this run is skipped, as the Agent skips it.
    }
  }
}

AgentThread::AgentThread(std::shared_ptr<Server> server) : server_(std::move(server)) {
  // The Agent's start is written before the server takes its first client, so that no client's
  // statement meets msdb half-written by it.
  try {
    agentSession(*server_);  // the Agent's start, in syssessions
    planSchedules(*server_);
  } catch (const std::exception&) {
    // msdb is busy or unreadable: the schedules keep the next runs they have.
  }
  thread_ = std::thread([this] { loop(); });
}

AgentThread::~AgentThread() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void AgentThread::wake() {
  {
    std::lock_guard lock(mutex_);
    woken_ = true;
  }
  changed_.notify_all();
}

void AgentThread::loop() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    woken_ = false;
    lock.unlock();
    try {
      runDueJobs(*server_);
    } catch (const std::exception&) {
      // A locked or damaged msdb: tried again at the next second.
    }
    {
      std::lock_guard done(server_->agentMutex);
      ++server_->agentPasses;
    }
    server_->agentChanged.notify_all();
    lock.lock();
    changed_.wait_for(lock, std::chrono::seconds(1), [this] { return stop_ || woken_; });
  }
}

}  // namespace standin::agent
