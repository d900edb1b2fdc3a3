// What a proof of a backup needs of the server: a restore under a scratch name with every file
// moved (and the checks SQL Server makes of the places), the restore history, the files each
// database has, the volume they lie on, DBCC CHECKDB, and the job step's batch.
#include <gtest/gtest.h>

#include <filesystem>
#include <chrono>
#include <fstream>

#include "core/maintenance/proof.h"
#include "engine_support.h"
#include "standin/base/statement_faults.h"

using standin::base::StatementFault;
using standin::sql::BatchResult;
using standintest::numbers;

namespace {

class Proof : public ::testing::Test {
 protected:
  void open(int year, std::vector<StatementFault> faults = {}) {
    session_.reset();
    engine_.reset();
    engine_ = standintest::openEngine(dir_.path() / ("data" + std::to_string(year)), year, std::move(faults));
    session_ = engine_->login({"sa", "pw", "", "", "", "", false}).session;
  }
  BatchResult run(const std::string& sql) { return session_->executeBatch(sql); }
  std::string scalar(const std::string& sql) {
    const auto r = run(sql);
    if (r.failed()) return "error " + std::to_string(r.errors()[0].number) + ": " + r.errors()[0].text;
    const auto sets = r.resultSets();
    if (sets.empty() || sets[0].rows.empty()) return "<none>";
    return standin::sql::valueToText(sets[0].rows[0][0]);
  }
  std::string path(const std::string& name) { return (dir_.path() / name).string(); }
  std::string backUpSample() {
    const auto media = path("sample.bak");
    EXPECT_FALSE(run("BACKUP DATABASE Sample TO DISK = N'" + media +
                     "' WITH INIT, DESCRIPTION = N'Build by Brackenvale'")
                     .failed());
    return media;
  }
  std::string restoreMoved(const std::string& target, const std::string& media, const std::string& data,
                           const std::string& log, const std::string& more = "") {
    return "RESTORE DATABASE [" + target + "] FROM DISK = N'" + media + "' WITH FILE = 1, MOVE N'Sample' TO N'" +
           data + "', MOVE N'Sample_log' TO N'" + log + "'" + more;
  }

  bvtest::TempDir dir_{"bv-proof"};
  std::unique_ptr<standin::engine::Engine> engine_;
  std::unique_ptr<standin::engine::Session> session_;
};

}  // namespace

// Every problem with the places is reported before anything is written, as SQL Server plans a
// restore; nothing is left behind.
TEST_F(Proof, ARestoreWithMoveChecksEveryPlaceFirst) {
  open(2012, {{StatementFault::Kind::VolumeFree, 1000, "full-volume", 0}});
  const auto media = backUpSample();
  std::filesystem::create_directories(path("full-volume"));
  const auto sampleFile = scalar("SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'Sample') "
                                 "AND type = 0");
  std::ofstream(path("in-the-way.mdf")) << "x";
  struct Case {
    std::string statement;
    std::vector<int> errors;
  };
  const std::vector<Case> cases = {
      {"RESTORE DATABASE C FROM DISK = N'" + media + "' WITH MOVE N'Nope' TO N'" + path("c.mdf") + "'",
       {3234, 3013}},
      {restoreMoved("C", media, path("missing/c.mdf"), path("c.ldf")), {5133, 3156, 3119, 3013}},
      {restoreMoved("C", media, "D:\\Data\\c.mdf", path("c.ldf")), {5133, 3156, 3119, 3013}},
      {restoreMoved("C", media, sampleFile, path("c.ldf")), {1834, 3156, 3119, 3013}},
      {restoreMoved("C", media, path("in-the-way.mdf"), path("c.ldf")), {3142, 3119, 3013}},
      {restoreMoved("C", media, path("same"), path("same")), {3176, 3119, 3013}},
      {restoreMoved("C", media, path("full-volume/c.mdf"), path("full-volume/c.ldf")), {3257, 3119, 3013}},
      {restoreMoved("C", media, path("c.mdf"), path("c.ldf"), ", MOVE N'Sample' TO N'" + path("d.mdf") + "'"),
       {4353, 3013}},
  };
  for (const auto& c : cases) {
    const auto r = run(c.statement);
    EXPECT_EQ(numbers(r.errors()), c.errors) << c.statement;
    EXPECT_EQ(scalar("SELECT DB_ID(N'C')"), "") << c.statement;
    EXPECT_FALSE(std::filesystem::exists(path("c.mdf"))) << c.statement;
  }
  EXPECT_EQ(std::filesystem::file_size(path("in-the-way.mdf")), 1u);
  // With REPLACE the file in the way is overwritten; elsewhere the restore goes where it is told.
  ASSERT_FALSE(run(restoreMoved("C", media, path("in-the-way.mdf"), path("c.ldf"), ", REPLACE")).failed());
  ASSERT_FALSE(run(restoreMoved("D", media, path("d.mdf"), path("d.ldf"))).failed());
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM D.dbo.Customers"), scalar("SELECT COUNT(*) FROM Sample.dbo.Customers"));
  EXPECT_EQ(scalar("SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'D') AND type = 0"),
            path("d.mdf"));
  EXPECT_EQ(scalar("SELECT physical_name FROM sys.master_files WHERE database_id = DB_ID(N'D') AND type = 1"),
            path("d.ldf"));
  EXPECT_TRUE(std::filesystem::exists(path("d.ldf")));
}

