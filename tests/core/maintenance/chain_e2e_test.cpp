// Differential and log backups, end to end through the real driver against the stand-in, on each
// road (run now, Brackenrun's tenth field, the Agent job run by the stand-in's Agent): fulls,
// a differential and logs across a server midnight, each to a file of its own and each keeping
// two generations; a full made by hand in another folder; the chain prune leaves exactly what the
// kept fulls need; a file already there is never written over; what remains restores
// (NORECOVERY, then RESTORE LOG) to the rows of the last log. Then the refusals, each once, and
// the log chain begun again by a differential.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "after_backup_e2e.h"
#include "core/db/sql_text.h"
#include "core/maintenance/backup_history.h"
#include "core/maintenance/operations.h"
#include "core/maintenance/retention.h"
#include "odbc_client.h"
#include "standin_fixture.h"

namespace bv::maintenance {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

using bvtest::Road;

// The server's yyyymmdd and hhmmss `ahead` seconds from now, under the clock offset.
std::pair<std::string, std::string> serverStamp(std::chrono::seconds offset, int ahead) {
  const std::time_t when = std::time(nullptr) + offset.count() + ahead;
  std::tm local{};
  ::localtime_r(&when, &local);
  char date[16], time[16];
  std::strftime(date, sizeof date, "%Y%m%d", &local);
  std::strftime(time, sizeof time, "%H%M%S", &local);
  return {date, time};
}

std::vector<std::vector<std::string>> rows(bvtest::StandinFixture& standin, const std::string& select) {
  bvtest::odbc::Connection connection;
  EXPECT_TRUE(connection.connect(standin.odbcConnectionString()));
  const auto r = connection.execute(select);
  EXPECT_FALSE(r.anyError) << select << (r.diags.empty() ? "" : r.diags.front().text);
  std::vector<std::vector<std::string>> out;
  if (!r.sets.empty())
    for (const auto& row : r.sets[0].rows) {
      out.emplace_back();
      for (const auto& field : row) out.back().push_back(field.value_or(""));
    }
  return out;
}

class ChainRoads : public ::testing::TestWithParam<Road> {
 protected:
  ChainRoads() : standin_(options()) {}
  static bvtest::StandinOptions options() {
    bvtest::StandinOptions o;
    o.serverVersion = 2019;
    return o;
  }
  bvtest::RoadOutcome backup(BackupKind kind, const fs::path& file, int generations) {
    bvtest::RoadBackup b;
    b.file = file.string();
    b.generations = generations;
    b.kind = kind;
    b.checksum = kind != BackupKind::Full;
    b.jobName = "chain job " + std::to_string(++jobs_);
    return bvtest::backupOnRoad(standin_, GetParam(), b);
  }
  void addCustomer(int id) {
    bvtest::execute(standin_, "INSERT INTO Sample.dbo.Customers (CustomerID, Name) VALUES (" + std::to_string(id) +
                                  ", N'chain " + std::to_string(id) + "')");
  }
  bvtest::StandinFixture standin_;
  int jobs_ = 0;
};

TEST_P(ChainRoads, KeepExactlyWhatTheKeptFullsNeedAndRestoreToTheLastLog) {
  bvtest::execute(standin_, "ALTER DATABASE [Sample] SET RECOVERY FULL");
  const fs::path folder = standin_.scratchDir() / "chain";
  const fs::path foreign = standin_.scratchDir() / "by hand";
  fs::create_directories(folder);
  fs::create_directories(foreign);
  const std::chrono::seconds start = bvtest::offsetToLocalTime(23, 0);
  const auto at = [&](int quarter) { standin_.setClockOffset(start + quarter * 15min); };
  const fs::path fulls = folder / "Sample_%date%.bak";
  const fs::path logs = folder / "Sample_%date%_%time%.trn";
  int customer = 100;
  const auto step = [&](int quarter, BackupKind kind, const fs::path& file) {
    addCustomer(++customer);
    at(quarter);
    const bvtest::RoadOutcome outcome = backup(kind, file, 2);
    EXPECT_TRUE(outcome.backedUp) << "at quarter " << quarter << ": " << outcome.text;
    return outcome;
  };

  // Day 0, 23:00: a full, a differential, logs every 15 minutes across the server's midnight, and
  // at 23:50 a full made by hand in another folder; day 1, 01:00, a second full and two logs; day 2
  // a third full (keeping two, which deletes the first) and a log, whose prune goes by the chain.
  step(0, BackupKind::Full, fulls);
  step(1, BackupKind::Differential, folder / "Sample_%date%_%time%.dif");
  for (int quarter = 2; quarter <= 7; ++quarter) {
    step(quarter, BackupKind::Log, logs);
    if (quarter == 3) {
      standin_.setClockOffset(start + 3 * 15min + 5min);
      bvtest::execute(standin_, "BACKUP DATABASE [Sample] TO DISK = N'" + (foreign / "Sample.bak").string() + "' WITH INIT");
    }
  }
  step(8, BackupKind::Full, fulls);
  step(9, BackupKind::Log, logs);
  step(10, BackupKind::Log, logs);
  step(100, BackupKind::Full, fulls);
  const bvtest::RoadOutcome lastLog = step(101, BackupKind::Log, logs);
  const std::int64_t rowsOfTheLastLog = standin_.rowCount("Sample", "Customers");
  const bvtest::RoadOutcome lastDifferential = step(102, BackupKind::Differential, folder / "Sample_%date%_%time%.dif");

  // Gone: the first full (the full road's own prune), the differential whose base it was (the
  // differential road's prune), and the two logs before the full made by hand, the oldest full
  // kept (the log road's). Everything after it stays.
  const auto sets = rows(standin_,
                         "SELECT s.type, f.physical_device_name, s.backup_set_uuid, ISNULL(s.differential_base_guid, N''), "
                         "CONVERT(nvarchar(10), s.has_backup_checksums) "
                         "FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily f ON f.media_set_id = s.media_set_id "
                         "WHERE s.database_name = N'Sample' ORDER BY s.backup_set_id");
  ASSERT_EQ(sets.size(), 15u);
  EXPECT_EQ(sets[1][3], sets[0][2]) << "the differential's base is the first full";
  std::set<std::string> expected;
  std::set<std::string> logDays;
  for (std::size_t i = 0; i < sets.size(); ++i) {
    const bool gone = i <= 1 || i == 2 || i == 3;  // full, differential, the logs of 23:30 and 23:45
    if (!gone && fs::path(sets[i][1]).parent_path() == folder) expected.insert(fs::path(sets[i][1]).filename().string());
    EXPECT_EQ(fs::exists(sets[i][1]), !gone) << i << " " << sets[i][1];
    EXPECT_EQ(sets[i][4], sets[i][0] == "D" ? "0" : "1") << sets[i][1];
    if (sets[i][0] == "L" && i < 10) logDays.insert(fs::path(sets[i][1]).filename().string().substr(7, 8));
  }
  EXPECT_EQ(bvtest::filesIn(folder), expected);
  EXPECT_EQ(logDays.size(), 2u) << "the logs cross the server's midnight";
  if (GetParam() == Road::RunNow) {
    // The history counts, for each full, the differentials and logs after it (newest first).
    std::vector<std::string> following;
    for (const HistoryRow& row : readBackupHistory(db::loginConnectionSettings({standin_.serverText(), true, "sa",
                                                                                standin_.saPassword()},
                                                                               "master"),
                                                   "Sample")
                                     .rows)
      if (row.type == 'D') following.push_back(followingText(row));
    EXPECT_EQ(following, (std::vector<std::string>{"差分 1・ログ 1", "差分 0・ログ 2", "差分 0・ログ 4", "差分 1・ログ 2"}));
  }
  if (GetParam() != Road::Agent) {
    for (const std::size_t i : {2, 3}) EXPECT_NE(lastLog.text.find(sets[i][1]), std::string::npos) << lastLog.text;
    EXPECT_NE(lastDifferential.text.find(sets[1][1]), std::string::npos) << lastDifferential.text;
  }

  // The file the next log would be named already there (every second of the next few, each a
  // copy of a full backup that a BACKUP without INIT would append to): nothing is sent, and each
  // stays as it was.
  at(103);
  const auto bytesOf = [](const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string fullBytes = bytesOf(sets[12][1]);
  std::set<fs::path> planted;
  for (int ahead = -1; ahead <= 20; ++ahead) {
    const auto [date, time] = serverStamp(start + 103 * 15min, ahead);
    const fs::path file = folder / ("Sample_" + date + "_" + time + ".trn");
    if (fs::exists(file)) continue;
    fs::copy_file(sets[12][1], file);
    planted.insert(file);
  }
  const bvtest::RoadOutcome refused = backup(BackupKind::Log, logs, 0);
  EXPECT_FALSE(refused.backedUp);
  EXPECT_NE(refused.text.find("既に存在するため、バックアップしませんでした。"), std::string::npos) << refused.text;
  EXPECT_EQ(rows(standin_, "SELECT backup_set_id FROM msdb.dbo.backupset WHERE database_name = N'Sample'").size(), 15u);
  for (const fs::path& file : planted) EXPECT_EQ(bytesOf(file), fullBytes) << file;

  // What remains restores: the oldest full kept without recovery, then each log after it.
  standin_.setClockOffset(0s);
  std::string batch = "RESTORE DATABASE [Sample] FROM DISK = N'" + db::QuoteSqlString(sets[4][1]) +
                      "' WITH NORECOVERY, REPLACE; ";
  std::vector<std::string> chain;
  for (std::size_t i = 5; i < sets.size(); ++i)
    if (sets[i][0] == "L") chain.push_back(sets[i][1]);
  ASSERT_EQ(chain.size(), 7u);
  for (std::size_t i = 0; i < chain.size(); ++i) {
    batch += "RESTORE LOG [Sample] FROM DISK = N'" + db::QuoteSqlString(chain[i]) + "' WITH " +
             (i + 1 < chain.size() ? "NORECOVERY; " : "RECOVERY; ");
  }
  ASSERT_EQ(sets[4][1], (foreign / "Sample.bak").string());
  bvtest::execute(standin_, batch);
  EXPECT_EQ(standin_.rowCount("Sample", "Customers"), rowsOfTheLastLog);
}

INSTANTIATE_TEST_SUITE_P(EachRoad, ChainRoads, ::testing::Values(Road::RunNow, Road::Runner, Road::Agent),
                         [](const auto& test) { return bvtest::roadName(test.param); });

// Refusals: the request's own checks send nothing; the server's facts (the recovery model, the
// release) are read before anything is sent; the server's 4214 and 3035 follow our sentence.
struct Refusal {
  const char* name;
  int serverVersion;
  const char* setUp;  // a batch before the backup; empty: none
  BackupKind kind;
  const char* file;
  std::string database;  // empty: Sample
  bool checksum;
  bool testRestore;
  int generations;
  std::string expected;  // in the message
  bool checked;          // refused by check(), before any connection
};

std::ostream& operator<<(std::ostream& out, const Refusal& r) { return out << r.name; }

class ChainRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(ChainRefusal, SendsNoBackupAndSaysWhy) {
  const Refusal& r = GetParam();
  bvtest::StandinOptions options;
  options.serverVersion = r.serverVersion;
  bvtest::StandinFixture standin(options);
  std::string setUp = r.setUp;
  if (const auto at = setUp.find("{dir}"); at != std::string::npos) {
    setUp.replace(at, 5, standin.scratchDir().string());
  }
  if (!setUp.empty()) bvtest::execute(standin, setUp);
  BackupRequest request;
  request.login = {standin.serverText(), true, "sa", standin.saPassword()};
  request.database = r.database.empty() ? standin.sampleDatabase() : r.database;
  request.backupFile = (standin.scratchDir() / r.file).string();
  request.kind = r.kind;
  request.checksum = r.checksum;
  request.testRestore = r.testRestore;
  request.generations = r.generations;
  const std::string before = bvtest::scalar(standin, "SELECT COUNT(*) FROM msdb.dbo.backupset");
  std::string message;
  if (const auto problem = check(request)) {
    message = problem->message;
  } else {
    const OperationOutcome outcome = run(request);
    EXPECT_FALSE(outcome.succeeded);
    message = outcome.message;
  }
  EXPECT_NE(message.find(r.expected), std::string::npos) << message;
  EXPECT_EQ(check(request).has_value(), r.checked);
  EXPECT_EQ(bvtest::scalar(standin, "SELECT COUNT(*) FROM msdb.dbo.backupset"), before);
}

constexpr const char* kFull = "ALTER DATABASE [Sample] SET RECOVERY FULL";

INSTANTIATE_TEST_SUITE_P(
    Each, ChainRefusal,
    ::testing::Values(
        Refusal{"TimeInAFullName", 2019, "", BackupKind::Full, "S_%time%.bak", "", false, false, 0,
                std::string(kTimeOnlyInChain), true},
        Refusal{"ALogWithoutTime", 2019, kFull, BackupKind::Log, "S_%date%.trn", "", false, false, 0,
                std::string(kChainNeedsTime), true},
        Refusal{"ADifferentialOfMaster", 2019, "", BackupKind::Differential, "m_%time%.dif", "master", false, false,
                0, std::string(kMasterFullOnly), true},
        Refusal{"AProofOfADifferential", 2019, "", BackupKind::Differential, "S_%time%.dif", "", false, true, 0,
                std::string(kProofOfFullOnly), true},
        Refusal{"GenerationsOfLogsWithoutADate", 2019, kFull, BackupKind::Log, "S_%time%.trn", "", false, false, 3,
                std::string(kGenerationsNeedDateMessage), true},
        Refusal{"ALogOfASimpleDatabase", 2019, "ALTER DATABASE [Sample] SET RECOVERY SIMPLE", BackupKind::Log,
                "S_%time%.trn", "", false, false, 0, logOfSimpleDatabaseText("Sample"), false},
        Refusal{"ChecksumsOn2000", 2000, "", BackupKind::Full, "S.bak", "", true, false, 0,
                std::string(kChecksumNeedsNewerServer), false},
        Refusal{"ALogBeforeAnyFull", 2019, kFull, BackupKind::Log, "S_%time%.trn", "", false, false, 0,
                std::string(kLogNeedsBase), false},
        Refusal{"ALogAfterAReturnFromSimple", 2019,
                "ALTER DATABASE [Sample] SET RECOVERY FULL; BACKUP DATABASE [Sample] TO DISK = N'{dir}/f.bak' "
                "WITH INIT; ALTER DATABASE [Sample] SET RECOVERY SIMPLE; ALTER DATABASE [Sample] SET RECOVERY FULL",
                BackupKind::Log, "S_%time%.trn", "", false, false, 0, std::string(kLogNeedsBase), false},
        Refusal{"ADifferentialBeforeAnyFull", 2019, "", BackupKind::Differential, "S_%time%.dif", "", false, false, 0,
                std::string(kDifferentialNeedsBase), false}),
    [](const auto& test) { return std::string(test.param.name); });

// The chain prune's safety: in the road's folder, under the road's pattern, it leaves a file the
// history does not describe, another database's log, and a differential whose base the history
// no longer holds (named as undecided); it deletes only this program's logs no kept full needs.
TEST(ChainPrune, TouchesOnlyWhatItMadeAndCanDecide) {
  bvtest::StandinFixture standin;
  const fs::path folder = standin.scratchDir() / "chain";
  fs::create_directories(folder);
  const std::string dir = folder.string();
  bvtest::execute(standin, "ALTER DATABASE [Sample] SET RECOVERY FULL; CREATE DATABASE [Other]; "
                           "ALTER DATABASE [Other] SET RECOVERY FULL; BACKUP DATABASE [Other] TO DISK = N'" + dir +
                               "/other.bak'");
  const auto backupAt = [&](int minutes, BackupKind kind, const std::string& file, int generations = 2) {
    standin.setClockOffset(std::chrono::minutes(minutes));
    BackupRequest request;
    request.login = {standin.serverText(), true, "sa", standin.saPassword()};
    request.database = standin.sampleDatabase();
    request.backupFile = dir + "/" + file;
    request.kind = kind;
    request.generations = generations;
    const OperationOutcome outcome = run(request);
    EXPECT_TRUE(outcome.succeeded) << outcome.message;
    return outcome;
  };
  backupAt(0, BackupKind::Full, "Sample_%date%.bak", 0);
  backupAt(1, BackupKind::Differential, "Sample_%date%_%time%.dif");
  backupAt(2, BackupKind::Log, "Sample_%date%_%time%.trn");
  const auto [date, time] = serverStamp(std::chrono::minutes(3), 0);
  const std::string otherLog = dir + "/Sample_" + date + "_" + time + ".trn";
  bvtest::execute(standin, "BACKUP LOG [Other] TO DISK = N'" + otherLog + "'");
  const std::string ownLog = bvtest::scalar(standin, "SELECT TOP 1 m.physical_device_name FROM msdb.dbo.backupset s "
                                                     "JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id "
                                                     "WHERE s.type = 'L' AND s.database_name = N'Sample'");
  const std::string undescribed = dir + "/Sample_" + date + "_000001.trn";
  fs::copy_file(ownLog, undescribed);
  const std::string differential = bvtest::scalar(standin, "SELECT TOP 1 m.physical_device_name FROM msdb.dbo.backupset s "
                                                           "JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id "
                                                           "WHERE s.type = 'I'");
  // The first full's file goes and a new full is made; its history row is purged.
  fs::remove(dir + "/Sample_" + serverStamp(0s, 0).first + ".bak");
  backupAt(5, BackupKind::Full, "S2_%date%.bak", 0);
  bvtest::execute(standin, "DELETE FROM msdb.dbo.backupset WHERE type = 'D' AND database_name = N'Sample' AND "
                           "backup_set_id = (SELECT MIN(backup_set_id) FROM msdb.dbo.backupset WHERE type = 'D' "
                           "AND database_name = N'Sample')");

  const OperationOutcome log = backupAt(6, BackupKind::Log, "Sample_%date%_%time%.trn");
  ASSERT_TRUE(log.prune && log.prune->succeeded) << log.message;
  EXPECT_EQ(log.prune->deleted, std::vector<std::string>{ownLog});
  const OperationOutcome diff = backupAt(7, BackupKind::Differential, "Sample_%date%_%time%.dif");
  ASSERT_TRUE(diff.prune && diff.prune->succeeded) << diff.message;
  EXPECT_TRUE(diff.prune->deleted.empty());
  EXPECT_EQ(diff.prune->undecided, std::vector<std::string>{differential});
  EXPECT_NE(diff.message.find(undecidedText({differential})), std::string::npos) << diff.message;
  for (const std::string& kept : {otherLog, undescribed, differential}) EXPECT_TRUE(fs::exists(kept)) << kept;
  EXPECT_FALSE(fs::exists(ownLog));
}

// After a return from SIMPLE a differential, as well as a full, begins the log chain again.
TEST(Chain, ADifferentialBeginsTheLogChainAgainAfterSimple) {
  bvtest::StandinFixture standin;
  const std::string folder = standin.scratchDir().string();
  bvtest::execute(standin, "ALTER DATABASE [Sample] SET RECOVERY FULL; BACKUP DATABASE [Sample] TO DISK = N'" + folder +
                               "/f.bak'; ALTER DATABASE [Sample] SET RECOVERY SIMPLE; "
                               "ALTER DATABASE [Sample] SET RECOVERY FULL");
  BackupRequest request;
  request.login = {standin.serverText(), true, "sa", standin.saPassword()};
  request.database = standin.sampleDatabase();
  request.backupFile = folder + "/S_%time%.trn";
  request.kind = BackupKind::Log;
  EXPECT_FALSE(run(request).succeeded);
  BackupRequest differential = request;
  differential.backupFile = folder + "/S_%time%.dif";
  differential.kind = BackupKind::Differential;
  ASSERT_TRUE(run(differential).succeeded);
  const OperationOutcome log = run(request);
  EXPECT_TRUE(log.succeeded) << log.message;
  EXPECT_EQ(bvtest::scalar(standin, "SELECT COUNT(*) FROM msdb.dbo.backupset WHERE type = 'L'"), "1");
}

}  // namespace
}  // namespace bv::maintenance
