// Proven backups, end to end through the real driver against the stand-in: each road (run now,
// Brackenrun's ninth field, the Agent job's proof step) restores the new backup under a scratch
// name, checks it and drops it; a damaged copy fails the check, leaves nothing behind and keeps
// the prune from running; a killed proof's leftover goes only when it is old and ours (either
// shape of its name); SQL Server 2000 proves by its own catalogue and refuses the job step. The
// history then lists those backups and their proofs.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <sstream>

#include "after_backup_e2e.h"
#include "core/maintenance/backup_history.h"
#include "core/maintenance/operations.h"
#include "core/maintenance/proof.h"
#include "core/tasks/task_argument.h"
#include "odbc_client.h"
#include "runner/runner.h"
#include "standin_fixture.h"

namespace bv::maintenance {
namespace {
namespace fs = std::filesystem;

using bvtest::dateDigits;
using bvtest::Road;

struct Case {
  const char* name;
  Road road;
  bool damaged;  // the restored copy is damaged, so the check fails
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

bvtest::StandinOptions serverOf(int year, std::vector<std::string> faults = {}) {
  bvtest::StandinOptions o;
  o.serverVersion = year;
  o.faults = std::move(faults);
  return o;
}

class ProofTest {
 protected:
  explicit ProofTest(bvtest::StandinOptions options) : standin_(std::move(options)) {}

  db::LoginSettings login() const { return {standin_.serverText(), true, "sa", standin_.saPassword()}; }
  fs::path pattern() const { return standin_.scratchDir() / "Sample_%date%.bak"; }
  fs::path fileOf(int days) const { return standin_.scratchDir() / ("Sample_" + dateDigits(days) + ".bak"); }

  bvtest::odbc::Result query(const std::string& batch) {
    bvtest::odbc::Connection connection;
    EXPECT_TRUE(connection.connect(standin_.odbcConnectionString()));
    return connection.execute(batch);
  }
  void execute(const std::string& batch) {
    const auto r = query(batch);
    ASSERT_FALSE(r.anyError) << batch << (r.diags.empty() ? "" : r.diags.front().text);
  }
  std::string scalar(const std::string& select) {
    const auto r = query(select);
    if (r.sets.empty() || r.sets[0].rows.empty() || !r.sets[0].rows[0][0]) return {};
    return *r.sets[0].rows[0][0];
  }
  std::set<std::string> databasesLike(const std::string& pattern) {
    const auto r = query("SELECT name FROM master..sysdatabases WHERE name LIKE N'" + pattern + "'");
    std::set<std::string> names;
    if (!r.sets.empty())
      for (const auto& row : r.sets[0].rows) names.insert(row[0].value_or(""));
    return names;
  }
  // Files of the scratch shape anywhere under the server's folders.
  std::vector<fs::path> scratchFiles() const {
    std::vector<fs::path> found;
    for (const fs::path& root : {standin_.dataDir(), standin_.scratchDir()})
      for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.path().filename().string().rfind(kScratchPrefix, 0) == 0) found.push_back(entry.path());
    return found;
  }
  // A backup written on the server's day `days` from today, neither proven nor pruning.
  void backupOn(int days) {
    standin_.setClockOffset(std::chrono::hours(24 * days));
    const OperationOutcome outcome = run(BackupRequest{login(), standin_.sampleDatabase(), pattern().string()});
    standin_.setClockOffset(std::chrono::seconds(0));
    ASSERT_TRUE(outcome.succeeded) << outcome.message;
  }

  struct RoadResult {
    bool backedUp = false;
    bool proven = false;
    std::string text;  // the box's, the runner's output, or the job's history messages
  };
  RoadResult backupOnRoad(Road road, int generations) {
    RoadResult result;
    if (road == Road::RunNow) {
      BackupRequest request{login(), standin_.sampleDatabase(), pattern().string(), false, generations, true};
      const OperationOutcome outcome = run(request);
      result.backedUp = outcome.succeeded;
      result.proven = outcome.proof && outcome.proof->result == ProofOutcome::Result::Proven;
      result.text = outcome.message + "\n" + (outcome.proof ? outcome.proof->message : "(no proof)");
      EXPECT_EQ(outcome.prune.has_value(), result.proven && generations > 0) << result.text;
      return result;
    }
    if (road == Road::Runner) {
      tasks::TaskBackup task;
      task.useSqlAuth = true;
      task.userName = "sa";
      task.password = standin_.saPassword();
      task.server = standin_.serverText();
      task.database = standin_.sampleDatabase();
      task.backupFile = pattern().string();
      task.generations = generations;
      task.testRestore = true;
      std::istringstream in;
      std::ostringstream out, err;
      const auto status = runner::run({tasks::buildTaskParameters(task)}, in, out, err,
                                      standin_.scratchDir() / "brackenrun.log");
      result.backedUp = status == runner::ExitStatus::Success || status == runner::ExitStatus::ProofFailed;
      result.proven = status == runner::ExitStatus::Success;
      result.text = out.str() + err.str();
      return result;
    }
    // The Agent: the job as the dialog registers it, started at once.
    bv::agent::JobInputs inputs;
    inputs.jobName = "proof job";
    inputs.backupFile = pattern().string();
    inputs.generations = generations;
    inputs.testRestore = true;
    const bvtest::AgentJobRun run = bvtest::runAgentBackupJob(standin_, inputs);
    result.text = run.messages;
    result.backedUp = run.steps.count(1) && run.steps.at(1) == "1";
    result.proven = run.steps.count(2) && run.steps.at(2) == "1" && run.outcome == "1";
    EXPECT_EQ(run.steps.count(3), result.proven && generations > 0 ? 1u : 0u) << result.text;
    return result;
  }

