#include "standin/agent/msdb.h"

#include <algorithm>
#include <array>
#include <random>

#include "standin/agent/jobs.h"
#include "standin/base/text.h"

namespace standin::agent {

using base::equalsIgnoreCase;
using base::toUpperAscii;
using server::Context;
using server::ProcArg;
using server::Server;
using sql::Binary;
using sql::DateTime;
using sql::isNull;
using sql::Message;
using sql::ReturnValue;
using sql::SqlError;
using sql::SqlType;
using sql::TypedValue;
using sql::Value;
using sql::valueToText;

namespace {

std::int64_t intValue(const Value& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return *i;
  if (const auto* d = std::get_if<double>(&v)) return static_cast<std::int64_t>(*d);
  if (const auto* s = std::get_if<std::string>(&v)) return std::atoll(s->c_str());
  return 0;
}
std::string textValue(const Value& v) { return isNull(v) ? std::string() : valueToText(v); }

bool tableExists(sqlite3* db, const char* name) {
  return !storage::select(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?",
                          {std::string(name)})
              .empty();
}

// ---------- the tables ----------

const char* const kJobTables =
    "CREATE TABLE IF NOT EXISTS sysjobs ("
    " job_id UNIQUEIDENTIFIER NOT NULL PRIMARY KEY, originating_server_id INT NOT NULL DEFAULT 0,"
    " name NVARCHAR(128) NOT NULL COLLATE NOCASE, enabled TINYINT NOT NULL, description NVARCHAR(512),"
    " start_step_id INT NOT NULL, category_id INT NOT NULL, owner_sid VARBINARY(85) NOT NULL,"
    " notify_level_eventlog INT NOT NULL, notify_level_email INT NOT NULL, notify_level_netsend INT NOT NULL,"
    " notify_level_page INT NOT NULL, notify_email_operator_id INT NOT NULL DEFAULT 0,"
    " notify_netsend_operator_id INT NOT NULL DEFAULT 0, notify_page_operator_id INT NOT NULL DEFAULT 0,"
    " delete_level INT NOT NULL, date_created DATETIME NOT NULL, date_modified DATETIME NOT NULL,"
    " version_number INT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS sysjobs_name ON sysjobs (name);"
    "CREATE TABLE IF NOT EXISTS sysjobsteps ("
    " job_id UNIQUEIDENTIFIER NOT NULL, step_id INT NOT NULL, step_name NVARCHAR(128) NOT NULL,"
    " subsystem NVARCHAR(40) NOT NULL, command NVARCHAR, flags INT NOT NULL,"
    " additional_parameters NTEXT, cmdexec_success_code INT NOT NULL, on_success_action TINYINT NOT NULL,"
    " on_success_step_id INT NOT NULL, on_fail_action TINYINT NOT NULL, on_fail_step_id INT NOT NULL,"
    " server NVARCHAR(128), database_name NVARCHAR(128), database_user_name NVARCHAR(128),"
    " retry_attempts INT NOT NULL, retry_interval INT NOT NULL, os_run_priority INT NOT NULL,"
    " output_file_name NVARCHAR(200), last_run_outcome INT NOT NULL DEFAULT 0,"
    " last_run_duration INT NOT NULL DEFAULT 0, last_run_retries INT NOT NULL DEFAULT 0,"
    " last_run_date INT NOT NULL DEFAULT 0, last_run_time INT NOT NULL DEFAULT 0, proxy_id INT,"
    " step_uid UNIQUEIDENTIFIER);"
    "CREATE INDEX IF NOT EXISTS sysjobsteps_job ON sysjobsteps (job_id, step_id);"
    "CREATE TABLE IF NOT EXISTS sysjobservers ("
    " job_id UNIQUEIDENTIFIER NOT NULL, server_id INT NOT NULL, last_run_outcome TINYINT NOT NULL,"
    " last_outcome_message NVARCHAR(4000), last_run_date INT NOT NULL, last_run_time INT NOT NULL,"
    " last_run_duration INT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS sysjobhistory ("
    " instance_id INTEGER PRIMARY KEY, job_id UNIQUEIDENTIFIER NOT NULL, step_id INT NOT NULL,"
    " step_name NVARCHAR(128) NOT NULL, sql_message_id INT NOT NULL, sql_severity INT NOT NULL,"
    " message NVARCHAR(4000), run_status INT NOT NULL, run_date INT NOT NULL, run_time INT NOT NULL,"
    " run_duration INT NOT NULL, operator_id_emailed INT NOT NULL DEFAULT 0,"
    " operator_id_netsent INT NOT NULL DEFAULT 0, operator_id_paged INT NOT NULL DEFAULT 0,"
    " retries_attempted INT NOT NULL DEFAULT 0, server NVARCHAR(128) NOT NULL);"
    "CREATE INDEX IF NOT EXISTS sysjobhistory_job ON sysjobhistory (job_id);"
    "CREATE TABLE IF NOT EXISTS syscategories ("
    " category_id INTEGER PRIMARY KEY, category_class INT NOT NULL, category_type TINYINT NOT NULL,"
    " name NVARCHAR(128) NOT NULL COLLATE NOCASE);"
    "INSERT OR IGNORE INTO syscategories VALUES (0, 1, 1, '[Uncategorized (Local)]'),"
    " (1, 1, 2, '[Uncategorized (Multi-Server)]'), (2, 2, 3, '[Uncategorized]'),"
    " (3, 1, 1, 'Database Maintenance'), (4, 1, 1, 'Web Assistant'), (5, 1, 1, 'Full-Text'),"
    " (6, 1, 1, 'Log Shipping'), (98, 2, 3, '[Uncategorized]'), (99, 3, 3, '[Uncategorized]');";

// The schedule columns, in the same order in both layouts.
const char* const kScheduleColumns =
    "enabled INT NOT NULL, freq_type INT NOT NULL, freq_interval INT NOT NULL, freq_subday_type INT NOT NULL,"
    " freq_subday_interval INT NOT NULL, freq_relative_interval INT NOT NULL, freq_recurrence_factor INT NOT "
    "NULL,"
    " active_start_date INT NOT NULL, active_end_date INT NOT NULL, active_start_time INT NOT NULL,"
    " active_end_time INT NOT NULL";
const char* const kScheduleNames =
    "enabled, freq_type, freq_interval, freq_subday_type, freq_subday_interval, freq_relative_interval,"
    " freq_recurrence_factor, active_start_date, active_end_date, active_start_time, active_end_time";

// Before 2005: one table, the schedule's own columns beside the job and its next run.
std::string jobSchedules2000(const char* table) {
  return std::string("CREATE TABLE ") + table +
         " (schedule_id INTEGER PRIMARY KEY, job_id UNIQUEIDENTIFIER NOT NULL, name NVARCHAR(128) NOT "
         "NULL, " +
         kScheduleColumns +
         ", next_run_date INT NOT NULL, next_run_time INT NOT NULL, date_created DATETIME NOT NULL)";
}
// From 2005 on: schedules of their own, linked to jobs.
std::string schedules2005() {
  return std::string(
             "CREATE TABLE sysschedules (schedule_id INTEGER PRIMARY KEY, schedule_uid UNIQUEIDENTIFIER NOT "
             "NULL,"
             " originating_server_id INT NOT NULL DEFAULT 0, name NVARCHAR(128) NOT NULL,"
             " owner_sid VARBINARY(85) NOT NULL, ") +
         kScheduleColumns +
         ", date_created DATETIME NOT NULL, date_modified DATETIME NOT NULL, version_number INT NOT NULL)";
}
std::string jobSchedules2005(const char* table) {
  return std::string("CREATE TABLE ") + table +
         " (schedule_id INT NOT NULL, job_id UNIQUEIDENTIFIER NOT NULL, next_run_date INT NOT NULL,"
         " next_run_time INT NOT NULL)";
}

// The schedule column names with a table alias before each.
std::string scheduleNamesOf(const char* alias) {
  std::string out;
  for (const char* c : {"enabled", "freq_type", "freq_interval", "freq_subday_type", "freq_subday_interval",
                        "freq_relative_interval", "freq_recurrence_factor", "active_start_date",
                        "active_end_date", "active_start_time", "active_end_time"})
    out += std::string(out.empty() ? "" : ", ") + alias + "." + c;
  return out;
}

const char* const kGuidExpression =
    "upper(hex(randomblob(4)) || '-' || hex(randomblob(2)) || '-' || hex(randomblob(2)) || '-' ||"
    " hex(randomblob(2)) || '-' || hex(randomblob(6)))";

}  // namespace

void ensureAgentTables(sqlite3* db, int year) {
  storage::execute(db, "BEGIN");
  try {
    {
      char* err = nullptr;
      const int rc = sqlite3_exec(db, kJobTables, nullptr, nullptr, &err);
      std::unique_ptr<char, storage::SqliteFree> guard(err);
      if (rc != SQLITE_OK) throw storage::Error(rc, err ? err : "cannot create msdb's Agent tables");
    }
    const bool haveJobSchedules = tableExists(db, "sysjobschedules");
    const bool haveSchedules = tableExists(db, "sysschedules");
    if (year >= 2005) {
      if (!haveJobSchedules) {
        storage::execute(db, schedules2005());
        storage::execute(db, jobSchedules2005("sysjobschedules"));
      } else if (!haveSchedules) {
        // A data folder of the 2000 release: the schedules move into their own table.
        storage::execute(db, schedules2005());
        storage::execute(
            db, std::string("INSERT INTO sysschedules (schedule_id, schedule_uid, name, owner_sid, ") +
                    kScheduleNames + ", date_created, date_modified, version_number) SELECT s.schedule_id, " +
                    kGuidExpression + ", s.name, coalesce(j.owner_sid, X'01'), " + scheduleNamesOf("s") +
                    ", s.date_created, s.date_created, 1 FROM sysjobschedules s LEFT JOIN sysjobs j"
                    " ON j.job_id = s.job_id");
        storage::execute(db, jobSchedules2005("bv_jobschedules"));
        storage::execute(
            db,
            "INSERT INTO bv_jobschedules SELECT schedule_id, job_id, next_run_date, next_run_time FROM "
            "sysjobschedules");
        storage::execute(db, "DROP TABLE sysjobschedules");
        storage::execute(db, "ALTER TABLE bv_jobschedules RENAME TO sysjobschedules");
      }
    } else {
      if (!haveJobSchedules) {
        storage::execute(db, jobSchedules2000("sysjobschedules"));
      } else if (haveSchedules) {
        // A data folder of a later release: each job's schedule goes back beside the job.
        storage::execute(db, jobSchedules2000("bv_jobschedules"));
        storage::execute(db,
                         std::string("INSERT INTO bv_jobschedules (job_id, name, ") + kScheduleNames +
                             ", next_run_date, next_run_time, date_created) SELECT js.job_id, s.name, " +
                             scheduleNamesOf("s") +
                             ", js.next_run_date, js.next_run_time, s.date_created FROM sysjobschedules js"
                             " JOIN sysschedules s ON s.schedule_id = js.schedule_id");
        storage::execute(db, "DROP TABLE sysjobschedules");
        storage::execute(db, "DROP TABLE sysschedules");
        storage::execute(db, "ALTER TABLE bv_jobschedules RENAME TO sysjobschedules");
      }
    }
    // The Agent's sessions and its jobs' runs in them came with 2005.
    if (year >= 2005) {
      storage::execute(db,
                       "CREATE TABLE IF NOT EXISTS syssessions (session_id INTEGER PRIMARY KEY,"
                       " agent_start_date DATETIME NOT NULL)");
      storage::execute(
          db,
          "CREATE TABLE IF NOT EXISTS sysjobactivity (session_id INT NOT NULL,"
          " job_id UNIQUEIDENTIFIER NOT NULL, run_requested_date DATETIME,"
          " run_requested_source NVARCHAR(128), queued_date DATETIME, start_execution_date DATETIME,"
          " last_executed_step_id INT, last_executed_step_date DATETIME, stop_execution_date DATETIME,"
          " job_history_id INT, next_scheduled_run_date DATETIME)");
    } else {
      storage::execute(db, "DROP TABLE IF EXISTS sysjobactivity");
      storage::execute(db, "DROP TABLE IF EXISTS syssessions");
    }
    storage::execute(db, "COMMIT");
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

int agentSession(Server& server) {
  if (server.version.year < 2005) return 0;
  std::lock_guard lock(server.agentMutex);
  if (server.agentSession != 0) return server.agentSession;
  const auto entry = server.catalog.find("msdb");
  if (!entry) return 0;
  auto db = storage::Database::open(entry->file, false);
  storage::execute(db.get(), "INSERT INTO syssessions (agent_start_date) VALUES (?)", {server.now()});
  server.agentSession = static_cast<int>(sqlite3_last_insert_rowid(db.get()));
  return server.agentSession;
}

// ---------- shared with the Agent ----------

std::vector<JobSchedule> jobSchedules(const MsdbTables& t, const std::string& jobId) {
  std::string sql;
  const std::string cols =
      "s.enabled, s.freq_type, s.freq_interval, s.freq_subday_type, s.freq_subday_interval, "
      "s.freq_relative_interval, s.freq_recurrence_factor, s.active_start_date, s.active_end_date, "
      "s.active_start_time, s.active_end_time";
  if (t.scheduleTable()) {
    sql = "SELECT js.job_id, js.schedule_id, s.name, js.next_run_date, js.next_run_time, " + cols + " FROM " +
          t("sysjobschedules") + " js JOIN " + t("sysschedules") + " s ON s.schedule_id = js.schedule_id";
  } else {
    sql = "SELECT s.job_id, s.schedule_id, s.name, s.next_run_date, s.next_run_time, " + cols + " FROM " +
          t("sysjobschedules") + " s";
  }
  std::vector<Value> binds;
  if (!jobId.empty()) {
    sql += t.scheduleTable() ? " WHERE js.job_id = ?" : " WHERE s.job_id = ?";
    binds.push_back(jobId);
  }
  sql += " ORDER BY 2";
  std::vector<JobSchedule> out;
  for (const auto& r : storage::select(t.db, sql, binds)) {
    JobSchedule s;
    s.jobId = textValue(r[0]);
    s.scheduleId = static_cast<int>(intValue(r[1]));
    s.name = textValue(r[2]);
    s.nextRunDate = static_cast<int>(intValue(r[3]));
    s.nextRunTime = static_cast<int>(intValue(r[4]));
    s.enabled = intValue(r[5]) != 0;
    auto& d = s.schedule;
    d.freqType = static_cast<int>(intValue(r[6]));
    d.freqInterval = static_cast<int>(intValue(r[7]));
    d.freqSubdayType = static_cast<int>(intValue(r[8]));
    d.freqSubdayInterval = static_cast<int>(intValue(r[9]));
    d.freqRelativeInterval = static_cast<int>(intValue(r[10]));
    d.freqRecurrenceFactor = static_cast<int>(intValue(r[11]));
    d.activeStartDate = static_cast<int>(intValue(r[12]));
    d.activeEndDate = static_cast<int>(intValue(r[13]));
    d.activeStartTime = static_cast<int>(intValue(r[14]));
    d.activeEndTime = static_cast<int>(intValue(r[15]));
    out.push_back(std::move(s));
  }
  return out;
}

void setNextRun(const MsdbTables& t, const JobSchedule& s, const std::optional<Moment>& next) {
  const std::int64_t date = next ? next->packedDate() : 0;
  const std::int64_t time = next ? next->packedTime() : 0;
  storage::execute(t.db,
                   "UPDATE " + t("sysjobschedules") +
                       " SET next_run_date = ?, next_run_time = ? WHERE job_id = ? AND schedule_id = ?",
                   {date, time, s.jobId, std::int64_t{s.scheduleId}});
}

void deleteJob(const MsdbTables& t, const std::string& jobId, bool deleteHistory) {
  if (t.scheduleTable()) {
    // Schedules that only this job uses go with it.
    storage::execute(t.db,
                     "DELETE FROM " + t("sysschedules") + " WHERE schedule_id IN (SELECT schedule_id FROM " +
                         t("sysjobschedules") +
                         " WHERE job_id = ?1) AND schedule_id NOT IN (SELECT schedule_id FROM " +
                         t("sysjobschedules") + " WHERE job_id <> ?1)",
                     {jobId});
  }
  storage::execute(t.db, "DELETE FROM " + t("sysjobschedules") + " WHERE job_id = ?", {jobId});
  storage::execute(t.db, "DELETE FROM " + t("sysjobsteps") + " WHERE job_id = ?", {jobId});
  if (t.year >= 2005)
    storage::execute(t.db, "DELETE FROM " + t("sysjobactivity") + " WHERE job_id = ?", {jobId});
  storage::execute(t.db, "DELETE FROM " + t("sysjobservers") + " WHERE job_id = ?", {jobId});
  if (deleteHistory)
    storage::execute(t.db, "DELETE FROM " + t("sysjobhistory") + " WHERE job_id = ?", {jobId});
  storage::execute(t.db, "DELETE FROM " + t("sysjobs") + " WHERE job_id = ?", {jobId});
}

// ---------- the procedures ----------

namespace {

[[noreturn]] void fail(const std::string& procedure, int number, const std::string& text, int severity = 16) {
  Message m;
  m.number = number;
  m.severity = severity;
  m.text = text;
  m.procedure = procedure;
  throw SqlError(m);
}

// "The specified '@x' is invalid (valid values are: ...)."
[[noreturn]] void invalidValue(const std::string& procedure, const std::string& param,
                               const std::string& valid) {
  fail(procedure, 14266, "The specified '" + param + "' is invalid (valid values are: " + valid + ").");
}

[[noreturn]] void invalidSchedule(const std::string& reason) {
  fail("sp_verify_schedule", 14278, "The schedule for this job is invalid (reason: " + reason + ").");
}

std::string newGuid() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  const std::uint64_t a = random(), b = random();
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < 32; ++i) {
    const std::uint64_t word = i < 16 ? a : b;
    out.push_back(hex[(word >> ((i % 16) * 4)) & 0xF]);
    if (i == 7 || i == 11 || i == 15 || i == 19) out.push_back('-');
  }
  return out;
}

// A procedure's parameters as the call gave them: by name or by position.
class Arguments {
 public:
  Arguments(std::string procedure, std::vector<const char*> names, std::vector<ProcArg>& args, int year,
            std::vector<ReturnValue>& outputs)
      : procedure_(std::move(procedure)),
        names_(std::move(names)),
        args_(args),
        year_(year),
        outputs_(outputs) {
    bound_.assign(names_.size(), -1);
    std::size_t position = 0;
    for (std::size_t i = 0; i < args_.size(); ++i) {
      const ProcArg& a = args_[i];
      std::size_t target = names_.size();
      if (a.name.empty()) {
        target = position++;
        if (target >= names_.size())
          fail(procedure_, 8144,
               "Procedure or function " + procedure_ + " has too many arguments specified.");
      } else {
        for (std::size_t k = 0; k < names_.size(); ++k)
          if (equalsIgnoreCase(a.name, names_[k])) target = k;
        if (target == names_.size())
          fail(procedure_, 8145, a.name + " is not a parameter for procedure " + procedure_ + ".");
      }
      bound_[target] = static_cast<int>(i);
    }
  }

  const ProcArg* get(const char* name) const {
    for (std::size_t k = 0; k < names_.size(); ++k)
      if (equalsIgnoreCase(names_[k], name) && bound_[k] >= 0) {
        const ProcArg& a = args_[static_cast<std::size_t>(bound_[k])];
        return a.isDefault ? nullptr : &a;
      }
    return nullptr;
  }

  std::optional<std::string> text(const char* name) const {
    const ProcArg* a = get(name);
    if (!a || isNull(a->value.value)) return std::nullopt;
    return std::get<std::string>(sql::convert(a->value, SqlType::nvarchar(-1), -1, 1).value);
  }

  std::string required(const char* name) const {
    const ProcArg* a = get(name);
    if (!a) {
      const std::string who = year_ >= 2005 ? "Procedure or function '" : "Procedure '";
      fail(procedure_, 201, who + procedure_ + "' expects parameter '" + name + "', which was not supplied.");
    }
    return text(name).value_or(std::string());
  }

  std::optional<std::int64_t> integer(const char* name) const {
    const ProcArg* a = get(name);
    if (!a || isNull(a->value.value)) return std::nullopt;
    try {
      return std::get<std::int64_t>(sql::convert(a->value, SqlType::integer(), -1, 1).value);
    } catch (const SqlError&) {
      fail(procedure_, 8114,
           std::string("Error converting data type ") +
               (a->value.type.kind == SqlType::Kind::VarChar ? "varchar" : "nvarchar") + " to int.");
    }
  }

  // Hands a value back through an OUTPUT parameter.
  void output(const char* name, const TypedValue& v) {
    for (std::size_t k = 0; k < names_.size(); ++k) {
      if (!equalsIgnoreCase(names_[k], name) || bound_[k] < 0) continue;
      ProcArg& a = args_[static_cast<std::size_t>(bound_[k])];
      if (!a.output) return;
      a.value = v;
      outputs_.push_back(
          ReturnValue{bound_[k], a.name.empty() ? std::string(name) : a.name, v.type, v.value});
    }
  }

  const std::string& procedure() const { return procedure_; }

 private:
  std::string procedure_;
  std::vector<const char*> names_;
  std::vector<ProcArg>& args_;
  int year_;
  std::vector<ReturnValue>& outputs_;
  std::vector<int> bound_;
};

// msdb's tables on the session's own connection, so that every write belongs to the caller's
// transaction; msdb is attached for the call when another database is current.
class SessionTables {
 public:
  explicit SessionTables(Context& c) : c_(c) {
    tables.year = c.server().version.year;
    tables.db = c.connection().get();
    if (equalsIgnoreCase(c.currentDatabase(), "msdb")) return;
    const auto entry = c.server().catalog.find("msdb");
    if (!entry)
      throw SqlError(911, 16,
                     "Database 'msdb' does not exist. Make sure that the name is entered correctly.");
    c.attachDatabase(*entry);
    tables.prefix = "\"msdb\".";
  }
  ~SessionTables() {
    if (!tables.prefix.empty()) c_.detachDatabase("msdb");
  }
  SessionTables(const SessionTables&) = delete;
  SessionTables& operator=(const SessionTables&) = delete;

  MsdbTables tables;

 private:
  Context& c_;
};

// The writes of one procedure: all of them or none, inside whatever transaction is open.
class Savepoint {
 public:
  explicit Savepoint(sqlite3* db) : db_(db) { storage::execute(db_, "SAVEPOINT bv_agent_procedure"); }
  void release() {
    storage::execute(db_, "RELEASE bv_agent_procedure");
    done_ = true;
  }
  ~Savepoint() {
    if (done_) return;
    sqlite3_exec(db_, "ROLLBACK TO bv_agent_procedure", nullptr, nullptr, nullptr);
    sqlite3_exec(db_, "RELEASE bv_agent_procedure", nullptr, nullptr, nullptr);
  }
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;

 private:
  sqlite3* db_;
  bool done_ = false;
};

struct Job {
  std::string id;
  std::string name;
};

std::string normaliseGuid(const std::string& text, int year) {
  std::string g = text;
  if (g.size() == 38 && g.front() == '{' && g.back() == '}') g = g.substr(1, 36);
  bool ok = g.size() == 36;
  for (std::size_t i = 0; ok && i < g.size(); ++i) {
    const char c = g[i];
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      ok = c == '-';
    } else {
      ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }
  }
  if (!ok)
    throw SqlError(8169, 16,
                   year >= 2005
                       ? "Conversion failed when converting from a character string to uniqueidentifier."
                       : "Syntax error converting from a character string to uniqueidentifier.");
  return toUpperAscii(g);
}

// The job a call names by @job_id or @job_name (exactly one of them).
Job findJob(const MsdbTables& t, const Arguments& a, const char* nameParam = "@job_name",
            const char* idParam = "@job_id") {
  const auto name = a.text(nameParam);
  const auto id = a.text(idParam);
  if (name.has_value() == id.has_value())
    fail("sp_verify_job_identifiers", 14294,
         std::string("Supply either ") + idParam + " or " + nameParam + " to identify the job.");
  if (id) {
    const std::string guid = normaliseGuid(*id, t.year);
    const auto rows =
        storage::select(t.db, "SELECT job_id, name FROM " + t("sysjobs") + " WHERE job_id = ?", {guid});
    if (rows.empty())
      fail("sp_verify_job_identifiers", 14262,
           std::string("The specified ") + idParam + " ('" + *id + "') does not exist.");
    return {textValue(rows[0][0]), textValue(rows[0][1])};
  }
  // The collation ignores case, and '=' ignores trailing blanks.
  const auto rows = storage::select(
      t.db,
      "SELECT job_id, name FROM " + t("sysjobs") + " WHERE rtrim(name, ' ') = rtrim(?, ' ') COLLATE NOCASE",
      {*name});
  if (rows.empty())
    fail("sp_verify_job_identifiers", 14262,
         std::string("The specified ") + nameParam + " ('" + *name + "') does not exist.");
  if (rows.size() > 1)
    fail("sp_verify_job_identifiers", 14293,
         "There are two or more jobs named '" + *name + "'. Specify " + idParam + " instead of " + nameParam +
             " to uniquely identify the job.");
  return {textValue(rows[0][0]), textValue(rows[0][1])};
}

void touchJob(const MsdbTables& t, const std::string& jobId, const DateTime& now) {
  storage::execute(t.db,
                   "UPDATE " + t("sysjobs") +
                       " SET date_modified = ?, version_number = version_number + 1 WHERE job_id = ?",
                   {now.iso(), jobId});
}

std::int64_t checkedLevel(const Arguments& a, const char* name, std::int64_t fallback) {
  const std::int64_t v = a.integer(name).value_or(fallback);
  if (v < 0 || v > 3) invalidValue("sp_verify_job", name, "0, 1, 2, 3");
  return v;
}

int addJob(Context& c, Arguments& a) {
  SessionTables st(c);
  const MsdbTables& t = st.tables;
  const std::string name = a.required("@job_name");
  const std::int64_t enabled = a.integer("@enabled").value_or(1);
  if (enabled != 0 && enabled != 1) invalidValue("sp_verify_job", "@enabled", "0, 1");
  const std::int64_t startStep = a.integer("@start_step_id").value_or(1);
  if (startStep < 1) invalidValue("sp_verify_job", "@start_step_id", "1");
  const std::int64_t eventlog = checkedLevel(a, "@notify_level_eventlog", 2);
  const std::int64_t email = checkedLevel(a, "@notify_level_email", 0);
  const std::int64_t netsend = checkedLevel(a, "@notify_level_netsend", 0);
  const std::int64_t page = checkedLevel(a, "@notify_level_page", 0);
  const std::int64_t deleteLevel = checkedLevel(a, "@delete_level", 0);
  const std::string description = a.text("@description").value_or("No description available.");

  std::int64_t category = 0;
  if (const auto categoryName = a.text("@category_name")) {
    const auto rows = storage::select(t.db,
                                      "SELECT category_id FROM " + t("syscategories") +
                                          " WHERE category_class = 1 AND name = ? COLLATE NOCASE",
                                      {*categoryName});
    if (rows.empty())
      fail("sp_verify_job", 14234,
           "The specified '@category_name' is invalid (valid values are returned by sp_help_category).");
    category = intValue(rows[0][0]);
  } else if (const auto id = a.integer("@category_id")) {
    if (storage::select(
            t.db, "SELECT 1 FROM " + t("syscategories") + " WHERE category_class = 1 AND category_id = ?",
            {*id})
            .empty())
      fail("sp_verify_job", 14234,
           "The specified '@category_id' is invalid (valid values are returned by sp_help_category).");
    category = *id;
  }

  const std::string owner = a.text("@owner_login_name").value_or(c.loginName());
  if (!c.server().catalog.findLogin(owner))
    fail("sp_verify_job", 14262, "The specified @owner_login_name ('" + owner + "') does not exist.");
  const Binary ownerSid{equalsIgnoreCase(owner, "sa") ? std::string(1, '\x01') : owner};

  if (!storage::select(
           t.db, "SELECT 1 FROM " + t("sysjobs") + " WHERE rtrim(name, ' ') = rtrim(?, ' ') COLLATE NOCASE",
           {name})
           .empty())
    fail("sp_add_job", 14261, "The specified @job_name ('" + name + "') already exists.");

  // Creation dates order the job list: each job is created after the one before it.
  DateTime created = c.server().now();
  const auto latest = storage::select(t.db, "SELECT max(date_created) FROM " + t("sysjobs"));
  if (!latest.empty() && !isNull(latest[0][0]))
    if (auto last = DateTime::parse(textValue(latest[0][0])); last && created.iso() <= last->iso()) {
      created = *last;
      if (++created.ticks >= 300u * 86400u) {
        created.ticks = 0;
        ++created.days;
      }
    }
  const std::string jobId = newGuid();
  Savepoint sp(t.db);
  storage::execute(
      t.db,
      "INSERT INTO " + t("sysjobs") +
          " (job_id, originating_server_id, name, enabled, description, start_step_id, category_id, "
          "owner_sid,"
          " notify_level_eventlog, notify_level_email, notify_level_netsend, notify_level_page, delete_level,"
          " date_created, date_modified, version_number) VALUES (?, 0, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
          "?, 1)",
      {jobId, name, enabled, description, startStep, category, ownerSid, eventlog, email, netsend, page,
       deleteLevel, created.iso(), created.iso()});
  sp.release();
  a.output("@job_id", TypedValue{SqlType::nvarchar(36), jobId});
  return 0;
}

int addJobStep(Context& c, Arguments& a) {
  SessionTables st(c);
  const MsdbTables& t = st.tables;
  const Job job = findJob(t, a);
  const std::string stepName = a.required("@step_name");
  const std::int64_t steps = intValue(storage::select(
      t.db, "SELECT count(*) FROM " + t("sysjobsteps") + " WHERE job_id = ?", {job.id})[0][0]);
  const std::int64_t stepId = a.integer("@step_id").value_or(steps + 1);
  if (stepId < 1 || stepId > steps + 1)
    invalidValue("sp_add_jobstep", "@step_id", "1.." + std::to_string(steps + 1));
  if (!storage::select(
           t.db, "SELECT 1 FROM " + t("sysjobsteps") + " WHERE job_id = ? AND step_name = ? COLLATE NOCASE",
           {job.id, stepName})
           .empty())
    fail("sp_add_jobstep", 14261, "The specified @step_name ('" + stepName + "') already exists.");
  std::string subsystem = toUpperAscii(a.text("@subsystem").value_or("TSQL"));
  static const std::array kSubsystems = {
      "TSQL",  "CMDEXEC",     "ACTIVESCRIPTING", "DISTRIBUTION",    "SNAPSHOT", "LOGREADER",
      "MERGE", "QUEUEREADER", "ANALYSISQUERY",   "ANALYSISCOMMAND", "SSIS",     "POWERSHELL"};
  if (std::none_of(kSubsystems.begin(), kSubsystems.end(), [&](const char* k) { return subsystem == k; }))
    fail("sp_verify_subsystem", 14234,
         "The specified '@subsystem' is invalid (valid values are returned by sp_enum_sqlagent_subsystems).");
  const std::int64_t onSuccess = a.integer("@on_success_action").value_or(1);
  if (onSuccess < 1 || onSuccess > 4) invalidValue("sp_verify_jobstep", "@on_success_action", "1, 2, 3, 4");
  const std::int64_t onFail = a.integer("@on_fail_action").value_or(2);
  if (onFail < 1 || onFail > 4) invalidValue("sp_verify_jobstep", "@on_fail_action", "1, 2, 3, 4");
  const std::int64_t onSuccessStep = a.integer("@on_success_step_id").value_or(0);
  const std::int64_t onFailStep = a.integer("@on_fail_step_id").value_or(0);
  if (onSuccess == 4 && onSuccessStep < 1) invalidValue("sp_verify_jobstep", "@on_success_step_id", ">= 1");
  if (onFail == 4 && onFailStep < 1) invalidValue("sp_verify_jobstep", "@on_fail_step_id", ">= 1");
  const std::int64_t retries = a.integer("@retry_attempts").value_or(0);
  const std::int64_t retryInterval = a.integer("@retry_interval").value_or(0);
  if (retries < 0) invalidValue("sp_verify_jobstep", "@retry_attempts", ">= 0");
  if (retryInterval < 0) invalidValue("sp_verify_jobstep", "@retry_interval", ">= 0");
  std::string database = a.text("@database_name").value_or("master");
  if (subsystem == "TSQL") {
    if (database.empty()) database = "master";
    const auto entry = c.server().catalog.find(database);
    if (!entry)
      fail("sp_verify_jobstep", 14262, "The specified @database_name ('" + database + "') does not exist.");
    database = entry->name;
  }
  const Value command = a.text("@command") ? Value{*a.text("@command")} : Value{};
  auto optionalText = [&](const char* n) { return a.text(n) ? Value{*a.text(n)} : Value{}; };
  const std::string stepUid = newGuid();

  Savepoint sp(t.db);
  // A step put before others moves them one place on.
  storage::execute(
      t.db, "UPDATE " + t("sysjobsteps") + " SET step_id = -(step_id + 1) WHERE job_id = ? AND step_id >= ?",
      {job.id, stepId});
  storage::execute(t.db,
                   "UPDATE " + t("sysjobsteps") + " SET step_id = -step_id WHERE job_id = ? AND step_id < 0",
                   {job.id});
  storage::execute(
      t.db,
      "INSERT INTO " + t("sysjobsteps") +
          " (job_id, step_id, step_name, subsystem, command, flags, additional_parameters, "
          "cmdexec_success_code,"
          " on_success_action, on_success_step_id, on_fail_action, on_fail_step_id, server, database_name,"
          " database_user_name, retry_attempts, retry_interval, os_run_priority, output_file_name, step_uid)"
          " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      {job.id,
       stepId,
       stepName,
       subsystem,
       command,
       a.integer("@flags").value_or(0),
       optionalText("@additional_parameters"),
       a.integer("@cmdexec_success_code").value_or(0),
       onSuccess,
       onSuccessStep,
       onFail,
       onFailStep,
       optionalText("@server"),
       database,
       optionalText("@database_user_name"),
       retries,
       retryInterval,
       a.integer("@os_run_priority").value_or(0),
       optionalText("@output_file_name"),
       stepUid});
  touchJob(t, job.id, c.server().now());
  sp.release();
  a.output("@step_uid", TypedValue{SqlType::nvarchar(36), stepUid});
  return 0;
}

