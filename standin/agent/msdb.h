// msdb's SQL Server Agent tables and procedures: the jobs, their steps, schedules, target
// servers, categories and history, kept in msdb's SQLite file in the layout of the emulated
// release, and the sp_add_* / sp_delete_job / sp_start_job procedures that maintain them.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "standin/agent/schedule.h"
#include "standin/server/context.h"
#include "standin/sql/results.h"

namespace standin::agent {

// The Agent tables of msdb as one connection reaches them: directly (prefix empty) or as an
// attached database (prefix "\"msdb\".").
struct MsdbTables {
  sqlite3* db = nullptr;
  std::string prefix;
  int year = 2005;
  std::string operator()(const char* table) const { return prefix + "\"" + table + "\""; }
  // Schedules live in sysschedules from 2005 on; before, in sysjobschedules.
  bool scheduleTable() const { return year >= 2005; }
};

// Creates the Agent tables in the release's layout, or converts them when the data folder was
// last used by a release of the other layout.
void ensureAgentTables(sqlite3* db, int year);

// The Agent's session of this start of the server (msdb.dbo.syssessions, 2005 on): made by the
// first call, which the Agent's thread makes when it starts (or the first job run without it).
// 0 on 2000, which keeps no sessions.
int agentSession(server::Server& server);

// msdb's Agent procedures (they live in msdb: room.cpp), each run in a session; each returns its
// return status. Errors are sql::SqlError with SQL Server's numbers and texts. Writes happen on
// the session's own connection, so they are part of its open transaction.
int spAddJob(server::Context& c, std::vector<server::ProcArg>& args, std::vector<sql::ReturnValue>& outputs);
int spAddJobStep(server::Context& c, std::vector<server::ProcArg>& args,
                 std::vector<sql::ReturnValue>& outputs);
int spAddJobSchedule(server::Context& c, std::vector<server::ProcArg>& args,
                     std::vector<sql::ReturnValue>& outputs);
int spAddJobServer(server::Context& c, std::vector<server::ProcArg>& args,
                   std::vector<sql::ReturnValue>& outputs);
int spDeleteJob(server::Context& c, std::vector<server::ProcArg>& args,
                std::vector<sql::ReturnValue>& outputs);
int spStartJob(server::Context& c, std::vector<server::ProcArg>& args,
               std::vector<sql::ReturnValue>& outputs);

// --- shared with the Agent ---

// Removes a job with its steps, its schedules' links (and the schedules no other job uses),
// its target servers and, when asked, its history.
void deleteJob(const MsdbTables& t, const std::string& jobId, bool deleteHistory);

// One schedule of a job with what the Agent needs to run it.
struct JobSchedule {
  std::string jobId;
  int scheduleId = 0;
  std::string name;
  bool enabled = true;
  Schedule schedule;
  int nextRunDate = 0;
  int nextRunTime = 0;
};
std::vector<JobSchedule> jobSchedules(const MsdbTables& t, const std::string& jobId = {});
void setNextRun(const MsdbTables& t, const JobSchedule& s, const std::optional<Moment>& next);

}  // namespace standin::agent