// The proof's statements one by one, as the window and Brackenrun send them: the room and the
// folders the server gives, the restore under the scratch name, CHECKDB, the history that ties
// the scratch database to the backup, and its creation date by the server's clock.
TEST_F(Proof, TheProofsStatementsRestoreCheckAndRecord) {
  open(2016, {{StatementFault::Kind::DamageRestore, 0, "Damaged_copy", 0},
              {StatementFault::Kind::VolumeFree, 123456789, "", 0}});
  const auto media = backUpSample();
  const auto dataPath = scalar("SELECT CONVERT(nvarchar(1024), SERVERPROPERTY('InstanceDefaultDataPath'))");
  EXPECT_EQ(dataPath, (dir_.path() / "data2016" / "").string());
  EXPECT_EQ(scalar("SELECT CONVERT(nvarchar(1024), SERVERPROPERTY('InstanceDefaultLogPath'))"), dataPath);
  EXPECT_EQ(scalar("SELECT CONVERT(float, available_bytes) FROM sys.dm_os_volume_stats(DB_ID(N'Sample'), 1)"),
            "error 50000: The stand-in server reads only numbers and variables as the arguments of "
            "sys.dm_os_volume_stats.");
  const auto id = scalar("SELECT DB_ID(N'Sample')");
  EXPECT_EQ(scalar("SELECT available_bytes FROM sys.dm_os_volume_stats(" + id + ", 1)"), "123456789");
  EXPECT_EQ(scalar("DECLARE @d int SET @d = " + id +
                   " SELECT COUNT(*) FROM sys.dm_os_volume_stats(@d, 2) WHERE total_bytes > 0 AND "
                   "volume_mount_point LIKE N'/%' AND volume_mount_point LIKE N'%/'"),
            "1");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM sys.dm_os_volume_stats(999, 1)"), "0");
  const auto list = run("RESTORE FILELISTONLY FROM DISK = N'" + media + "' WITH FILE = 1");
  ASSERT_FALSE(list.failed());
  const auto files = list.resultSets().at(0);
  EXPECT_EQ(standin::sql::valueToText(files.rows.at(0).at(1)),
            scalar("SELECT physical_name FROM sys.master_files WHERE database_id = " + id + " AND file_id = 1"));
  EXPECT_EQ(files.columns.back().name, "SnapshotURL");

  // The scratch database looks a day old by the server's clock: its creation date is the restore's.
  engine_->setClockOffset(std::chrono::hours(-25));
  for (const std::string target : {"Sound_copy", "Damaged_copy"})
    ASSERT_FALSE(run(restoreMoved(target, media, dataPath + target + ".mdf", dataPath + target + ".ldf")).failed());
  engine_->setClockOffset(std::chrono::seconds(0));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM sys.databases WHERE name LIKE N'%[_]copy' AND create_date < "
                   "DATEADD(hour, -24, GETDATE())"),
            "2");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM sys.master_files WHERE physical_name LIKE N'%[_]copy.[lm]df'"), "4");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM msdb.dbo.restorehistory r JOIN msdb.dbo.backupset s ON s.backup_set_id = "
                   "r.backup_set_id WHERE r.destination_database_name = N'Sound_copy' AND s.description = N'Build by "
                   "Brackenvale' AND r.restore_type = 'D' AND r.[replace] = 0 AND r.recovery = 1 AND r.user_name = N'sa'"),
            "1");

  const auto sound = run("DBCC CHECKDB ([Sound_copy]) WITH NO_INFOMSGS, ALL_ERRORMSGS");
  EXPECT_FALSE(sound.failed());
  EXPECT_TRUE(sound.items.empty() || numbers(sound.errors()).empty());
  const auto damaged = run("DBCC CHECKDB ([Damaged_copy]) WITH NO_INFOMSGS, ALL_ERRORMSGS");
  ASSERT_TRUE(damaged.failed());
  EXPECT_EQ(numbers(damaged.errors()), (std::vector<int>{8928, 8939, 8928, 8939, 8990, 8989}));
  EXPECT_NE(standintest::find(damaged, 8958), nullptr);
  EXPECT_EQ(damaged.errors().at(5).text,
            "CHECKDB found 0 allocation errors and 4 consistency errors in database 'Damaged_copy'.");
  for (const std::string target : {"Sound_copy", "Damaged_copy"})
    ASSERT_FALSE(run("DROP DATABASE [" + target + "]").failed());
  EXPECT_FALSE(std::filesystem::exists(dataPath + "Sound_copy.mdf"));
}

