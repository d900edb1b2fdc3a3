// What the program's maintenance will send, end to end through unixODBC and FreeTDS, one road
// per feature: an edition without an Agent, log truncation by the recovery model, a backup's
// progress watched from a second connection, and the proof of a backup by a test restore.
#include <gtest/gtest.h>

#include "odbc_client.h"
#include "standin_fixture.h"

using bvtest::StandinFixture;
using bvtest::StandinOptions;
using bvtest::odbc::Connection;
using bvtest::odbc::Result;

namespace {

std::string single(const Result& r) {
  if (r.sets.empty() || r.sets[0].rows.empty() || !r.sets[0].rows[0][0]) return "<none>";
  return *r.sets[0].rows[0][0];
}

std::size_t shrinkRows(const Result& r) { return r.sets.empty() ? 0 : r.sets[0].rows.size(); }

std::unique_ptr<Connection> connect(StandinFixture& standin, const std::string& extra = "") {
  auto c = std::make_unique<Connection>();
  if (!c->connect(standin.odbcConnectionString(extra))) ADD_FAILURE() << "connect failed";
  return c;
}

}  // namespace

// Express has msdb's jobs but no Agent: the program must see that before it registers a job.
TEST(MaintenanceOdbc, ExpressAnswersAsExpressAndHasNoAgentToStartAJob) {
  StandinOptions options;
  options.serverVersion = 2019;
  options.edition = standin::base::Edition::Express;
  StandinFixture standin(options);
  auto c = connect(standin);
  EXPECT_EQ(single(c->execute("SELECT CAST(SERVERPROPERTY('EngineEdition') AS int)")), "4");
  EXPECT_EQ(single(c->execute("SELECT CAST(SERVERPROPERTY('Edition') AS nvarchar(128))")),
            "Express Edition (64-bit)");
  const auto add = c->execute(
      "EXEC msdb.dbo.sp_add_job @job_name = N'Brackenvale nightly'\r\n"
      "EXEC msdb.dbo.sp_add_jobstep @job_name = N'Brackenvale nightly', @step_name = N'backup', "
      "@command = N'SELECT 1'\r\n"
      "EXEC msdb.dbo.sp_add_jobserver @job_name = N'Brackenvale nightly'");
  EXPECT_FALSE(add.anyError);
  const auto start = c->execute("EXEC msdb.dbo.sp_start_job @job_name = N'Brackenvale nightly'");
  EXPECT_TRUE(start.anyError);
  const auto* refused = start.find(22022);
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->text,
            "[FreeTDS][SQL Server]SQLServerAgent is not currently running so it cannot be notified of this "
            "action.");
  EXPECT_EQ(single(c->execute("SELECT COUNT(*) FROM msdb.dbo.sysjobhistory")), "0");
}

// Log truncation as the program will send it from 2008 on: log backups in FULL (the earlier
// set staying restorable after the next NOINIT), or SIMPLE for a moment, each followed by a
// shrink that the log's state decides.
TEST(MaintenanceOdbc, TheLogIsFreedByLogBackupsOrByTheSimpleModelAndThenShrinks) {
  StandinOptions options;
  options.serverVersion = 2019;
  StandinFixture standin(options);
  auto c = connect(standin);
  const std::string full = (standin.scratchDir() / "Sample.bak").string();
  const std::string log = (standin.scratchDir() / "Sample_log.trn").string();
  auto wait = [&] {
    return single(c->execute("SELECT log_reuse_wait_desc FROM sys.databases WHERE name = N'Sample'"));
  };
  auto logPages = [&] {
    return std::stol(single(c->execute(
        "SELECT size FROM sys.master_files WHERE database_id = DB_ID(N'Sample') AND type_desc = N'LOG'")));
  };
  EXPECT_EQ(single(c->execute("SELECT recovery_model_desc FROM sys.databases WHERE name = N'Sample'")),
            "FULL");
  ASSERT_FALSE(c->execute("BACKUP DATABASE [Sample] TO DISK = N'" + full + "' WITH INIT").anyError);
  const auto grow = c->execute(
      "CREATE TABLE Sample.dbo.Bulk (x INT)\r\n"
      "INSERT INTO Sample.dbo.Bulk VALUES (1)\r\n"
      "DECLARE @i int SET @i = 0\r\n"
      "WHILE @i < 15 BEGIN INSERT INTO Sample.dbo.Bulk SELECT x FROM Sample.dbo.Bulk SET @i = @i + 1 END");
  ASSERT_FALSE(grow.anyError) << (grow.diags.empty() ? "" : grow.diags[0].text);
  EXPECT_EQ(wait(), "LOG_BACKUP");
  const long grown = logPages();
  EXPECT_GT(grown, 1024);  // past model's 8 MB

  // Two log backups to one file: the first set stays there and verifies.
  for (int i = 0; i < 2; ++i) {
    const auto r =
        c->execute("DECLARE @file nvarchar(260) SET @file = N'" + log +
                   "'\r\nBACKUP LOG [Sample] TO DISK = @file WITH NOINIT, NAME = N'Brackenvale_log', "
                   "DESCRIPTION = N'Build by Brackenvale', STATS = 50");
    ASSERT_FALSE(r.anyError) << (r.diags.empty() ? "" : r.diags[0].text);
    EXPECT_TRUE(r.hasNative(3014));
  }
  EXPECT_EQ(wait(), "NOTHING");
  EXPECT_TRUE(c->execute("RESTORE VERIFYONLY FROM DISK = N'" + log + "' WITH FILE = 1").hasNative(3262));
  EXPECT_EQ(single(c->execute("SELECT COUNT(*) FROM msdb.dbo.backupset WHERE type = 'L' AND database_name = "
                              "N'Sample' AND description = N'Build by Brackenvale'")),
            "2");
  const auto shrink = c->execute("DBCC SHRINKDATABASE([Sample], 1)");
  ASSERT_FALSE(shrink.anyError);
  ASSERT_EQ(shrink.sets.size(), 1u);
  EXPECT_EQ(shrink.sets[0].rows.size(), 2u);  // the data file and the log
  EXPECT_EQ(logPages(), 1024);

  // The other road: SIMPLE, a checkpoint, the shrink, and FULL again, whose log backups then
  // wait for a new full backup.
  ASSERT_FALSE(c->execute("INSERT INTO Sample.dbo.Bulk SELECT x FROM Sample.dbo.Bulk").anyError);
  EXPECT_GT(logPages(), 1024);
  ASSERT_FALSE(c->execute("ALTER DATABASE [Sample] SET RECOVERY SIMPLE WITH NO_WAIT").anyError);
  EXPECT_EQ(wait(), "CHECKPOINT");
  ASSERT_FALSE(c->execute("USE [Sample]\r\nCHECKPOINT\r\nUSE [master]").anyError);
  EXPECT_EQ(shrinkRows(c->execute("DBCC SHRINKDATABASE([Sample], 1)")), 2u);
  EXPECT_EQ(logPages(), 1024);
  ASSERT_FALSE(c->execute("ALTER DATABASE [Sample] SET RECOVERY FULL WITH NO_WAIT").anyError);
  EXPECT_TRUE(c->execute("BACKUP LOG [Sample] TO DISK = N'" + log + "' WITH NOINIT").hasNative(4214));
}