// The checks SQL Server makes of a schedule's values, in its order.
void verifySchedule(const Schedule& d, std::int64_t enabled, int year) {
  if (enabled != 0 && enabled != 1) invalidValue("sp_verify_schedule", "@enabled", "0, 1");
  static const int kinds[] = {kOnce, kDaily, kWeekly, kMonthly, kMonthlyRelative, kAgentStart, kIdle};
  if (std::find(std::begin(kinds), std::end(kinds), d.freqType) == std::end(kinds))
    invalidValue("sp_verify_schedule", "@freq_type", "0x1, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80");
  const bool seconds = year >= 2005;
  if (d.freqSubdayType != 1 && d.freqSubdayType != 4 && d.freqSubdayType != 8 &&
      !(seconds && d.freqSubdayType == 2))
    invalidValue("sp_verify_schedule", "@freq_subday_type", seconds ? "0x1, 0x2, 0x4, 0x8" : "0x1, 0x4, 0x8");
  if (d.freqSubdayType != 1 && d.freqSubdayInterval < 1 && d.freqType != kOnce && d.freqType != kAgentStart &&
      d.freqType != kIdle)
    invalidSchedule("@freq_subday_interval must be at least 1.");
  switch (d.freqType) {
    case kDaily:
      if (d.freqInterval < 1) invalidSchedule("@freq_interval must be at least 1 for a daily job.");
      break;
    case kWeekly:
      if (d.freqInterval < 1 || d.freqInterval > 127)
        invalidSchedule(
            "@freq_interval must be a valid day of the week bitmask [Sunday = 1 .. Saturday = 64] for a "
            "weekly job.");
      break;
    case kMonthly:
      if (d.freqInterval < 1 || d.freqInterval > 31)
        invalidSchedule("@freq_interval must be between 1 and 31 for a monthly job.");
      break;
    case kMonthlyRelative:
      if (d.freqRelativeInterval != 1 && d.freqRelativeInterval != 2 && d.freqRelativeInterval != 4 &&
          d.freqRelativeInterval != 8 && d.freqRelativeInterval != 16)
        invalidSchedule(
            "@freq_relative_interval must be one of 1st (0x1), 2nd (0x2), 3rd (0x4), 4th (0x8) or Last "
            "(0x10).");
      if (d.freqInterval < 1 || d.freqInterval > 10)
        invalidSchedule(
            "@freq_interval must be between 1 and 10 (1 = Sunday .. 7 = Saturday, 8 = Day, 9 = Weekday, 10 = "
            "Weekend-day) for a monthly-relative job.");
      break;
    default:
      break;
  }
  if ((d.freqType == kWeekly || d.freqType == kMonthly || d.freqType == kMonthlyRelative) &&
      d.freqRecurrenceFactor < 1)
    invalidSchedule("@freq_recurrence_factor must be at least 1.");
  if (!isPackedDate(d.activeStartDate) || d.activeStartDate < 19900101)
    invalidValue("sp_verify_job_date", "@active_start_date", "19900101..99991231");
  if (!isPackedDate(d.activeEndDate) || d.activeEndDate < 19900101)
    invalidValue("sp_verify_job_date", "@active_end_date", "19900101..99991231");
  if (!isPackedTime(d.activeStartTime))
    invalidValue("sp_verify_job_time", "@active_start_time", "000000..235959");
  if (!isPackedTime(d.activeEndTime))
    invalidValue("sp_verify_job_time", "@active_end_time", "000000..235959");
  if (d.activeEndDate < d.activeStartDate)
    fail("sp_verify_schedule", 14288, "@active_end_date cannot be before @active_start_date.");
  if (d.freqSubdayType != 1 && d.activeEndTime < d.activeStartTime)
    fail("sp_verify_schedule", 14288, "@active_end_time cannot be before @active_start_time.");
}

