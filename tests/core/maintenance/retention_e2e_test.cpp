// Backups that keep themselves, end to end through the real driver against the stand-in: real
// backups of Sample on five earlier server days (the stand-in's clock moved back), decoys beside
// them (names that differ only in letter case among them), then today's backup keeping three.
// Each road (run now, Brackenrun's eighth field) prunes the same way; keeping everything deletes
// nothing; a backup or verify that fails deletes nothing; a folder and names that need quoting
// prune only their own files; names compare as a Linux or a Windows server's file system does;
// a login's database of another collation does not stop the prune; SQL Server 2000 refuses. The
// Agent job's prune step, run by the stand-in's Agent, prunes as the other roads do.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "after_backup_e2e.h"
#include "core/db/sql_text.h"
#include "core/maintenance/operations.h"
#include "core/maintenance/retention.h"
#include "core/scheduling/task_parameters.h"
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
  int generations;
  std::vector<int> deletedDays;  // of the five earlier days (-1 .. -5)
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

class Retention : public ::testing::TestWithParam<Case> {
 protected:
  Retention() : standin_(options()) {}
  static bvtest::StandinOptions options() {
    bvtest::StandinOptions o;
    o.serverVersion = 2019;
    return o;
  }

  BackupRequest request(const fs::path& file, int generations, std::string database = {}) const {
    BackupRequest r;
    r.login = {standin_.serverText(), true, "sa", standin_.saPassword()};
    r.database = database.empty() ? standin_.sampleDatabase() : std::move(database);
    r.backupFile = file.string();
    r.generations = generations;
    return r;
  }
  // A real backup written on the server's day `days` from today.
  void backupOn(int days, const fs::path& file, const std::string& database = {}) {
    standin_.setClockOffset(std::chrono::hours(24 * days));
    const OperationOutcome outcome = run(request(file, 0, database));
    standin_.setClockOffset(std::chrono::seconds(0));
    ASSERT_TRUE(outcome.succeeded) << outcome.message;
  }
  void execute(const std::string& batch) {
    bvtest::odbc::Connection connection;
    ASSERT_TRUE(connection.connect(standin_.odbcConnectionString()));
    const auto result = connection.execute(batch);
    ASSERT_FALSE(result.anyError) << batch << (result.diags.empty() ? "" : result.diags.front().text);
  }
  // Today's backup on the road, keeping `generations`: what it reported as deleted.
  std::vector<std::string> backupToday(Road road, const fs::path& file, int generations, std::string* message = nullptr) {
    if (road == Road::RunNow) {
      const OperationOutcome outcome = run(request(file, generations));
      EXPECT_TRUE(outcome.succeeded) << outcome.message;
      if (message) *message = outcome.message;
      return outcome.prune ? outcome.prune->deleted : std::vector<std::string>{};
    }
    if (road == Road::Agent) {
      agent::JobInputs inputs;
      inputs.jobName = "keep job";
      inputs.backup.backupFile = file.string();
      inputs.backup.generations = generations;
      const bvtest::AgentJobRun job = bvtest::runAgentBackupJob(standin_, inputs);
      EXPECT_EQ(job.outcome, "1") << job.messages;
      EXPECT_EQ(job.steps.count(2), generations > 0 ? 1u : 0u) << job.messages;  // the prune step
      if (message) *message = job.messages;
      std::vector<std::string> deleted;
      for (int days = -5; days <= -1; ++days) {
        const fs::path old = file.parent_path() / ("Sample_" + dateDigits(days) + ".bak");
        if (!fs::exists(old)) deleted.push_back(old.string());
      }
      return deleted;
    }
    bv::maintenance::BackupRequest task;
    task.login.useSqlAuth = true;
    task.login.userName = "sa";
    task.login.password = standin_.saPassword();
    task.login.server = standin_.serverText();
    task.database = standin_.sampleDatabase();
    task.backupFile = file.string();
    task.generations = generations;
    std::istringstream in;
    std::ostringstream out, err;
    const auto log = standin_.scratchDir() / "brackenrun.log";
    EXPECT_EQ(runner::run({bv::scheduling::encodeTaskParameters(task)}, in, out, err, log), runner::ExitStatus::Success)
        << err.str();
    if (message) *message = out.str();
    std::vector<std::string> deleted;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(standin_.scratchDir().string(), 0) == 0) deleted.push_back(line);
    }
    return deleted;
  }

  bvtest::StandinFixture standin_;
};

