// What the program's maintenance will send, end to end through unixODBC and FreeTDS, one road
// per feature: an edition without an Agent, log truncation by the recovery model, a backup's
// progress watched from a second connection, and the proof of a backup by a test restore.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <thread>

#include "core/maintenance/command_executor.h"
#include "core/maintenance/proof.h"
#include "engine_support.h"
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

// The progress window's road: the program's backup batch on one connection, its percentage read
// from sys.dm_exec_requests on a second connection to master while the first waits (the copy
// slowed by a throttle fault so that it can be watched).
TEST(MaintenanceOdbc, ASecondConnectionWatchesTheBackupsPercentageRise) {
  StandinOptions options;
  options.serverVersion = 2012;
  options.faults = {"throttle=131072:match=BACKUP DATABASE"};
  StandinFixture standin(options);
  auto setup = connect(standin);
  ASSERT_FALSE(
      setup
          ->execute("CREATE TABLE Sample.dbo.Filler (x NVARCHAR(400))\r\n"
                    "INSERT INTO Sample.dbo.Filler VALUES (REPLICATE(N'x', 400))\r\n"
                    "DECLARE @i int SET @i = 0\r\n"
                    "WHILE @i < 8 BEGIN INSERT INTO Sample.dbo.Filler SELECT x FROM Sample.dbo.Filler "
                    "SET @i = @i + 1 END")
          .anyError);
  auto backup = connect(standin);
  const std::string spid = single(backup->execute("SELECT @@SPID"));
  auto watcher = connect(standin, "Database=master;");
  EXPECT_NE(single(watcher->execute("SELECT @@SPID")), spid);

  std::atomic<bool> finished{false};
  Result result;
  std::thread run([&] {
    result =
        backup->execute(standintest::backupBatch("Sample", (standin.scratchDir() / "p.bak").string(), true));
    finished = true;
  });
  // Each command's percentages in the order they were read: the backup's, then the verify's.
  std::map<std::string, std::vector<double>> percents;
  while (!finished) {
    const auto r = watcher->execute(
        "SELECT command, CAST(percent_complete AS float), estimated_completion_time, start_time, status "
        "FROM sys.dm_exec_requests WHERE session_id = " +
        spid);
    ASSERT_FALSE(r.anyError) << (r.diags.empty() ? "" : r.diags[0].text);
    for (const auto& row : r.sets.at(0).rows) {
      auto& seen = percents[row[0].value_or("")];
      const double p = std::stod(row[1].value_or("0"));
      if (seen.empty() || seen.back() != p) seen.push_back(p);
      EXPECT_TRUE(row[3].has_value());
      EXPECT_EQ(row[4].value_or(""), "running");
    }
    std::this_thread::yield();
  }
  run.join();
  ASSERT_FALSE(result.anyError) << (result.diags.empty() ? "" : result.diags[0].text);
  for (const char* command : {"BACKUP DATABASE", "RESTORE VERIFYON"}) {
    const auto& seen = percents[command];
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end())) << command;
    EXPECT_GT(std::count_if(seen.begin(), seen.end(), [](double p) { return p > 0 && p < 100; }), 1)
        << command;
  }
}

// The proof the window and Brackenrun run, through the driver, on each release's road (2000:
// sysaltfiles and no free-space check; 2008: the source's folders; 2019: the server's default
// folders and its free space): proven, damaged, and refused for want of room.
TEST(MaintenanceOdbc, TheProofRestoresChecksAndDropsOnEachRelease) {
  using Outcome = bv::maintenance::ProofOutcome::Result;
  struct Case {
    int year;
    std::vector<std::string> faults;
    Outcome result;
  };
  const std::vector<Case> cases = {
      {2000, {}, Outcome::Proven},
      {2008, {}, Outcome::Proven},
      {2019, {}, Outcome::Proven},
      {2019, {"damage-restore:match=Brackenvale_check"}, Outcome::Damaged},
      {2008, {"damage-restore:match=Brackenvale_check"}, Outcome::Damaged},
      {2019, {"volume-free=1024"}, Outcome::Failed},
  };
  for (const auto& c : cases) {
    StandinOptions options;
    options.serverVersion = c.year;
    options.faults = c.faults;
    StandinFixture standin(options);
    auto sql = connect(standin);
    const auto backup =
        sql->execute("BACKUP DATABASE Sample TO DISK = N'" + (standin.dataDir() / "proof.bak").string() +
                     "' WITH INIT, DESCRIPTION = N'Build by Brackenvale'");
    ASSERT_FALSE(backup.anyError) << c.year;
    const bv::db::LoginSettings login{standin.serverText(), true, "sa", standin.saPassword()};
    const auto outcome = bv::maintenance::runProof(
        bv::maintenance::maintenanceConnectionSettings(login, "バックアップ"), "Sample",
        (standin.dataDir() / "proof.bak").string(), bv::maintenance::RunMark::afterSet(0),
        bv::maintenance::readServerRelease(bv::db::loginConnectionSettings(login)).value());
    EXPECT_EQ(outcome.result, c.result) << c.year << " " << outcome.message;
    if (c.result == Outcome::Damaged) {
      EXPECT_NE(outcome.message.find("CHECKDB found 0 allocation errors and 4 consistency errors"),
                std::string::npos)
          << outcome.message;
    }
    if (c.result == Outcome::Failed) {
      EXPECT_NE(outcome.message.find("テストレストアに必要な空き容量がありません"), std::string::npos)
          << outcome.message;
    }
    const std::string scratchLeft = single(
        sql->execute("SELECT COUNT(*) FROM master..sysdatabases WHERE name LIKE N'Brackenvale[_]check[_]%'"));
    EXPECT_EQ(scratchLeft, "0") << c.year;
    if (c.result != Outcome::Failed) {
      EXPECT_EQ(single(sql->execute("SELECT COUNT(*) FROM msdb.dbo.restorehistory")), "1") << c.year;
    }
  }
}