int addJobSchedule(Context& c, Arguments& a) {
  SessionTables st(c);
  const MsdbTables& t = st.tables;
  const Job job = findJob(t, a);
  const std::string name = a.required("@name");
  const DateTime now = c.server().now();
  const Moment today = Moment::of(now);
  Schedule d;
  const std::int64_t enabled = a.integer("@enabled").value_or(1);
  auto intParam = [&](const char* n, int fallback) {
    return static_cast<int>(a.integer(n).value_or(fallback));
  };
  d.freqType = intParam("@freq_type", kOnce);
  d.freqInterval = intParam("@freq_interval", 1);
  d.freqSubdayType = intParam("@freq_subday_type", 1);
  d.freqSubdayInterval = intParam("@freq_subday_interval", 0);
  d.freqRelativeInterval = intParam("@freq_relative_interval", 0);
  d.freqRecurrenceFactor = intParam("@freq_recurrence_factor", 0);
  d.activeStartDate = intParam("@active_start_date", today.packedDate());
  d.activeEndDate = intParam("@active_end_date", 99991231);
  d.activeStartTime = intParam("@active_start_time", 0);
  d.activeEndTime = intParam("@active_end_time", 235959);
  verifySchedule(d, enabled, t.year);
  if (!t.scheduleTable() &&
      !storage::select(
           t.db, "SELECT 1 FROM " + t("sysjobschedules") + " WHERE job_id = ? AND name = ? COLLATE NOCASE",
           {job.id, name})
           .empty())
    fail("sp_add_jobschedule", 14261, "The specified @name ('" + name + "') already exists.");

  const auto next = enabled ? nextRun(d, today) : std::nullopt;
  const std::int64_t nextDate = next ? next->packedDate() : 0;
  const std::int64_t nextTime = next ? next->packedTime() : 0;
  const std::vector<Value> values = {enabled,
                                     std::int64_t{d.freqType},
                                     std::int64_t{d.freqInterval},
                                     std::int64_t{d.freqSubdayType},
                                     std::int64_t{d.freqSubdayInterval},
                                     std::int64_t{d.freqRelativeInterval},
                                     std::int64_t{d.freqRecurrenceFactor},
                                     std::int64_t{d.activeStartDate},
                                     std::int64_t{d.activeEndDate},
                                     std::int64_t{d.activeStartTime},
                                     std::int64_t{d.activeEndTime}};
  const std::string marks = "?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?";
  Savepoint sp(t.db);
  std::int64_t scheduleId = 0;
  std::string scheduleUid;
  if (t.scheduleTable()) {
    scheduleUid = newGuid();
    const auto owner =
        storage::select(t.db, "SELECT owner_sid FROM " + t("sysjobs") + " WHERE job_id = ?", {job.id});
    std::vector<Value> binds = {scheduleUid, name, owner.empty() ? Value{Binary{"\x01"}} : owner[0][0]};
    binds.insert(binds.end(), values.begin(), values.end());
    binds.push_back(now.iso());
    binds.push_back(now.iso());
    storage::execute(t.db,
                     "INSERT INTO " + t("sysschedules") + " (schedule_uid, name, owner_sid, " +
                         kScheduleNames + ", date_created, date_modified, version_number) VALUES (?, ?, ?, " +
                         marks + ", ?, ?, 1)",
                     binds);
    scheduleId = sqlite3_last_insert_rowid(t.db);
    storage::execute(t.db,
                     "INSERT INTO " + t("sysjobschedules") +
                         " (schedule_id, job_id, next_run_date, next_run_time) VALUES (?, ?, ?, ?)",
                     {scheduleId, job.id, nextDate, nextTime});
  } else {
    std::vector<Value> binds = {job.id, name};
    binds.insert(binds.end(), values.begin(), values.end());
    binds.push_back(nextDate);
    binds.push_back(nextTime);
    binds.push_back(now.iso());
    storage::execute(t.db,
                     "INSERT INTO " + t("sysjobschedules") + " (job_id, name, " + kScheduleNames +
                         ", next_run_date, next_run_time, date_created) VALUES (?, ?, " + marks +
                         ", ?, ?, ?)",
                     binds);
    scheduleId = sqlite3_last_insert_rowid(t.db);
  }
  touchJob(t, job.id, now);
  sp.release();
  if (t.scheduleTable()) {
    a.output("@schedule_id", TypedValue{SqlType::integer(), scheduleId});
    a.output("@schedule_uid", TypedValue{SqlType::nvarchar(36), scheduleUid});
  }
  return 0;
}

