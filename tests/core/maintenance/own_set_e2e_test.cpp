// What follows a backup acts only on what its own run made, end to end through the real driver
// against the stand-in: another task's backup of the same database finishing between this run's
// backup and its proof and prune is neither proven nor pruned; a database made under the scratch
// name while the proof waits is never dropped, while one its own broken restore left RESTORING
// is; two proofs at once each prove their own file; a leftover that cannot be dropped is named and
// hangs nothing; a job registered on one release still proves and prunes after an upgrade in
// place; and the program and the job step accept the same two scratch-name shapes.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "after_backup_e2e.h"
#include "core/maintenance/operations.h"
#include "core/maintenance/proof.h"
#include "odbc_client.h"
#include "standin_fixture.h"

namespace bv::maintenance {
namespace {
namespace fs = std::filesystem;

using bvtest::dateDigits;
using bvtest::Road;

bvtest::StandinOptions serverOf(int year, std::vector<std::string> faults = {}) {
  bvtest::StandinOptions o;
  o.serverVersion = year;
  o.faults = std::move(faults);
  return o;
}

// Waits (bounded) until the stand-in holds `count` statements.
void awaitHeld(bvtest::StandinFixture& standin, int count) {
  ASSERT_TRUE(standin.waitForHeldStatements(count, std::chrono::seconds(30))) << standin.heldStatements();
}

// How many times the proofs restored this very file.
std::string restoresOf(bvtest::StandinFixture& standin, const fs::path& file) {
  return bvtest::scalar(standin,
                        "SELECT COUNT(*) FROM msdb.dbo.restorehistory r JOIN msdb.dbo.backupset s ON s.backup_set_id = "
                        "r.backup_set_id JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id "
                        "WHERE r.destination_database_name LIKE N'Brackenvale[_]check[_]%' AND m.physical_device_name = N'" +
                            file.string() + "'");
}

struct InterleavedCase {
  const char* name;
  Road road;
  const char* held;  // the statement of task A held while task B backs up
};

void PrintTo(const InterleavedCase& c, std::ostream* out) { *out << c.name; }

class Interleaved : public ::testing::TestWithParam<InterleavedCase> {};

// Task A keeps 2 and proves; task B, same database, another folder, keeps everything. B's backup
// finishes while A is between its backup and what follows it.
TEST_P(Interleaved, AnotherTasksBackupIsNeitherProvenNorPrunedByThisRun) {
  const InterleavedCase& c = GetParam();
  bvtest::StandinFixture standin(serverOf(2019, {std::string("hold=60s:times=1:match=") + c.held}));
  const fs::path a = standin.scratchDir() / "A";
  const fs::path b = standin.scratchDir() / "B";
  fs::create_directories(a);
  fs::create_directories(b);
  const auto fileIn = [](const fs::path& folder, int days) { return folder / ("Sample_" + dateDigits(days) + ".bak"); };
  for (int days = -3; days <= -1; ++days) {
    bvtest::backupOn(standin, days, a / "Sample_%date%.bak");
    bvtest::backupOn(standin, days, b / "Sample_%date%.bak");
  }

  bvtest::RoadOutcome taskA;
  std::thread runA([&] {
    taskA = bvtest::backupOnRoad(standin, c.road, {(a / "Sample_%date%.bak").string(), true, 2, true, "task A"});
  });
  awaitHeld(standin, 1);
  const bvtest::RoadOutcome taskB = bvtest::backupOnRoad(standin, Road::RunNow, {(b / "Sample_%date%.bak").string()});
  standin.releaseHeldStatements();
  runA.join();

  EXPECT_TRUE(taskB.backedUp) << taskB.text;
  EXPECT_TRUE(taskA.proven) << taskA.text;
  EXPECT_EQ(restoresOf(standin, fileIn(a, 0)), "1") << taskA.text;
  EXPECT_EQ(restoresOf(standin, fileIn(b, 0)), "0") << taskA.text;
  EXPECT_EQ(bvtest::filesIn(a), (std::set<std::string>{fileIn(a, -1).filename(), fileIn(a, 0).filename()}))
      << taskA.text;
  EXPECT_EQ(bvtest::filesIn(b).size(), 4u) << taskA.text;
}

INSTANTIATE_TEST_SUITE_P(Roads, Interleaved,
                         ::testing::Values(InterleavedCase{"Runner", Road::Runner, "VERIFYONLY"},
                                           // A quote: the step's text inside sp_add_jobstep's literal has it doubled.
                                           InterleavedCase{"Agent", Road::Agent, "SET @db = N'Sample'"}),
                         [](const auto& test) { return std::string(test.param.name); });

struct ScratchCase {
  const char* name;
  Road road;
  const char* fault;
  bool occupied;  // another session made the database under the scratch name; else the restore broke
};

void PrintTo(const ScratchCase& c, std::ostream* out) { *out << c.name; }

class ScratchName : public ::testing::TestWithParam<ScratchCase> {};

TEST_P(ScratchName, TheProofDropsOnlyADatabaseItsOwnRestoreMade) {
  const ScratchCase& c = GetParam();
  bvtest::StandinFixture standin(serverOf(2019, {std::string(c.fault) + ":times=1:match=Brackenvale_check"}));
  const bvtest::RoadOutcome outcome =
      bvtest::backupOnRoad(standin, c.road, {(standin.scratchDir() / "Sample_%date%.bak").string(), false, 0, true});
  EXPECT_TRUE(outcome.backedUp) << outcome.text;
  EXPECT_FALSE(outcome.proven) << outcome.text;
  const std::set<std::string> left = bvtest::databasesLike(standin, "Brackenvale[_]check%");
  if (c.occupied) {
    ASSERT_EQ(left.size(), 1u) << outcome.text;
    EXPECT_EQ(standin.rowCount(*left.begin(), "bv_occupant"), 2) << outcome.text;
  } else {
    EXPECT_EQ(left, std::set<std::string>{}) << outcome.text;
    EXPECT_EQ(bvtest::scratchFiles(standin), std::vector<fs::path>{}) << outcome.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Roads, ScratchName,
    ::testing::Values(ScratchCase{"RunnerOccupied", Road::Runner, "occupy-restore", true},
                      ScratchCase{"AgentOccupied", Road::Agent, "occupy-restore", true},
                      ScratchCase{"RunnerBrokenRestore", Road::Runner, "break-restore", false},
                      ScratchCase{"AgentBrokenRestore", Road::Agent, "break-restore", false}),
    [](const auto& test) { return std::string(test.param.name); });

// Two proofs of one database let go in the same second: each proves its own file.
TEST(TwoProofs, OfOneDatabaseAtOnceEachProveTheirOwnAndTouchNothingElse) {
  bvtest::StandinFixture standin(serverOf(2019, {"hold=60s:times=2:match=VERIFYONLY"}));
  const fs::path files[] = {standin.scratchDir() / "one.bak", standin.scratchDir() / "two.bak"};
  OperationOutcome outcomes[2];
  std::vector<std::thread> proofs;
  for (int i = 0; i < 2; ++i) {
    proofs.emplace_back([&, i] {
      outcomes[i] = run(BackupRequest{{standin.serverText(), true, "sa", standin.saPassword()},
                                      standin.sampleDatabase(), files[i].string(), true, 0, true});
    });
  }
  awaitHeld(standin, 2);
  // Let both go at the start of a second, so that both proofs read the same time.
  const auto now = std::chrono::system_clock::now();
  std::this_thread::sleep_until(std::chrono::ceil<std::chrono::seconds>(now) + std::chrono::milliseconds(20));
  standin.releaseHeldStatements();
  for (auto& proof : proofs) proof.join();
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(outcomes[i].proof.has_value());
    EXPECT_EQ(outcomes[i].proof->result, ProofOutcome::Result::Proven) << outcomes[i].proof->message;
    EXPECT_EQ(restoresOf(standin, files[i]), "1");
  }
  EXPECT_EQ(bvtest::databasesLike(standin, "Brackenvale[_]check%"), std::set<std::string>{});
}

class StuckLeftover : public ::testing::TestWithParam<Road> {};

// A day-old leftover that a session still uses cannot be dropped: the proof names it, goes on and
// proves, and the job ends.
TEST_P(StuckLeftover, IsNamedAndNeitherFailsNorHangsTheProof) {
  bvtest::StandinFixture standin(serverOf(2019));
  const fs::path old = standin.scratchDir() / "old.bak";
  bvtest::backupOn(standin, -3, old);
  const std::string leftover = "Brackenvale_check_20261201020000_5";
  standin.setClockOffset(-std::chrono::hours(25));
  bvtest::execute(standin, "RESTORE DATABASE [" + leftover + "] FROM DISK = N'" + old.string() + "' WITH MOVE N'Sample' TO N'" +
                               (standin.scratchDir() / "left.mdf").string() + "', MOVE N'Sample_log' TO N'" +
                               (standin.scratchDir() / "left.ldf").string() + "'");
  standin.setClockOffset(std::chrono::seconds(0));
  bvtest::odbc::Connection user;
  ASSERT_TRUE(user.connect(standin.odbcConnectionString()));
  ASSERT_FALSE(user.execute("USE [" + leftover + "]").anyError);

  const bvtest::RoadOutcome outcome =
      bvtest::backupOnRoad(standin, GetParam(), {(standin.scratchDir() / "Sample_%date%.bak").string(), false, 0, true});
  EXPECT_TRUE(outcome.proven) << outcome.text;
  EXPECT_NE(outcome.text.find("以前のテストレストアで残ったデータベース " + leftover + " を削除できませんでした。"),
            std::string::npos)
      << outcome.text;
  EXPECT_EQ(bvtest::databasesLike(standin, "Brackenvale[_]check%"), std::set<std::string>{leftover});
}

INSTANTIATE_TEST_SUITE_P(Roads, StuckLeftover, ::testing::Values(Road::RunNow, Road::Agent),
                         [](const auto& test) { return bvtest::roadName(test.param); });

// The job's steps decide what depends on the release when they run: registered on 2005 (20
// FILELISTONLY columns), run after an upgrade to 2016 (22).
TEST(JobAfterUpgrade, StillProvesAndPrunes) {
  bvtest::StandinFixture standin(serverOf(2005));
  const fs::path pattern = standin.scratchDir() / "Sample_%date%.bak";
  for (int days = -3; days <= -1; ++days) bvtest::backupOn(standin, days, pattern);
  agent::JobInputs inputs;
  inputs.jobName = "nightly";
  inputs.backup.backupFile = pattern.string();
  inputs.backup.generations = 2;
  inputs.backup.testRestore = true;
  const agent::TJobEntry job = bvtest::registerAgentBackupJob(standin, inputs);
  standin.restartAs(2016);
  bvtest::startAgentJob(standin, job);
  const bvtest::AgentJobRun run = bvtest::waitAgentBackupJob(standin, job);
  EXPECT_EQ(run.outcome, "1") << run.messages;
  EXPECT_EQ(run.steps, (std::map<int, std::string>{{1, "1"}, {2, "1"}, {3, "1"}})) << run.messages;
  EXPECT_EQ(bvtest::filesIn(standin.scratchDir()),
            (std::set<std::string>{"Sample_" + dateDigits(-1) + ".bak", "Sample_" + dateDigits(0) + ".bak"}))
      << run.messages;
}

// The program (a leftover's name, read back from the server) and the job step (in T-SQL) accept
// exactly the same names: today's shape and the earlier one.
TEST(ScratchNames, TheProgramAndTheJobStepAcceptTheSameTwoShapes) {
  const struct {
    const char* name;
    bool scratch;
  } cases[] = {
      {"Brackenvale_check_20261201020000_5", true},
      {"Brackenvale_check_20261201020000_32767_0123456789ABCDEF0123456789ABCDEF", true},
      {"Brackenvale_check_20261201020000_5_0123456789abcdef0123456789abcdef", false},  // the server's NEWID is upper case
      {"Brackenvale_check_20261201020000_5_0123456789ABCDEF0123456789ABCDE", false},   // 31 digits
      {"Brackenvale_check_20261201020000__0123456789ABCDEF0123456789ABCDEF", false},   // no database id
      {"Brackenvale_check_20261201020000_5_0123456789ABCDEF0123456789ABCDEF_1", false},
      {"Brackenvale_check_2026120102000_5", false},   // thirteen digits
      {"Brackenvale_check_20261201020000_5x", false},
      {"Brackenvale_check_20261201020000_", false},
      {"brackenvale_check_20261201020000_5", false},  // the prefix's letter case
      {"Brackenvale_check_20261201020000_5 ", false},
  };
  bvtest::StandinFixture standin(serverOf(2019));
  bvtest::odbc::Connection client;
  ASSERT_TRUE(client.connect(standin.odbcConnectionString()));
  for (const auto& c : cases) {
    EXPECT_EQ(isScratchDatabaseName(c.name), c.scratch) << c.name;
    const auto r = client.execute("SELECT CASE WHEN " + scratchShapeCondition(std::string("N'") + c.name + "'") +
                                  " THEN 1 ELSE 0 END");
    ASSERT_FALSE(r.anyError) << (r.diags.empty() ? "" : r.diags.front().text);
    EXPECT_EQ(r.sets.at(0).rows.at(0).at(0), c.scratch ? "1" : "0") << c.name;
  }
}

}  // namespace
}  // namespace bv::maintenance
