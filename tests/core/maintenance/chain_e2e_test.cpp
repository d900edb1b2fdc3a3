// Differential and log backups, end to end through the real driver against the stand-in, on each
// road (run now, Brackenrun's tenth field, the Agent job run by the stand-in's Agent): a full, a
// differential, then a log every 15 minutes across a server midnight, each to a file of its own;
// the differential names its full as its base; a file already there is never written over; the
// chain the files hold restores (NORECOVERY, then RESTORE LOG) to the rows of the last log. Then
// the refusals, each once, and what the server says before any full backup.
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
#include "odbc_client.h"
#include "standin_fixture.h"

namespace bv::maintenance {
namespace {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

using bvtest::Road;

// The clock offset that puts the server at 23:00 of today, local time.
std::chrono::seconds offsetToElevenPm() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::tm eleven = local;
  eleven.tm_hour = 23;
  eleven.tm_min = 0;
  eleven.tm_sec = 0;
  return std::chrono::seconds(std::mktime(&eleven) - now);
}

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
  bvtest::RoadOutcome backup(BackupKind kind, const fs::path& file) {
    bvtest::RoadBackup b;
    b.file = file.string();
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

TEST_P(ChainRoads, AFullADifferentialAndLogsAcrossMidnightRestoreToTheLastLog) {
  bvtest::execute(standin_, "ALTER DATABASE [Sample] SET RECOVERY FULL");
  const fs::path folder = standin_.scratchDir() / "chain";
  fs::create_directories(folder);
  const std::chrono::seconds start = offsetToElevenPm();
  const auto at = [&](int quarter) { standin_.setClockOffset(start + quarter * 15min); };

  at(0);
  ASSERT_TRUE(backup(BackupKind::Full, folder / "Sample_%date%.bak").backedUp);
  addCustomer(100);
  at(1);
  const bvtest::RoadOutcome differential = backup(BackupKind::Differential, folder / "Sample_%date%_%time%.dif");
  ASSERT_TRUE(differential.backedUp) << differential.text;
  for (int log = 1; log <= 8; ++log) {
    addCustomer(100 + log);
    at(1 + log);
    const bvtest::RoadOutcome outcome = backup(BackupKind::Log, folder / "Sample_%date%_%time%.trn");
    ASSERT_TRUE(outcome.backedUp) << "log " << log << ": " << outcome.text;
  }
  const std::int64_t rowsOfTheLastLog = standin_.rowCount("Sample", "Customers");

  // Ten files, the logs named by both days of the server's midnight, each set where it was written.
  const auto sets = rows(standin_,
                         "SELECT s.type, f.physical_device_name, s.backup_set_uuid, "
                         "ISNULL(s.differential_base_guid, N''), CONVERT(nvarchar(10), s.has_backup_checksums) "
                         "FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily f ON f.media_set_id = s.media_set_id "
                         "WHERE s.database_name = N'Sample' ORDER BY s.backup_set_id");
  ASSERT_EQ(sets.size(), 10u);
  EXPECT_EQ(bvtest::filesIn(folder).size(), 10u);
  std::set<std::string> logDays;
  for (const auto& set : sets) {
    EXPECT_TRUE(fs::exists(set[1])) << set[1];
    EXPECT_EQ(set[4], set[0] == "D" ? "0" : "1") << set[1];
    if (set[0] == "L") logDays.insert(fs::path(set[1]).filename().string().substr(7, 8));
  }
  EXPECT_EQ(logDays.size(), 2u);
  EXPECT_EQ(sets[0][0], "D");
  EXPECT_EQ(sets[1][0], "I");
  EXPECT_EQ(sets[1][3], sets[0][2]) << "the differential's base is the full";

  // The file the next log would be named already there (every second of the next few, each a
  // copy of the full backup that a BACKUP without INIT would append to): nothing is sent and each
  // stays as it was.
  addCustomer(999);
  at(10);
  const auto bytesOf = [](const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string fullBytes = bytesOf(sets[0][1]);
  std::set<fs::path> planted;
  for (int ahead = -1; ahead <= 20; ++ahead) {
    const auto [date, time] = serverStamp(start + 10 * 15min, ahead);
    const fs::path file = folder / ("Sample_" + date + "_" + time + ".trn");
    if (fs::exists(file)) continue;
    fs::copy_file(sets[0][1], file);
    planted.insert(file);
  }
  const bvtest::RoadOutcome refused = backup(BackupKind::Log, folder / "Sample_%date%_%time%.trn");
  EXPECT_FALSE(refused.backedUp);
  EXPECT_NE(refused.text.find("既に存在するため、バックアップしませんでした。"), std::string::npos) << refused.text;
  EXPECT_EQ(rows(standin_, "SELECT backup_set_id FROM msdb.dbo.backupset WHERE database_name = N'Sample'").size(), 10u);
  for (const fs::path& file : planted) EXPECT_EQ(bytesOf(file), fullBytes) << file;

  // The chain restores: the full and the differential without recovery, then each log.
  standin_.setClockOffset(0s);
  std::string batch = "RESTORE DATABASE [Sample] FROM DISK = N'" + db::QuoteSqlString(sets[0][1]) +
                      "' WITH NORECOVERY, REPLACE; RESTORE DATABASE [Sample] FROM DISK = N'" +
                      db::QuoteSqlString(sets[1][1]) + "' WITH NORECOVERY; ";
  for (std::size_t i = 2; i < sets.size(); ++i) {
    batch += "RESTORE LOG [Sample] FROM DISK = N'" + db::QuoteSqlString(sets[i][1]) + "' WITH " +
             (i + 1 < sets.size() ? "NORECOVERY; " : "RECOVERY; ");
  }
  bvtest::execute(standin_, batch);
  EXPECT_EQ(standin_.rowCount("Sample", "Customers"), rowsOfTheLastLog);
  EXPECT_TRUE(standin_.querySqlite("Sample", "SELECT 1 FROM Customers WHERE CustomerID = 999").empty());
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
        Refusal{"GenerationsOfLogs", 2019, kFull, BackupKind::Log, "S_%date%_%time%.trn", "", false, false, 3,
                std::string(kChainKeepsEveryFile), true},
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