bool isLocalServer(Context& c, const std::optional<std::string>& server) {
  if (!server || server->empty()) return true;
  std::string name = *server;
  if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
  return equalsIgnoreCase(name, "(local)") || equalsIgnoreCase(name, c.server().serverName());
}

int addJobServer(Context& c, Arguments& a) {
  SessionTables st(c);
  const MsdbTables& t = st.tables;
  const Job job = findJob(t, a);
  const auto server = a.text("@server_name");
  if (!isLocalServer(c, server))
    fail("sp_add_jobserver", 14262, "The specified @server_name ('" + *server + "') does not exist.");
  if (!storage::select(t.db, "SELECT 1 FROM " + t("sysjobservers") + " WHERE job_id = ? AND server_id = 0",
                       {job.id})
           .empty())
    fail("sp_add_jobserver", 14269,
         "Job '" + job.name + "' is already targeted at server '" + c.server().serverName() + "'.");
  Savepoint sp(t.db);
  // Outcome 5: not yet known.
  storage::execute(
      t.db,
      "INSERT INTO " + t("sysjobservers") +
          " (job_id, server_id, last_run_outcome, last_outcome_message, last_run_date, last_run_time,"
          " last_run_duration) VALUES (?, 0, 5, NULL, 0, 0, 0)",
      {job.id});
  touchJob(t, job.id, c.server().now());
  sp.release();
  return 0;
}

