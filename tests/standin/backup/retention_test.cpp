// What backup retention reads and does: msdb's backup history in each release's columns, the
// server's clock moved to earlier days, master..xp_dirtree's listing and xp_delete_file.
#include <gtest/gtest.h>

#include <fstream>

#include "engine_support.h"

using namespace standintest;
using standin::sql::BatchResult;
namespace fs = std::filesystem;

namespace {

class Retention : public EngineTest, public ::testing::WithParamInterface<int> {
 protected:
  Retention() : EngineTest(GetParam()) {}

  int firstError(const std::string& sql) {
    const auto r = run(sql);
    return r.errors().empty() ? 0 : r.errors()[0].number;
  }

  // Each row of the last result set, values joined by '|'.
  std::vector<std::string> rows(const std::string& sql) {
    const auto r = run(sql);
    if (r.failed()) ADD_FAILURE() << sql << ": " << r.errors().front().text;
    std::vector<std::string> out;
    const auto sets = r.resultSets();
    if (sets.empty()) return out;
    for (const auto& row : sets.back().rows) {
      std::string line;
      for (std::size_t i = 0; i < row.size(); ++i)
        line += (i ? "|" : "") +
                (standin::sql::isNull(row[i]) ? std::string("NULL") : standin::sql::valueToText(row[i]));
      out.push_back(line);
    }
    return out;
  }