// 2000 lists the files in master..sysaltfiles, its file names padded to 260 characters; a log
// file has status 64.
TEST_F(Proof, Release2000ListsTheRestoredFilesInSysaltfiles) {
  open(2000);
  const auto media = backUpSample();
  // 2000's own logical names.
  const auto data = scalar("SELECT RTRIM(name) FROM master..sysaltfiles WHERE dbid = DB_ID(N'Sample') AND fileid = 1");
  const auto log = scalar("SELECT RTRIM(name) FROM master..sysaltfiles WHERE dbid = DB_ID(N'Sample') AND fileid = 2");
  const auto restore = run("RESTORE DATABASE Copy FROM DISK = N'" + media + "' WITH MOVE N'" + data + "' TO N'" +
                           path("copy.mdf") + "', MOVE N'" + log + "' TO N'" + path("copy.ldf") + "'");
  ASSERT_FALSE(restore.failed()) << restore.errors().front().text;
  EXPECT_EQ(scalar("SELECT RTRIM(filename) FROM master..sysaltfiles WHERE dbid = DB_ID(N'Copy') AND status & 64 = 64"),
            path("copy.ldf"));
  EXPECT_EQ(scalar("SELECT LEN(filename) FROM master..sysaltfiles WHERE dbid = DB_ID(N'Copy') AND fileid = 1"),
            std::to_string(path("copy.mdf").size()));
  EXPECT_EQ(scalar("SELECT DATALENGTH(filename) FROM master..sysaltfiles WHERE dbid = DB_ID(N'Copy') AND fileid = 1"),
            "520");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM msdb.dbo.restorehistory WHERE destination_database_name = N'Copy'"), "1");
  const auto list = run("RESTORE FILELISTONLY FROM DISK = N'" + media + "'");
  EXPECT_EQ(list.resultSets().at(0).columns.size(), 6u);
}

