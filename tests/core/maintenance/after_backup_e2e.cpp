#include "after_backup_e2e.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <sstream>
#include <thread>

#include "core/agent/job_store.h"
#include "core/db/sql_text.h"
#include "core/maintenance/operations.h"
#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"
#include "odbc_client.h"
#include "runner/runner.h"

namespace bvtest {

std::string roadName(Road road) {
  return road == Road::RunNow ? "RunNow" : road == Road::Runner ? "Runner" : "Agent";
}

std::string dateDigits(int days) {
  const std::time_t when = std::time(nullptr) + static_cast<std::time_t>(days) * 86400;
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &local);
  return text;
}

std::string scalar(StandinFixture& standin, const std::string& select) {
  odbc::Connection connection;
  EXPECT_TRUE(connection.connect(standin.odbcConnectionString()));
  const auto r = connection.execute(select);
  EXPECT_FALSE(r.anyError) << select << (r.diags.empty() ? "" : r.diags.front().text);
  if (r.sets.empty() || r.sets[0].rows.empty() || !r.sets[0].rows[0][0]) return {};
  return *r.sets[0].rows[0][0];
}

void execute(StandinFixture& standin, const std::string& batch) {
  odbc::Connection connection;
  ASSERT_TRUE(connection.connect(standin.odbcConnectionString()));
  const auto r = connection.execute(batch);
  ASSERT_FALSE(r.anyError) << batch << (r.diags.empty() ? "" : r.diags.front().text);
}

std::set<std::string> databasesLike(StandinFixture& standin, const std::string& pattern) {
  odbc::Connection connection;
  EXPECT_TRUE(connection.connect(standin.odbcConnectionString()));
  const auto r = connection.execute("SELECT name FROM master..sysdatabases WHERE name LIKE N'" + pattern + "'");
  std::set<std::string> names;
  if (!r.sets.empty())
    for (const auto& row : r.sets[0].rows) names.insert(row[0].value_or(""));
  return names;
}

