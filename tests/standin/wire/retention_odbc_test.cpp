// Backup retention end to end through unixODBC and FreeTDS: real backups written on five
// earlier server days, decoys beside them, and a batch shaped as the program's prune that keeps
// the newest files, as SQL Server 2005 and later run it.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "odbc_client.h"
#include "standin_fixture.h"

using bvtest::StandinFixture;
using bvtest::odbc::Connection;
using bvtest::odbc::Result;
namespace fs = std::filesystem;

namespace {

// T-SQL's N'...' for a text.
std::string quoted(const std::string& text) {
  std::string out = "N'";
  for (const char c : text) {
    if (c == '\'') out += '\'';
    out += c;
  }
  return out + "'";
}

// The prune: the newest backup of the database from msdb's history, the files beside it, and
// every one of them past the newest `keep` that the history knows removed, oldest first.
std::string pruneBatch(const std::string& database, int keep) {
  return "SET NOCOUNT ON\n"
         "DECLARE @db sysname, @newPath nvarchar(1024), @folder nvarchar(1024), @newName nvarchar(512), "
         "@path nvarchar(1024)\n"
         "SET @db = " +
         quoted(database) +
         "\n"
         "SELECT TOP 1 @newPath = f.physical_device_name\n"
         "  FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily f ON f.media_set_id = s.media_set_id\n"
         "  WHERE s.database_name = @db AND s.description = N'Build by Brackenvale' AND s.type = 'D'\n"
         "  ORDER BY s.backup_set_id DESC\n"
         "IF @newPath IS NULL BEGIN RAISERROR(N'No backup of %s in the history.', 16, 1, @db) RETURN END\n"
         "SET @newName = RIGHT(@newPath, CHARINDEX(N'/', REVERSE(@newPath)) - 1)\n"
         "SET @folder = LEFT(@newPath, LEN(@newPath) - LEN(@newName) - 1)\n"
         "DECLARE @files TABLE (subdirectory nvarchar(512), depth int, [file] int)\n"
         "INSERT INTO @files EXEC master..xp_dirtree @folder, 1, 1\n"
         "IF NOT EXISTS (SELECT * FROM @files WHERE [file] = 1 AND subdirectory = @newName) BEGIN\n"
         "  RAISERROR(N'The newest backup %s is not in its folder.', 16, 1, @newName) RETURN END\n"
         "DECLARE @doomed TABLE (name nvarchar(512), digits char(8), path nvarchar(1024))\n"
         "INSERT INTO @doomed SELECT c.subdirectory, c.digits, @folder + N'/' + c.subdirectory\n"
         "  FROM (SELECT f.subdirectory, SUBSTRING(f.subdirectory, LEN(@db) + 2, 8) AS digits,\n"
         "               ROW_NUMBER() OVER (ORDER BY SUBSTRING(f.subdirectory, LEN(@db) + 2, 8) DESC) AS r\n"
         "          FROM @files f\n"
         "         WHERE f.[file] = 1 AND LEFT(f.subdirectory, LEN(@db) + 1) = @db + N'_'\n"
         "           AND SUBSTRING(f.subdirectory, LEN(@db) + 2, 8) NOT LIKE N'%[^0-9]%'\n"
         "           AND ISDATE(SUBSTRING(f.subdirectory, LEN(@db) + 2, 8)) = 1\n"
         "           AND EXISTS (SELECT * FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily m\n"
         "                         ON m.media_set_id = s.media_set_id\n"
         "                        WHERE s.database_name = @db\n"
         "                          AND m.physical_device_name = @folder + N'/' + f.subdirectory)) c\n"
         " WHERE c.r >= " +
         std::to_string(keep + 1) +
         "\n"
         "WHILE 1 = 1 BEGIN\n"
         "  SET @path = NULL\n"
         "  SELECT TOP 1 @path = path FROM @doomed ORDER BY digits\n"
         "  IF @path IS NULL BREAK\n"
         "  EXEC master..xp_delete_file 0, @path\n"
         "  DELETE FROM @doomed WHERE path = @path\n"
         "END\n";
}

std::set<std::string> filesIn(const fs::path& folder) {
  std::set<std::string> out;
  for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
  return out;
}

std::string errorsOf(const Result& r) {
  std::string out;
  for (const auto& d : r.diags) out += d.text + "\n";
  return out;
}

}  // namespace

TEST(RetentionThroughTheDriver, APruneKeepsTheNewestBackupsTheHistoryKnows) {
  StandinFixture standin;
  Connection c;
  ASSERT_TRUE(c.connect(standin.odbcConnectionString()));
  const fs::path folder = standin.scratchDir() / "it's [Brackenvale]%_backups";
  fs::create_directories(folder);
  // One backup a day on five earlier server days, each named by the day the server gives.
  std::vector<std::string> written;
  for (int daysAgo = 5; daysAgo >= 1; --daysAgo) {
    standin.setClockOffset(std::chrono::hours(-24 * daysAgo));
    const auto r = c.execute(
        "DECLARE @name nvarchar(64), @path nvarchar(1024)\r\n"
        "SET @name = N'Sample_' + CONVERT(nvarchar(8), GETDATE(), 112) + N'.bak'\r\n"
        "SET @path = " +
        quoted(folder.string() + "/") +
        " + @name\r\n"
        "BACKUP DATABASE [Sample] TO DISK = @path WITH INIT, NAME = N'Sample', "
        "DESCRIPTION = N'Build by Brackenvale'\r\n"
        "SELECT @name");
    ASSERT_FALSE(r.anyError) << errorsOf(r);
    written.push_back(r.sets.at(0).rows.at(0).at(0).value());
  }
  standin.setClockOffset(std::chrono::seconds(0));
  ASSERT_EQ(std::set<std::string>(written.begin(), written.end()).size(), 5u) << "five different days";
  // Decoys: named like a backup but unknown to the history (and no backup at all), a folder
  // named like one, a backup of another name, a note.
  std::ofstream(folder / "Sample_20000101.bak") << "not a backup";
  fs::create_directory(folder / "Sample_20010101.bak");
  fs::copy_file(folder / written[0], folder / "Sample_manual.bak");
  std::ofstream(folder / "README.txt") << "backups";

  const auto pruned = c.execute(pruneBatch("Sample", 2));
  EXPECT_FALSE(pruned.anyError) << errorsOf(pruned);
  EXPECT_EQ(filesIn(folder),
            (std::set<std::string>{written[3], written[4], "Sample_20000101.bak", "Sample_20010101.bak",
                                   "Sample_manual.bak", "README.txt"}));
  // Run again: nothing more to do.
  EXPECT_FALSE(c.execute(pruneBatch("Sample", 2)).anyError);
  EXPECT_EQ(filesIn(folder).size(), 6u);
  // The newest backup gone from its folder: the batch stops with its error and deletes nothing.
  fs::remove(folder / written[4]);
  const auto refused = c.execute(pruneBatch("Sample", 1));
  EXPECT_TRUE(refused.anyError);
  EXPECT_NE(errorsOf(refused).find("The newest backup " + written[4] + " is not in its folder."),
            std::string::npos)
      << errorsOf(refused);
  EXPECT_TRUE(fs::exists(folder / written[3]));
}