  bvtest::StandinFixture standin_;
};

class ProofRoads : public ProofTest, public ::testing::TestWithParam<Case> {
 protected:
  ProofRoads()
      : ProofTest(serverOf(2019, GetParam().damaged ? std::vector<std::string>{"damage-restore:match=Brackenvale_check"}
                                                     : std::vector<std::string>{})) {}
};

TEST_P(ProofRoads, TheNewBackupIsRestoredCheckedAndDroppedAndOnlyAProvenOnePrunes) {
  const Case& c = GetParam();
  for (int days = -3; days <= -1; ++days) backupOn(days);
  const RoadResult result = backupOnRoad(c.road, 2);

  EXPECT_TRUE(result.backedUp) << result.text;
  EXPECT_TRUE(fs::exists(fileOf(0))) << result.text;
  EXPECT_EQ(result.proven, !c.damaged) << result.text;
  if (c.road != Road::Agent) {
    EXPECT_NE(result.text.find(c.damaged ? kProofFoundDamage : kProofSucceeded), std::string::npos) << result.text;
  }
  // Two kept when proven; a proof that did not prove the backup keeps every older file.
  EXPECT_EQ(fs::exists(fileOf(-3)), c.damaged) << result.text;
  EXPECT_EQ(fs::exists(fileOf(-2)), c.damaged) << result.text;
  EXPECT_TRUE(fs::exists(fileOf(-1))) << result.text;

  // Restored from the file just written, and nothing of it left: no database, no file.
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM msdb.dbo.restorehistory r JOIN msdb.dbo.backupset s ON s.backup_set_id = "
                   "r.backup_set_id JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id "
                   "WHERE r.destination_database_name LIKE N'Brackenvale[_]check[_]%' AND m.physical_device_name = N'" +
                   fileOf(0).string() + "'"),
            "1")
      << result.text;
  EXPECT_EQ(databasesLike("Brackenvale[_]check%"), std::set<std::string>{}) << result.text;
  EXPECT_EQ(scratchFiles(), std::vector<fs::path>{}) << result.text;
}

INSTANTIATE_TEST_SUITE_P(Roads, ProofRoads,
                         ::testing::Values(Case{"RunNow", Road::RunNow, false}, Case{"Runner", Road::Runner, false},
                                           Case{"Agent", Road::Agent, false},
                                           Case{"RunNowDamaged", Road::RunNow, true},
                                           Case{"RunnerDamaged", Road::Runner, true},
                                           Case{"AgentDamaged", Road::Agent, true}),
                         [](const auto& test) { return std::string(test.param.name); });

class ProofSafety : public ProofTest, public ::testing::Test {
 protected:
  ProofSafety() : ProofTest(serverOf(2019)) {}
};