namespace {

struct StepCase {
  int year;
  bool damaged;
};

class ProofStep : public Proof, public ::testing::WithParamInterface<StepCase> {};

void PrintTo(const StepCase& c, std::ostream* out) { *out << c.year << (c.damaged ? "_damaged" : "_sound"); }

}  // namespace

// The Agent job step's batch as the program builds it: the newest backup restored under the
// scratch name with every file moved into the data folder, checked, recorded in the restore
// history and dropped; damage planted in the restored copy fails the step with CHECKDB's errors.
TEST_P(ProofStep, TheJobStepRestoresChecksAndDrops) {
  const auto& p = GetParam();
  std::vector<StatementFault> faults;
  if (p.damaged) faults.push_back({StatementFault::Kind::DamageRestore, 0, "Brackenvale_check", 0});
  open(p.year, faults);
  backUpSample();
  const auto r = run(bv::maintenance::buildProofJobStep("Sample", path("sample.bak"),
                                                        bv::maintenance::RunMark::afterSet(0)));
  if (p.damaged) {
    ASSERT_TRUE(r.failed());
    const auto error = r.errors().back();
    EXPECT_EQ(error.number, 50000);
    EXPECT_EQ(error.text, bv::maintenance::damagedBackupText(path("sample.bak")) +
                              " CHECKDB found 0 allocation errors and 4 consistency errors in database '" +
                              error.text.substr(error.text.find("Brackenvale_check_"), 67) + "'.");
  } else {
    ASSERT_FALSE(r.failed()) << r.errors().front().text;
    EXPECT_NE(standintest::find(r, 0), nullptr);
  }
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM sys.databases WHERE name LIKE N'Brackenvale[_]check[_]%'"), "0");
  EXPECT_EQ(
      scalar(
          "SELECT COUNT(*) FROM msdb.dbo.restorehistory r JOIN msdb.dbo.backupset s "
          "ON s.backup_set_id = r.backup_set_id WHERE r.destination_database_name LIKE "
          "N'Brackenvale[_]check[_]%' AND s.description = N'Build by Brackenvale' AND r.restore_type = 'D'"),
      "1");
  // Nothing is left in the data folder either.
  for (const auto& entry :
       std::filesystem::directory_iterator(dir_.path() / ("data" + std::to_string(p.year))))
    EXPECT_EQ(entry.path().filename().string().find("Brackenvale_check"), std::string::npos) << entry.path();
}

INSTANTIATE_TEST_SUITE_P(Releases, ProofStep,
                         ::testing::Values(StepCase{2005, false}, StepCase{2008, false},
                                           StepCase{2012, false}, StepCase{2016, false}, StepCase{2019, true},
                                           StepCase{2012, true}));

// A scratch database a killed proof left is dropped by the next one only when it is older than a
// day and the restore history ties it to one of the program's backups.
TEST_F(Proof, TheJobStepDropsOnlyOldLeftoversOfItsOwnBackups) {
  open(2012);
  const auto media = backUpSample();
  const auto other = path("other.bak");
  ASSERT_FALSE(run("BACKUP DATABASE Sample TO DISK = N'" + other + "' WITH INIT").failed());
  const auto restoreAs = [&](const std::string& name, const std::string& from) {
    const auto r = run(restoreMoved(name, from, path(name + ".mdf"), path(name + ".ldf")));
    ASSERT_FALSE(r.failed()) << name << ": " << r.errors().front().text;
  };
  engine_->setClockOffset(std::chrono::hours(-25));
  restoreAs("Brackenvale_check_20200101000000_5", media);  // old and ours: dropped
  restoreAs("Brackenvale_check_20200101000001_5", other);  // old, another backup's: kept
  restoreAs("Brackenvale_check_2020010100000x_5", media);  // not the exact shape: kept
  engine_->setClockOffset(std::chrono::hours(-23));
  restoreAs("Brackenvale_check_20200101000002_5", media);  // not a day old: kept
  engine_->setClockOffset(std::chrono::seconds(0));
  const auto r = run(bv::maintenance::buildProofJobStep("Sample", media, bv::maintenance::RunMark::afterSet(0)));
  ASSERT_FALSE(r.failed()) << r.errors().front().text;
  EXPECT_EQ(scalar("SELECT DB_ID(N'Brackenvale_check_20200101000000_5')"), "");
  for (const char* kept : {"Brackenvale_check_20200101000001_5", "Brackenvale_check_2020010100000x_5",
                           "Brackenvale_check_20200101000002_5"})
    EXPECT_NE(scalar(std::string("SELECT DB_ID(N'") + kept + "')"), "") << kept;
}