int deleteJobProcedure(Context& c, Arguments& a) {
  SessionTables st(c);
  const MsdbTables& t = st.tables;
  const Job job = findJob(t, a);
  const bool history = a.integer("@delete_history").value_or(1) != 0;
  Savepoint sp(t.db);
  deleteJob(t, job.id, history);
  sp.release();
  return 0;
}

int startJob(Context& c, Arguments& a) {
  Job job;
  int step = 0;
  {
    SessionTables st(c);
    const MsdbTables& t = st.tables;
    job = findJob(t, a);
    if (!isLocalServer(c, a.text("@server_name")))
      fail("sp_start_job", 14262,
           "The specified @server_name ('" + *a.text("@server_name") + "') does not exist.");
    if (storage::select(t.db, "SELECT 1 FROM " + t("sysjobservers") + " WHERE job_id = ?", {job.id}).empty())
      fail("sp_start_job", 14256,
           "Cannot start job '" + job.name + "' (ID " + job.id +
               ") because it does not have any job server or servers defined. Associate the job with a job "
               "server "
               "by calling sp_add_jobserver.");
    if (const auto stepName = a.text("@step_name")) {
      const auto rows = storage::select(
          t.db,
          "SELECT step_id FROM " + t("sysjobsteps") + " WHERE job_id = ? AND step_name = ? COLLATE NOCASE",
          {job.id, *stepName});
      if (rows.empty())
        fail("sp_start_job", 14262, "The specified @step_name ('" + *stepName + "') does not exist.");
      step = static_cast<int>(intValue(rows[0][0]));
    }
  }
  // The job checked, the procedure notifies the Agent, which an edition without one (Express)
  // does not have running.
  if (!base::hasAgent(c.server().edition))
    fail("sp_start_job", 22022,
         "SQLServerAgent is not currently running so it cannot be notified of this action.");
  // The stand-in's Agent runs the job at once, so that its history is there when this returns.
  runJob(c.server(), job.id, JobTrigger{"User " + c.loginName(), c.loginName(), step});
  c.message(14243, 0, "Job '" + job.name + "' started successfully.");
  return 0;
}

}  // namespace