std::set<std::string> filesIn(const std::filesystem::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

std::vector<std::filesystem::path> scratchFiles(StandinFixture& standin) {
  std::vector<std::filesystem::path> found;
  for (const std::filesystem::path& root : {standin.dataDir(), standin.scratchDir()})
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
      if (entry.path().filename().string().rfind("Brackenvale_check_", 0) == 0) found.push_back(entry.path());
  return found;
}

void backupOn(StandinFixture& standin, int days, const std::filesystem::path& file, const std::string& database) {
  standin.setClockOffset(std::chrono::hours(24 * days));
  const bv::maintenance::OperationOutcome outcome =
      bv::maintenance::run(bv::maintenance::BackupRequest{{standin.serverText(), true, "sa", standin.saPassword()},
                                                          database.empty() ? standin.sampleDatabase() : database,
                                                          file.string()});
  standin.setClockOffset(std::chrono::seconds(0));
  ASSERT_TRUE(outcome.succeeded) << outcome.message;
}

RoadOutcome backupOnRoad(StandinFixture& standin, Road road, const RoadBackup& backup) {
  RoadOutcome result;
  if (road == Road::RunNow) {
    const bv::maintenance::OperationOutcome outcome = bv::maintenance::run(
        bv::maintenance::BackupRequest{{standin.serverText(), true, "sa", standin.saPassword()},
                                       standin.sampleDatabase(), backup.file, backup.verify, backup.generations,
                                       backup.testRestore, backup.kind, backup.checksum});
    result.backedUp = outcome.succeeded;
    result.proven = outcome.proof && outcome.proof->result == bv::maintenance::ProofOutcome::Result::Proven;
    result.text = outcome.message + "\n" + (outcome.proof ? outcome.proof->message : "") + "\n" +
                  (outcome.prune ? outcome.prune->errorMessage : "");
    if (outcome.prune)
      for (const std::string& path : outcome.prune->deleted) result.deletedText += path + "\n";
    return result;
  }
  if (road == Road::Runner) {
    bv::maintenance::BackupRequest task;
    task.login.useSqlAuth = true;
    task.login.userName = "sa";
    task.login.password = standin.saPassword();
    task.login.server = standin.serverText();
    task.database = standin.sampleDatabase();
    task.backupFile = backup.file;
    task.verify = backup.verify;
    task.generations = backup.generations;
    task.testRestore = backup.testRestore;
    task.kind = backup.kind;
    task.checksum = backup.checksum;
    std::istringstream in;
    std::ostringstream out, err;
    const auto status = bv::runner::run({bv::scheduling::encodeTaskParameters(task)}, in, out, err,
                                        standin.scratchDir() / "brackenrun.log");
    result.backedUp = status == bv::runner::ExitStatus::Success || status == bv::runner::ExitStatus::ProofFailed;
    result.proven = backup.testRestore && status == bv::runner::ExitStatus::Success;
    result.text = out.str() + err.str();
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
      if (line.rfind(standin.scratchDir().string(), 0) == 0) result.deletedText += line + "\n";
    return result;
  }
  bv::agent::JobInputs inputs;
  inputs.jobName = backup.jobName;
  inputs.backup.backupFile = backup.file;
  inputs.backup.generations = backup.generations;
  inputs.backup.testRestore = backup.testRestore;
  inputs.backup.kind = backup.kind;
  inputs.backup.checksum = backup.checksum;
  inputs.backup.database = standin.sampleDatabase();
  const AgentJobRun run = runAgentBackupJob(standin, inputs);
  result.text = run.messages;
  result.backedUp = run.steps.count(1) && run.steps.at(1) == "1";
  result.proven = backup.testRestore && run.steps.count(2) && run.steps.at(2) == "1";
  return result;
}

bv::agent::TJobEntry registerAgentBackupJob(StandinFixture& standin, bv::agent::JobInputs inputs) {
  const bv::db::LoginSettings login{standin.serverText(), true, "sa", standin.saPassword()};
  inputs.startTimeText = "02:00:00";
  inputs.freqType = bv::agent::kFreqDaily;
  inputs.serverVersion = standin.serverVersion();
  const bv::agent::AgentDate today{2026, 12, 8};
  EXPECT_FALSE(bv::agent::validateJobInputs(inputs, true, today).has_value());
  const bv::agent::TJobEntry entry = bv::agent::CollectJobSettings(inputs, today);
  bv::agent::JobStore store;
  store.open(bv::agent::agentConnectionSettings(login, standin.sampleDatabase()));
  store.beginTransaction();
  store.addJob(entry, "sa");
  store.addJobStep(entry, standin.sampleDatabase());
  store.addJobSchedule(entry);
  store.addJobServer(entry);
  store.commitTransaction();
  return entry;
}

void startAgentJob(StandinFixture& standin, const bv::agent::TJobEntry& job) {
  odbc::Connection client;
  EXPECT_TRUE(client.connect(standin.odbcConnectionString()));
  EXPECT_FALSE(
      client.execute("EXEC msdb.dbo.sp_start_job @job_name = N'" + bv::db::QuoteSqlString(job.Name) + "'").anyError);
}

bv::agent::TJobEntry startAgentBackupJob(StandinFixture& standin, bv::agent::JobInputs inputs) {
  bv::agent::TJobEntry entry = registerAgentBackupJob(standin, std::move(inputs));
  startAgentJob(standin, entry);
  return entry;
}

AgentJobRun waitAgentBackupJob(StandinFixture& standin, const bv::agent::TJobEntry& job) {
  const bv::db::LoginSettings login{standin.serverText(), true, "sa", standin.saPassword()};
  const std::string history =
      "SELECT CONVERT(nvarchar(10), h.step_id), CONVERT(nvarchar(10), h.run_status), h.message FROM "
      "msdb.dbo.sysjobhistory h JOIN msdb.dbo.sysjobs j ON j.job_id = h.job_id WHERE j.name = N'" +
      bv::db::QuoteSqlString(job.Name) + "' ORDER BY h.instance_id";
  odbc::Connection client;
  EXPECT_TRUE(client.connect(standin.odbcConnectionString()));
  AgentJobRun run;
  for (int i = 0; i < 1200 && run.outcome.empty(); ++i) {
    run = {};
    const auto rows = client.execute(history);
    if (!rows.sets.empty()) {
      for (const auto& row : rows.sets[0].rows) {
        const int step = std::stoi(row[0].value_or("-1"));
        (step == 0 ? run.outcome : run.steps[step]) = row[1].value_or("");
        run.messages += row[0].value_or("") + ": " + row[2].value_or("") + "\n";
      }
    }
    if (run.outcome.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(run.outcome.empty()) << "the job did not end";
  bv::agent::JobStore store;
  store.open(bv::agent::agentConnectionSettings(login, standin.sampleDatabase()));
  store.deleteJob(job.Name);
  return run;
}

AgentJobRun runAgentBackupJob(StandinFixture& standin, bv::agent::JobInputs inputs) {
  return waitAgentBackupJob(standin, startAgentBackupJob(standin, std::move(inputs)));
}

}  // namespace bvtest