TEST_P(Retention, TodaysBackupKeepsTheNewestAndOnlyDeletesThisProgramsOwnFiles) {
  const Case& c = GetParam();
  // A folder whose name needs quoting in T-SQL and would match more than itself in LIKE.
  const fs::path folder = standin_.scratchDir() / "it's [a]%_b";
  fs::create_directories(folder);
  const fs::path pattern = folder / "Sample_%date%.bak";
  const auto fileOf = [&](int days) { return folder / ("Sample_" + dateDigits(days) + ".bak"); };
  for (int days = -5; days <= -1; ++days) backupOn(days, pattern);

  // Decoys, each of which must survive.
  execute("CREATE DATABASE Other");
  backupOn(-6, pattern, "Other");                                  // another database's file
  backupOn(2, pattern);                                            // dated after today
  fs::copy_file(fileOf(-1), folder / ("Sample_" + dateDigits(-7) + ".bak"));  // not in the history
  fs::copy_file(fileOf(-1), folder / "Sample_20261340.bak");      // eight digits, no date
  fs::copy_file(fileOf(-1), folder / ("SampleX" + dateDigits(-3) + ".bak"));  // what LIKE 'Sample_%' takes
  // Names of their own on a Linux server, though the collation would call them the same.
  fs::copy_file(fileOf(-1), folder / ("SAMPLE_" + dateDigits(-1) + ".BAK"));
  fs::copy_file(fileOf(-4), folder / ("sample_" + dateDigits(-4) + ".bak"));
  execute("BACKUP DATABASE Sample TO DISK = N'" + db::QuoteSqlString((folder / ("Sample_" + dateDigits(-8) + ".bak")).string()) +
          "' WITH INIT, NAME = N'Brackenvale_" + dateDigits(-8) + "', DESCRIPTION = N'manual'");  // a manual archive
  std::set<fs::path> decoys;
  for (const auto& entry : fs::directory_iterator(folder)) decoys.insert(entry.path());
  for (int days = -5; days <= -1; ++days) decoys.erase(fileOf(days));

  std::string message;
  const std::vector<std::string> deleted = backupToday(c.road, pattern, c.generations, &message);
  std::vector<std::string> expected;
  for (const int days : c.deletedDays) expected.push_back(fileOf(days).string());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(deleted, expected);
  for (int days = -5; days <= 0; ++days) {
    const bool gone = std::find(c.deletedDays.begin(), c.deletedDays.end(), days) != c.deletedDays.end();
    EXPECT_EQ(fs::exists(fileOf(days)), !gone) << days;
  }
  for (const fs::path& decoy : decoys) EXPECT_TRUE(fs::exists(decoy)) << decoy;
  if (c.road == Road::Agent) {
    // The job's history carries the prune step's line for each file it deleted.
    std::size_t lines = 0;
    for (auto at = message.find("古いバックアップファイルを削除しました: "); at != std::string::npos;
         at = message.find("古いバックアップファイルを削除しました: ", at + 1))
      ++lines;
    EXPECT_EQ(lines, expected.size()) << message;
  } else if (!expected.empty()) {
    EXPECT_NE(message.find("古いバックアップファイルを " + std::to_string(expected.size()) + " 個削除しました。"),
              std::string::npos)
        << message;
  } else {
    EXPECT_EQ(message.find("古いバックアップファイル"), std::string::npos) << message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Roads, Retention,
    ::testing::Values(Case{"RunNowKeepingThree", Road::RunNow, 3, {-5, -4, -3}},
                      Case{"RunnersEighthFieldKeepingThree", Road::Runner, 3, {-5, -4, -3}},
                      Case{"RunNowKeepingAll", Road::RunNow, 0, {}},
                      Case{"RunnerWithSevenFieldsKeepsAll", Road::Runner, 0, {}},
                      Case{"AgentsPruneStepKeepingThree", Road::Agent, 3, {-5, -4, -3}},
                      Case{"RunNowKeepingTwo", Road::RunNow, 2, {-5, -4, -3, -2}}),
    [](const auto& test) { return std::string(test.param.name); });

// A backup that fails (the server gone mid-backup), or whose verify does not come back, deletes
// nothing.
TEST(RetentionFailures, AFailedBackupOrVerifyDeletesNothing) {
  bvtest::StandinOptions options;
  options.serverVersion = 2019;
  options.faults = {"drop:match=dropped-backup", "drop-after-bytes=40:match=VERIFYONLY"};
  bvtest::StandinFixture standin(options);
  for (const char* folderName : {"dropped-backup", "lost-verify"}) {
    const fs::path folder = standin.scratchDir() / folderName;
    fs::create_directories(folder);
    BackupRequest request{{standin.serverText(), true, "sa", standin.saPassword()}, standin.sampleDatabase(),
                          (folder / "Sample_%date%.bak").string(), false, 0};
    if (std::string(folderName) == "lost-verify") {
      for (int days = -3; days <= -1; ++days) {
        standin.setClockOffset(std::chrono::hours(24 * days));
        ASSERT_TRUE(run(request).succeeded);
      }
      standin.setClockOffset(std::chrono::seconds(0));
    }
    request.generations = 2;
    request.verify = true;
    const OperationOutcome outcome = run(request);
    EXPECT_FALSE(outcome.succeeded) << folderName;
    EXPECT_FALSE(outcome.prune.has_value()) << folderName;
  }
  for (int days = -3; days <= -1; ++days) {
    EXPECT_TRUE(fs::exists(standin.scratchDir() / "lost-verify" / ("Sample_" + dateDigits(days) + ".bak")));
  }
}

// A prune that fails leaves the backup's own outcome as it was and says why under its own header.
TEST(RetentionFailures, AFailedPruneLeavesTheBackupsOutcomeAlone) {
  bvtest::StandinOptions options;
  options.serverVersion = 2019;
  options.faults = {"drop:times=1:match=xp_dirtree"};  // the server gone while the prune lists the folder
  bvtest::StandinFixture standin(options);
  BackupRequest request{{standin.serverText(), true, "sa", standin.saPassword()}, standin.sampleDatabase(),
                        (standin.scratchDir() / "Sample_%date%.bak").string(), false, 0};
  standin.setClockOffset(std::chrono::hours(-24));
  ASSERT_TRUE(run(request).succeeded);
  standin.setClockOffset(std::chrono::seconds(0));
  request.generations = 2;
  const OperationOutcome outcome = run(request);
  EXPECT_TRUE(outcome.succeeded) << outcome.message;
  EXPECT_EQ(outcome.message, "バックアップが終了しました。");
  ASSERT_TRUE(outcome.prune.has_value());
  EXPECT_FALSE(outcome.prune->succeeded);
  EXPECT_EQ(outcome.prune->errorMessage.rfind("古いバックアップファイルの削除中にエラーが発生しました。\r\n\r\n", 0), 0u)
      << outcome.prune->errorMessage;
}

struct RuleCase {
  int year;
  std::vector<int> deletedDays;
};

void PrintTo(const RuleCase& c, std::ostream* out) { *out << c.year; }

class NameRules : public ::testing::TestWithParam<RuleCase> {};

// Earlier backups as Sample_%date%.bak, today's typed SAMPLE_%date%.BAK keeping two: the same
// files where names compare as NTFS does (servers before 2017 run on Windows), other files on a
// Linux server, which the stand-in of 2017 on says it is.
TEST_P(NameRules, TodaysNameMatchesTheEarlierFilesOnlyWhereTheFileSystemCallsThemTheSame) {
  bvtest::StandinOptions options;
  options.serverVersion = GetParam().year;
  bvtest::StandinFixture standin(options);
  const fs::path folder = standin.scratchDir();
  for (int days = -3; days <= -1; ++days) bvtest::backupOn(standin, days, folder / "Sample_%date%.bak");
  const bvtest::RoadOutcome today =
      bvtest::backupOnRoad(standin, Road::RunNow, {(folder / "SAMPLE_%date%.BAK").string(), false, 2});
  std::string expected;
  for (const int days : GetParam().deletedDays) expected += (folder / ("Sample_" + dateDigits(days) + ".bak")).string() + "\n";
  EXPECT_EQ(today.deletedText, expected) << today.text;
  for (int days = -3; days <= -1; ++days) {
    const bool gone = std::count(GetParam().deletedDays.begin(), GetParam().deletedDays.end(), days) > 0;
    EXPECT_EQ(fs::exists(folder / ("Sample_" + dateDigits(days) + ".bak")), !gone) << days;
  }
}

INSTANTIATE_TEST_SUITE_P(Releases, NameRules, ::testing::Values(RuleCase{2016, {-3, -2}}, RuleCase{2019, {}}),
                         [](const auto& test) { return std::to_string(test.param.year); });

// The login's default database has a collation of its own: the prune works from master and
// compares with collations it names, so nothing conflicts (468).
TEST(RetentionFailures, ADefaultDatabaseOfAnotherCollationDoesNotStopThePrune) {
  bvtest::StandinOptions options;
  options.serverVersion = 2019;
  bvtest::StandinFixture standin(options);
  bvtest::execute(standin, "CREATE DATABASE Collated COLLATE Latin1_General_CS_AS");
  const fs::path pattern = standin.scratchDir() / "Sample_%date%.bak";
  for (int days = -3; days <= -1; ++days) bvtest::backupOn(standin, days, pattern);
  const std::string before = bvtest::scalar(standin, "SELECT MAX(backup_set_id) FROM msdb.dbo.backupset");
  bvtest::backupOn(standin, 0, pattern);
  const PruneOutcome prune =
      runPrune(db::loginConnectionSettings({standin.serverText(), true, "sa", standin.saPassword()}, "Collated"),
               standin.sampleDatabase(), pattern.string(), 2, RunMark::afterSet(std::stoll(before)));
  EXPECT_TRUE(prune.succeeded) << prune.errorMessage;
  EXPECT_EQ(prune.deleted, (std::vector<std::string>{(standin.scratchDir() / ("Sample_" + dateDigits(-3) + ".bak")).string(),
                                                     (standin.scratchDir() / ("Sample_" + dateDigits(-2) + ".bak")).string()}));
}

TEST(RetentionFailures, SqlServer2000IsRefusedBeforeAnythingRuns) {
  bvtest::StandinOptions options;
  options.serverVersion = 2000;
  bvtest::StandinFixture standin(options);
  const fs::path file = standin.scratchDir() / "Sample_%date%.bak";
  const OperationOutcome outcome = run(BackupRequest{{standin.serverText(), true, "sa", standin.saPassword()},
                                                     standin.sampleDatabase(), file.string(), false, 3});
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(outcome.message, kRetentionNeedsNewerServer);
  EXPECT_FALSE(fs::exists(standin.scratchDir() / ("Sample_" + dateDigits(0) + ".bak")));  // nothing written
}

}  // namespace
}  // namespace bv::maintenance