int spAddJob(Context& c, std::vector<ProcArg>& args, std::vector<ReturnValue>& outputs) {
  const int year = c.server().version.year;
  const bool later = year >= 2005;
  std::vector<const char*> p = {"@job_name",
                                "@enabled",
                                "@description",
                                "@start_step_id",
                                "@category_name",
                                "@category_id",
                                "@owner_login_name",
                                "@notify_level_eventlog",
                                "@notify_level_email",
                                "@notify_level_netsend",
                                "@notify_level_page",
                                "@notify_email_operator_name",
                                "@notify_netsend_operator_name",
                                "@notify_page_operator_name",
                                "@delete_level",
                                "@job_id"};
  if (later) p.push_back("@originating_server");
  Arguments a("sp_add_job", p, args, year, outputs);
  return addJob(c, a);
}

int spAddJobStep(Context& c, std::vector<ProcArg>& args, std::vector<ReturnValue>& outputs) {
  const int year = c.server().version.year;
  const bool later = year >= 2005;
  std::vector<const char*> p = {"@job_id",
                                "@job_name",
                                "@step_id",
                                "@step_name",
                                "@subsystem",
                                "@command",
                                "@additional_parameters",
                                "@cmdexec_success_code",
                                "@on_success_action",
                                "@on_success_step_id",
                                "@on_fail_action",
                                "@on_fail_step_id",
                                "@server",
                                "@database_name",
                                "@database_user_name",
                                "@retry_attempts",
                                "@retry_interval",
                                "@os_run_priority",
                                "@output_file_name",
                                "@flags"};
  if (later) {
    p.push_back("@proxy_id");
    p.push_back("@proxy_name");
    p.push_back("@step_uid");
  }
  Arguments a("sp_add_jobstep", p, args, year, outputs);
  return addJobStep(c, a);
}