  void backup(const std::string& file, const std::string& with) {
    const auto r = run("BACKUP DATABASE [Sample] TO DISK = N'" + file + "' WITH " + with);
    ASSERT_FALSE(r.failed()) << r.errors().front().text;
  }
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_P(Retention, EachBackupLeavesHistoryRowsAndOverwritingKeepsTheOlderOnes) {
  backup("hist.bak", "INIT, NAME = N'first', DESCRIPTION = N'Build by Brackenvale'");
  backup("hist.bak", "NOINIT, NAME = N'second'");
  backup("hist.bak", "INIT");
  const std::string file = (engine_->dataDir() / "Backup" / "hist.bak").string();
  const auto history = rows(
      "SELECT s.backup_set_id, s.media_set_id, s.position, s.type, s.name, s.description, s.database_name, "
      "s.user_name, s.server_name, s.machine_name, f.physical_device_name, f.device_type, "
      "f.logical_device_name, "
      "f.family_sequence_number FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily f "
      "ON f.media_set_id = s.media_set_id WHERE s.database_name = N'sample' ORDER BY s.backup_set_id");
  const std::string tail = "|Sample|sa|TESTBOX|TESTBOX|" + file + "|2|NULL|1";
  EXPECT_EQ(history, (Lines{"1|1|1|D|first|Build by Brackenvale" + tail, "2|1|2|D|second|NULL" + tail,
                            "3|2|1|D|NULL|NULL" + tail}));
  EXPECT_EQ(rows("SELECT COUNT(*) FROM msdb..backupmediaset"), (Lines{"2"}));
  EXPECT_EQ(rows("SELECT COUNT(*) FROM msdb.dbo.backupset WHERE backup_start_date <= backup_finish_date AND "
                 "backup_finish_date <= GETDATE() AND backup_size > 8192"),
            (Lines{"3"}));
  // Columns that came with later releases are not there before them.
  const int year = GetParam();
  EXPECT_EQ(firstError("SELECT mirror FROM msdb.dbo.backupmediafamily"), year >= 2005 ? 0 : 207);
  EXPECT_EQ(firstError("SELECT is_copy_only, database_guid FROM msdb.dbo.backupset"), year >= 2005 ? 0 : 207);
  EXPECT_EQ(firstError("SELECT compressed_backup_size FROM msdb.dbo.backupset"), year >= 2008 ? 0 : 207);
  EXPECT_EQ(firstError("BACKUP DATABASE [Sample] TO DISK = N'c.bak' WITH COPY_ONLY"), year >= 2005 ? 0 : 155);
  if (year >= 2005) {
    EXPECT_EQ(rows("SELECT is_copy_only, COUNT(DISTINCT database_guid) FROM msdb.dbo.backupset GROUP BY "
                   "is_copy_only "
                   "ORDER BY is_copy_only"),
              (Lines{"0|1", "1|1"}));
  }
  // The default edition (Developer) compresses from 2008; before 2008 there is no such option.
  // What the other editions answer: edition_test.cpp.
  EXPECT_EQ(firstError("BACKUP DATABASE [Sample] TO DISK = N'z.bak' WITH COMPRESSION"),
            year >= 2008 ? 0 : 155);
}

TEST_P(Retention, TheClockOffsetMovesGetdateBackupDatesAndTheirHistory) {
  using standin::sql::DateTime;
  const auto day = [](int offset) {
    return DateTime::now().plusSeconds(offset * 86400LL).format(112).value();
  };
  engine_->setClockOffset(std::chrono::hours(-24 * 5));
  EXPECT_EQ(rows("SELECT CONVERT(char(8), GETDATE(), 112)"), (Lines{day(-5)}));
  backup("old.bak", "INIT");
  engine_->setClockOffset(std::chrono::seconds(0));
  EXPECT_EQ(rows("SELECT CONVERT(char(8), GETDATE(), 112)"), (Lines{day(0)}));
  EXPECT_EQ(rows("SELECT CONVERT(char(8), backup_start_date, 112), CONVERT(char(8), backup_finish_date, 112) "
                 "FROM msdb.dbo.backupset"),
            (Lines{day(-5) + "|" + day(-5)}));
  const auto header = run("RESTORE HEADERONLY FROM DISK = N'old.bak'").resultSets().at(0);
  const auto start = std::get<DateTime>(
      header.rows.at(0).at(static_cast<std::size_t>(header.columnIndex("BackupStartDate"))));
  EXPECT_EQ(start.format(112).value(), day(-5));
}

TEST_P(Retention, DirtreeListsAFolderDepthFirstByName) {
  const fs::path root = scratch("tree");
  fs::create_directories(root / "b sub" / "deeper");
  std::ofstream(root / "a.bak") << "x";
  std::ofstream(root / "C.txt") << "x";
  std::ofstream(root / "b sub" / "inner.bak") << "x";
  const std::string folder = root.string();
  EXPECT_EQ(rows("EXEC master..xp_dirtree N'" + folder + "', 1, 1"),
            (Lines{"a.bak|1|1", "b sub|1|0", "C.txt|1|1"}));
  EXPECT_EQ(rows("EXEC master.dbo.xp_dirtree N'" + folder + "', 0, 1"),
            (Lines{"a.bak|1|1", "b sub|1|0", "deeper|2|0", "inner.bak|2|1", "C.txt|1|1"}));
  EXPECT_EQ(rows("EXEC master..xp_dirtree N'" + folder + "'"), (Lines{"b sub|1", "deeper|2"}));
  const auto columns = run("EXEC master..xp_dirtree N'" + folder + "', 1, 1").resultSets().at(0).columns;
  ASSERT_EQ(columns.size(), 3u);
  EXPECT_EQ(columns[0].name, "subdirectory");
  EXPECT_EQ(columns[2].name, "file");
  // No folder, no rows and no error; a relative name is the server's own folder, not this one.
  for (const std::string& nowhere : {folder + "/missing", std::string("tree"), std::string("C:\\Backup")}) {
    const auto r = run("EXEC master..xp_dirtree N'" + nowhere + "', 1, 1");
    EXPECT_FALSE(r.failed()) << nowhere;
    ASSERT_EQ(r.resultSets().size(), 1u) << nowhere;
    EXPECT_TRUE(r.resultSets()[0].rows.empty()) << nowhere;
  }
  // In master, or named as master's; not from another database. Into a table variable from 2005 on.
  const std::string into =
      "DECLARE @f TABLE (subdirectory nvarchar(512), depth int, [file] int) "
      "INSERT INTO @f EXEC xp_dirtree N'" +
      folder + "', 1, 1 SELECT COUNT(*) FROM @f WHERE [file] = 1";
  if (GetParam() >= 2005) {
    EXPECT_EQ(rows(into), (Lines{"2"}));
  } else {
    EXPECT_EQ(firstError(into), 197);
  }
  run("USE Sample");
  EXPECT_EQ(firstError("EXEC xp_dirtree N'" + folder + "', 1, 1"), 2812);
  EXPECT_EQ(firstError("EXEC master..xp_dirtree N'" + folder + "', 1, 1"), 0);
}

TEST_P(Retention, DeleteFileRemovesOnlyBackupFiles) {
  const fs::path dir = scratch("del");
  fs::create_directories(dir / "folder.bak");
  backup((dir / "real.bak").string(), "INIT");
  backup((dir / "cut.bak").string(), "INIT");
  fs::resize_file(dir / "cut.bak", fs::file_size(dir / "cut.bak") - 10);  // a backup that did not finish
  std::ofstream(dir / "notes.bak") << "not a backup";
  const int year = GetParam();
  for (const char* name : {"real.bak", "cut.bak", "notes.bak", "folder.bak", "missing.bak"}) {
    const auto r = run("EXEC master..xp_delete_file 0, N'" + (dir / name).string() + "'");
    EXPECT_EQ(r.errors().empty() ? 0 : r.errors()[0].number, year >= 2005 ? 0 : 2812) << name;
  }
  EXPECT_EQ(fs::exists(dir / "real.bak"), year < 2005);
  EXPECT_TRUE(fs::exists(dir / "cut.bak"));
  EXPECT_TRUE(fs::exists(dir / "notes.bak"));
  EXPECT_TRUE(fs::is_directory(dir / "folder.bak"));
  // The form that names a folder, an extension and a date is refused, not half done.
  EXPECT_EQ(
      firstError("EXEC master..xp_delete_file 0, N'" + dir.string() + "', N'bak', N'2030-01-01T00:00:00'"),
      year >= 2005 ? 50000 : 2812);
}

TEST_P(Retention, HistoryTablesFollowTheReleaseOfTheDataFolder) {
  backup("keep.bak", "INIT, NAME = N'kept'");
  // The same data folder opened as another release: the tables take its columns, rows kept.
  session_.reset();
  const int other = GetParam() == 2000 ? 2008 : 2000;
  standin::engine::EngineConfig c;
  c.dataDir = dir_.path() / "data";
  c.recordFile = bvtest::nextRecordingFile();
  c.saPassword = "pw";
  c.serverVersion = other;
  c.computerName = "TESTBOX";
  engine_ = std::make_unique<standin::engine::Engine>(c);
  session_ = login();
  EXPECT_EQ(rows("SELECT name, position FROM msdb.dbo.backupset"), (Lines{"kept|1"}));
  EXPECT_EQ(firstError("SELECT mirror FROM msdb.dbo.backupmediafamily"), other >= 2005 ? 0 : 207);
}

INSTANTIATE_TEST_SUITE_P(Releases, Retention, ::testing::Values(2000, 2005, 2008));
