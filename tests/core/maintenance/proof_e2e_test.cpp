// Proven backups, end to end through the real driver against the stand-in: each road (run now,
// Brackenrun's ninth field, the Agent job's proof step) restores the new backup under a scratch
// name, checks it and drops it; a damaged copy fails the check, leaves nothing behind and keeps
// the prune from running; a killed proof's leftover goes only when it is old and ours (either
// shape of its name); SQL Server 2000 proves by its own catalogue and refuses the job step. The
// history then shows each proof's verdict as the proofs' record on the server has it.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <set>
#include <thread>

#include "after_backup_e2e.h"
#include "core/maintenance/backup_history.h"
#include "core/maintenance/operations.h"
#include "core/maintenance/proof.h"
#include "odbc_client.h"
#include "standin_fixture.h"

namespace bv::maintenance {
namespace {
namespace fs = std::filesystem;

using bvtest::dateDigits;
using bvtest::Road;
using bvtest::roadName;

bvtest::StandinOptions serverOf(int year, std::vector<std::string> faults = {}) {
  bvtest::StandinOptions o;
  o.serverVersion = year;
  o.faults = std::move(faults);
  return o;
}

struct Case {
  Road road;
  bool damaged;  // the restored copy is damaged, so the check fails
};

void PrintTo(const Case& c, std::ostream* out) { *out << roadName(c.road) << (c.damaged ? " damaged" : ""); }

class ProofRoads : public ::testing::TestWithParam<Case> {};

TEST_P(ProofRoads, TheNewBackupIsRestoredCheckedAndDroppedAndOnlyAProvenOnePrunes) {
  const Case& c = GetParam();
  bvtest::StandinFixture standin(
      serverOf(2019, c.damaged ? std::vector<std::string>{"damage-restore:match=Brackenvale_check"}
                               : std::vector<std::string>{}));
  const fs::path pattern = standin.scratchDir() / "Sample_%date%.bak";
  const auto fileOf = [&](int days) { return standin.scratchDir() / ("Sample_" + dateDigits(days) + ".bak"); };
  for (int days = -3; days <= -1; ++days) bvtest::backupOn(standin, days, pattern);
  const bvtest::RoadOutcome result = bvtest::backupOnRoad(standin, c.road, {pattern.string(), false, 2, true});

  EXPECT_TRUE(result.backedUp) << result.text;
  EXPECT_TRUE(fs::exists(fileOf(0))) << result.text;
  EXPECT_EQ(result.proven, !c.damaged) << result.text;
  EXPECT_NE(result.text.find(c.damaged ? damagedBackupText(fileOf(0).string()) : std::string(kProofSucceeded)),
            std::string::npos)
      << result.text;
  // Two kept when proven; a proof that did not prove the backup keeps every older file.
  EXPECT_EQ(fs::exists(fileOf(-3)), c.damaged) << result.text;
  EXPECT_EQ(fs::exists(fileOf(-2)), c.damaged) << result.text;
  EXPECT_TRUE(fs::exists(fileOf(-1))) << result.text;

  // Restored from the file just written, and nothing of it left: no database, no file.
  EXPECT_EQ(bvtest::scalar(standin,
                           "SELECT COUNT(*) FROM msdb.dbo.restorehistory r JOIN msdb.dbo.backupset s ON "
                           "s.backup_set_id = r.backup_set_id JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = "
                           "s.media_set_id WHERE r.destination_database_name LIKE N'Brackenvale[_]check[_]%' AND "
                           "m.physical_device_name = N'" +
                               fileOf(0).string() + "'"),
            "1")
      << result.text;
  EXPECT_EQ(bvtest::databasesLike(standin, "Brackenvale[_]check%"), std::set<std::string>{}) << result.text;
  EXPECT_EQ(bvtest::scratchFiles(standin), std::vector<fs::path>{}) << result.text;
}

INSTANTIATE_TEST_SUITE_P(Roads, ProofRoads,
                         ::testing::Values(Case{Road::RunNow, false}, Case{Road::Runner, false},
                                           Case{Road::Agent, false}, Case{Road::RunNow, true},
                                           Case{Road::Runner, true}, Case{Road::Agent, true}),
                         [](const auto& test) {
                           return roadName(test.param.road) + (test.param.damaged ? "Damaged" : "");
                         });

// A killed proof's scratch database goes with a later proof only when its name has one of the
// two shapes, it is older than a day, and the restore history ties it to this program's backup.
TEST(ProofLeftovers, OnlyAnOldLeftoverOfOurOwnIsDropped) {
  bvtest::StandinFixture standin(serverOf(2019));
  const fs::path old = standin.scratchDir() / "old.bak";
  bvtest::backupOn(standin, -3, old);
  const auto restoreAs = [&](const std::string& name, std::chrono::hours age) {
    standin.setClockOffset(-age);
    bvtest::execute(standin, "RESTORE DATABASE [" + name + "] FROM DISK = N'" + old.string() + "' WITH MOVE N'Sample' TO N'" +
                                 (standin.scratchDir() / (name + ".mdf")).string() + "', MOVE N'Sample_log' TO N'" +
                                 (standin.scratchDir() / (name + ".ldf")).string() + "'");
    standin.setClockOffset(std::chrono::seconds(0));
  };
  restoreAs("Brackenvale_check_20261201020000_5", std::chrono::hours(25));  // the earlier shape
  restoreAs("Brackenvale_check_20261201020000_5_0123456789ABCDEF0123456789ABCDEF", std::chrono::hours(25));
  const std::set<std::string> kept = {"Brackenvale_check_20261207020000_5", "Brackenvale_check_2026120102000_5",
                                      "Brackenvale_check_20261201020000_5x", "Brackenvale_check_20261201020001_5"};
  restoreAs("Brackenvale_check_20261207020000_5", std::chrono::hours(23));   // fresh: maybe running now
  restoreAs("Brackenvale_check_2026120102000_5", std::chrono::hours(25));    // thirteen digits
  restoreAs("Brackenvale_check_20261201020000_5x", std::chrono::hours(25));  // not a database id
  standin.setClockOffset(-std::chrono::hours(25));
  bvtest::execute(standin, "CREATE DATABASE [Brackenvale_check_20261201020001_5]");  // never restored from our backup
  standin.setClockOffset(std::chrono::seconds(0));

  const bvtest::RoadOutcome outcome =
      bvtest::backupOnRoad(standin, Road::RunNow, {(standin.scratchDir() / "Sample_%date%.bak").string(), false, 0, true});
  EXPECT_TRUE(outcome.proven) << outcome.text;
  EXPECT_EQ(bvtest::databasesLike(standin, "Brackenvale[_]check%"), kept);
}

// SQL Server 2000: the files' folder from sysaltfiles, and no proof step for its Agent.
TEST(ProofOn2000, RunNowProvesThroughTheOldCatalogueAndTheJobStepIsRefused) {
  bvtest::StandinFixture standin(serverOf(2000));
  const bvtest::RoadOutcome outcome =
      bvtest::backupOnRoad(standin, Road::RunNow, {(standin.scratchDir() / "Sample.bak").string(), false, 0, true});
  EXPECT_TRUE(outcome.proven) << outcome.text;

  agent::JobInputs inputs;
  inputs.jobName = "old";
  inputs.backup.backupFile = (standin.scratchDir() / "Sample.bak").string();
  inputs.startTimeText = "02:00:00";
  inputs.freqType = agent::kFreqDaily;
  inputs.backup.testRestore = true;
  inputs.serverVersion = 2000;
  const auto problem = agent::validateJobInputs(inputs, true, {2026, 12, 8});
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->input, agent::JobInput::TestRestore);
  EXPECT_EQ(problem->message, kProofJobNeedsNewerServer);
}

// The server's date (yyyymmdd) `hours` from now, as a scratch name made then starts.
std::string scratchOfHoursAgo(int hours) {
  const std::time_t when = std::time(nullptr) - static_cast<std::time_t>(hours) * 3600;
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &local);
  return std::string("Brackenvale_check_") + text;
}