int spAddJobSchedule(Context& c, std::vector<ProcArg>& args, std::vector<ReturnValue>& outputs) {
  const int year = c.server().version.year;
  const bool later = year >= 2005;
  std::vector<const char*> p = {"@job_id",
                                "@job_name",
                                "@name",
                                "@enabled",
                                "@freq_type",
                                "@freq_interval",
                                "@freq_subday_type",
                                "@freq_subday_interval",
                                "@freq_relative_interval",
                                "@freq_recurrence_factor",
                                "@active_start_date",
                                "@active_end_date",
                                "@active_start_time",
                                "@active_end_time"};
  if (later) {
    p.push_back("@schedule_id");
    p.push_back("@automatic_post");
    p.push_back("@schedule_uid");
  }
  Arguments a("sp_add_jobschedule", p, args, year, outputs);
  return addJobSchedule(c, a);
}

int spAddJobServer(Context& c, std::vector<ProcArg>& args, std::vector<ReturnValue>& outputs) {
  const int year = c.server().version.year;
  Arguments a("sp_add_jobserver", {"@job_id", "@job_name", "@server_name", "@automatic_post"}, args, year,
              outputs);
  return addJobServer(c, a);
}

int spDeleteJob(Context& c, std::vector<ProcArg>& args, std::vector<ReturnValue>& outputs) {
  const int year = c.server().version.year;
  const bool later = year >= 2005;
  std::vector<const char*> p = {"@job_id", "@job_name", "@originating_server", "@delete_history"};
  if (later) p.push_back("@delete_unused_schedule");
  Arguments a("sp_delete_job", p, args, year, outputs);
  return deleteJobProcedure(c, a);
}

int spStartJob(Context& c, std::vector<ProcArg>& args, std::vector<ReturnValue>& outputs) {
  const int year = c.server().version.year;
  Arguments a("sp_start_job",
              {"@job_name", "@job_id", "@error_flag", "@server_name", "@step_name", "@output_flag"}, args,
              year, outputs);
  return startJob(c, a);
}

}  // namespace standin::agent