// A killed proof's scratch database goes with a later proof only when its name has one of the
// two shapes, it is older than a day, and the restore history ties it to this program's backup.
TEST_F(ProofSafety, OnlyAnOldLeftoverOfOurOwnIsDropped) {
  backupOn(-3);
  const auto files = query("RESTORE FILELISTONLY FROM DISK = N'" + fileOf(-3).string() + "'");
  ASSERT_FALSE(files.sets.empty());
  const auto restoreAs = [&](const std::string& name, std::chrono::hours age) {
    standin_.setClockOffset(-age);
    std::string sql = "RESTORE DATABASE [" + name + "] FROM DISK = N'" + fileOf(-3).string() + "' WITH ";
    for (std::size_t i = 0; i < files.sets[0].rows.size(); ++i) {
      const std::string logical = files.sets[0].rows[i][0].value_or("");
      sql += (i ? ", " : "") + std::string("MOVE N'") + logical + "' TO N'" +
             (standin_.scratchDir() / (name + "_" + logical)).string() + "'";
    }
    execute(sql);
    standin_.setClockOffset(std::chrono::seconds(0));
  };
  restoreAs("Brackenvale_check_20261201020000_5", std::chrono::hours(25));  // the earlier shape
  restoreAs("Brackenvale_check_20261201020000_5_0123456789ABCDEF0123456789ABCDEF", std::chrono::hours(25));
  const std::set<std::string> kept = {"Brackenvale_check_20261207020000_5", "Brackenvale_check_2026120102000_5",
                                      "Brackenvale_check_20261201020000_5x", "Brackenvale_check_20261201020001_5"};
  restoreAs("Brackenvale_check_20261207020000_5", std::chrono::hours(23));   // fresh: maybe running now
  restoreAs("Brackenvale_check_2026120102000_5", std::chrono::hours(25));    // thirteen digits
  restoreAs("Brackenvale_check_20261201020000_5x", std::chrono::hours(25));  // not a database id
  standin_.setClockOffset(-std::chrono::hours(25));
  execute("CREATE DATABASE [Brackenvale_check_20261201020001_5]");  // never restored from our backup
  standin_.setClockOffset(std::chrono::seconds(0));

  const OperationOutcome outcome =
      run(BackupRequest{login(), standin_.sampleDatabase(), pattern().string(), false, 0, true});
  ASSERT_TRUE(outcome.proof.has_value());
  EXPECT_EQ(outcome.proof->result, ProofOutcome::Result::Proven) << outcome.proof->message;
  EXPECT_EQ(databasesLike("Brackenvale[_]check%"), kept);
}

// SQL Server 2000: the files' folder from sysaltfiles, and no proof step for its Agent.
TEST(ProofOn2000, RunNowProvesThroughTheOldCatalogueAndTheJobStepIsRefused) {
  bvtest::StandinFixture standin(serverOf(2000));
  const OperationOutcome outcome = run(BackupRequest{{standin.serverText(), true, "sa", standin.saPassword()},
                                                     standin.sampleDatabase(),
                                                     (standin.scratchDir() / "Sample.bak").string(), false, 0, true});
  EXPECT_TRUE(outcome.succeeded) << outcome.message;
  ASSERT_TRUE(outcome.proof.has_value());
  EXPECT_EQ(outcome.proof->result, ProofOutcome::Result::Proven) << outcome.proof->message;

  agent::JobInputs inputs;
  inputs.jobName = "old";
  inputs.backupFile = (standin.scratchDir() / "Sample.bak").string();
  inputs.startTimeText = "02:00:00";
  inputs.freqType = agent::kFreqDaily;
  inputs.testRestore = true;
  inputs.serverVersion = 2000;
  const auto problem = agent::validateJobInputs(inputs, true, {2026, 12, 8});
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->input, agent::JobInput::TestRestore);
  EXPECT_EQ(problem->message, kProofJobNeedsNewerServer);
}

// The history lists the backups of every road, newest first, with the proven ones marked.
TEST_F(ProofSafety, TheHistoryListsEachRoadsBackupAndItsProof) {
  standin_.setClockOffset(-std::chrono::hours(50));
  ASSERT_TRUE(backupOnRoad(Road::Agent, 0).proven);
  standin_.setClockOffset(-std::chrono::hours(26));
  ASSERT_TRUE(backupOnRoad(Road::Runner, 0).proven);
  standin_.setClockOffset(-std::chrono::hours(3));
  ASSERT_TRUE(run(BackupRequest{login(), standin_.sampleDatabase(), pattern().string()}).succeeded);
  standin_.setClockOffset(std::chrono::seconds(0));
  execute("BACKUP LOG Sample TO DISK = N'" + (standin_.scratchDir() / "Sample.trn").string() + "'");

  const BackupHistory history =
      readBackupHistory(db::loginConnectionSettings(login(), "master"), standin_.sampleDatabase());
  std::string listed;
  for (const auto& row : history.rows)
    listed += row.finished + " " + row.type + " " + row.file + (row.proven ? " proven" : "") + "\n";
  ASSERT_EQ(history.rows.size(), 4u) << listed;
  EXPECT_EQ(history.rows[0].type, 'L');
  EXPECT_EQ(history.rows[0].file, (standin_.scratchDir() / "Sample.trn").string());
  std::vector<bool> proven;
  for (const auto& row : history.rows) proven.push_back(row.proven);
  EXPECT_EQ(proven, (std::vector<bool>{false, false, true, true}));
  // Minutes on the server's clock, which went on a little while the test ran.
  ASSERT_TRUE(history.newestFullAgeMinutes && history.newestProvenAgeMinutes);
  EXPECT_EQ(*history.newestFullAgeMinutes / 10, 18);
  EXPECT_EQ(*history.newestProvenAgeMinutes / 10, 26 * 6);
  EXPECT_EQ(historyHeader(history), "最新の完全バックアップ：3 時間前　最新のテストレストア済みバックアップ：1 日前");
}

}  // namespace
}  // namespace bv::maintenance