struct VerdictCase {
  Road road;
  int year;
};

void PrintTo(const VerdictCase& c, std::ostream* out) { *out << roadName(c.road) << " " << c.year; }

class Verdicts : public ::testing::TestWithParam<VerdictCase> {};

// Three proofs on the road, a day apart (so each has a date of its own in its scratch name): 74
// hours ago CHECKDB could not run (its scratch database gone before the check), 50 hours ago
// sound, 26 hours ago damaged. The history shows each verdict; its header names only the sound one.
TEST_P(Verdicts, TheHistoryShowsEachProofsVerdictAndNamesOnlyAPassedOneProven) {
  const VerdictCase& c = GetParam();
  bvtest::StandinFixture standin(serverOf(c.year, {"hold=60s:times=1:match=DBCC CHECKDB ([" + scratchOfHoursAgo(74),
                                                   "damage-restore:times=1:match=" + scratchOfHoursAgo(26)}));
  const fs::path pattern = standin.scratchDir() / "Sample_%date%.bak";
  bvtest::RoadOutcome vanished;
  standin.setClockOffset(-std::chrono::hours(74));
  std::thread proof([&] { vanished = bvtest::backupOnRoad(standin, c.road, {pattern.string(), false, 0, true}); });
  EXPECT_TRUE(standin.waitForHeldStatements(1, std::chrono::seconds(30)));
  for (const std::string& name : bvtest::databasesLike(standin, "Brackenvale[_]check%"))
    bvtest::execute(standin, "DROP DATABASE [" + name + "]");
  standin.releaseHeldStatements();
  proof.join();
  EXPECT_FALSE(vanished.proven) << vanished.text;
  EXPECT_NE(vanished.text.find(kProofFailed), std::string::npos) << vanished.text;
  EXPECT_EQ(vanished.text.find(kProofFoundDamage), std::string::npos) << vanished.text;
  for (const int hours : {50, 26}) {
    standin.setClockOffset(-std::chrono::hours(hours));
    const bvtest::RoadOutcome outcome = bvtest::backupOnRoad(standin, c.road, {pattern.string(), false, 0, true});
    EXPECT_EQ(outcome.proven, hours == 50) << outcome.text;
  }
  standin.setClockOffset(std::chrono::seconds(0));

  const BackupHistory history = readBackupHistory(
      db::loginConnectionSettings({standin.serverText(), true, "sa", standin.saPassword()}, "master"),
      standin.sampleDatabase());
  std::vector<std::string_view> shown;
  for (const auto& row : history.rows) shown.push_back(proofVerdictText(row.proof));
  EXPECT_EQ(shown, (std::vector<std::string_view>{"異常", "済み", "失敗"}));
  EXPECT_EQ(historyHeader(history), "最新の完全バックアップ：1 日前　最新のテストレストア済みバックアップ：2 日前");
}

INSTANTIATE_TEST_SUITE_P(Roads, Verdicts,
                         ::testing::Values(VerdictCase{Road::RunNow, 2019}, VerdictCase{Road::Runner, 2019},
                                           VerdictCase{Road::Agent, 2019}, VerdictCase{Road::Runner, 2000}),
                         [](const auto& test) { return roadName(test.param.road) + std::to_string(test.param.year); });

}  // namespace
}  // namespace bv::maintenance