// The T-SQL of a job step's batch: TRY ... CATCH with the ERROR_ functions, RAISERROR's
// substitutions, and the string functions, as SQL Server runs them.
TEST_F(Proof, TryCatchAndTheBatchesFunctions) {
  open(2008);
  struct Case {
    std::string batch;
    std::string printed;  // the last PRINT's or RAISERROR's text
    int number;           // its number (0 for PRINT)
  };
  const std::vector<Case> cases = {
      {"BEGIN TRY SELECT 1/0 PRINT N'not here' END TRY BEGIN CATCH PRINT CONVERT(nvarchar(10), "
       "ERROR_NUMBER()) + "
       "N' ' + CONVERT(nvarchar(10), ERROR_SEVERITY()) + N' ' + ERROR_MESSAGE() END CATCH",
       "8134 16 Divide by zero error encountered.", 0},
      {"BEGIN TRY RESTORE DATABASE X FROM DISK = N'/nowhere/x.bak' END TRY BEGIN CATCH "
       "DECLARE @e nvarchar(2048) SET @e = ERROR_MESSAGE() RAISERROR(N'%s', 16, 1, @e) END CATCH",
       "RESTORE DATABASE is terminating abnormally.", 50000},
      {"DECLARE @sql nvarchar(100) SET @sql = N'SELECT * FROM NoSuchTable' BEGIN TRY EXEC (@sql) END TRY "
       "BEGIN CATCH PRINT ERROR_MESSAGE() END CATCH PRINT N'after'",
       "after", 0},
      {"BEGIN TRY RAISERROR(N'inner %d of %s', 16, 1, 7, N'x') END TRY BEGIN CATCH PRINT ERROR_MESSAGE() END "
       "CATCH",
       "inner 7 of x", 0},
      {"BEGIN TRY PRINT N'fine' END TRY BEGIN CATCH PRINT N'never' END CATCH PRINT ISNULL(ERROR_MESSAGE(), "
       "N'null')",
       "null", 0},
      {"PRINT QUOTENAME(N'a]b') + QUOTENAME(N'it''s', N'''') + REVERSE(N'abc') + LEFT(N'abcdef', LEN(N'abc "
       "') + 1 - "
       "CHARINDEX(N'c', REVERSE(N'abc')))",
       "[a]]b]'it''s'cbaabc", 0},
      {"IF N'Brackenvale_check_1_5' LIKE N'Brackenvale[_]check[_][0-9][_]%' AND SUBSTRING(N'x12', 2, 9) NOT "
       "LIKE "
       "N'%[^0-9]%' PRINT N'shape' ELSE PRINT N'no'",
       "shape", 0},
  };
  for (const auto& c : cases) {
    const auto r = run(c.batch);
    const standin::sql::Message* last = nullptr;
    for (const auto& item : r.items)
      if (const auto* m = std::get_if<standin::sql::Message>(&item)) last = m;
    ASSERT_NE(last, nullptr) << c.batch;
    EXPECT_EQ(last->text, c.printed) << c.batch;
    EXPECT_EQ(last->number, c.number) << c.batch;
    EXPECT_EQ(r.failed(), c.number != 0) << c.batch;
  }
}
