// Running one Agent job: its steps in the order their actions give, each a T-SQL batch in a
// session of the job's owner on the step's database; then the history, the outcome on the
// job's server, and the job's removal when its delete_level asks for it.
#include "standin/agent/jobs.h"

#include "standin/agent/msdb.h"
#include "standin/base/text.h"

namespace standin::agent {

using base::equalsIgnoreCase;
using base::utf16leToUtf8;
using base::utf8ToUtf16le;
using server::Server;
using sql::BatchResult;
using sql::Binary;
using sql::isNull;
using sql::SqlError;
using sql::Value;
using sql::valueToText;

namespace {

struct Step {
  int id = 0;
  std::string name;
  std::string subsystem;
  std::string command;
  std::string database;
  int onSuccessAction = 1;
  int onSuccessStep = 0;
  int onFailAction = 2;
  int onFailStep = 0;
};

struct StepOutcome {
  bool succeeded = false;
  int messageId = 0;
  int severity = 0;
  std::string message;
};

struct HistoryRow {
  int stepId = 0;
  std::string stepName;
  StepOutcome outcome;
  Moment start;
  int duration = 0;  // hhmmss
};

std::string text(const Value& v) { return isNull(v) ? std::string() : valueToText(v); }
int number(const Value& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return static_cast<int>(*i);
  return std::atoi(text(v).c_str());
}

// Elapsed seconds as the Agent packs durations: hhmmss.
int packedDuration(const Moment& from, const Moment& to) {
  long long seconds = (static_cast<long long>(to.days) - from.days) * 86400 + to.seconds - from.seconds;
  if (seconds < 0) seconds = 0;
  return static_cast<int>(seconds / 3600 * 10000 + seconds / 60 % 60 * 100 + seconds % 60);
}

// At most `n` characters (UTF-16 code units), as the history's nvarchar(4000) keeps.
std::string cut(const std::string& s, std::size_t n) {
  const std::string u16 = utf8ToUtf16le(s);
  if (u16.size() / 2 <= n) return s;
  std::size_t bytes = n * 2;
  const auto hi = static_cast<unsigned char>(u16[bytes - 1]);
  if (hi >= 0xD8 && hi <= 0xDB) bytes -= 2;
  return utf16leToUtf8(std::string_view(u16).substr(0, bytes));
}

StepOutcome runStep(Server& server, const Step& step, const std::string& owner) {
  StepOutcome o;
  if (!equalsIgnoreCase(step.subsystem, "TSQL")) {
    o.message = "The stand-in's Agent runs TSQL steps only; this step's subsystem is " + step.subsystem +
                ".  The step failed.";
    return o;
  }
  std::string canonical;
  std::filesystem::path file;
  const auto acq = server.catalog.acquire(step.database, canonical, file);
  if (acq != storage::Catalog::Acquire::Ok) {
    o.messageId = acq == storage::Catalog::Acquire::Missing ? 4060 : 927;
    o.severity = acq == storage::Catalog::Acquire::Missing ? 11 : 14;
    o.message = acq == storage::Catalog::Acquire::Missing
                    ? "Cannot open database \"" + step.database +
                          "\" requested by the login. The login failed. [SQLSTATE 42000] (Error 4060).  The "
                          "step failed."
                    : "Database '" + step.database +
                          "' cannot be opened. It is in the middle of a restore. [SQLSTATE 42000] (Error "
                          "927).  The step "
                          "failed.";
    return o;
  }
  const BatchResult r = server.runJobStep(
      owner, std::make_unique<storage::DbLease>(server.catalog, canonical, file), step.command);
  std::string body;
  for (const auto& m : r.messages()) {
    if (!body.empty()) body += "  ";
    body += m.text + (m.isError() ? " [SQLSTATE 42000] (Error " : " [SQLSTATE 01000] (Message ") +
            std::to_string(m.number) + ")";
    if (m.isError() && o.messageId == 0) {
      o.messageId = m.number;
      o.severity = m.severity;
    }
  }
  o.succeeded = !r.failed() && !r.cancelled;
  o.message = "Executed as user: dbo. " + body + (body.empty() ? "" : ".  ") +
              (o.succeeded ? "The step succeeded." : "The step failed.");
  return o;
}

}  // namespace

bool runJob(Server& server, const std::string& jobId, const JobTrigger& trigger) {
  const auto msdbEntry = server.catalog.find("msdb");
  if (!msdbEntry) return false;
  auto conn = storage::Database::open(msdbEntry->file, false);
  MsdbTables t{conn.get(), "", server.version.year};
  const auto jobs = storage::select(
      t.db, "SELECT name, start_step_id, delete_level, owner_sid FROM sysjobs WHERE job_id = ?", {jobId});
  if (jobs.empty()) return false;
  const std::string jobName = text(jobs[0][0]);
  {
    std::lock_guard lock(server.agentMutex);
    if (server.runningJobs.count(jobId)) {
      const std::string who = trigger.user.empty() ? std::string("a schedule") : "User " + trigger.user;
      throw SqlError(22022, 16,
                     "SQLServerAgent Error: Request to run job " + jobName + " (from " + who +
                         ") refused because the job is already running from a request by " +
                         server.runningJobs[jobId] + ".");
    }
    server.runningJobs[jobId] = trigger.user.empty() ? trigger.invokedBy : "User " + trigger.user;
  }
  struct Finished {
    Server& e;
    const std::string& id;
    ~Finished() {
      {
        std::lock_guard lock(e.agentMutex);
        e.runningJobs.erase(id);
        ++e.finishedRuns;
      }
      e.agentChanged.notify_all();
    }
  } finished{server, jobId};

  const int startStep = trigger.startStep > 0 ? trigger.startStep : number(jobs[0][1]);
  const int deleteLevel = number(jobs[0][2]);
  std::string owner = "sa";
  if (const auto* sid = std::get_if<Binary>(&jobs[0][3]); sid && sid->bytes != std::string(1, '\x01'))
    owner = sid->bytes;

  std::vector<Step> steps;
  for (const auto& r :
       storage::select(t.db,
                       "SELECT step_id, step_name, subsystem, command, database_name, on_success_action,"
                       " on_success_step_id, on_fail_action, on_fail_step_id FROM sysjobsteps"
                       " WHERE job_id = ? ORDER BY step_id",
                       {jobId})) {
    steps.push_back(Step{number(r[0]), text(r[1]), text(r[2]), text(r[3]), text(r[4]), number(r[5]),
                         number(r[6]), number(r[7]), number(r[8])});
  }
  auto stepById = [&](int id) -> const Step* {
    for (const auto& s : steps)
      if (s.id == id) return &s;
    return nullptr;
  };

  // The run in sysjobactivity (2005 on), committed before the first step so that other sessions
  // and the job's own steps see it running.
  const int session = agentSession(server);
  const sql::DateTime startedAt = server.now();
  if (session != 0)
    storage::execute(
        t.db,
        "INSERT INTO sysjobactivity (session_id, job_id, run_requested_date, run_requested_source,"
        " start_execution_date) VALUES (?, ?, ?, ?, ?)",
        {std::int64_t{session}, jobId, startedAt, std::string(trigger.user.empty() ? "1" : "4"), startedAt});
  const std::int64_t activity = sqlite3_last_insert_rowid(t.db);
  const Moment jobStart = Moment::of(startedAt);
  std::vector<HistoryRow> history;
  bool succeeded = false;
  const Step* last = nullptr;
  const Step* current = stepById(startStep);
  // A job whose actions go round in circles still ends.
  for (int executed = 0; current && executed < 1000; ++executed) {
    HistoryRow row;
    row.stepId = current->id;
    row.stepName = current->name;
    const sql::DateTime stepStart = server.now();
    row.start = Moment::of(stepStart);
    row.outcome = runStep(server, *current, owner);
    if (session != 0)
      storage::execute(t.db,
                       "UPDATE sysjobactivity SET last_executed_step_id = ?, last_executed_step_date = ?"
                       " WHERE rowid = ?",
                       {std::int64_t{current->id}, stepStart, activity});
    row.duration = packedDuration(row.start, Moment::of(server.now()));
    history.push_back(row);
    last = current;
    const bool ok = row.outcome.succeeded;
    const int action = ok ? current->onSuccessAction : current->onFailAction;
    const int target = ok ? current->onSuccessStep : current->onFailStep;
    succeeded = ok;
    if (action == 1) {
      succeeded = true;
      break;
    }
    if (action == 2) {
      succeeded = false;
      break;
    }
    current = action == 3 ? stepById(current->id + 1) : stepById(target);
  }
  const sql::DateTime endedAt = server.now();
  const Moment jobEnd = Moment::of(endedAt);

  std::string outcome = std::string(succeeded ? "The job succeeded." : "The job failed.") +
                        "  The Job was invoked by " + trigger.invokedBy + ".";
  if (last) {
    outcome += "  The last step to run was step " + std::to_string(last->id) + " (" + last->name + ").";
  } else {
    outcome += "  The job has no step " + std::to_string(startStep) + " to run.";
  }
  const std::string serverName = server.serverName();
  storage::execute(t.db, "BEGIN IMMEDIATE");
  try {
    const std::string insert =
        "INSERT INTO sysjobhistory (job_id, step_id, step_name, sql_message_id, sql_severity, message, "
        "run_status,"
        " run_date, run_time, run_duration, server) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";
    for (const auto& h : history) {
      storage::execute(t.db, insert,
                       {jobId, std::int64_t{h.stepId}, h.stepName, std::int64_t{h.outcome.messageId},
                        std::int64_t{h.outcome.severity}, cut(h.outcome.message, 4000),
                        std::int64_t{h.outcome.succeeded ? 1 : 0}, std::int64_t{h.start.packedDate()},
                        std::int64_t{h.start.packedTime()}, std::int64_t{h.duration}, serverName});
      storage::execute(
          t.db,
          "UPDATE sysjobsteps SET last_run_outcome = ?, last_run_duration = ?, last_run_date = ?,"
          " last_run_time = ? WHERE job_id = ? AND step_id = ?",
          {std::int64_t{h.outcome.succeeded ? 1 : 0}, std::int64_t{h.duration},
           std::int64_t{h.start.packedDate()}, std::int64_t{h.start.packedTime()}, jobId,
           std::int64_t{h.stepId}});
    }
    const std::int64_t total = packedDuration(jobStart, jobEnd);
    storage::execute(t.db, insert,
                     {jobId, std::int64_t{0}, std::string("(Job outcome)"), std::int64_t{0}, std::int64_t{0},
                      outcome, std::int64_t{succeeded ? 1 : 0}, std::int64_t{jobStart.packedDate()},
                      std::int64_t{jobStart.packedTime()}, total, serverName});
    if (session != 0)
      storage::execute(
          t.db, "UPDATE sysjobactivity SET stop_execution_date = ?, job_history_id = ? WHERE rowid = ?",
          {endedAt, std::int64_t{sqlite3_last_insert_rowid(t.db)}, activity});
    storage::execute(
        t.db,
        "UPDATE sysjobservers SET last_run_outcome = ?, last_outcome_message = ?, last_run_date = ?,"
        " last_run_time = ?, last_run_duration = ? WHERE job_id = ? AND server_id = 0",
        {std::int64_t{succeeded ? 1 : 0}, outcome, std::int64_t{jobStart.packedDate()},
         std::int64_t{jobStart.packedTime()}, total, jobId});
    // delete_level: 1 after a success, 2 after a failure, 3 after any run.
    if (deleteLevel == 3 || (deleteLevel == 1 && succeeded) || (deleteLevel == 2 && !succeeded))
      deleteJob(t, jobId, true);
    storage::execute(t.db, "COMMIT");
  } catch (...) {
    sqlite3_exec(t.db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  return succeeded;
}

}  // namespace standin::agent
