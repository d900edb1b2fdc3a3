#include "core/agent/job_store.h"

#include "core/agent/job_registration.h"
#include "core/db/sql_text.h"
#include "core/maintenance/server_release.h"

namespace bv::agent {

db::ConnectionSettings agentConnectionSettings(const db::LoginSettings& login,
                                               std::string_view databaseName) {
  return db::loginConnectionSettings(login, login.useSqlAuth ? databaseName : "master");
}

void JobStore::open(const db::ConnectionSettings& settings) {
  close();
  connection_.setSettings(settings);
  connection_.open();
}

void JobStore::close() noexcept { connection_.close(); }

std::int32_t JobStore::serverVersion() {
  db::Query query(connection_);
  for (const auto& line : serverVersionQueryLines()) query.addLine(line);
  query.open();
  return query.eof() ? -1 : parseServerVersion(query.fieldAsText("VERSION"));
}

void JobStore::loadJobs(std::int32_t serverVersion, std::vector<TJobEntry>& jobs) {
  db::Query query(connection_);
  for (const auto& line : catalogueQueryLines(serverVersion)) query.addLine(line);
  query.open();
  jobs.clear();
  for (; !query.eof(); query.next()) jobs.push_back(jobEntryFromRow(readCatalogueRow(query)));
  db::Query minutes(connection_);
  for (const auto& line : minuteScheduleQueryLines(serverVersion)) minutes.addLine(line);
  minutes.open();
  for (; !minutes.eof(); minutes.next()) addMinuteSchedule(jobs, readMinuteScheduleRow(minutes));
}

std::string JobStore::recoveryModel(std::string_view databaseName) {
  db::Query query(connection_);
  query.addLine("SELECT CONVERT(nvarchar(60), DATABASEPROPERTYEX(N'" + db::QuoteSqlString(databaseName) +
                "', 'Recovery')) AS recovery");
  query.open();
  return query.eof() ? std::string() : query.fieldAsText("recovery");
}

bool JobStore::jobExists(std::string_view jobName) {
  db::Query query(connection_);
  for (const auto& line : jobExistsLines(jobName)) query.addLine(line);
  query.open();
  return !query.eof() && query.fieldAsInteger("cnt") > 0;
}

void JobStore::beginTransaction() { connection_.beginTransaction(); }

void JobStore::commitTransaction() { connection_.commitTransaction(); }

void JobStore::rollbackTransaction() { connection_.rollbackTransaction(); }

void JobStore::addJob(const TJobEntry& entry, std::string_view ownerLoginName) {
  execute(addJobLines(entry, ownerLoginName));
}

void JobStore::addJobStep(const TJobEntry& entry, std::string_view databaseName) {
  execute(addJobStepLines(entry, databaseName));
  for (const auto& lines : followingStepLines(entry, databaseName)) execute(lines);
}

void JobStore::addJobSchedule(const TJobEntry& entry) { execute(addJobScheduleLines(entry)); }

void JobStore::addJobServer(const TJobEntry& entry) { execute(addJobServerLines(entry)); }

void JobStore::deleteJob(std::string_view jobName) { execute(deleteJobLines(jobName)); }

void JobStore::execute(const std::vector<std::string>& lines) {
  db::Query query(connection_);
  for (const auto& line : lines) query.addLine(line);
  query.execute();
}

std::optional<int> readEngineEdition(const db::ConnectionSettings& settings) {
  const std::optional<maintenance::ServerRelease> release = maintenance::readServerRelease(settings);
  if (!release || release->engineEdition == 0) return std::nullopt;
  return release->engineEdition;
}

}  // namespace bv::agent
