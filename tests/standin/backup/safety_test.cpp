// What the program's safety mends are tested against: a statement held inside a batch while the
// test acts, a database created under a restore's target, a restore that breaks midway, the
// host the server runs on, and the Agent's running job as msdb.dbo.sysjobactivity shows it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "engine_support.h"
#include "standin/base/statement_faults.h"

using namespace std::chrono_literals;
using standin::base::StatementFault;
using standin::sql::BatchResult;
using standintest::numbers;

namespace {

class Safety : public ::testing::Test {
 protected:
  void open(int year, std::vector<StatementFault> faults = {}) {
    session_.reset();
    engine_.reset();
    engine_ =
        standintest::openEngine(dir_.path() / ("data" + std::to_string(++opened_)), year, std::move(faults));
    session_ = login();
  }
  std::unique_ptr<standin::engine::Session> login() {
    return engine_->login({"sa", "pw", "", "", "", "", false}).session;
  }
  BatchResult run(const std::string& sql) { return session_->executeBatch(sql); }
  std::string scalar(standin::engine::Session& s, const std::string& sql) {
    const auto r = s.executeBatch(sql);
    if (r.failed()) return "error " + std::to_string(r.errors()[0].number);
    const auto sets = r.resultSets();
    if (sets.empty() || sets[0].rows.empty()) return "<none>";
    return standin::sql::valueToText(sets[0].rows[0][0]);
  }
  std::string scalar(const std::string& sql) { return scalar(*session_, sql); }
  std::string backUpSample() {
    const auto media = (dir_.path() / "sample.bak").string();
    EXPECT_FALSE(run("BACKUP DATABASE Sample TO DISK = N'" + media + "' WITH INIT").failed());
    return media;
  }

  bvtest::TempDir dir_{"bv-safety"};
  std::unique_ptr<standin::engine::Engine> engine_;
  std::unique_ptr<standin::engine::Session> session_;
  int opened_ = 0;
};

}  // namespace

// A held statement waits where it stands: what came before it in the batch has run, it has not,
// and a second session sees exactly that until the test lets it go.
TEST_F(Safety, AHeldStatementWaitsUntilReleasedWhereverItRuns) {
  struct Case {
    const char* name;
    std::string road;  // run on a thread; meets the hold at DROP DATABASE held_db
  };
  const std::vector<Case> cases = {
      {"a client's batch", "CREATE DATABASE held_db\r\nSELECT 1\r\nDROP   DATABASE\r\n held_db"},
      {"EXEC of a string", "CREATE DATABASE held_db; EXEC (N'SELECT 1; DROP DATABASE held_db')"},
      {"inside a loop with TRY",
       "CREATE DATABASE held_db; DECLARE @n int = 0; WHILE @n < 1 BEGIN "
       "BEGIN TRY DROP DATABASE held_db END TRY BEGIN CATCH PRINT ERROR_MESSAGE() "
       "END CATCH SET @n = @n + 1 END"},
      {"an Agent job step",
       "CREATE DATABASE held_db; DECLARE @id uniqueidentifier;"
       " EXEC msdb.dbo.sp_add_job @job_name = N'held', @job_id = @id OUTPUT;"
       " EXEC msdb.dbo.sp_add_jobstep @job_id = @id, @step_name = N's',"
       " @command = N'DROP DATABASE held_db', @database_name = N'master';"
       " EXEC msdb.dbo.sp_add_jobserver @job_id = @id;"
       " EXEC msdb.dbo.sp_start_job @job_name = N'held'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    open(2005, {{StatementFault::Kind::Hold, 60000, "drop database held_db", 1}});
    auto road = login();
    BatchResult outcome;
    std::thread a([&] { outcome = road->executeBatch(c.road); });
    ASSERT_TRUE(engine_->waitForHeldStatements(1, 10s));
    EXPECT_EQ(engine_->heldStatements(), 1);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM sys.databases WHERE name = N'held_db'"), "1") << "not dropped yet";
    engine_->releaseHeldStatements();
    a.join();
    EXPECT_FALSE(outcome.failed());
    EXPECT_EQ(engine_->heldStatements(), 0);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM sys.databases WHERE name = N'held_db'"), "0");
    // times=1: the next matching statement goes straight through.
    ASSERT_FALSE(run("CREATE DATABASE held_db").failed());
    ASSERT_FALSE(run("DROP DATABASE held_db").failed());
  }
}

// The hold ends by itself after its duration, and the client's attention ends it too.
TEST_F(Safety, AHoldEndsAfterItsTimeOrAtTheClientsCancel) {
  open(2005, {{StatementFault::Kind::Hold, 1, "SELECT 42", 0}});
  EXPECT_EQ(scalar("SELECT 42"), "42");
  open(2005, {{StatementFault::Kind::Hold, 60000, "SELECT 42", 0}});
  std::atomic<bool> cancel{false};
  BatchResult outcome;
  std::thread a([&] { outcome = session_->executeBatch("SELECT 42", [&] { return cancel.load(); }); });
  ASSERT_TRUE(engine_->waitForHeldStatements(1, 10s));
  cancel = true;
  a.join();
  EXPECT_TRUE(outcome.cancelled);
  EXPECT_TRUE(outcome.resultSets().empty());
}

// occupy-restore: another session's database stands where the restore goes; without REPLACE the
// restore refuses it as SQL Server refuses a database of another source, and it keeps its rows.
TEST_F(Safety, ARestoreMeetsADatabaseCreatedUnderItsTarget) {
  struct Case {
    std::string options;
    std::vector<int> errors;
    std::string occupants;  // rows of bv_occupant afterwards
  };
  const std::vector<Case> cases = {
      {"", {3154, 3013}, "2"},
      {" WITH REPLACE", {}, "error 208"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    open(2008, {{StatementFault::Kind::OccupyRestore, 0, "Brackenvale_check", 1}});
    const auto media = backUpSample();
    ASSERT_FALSE(run("RESTORE DATABASE Other FROM DISK = N'" + media + "'").failed()) << "not matching";
    const auto r =
        run("RESTORE DATABASE [Sample_Brackenvale_check] FROM DISK = N'" + media + "'" + c.options);
    EXPECT_EQ(numbers(r.errors()), c.errors);
    EXPECT_EQ(scalar("SELECT state_desc FROM sys.databases WHERE name = N'Sample_Brackenvale_check'"),
              "ONLINE");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM Sample_Brackenvale_check.dbo.bv_occupant"), c.occupants);
    ASSERT_FALSE(run("DROP DATABASE [Sample_Brackenvale_check]").failed());
    EXPECT_TRUE(
        run("RESTORE DATABASE [Sample_Brackenvale_check] FROM DISK = N'" + media + "'").errors().empty())
        << "times=1";
  }
}

// break-restore: a restore to a new database fails midway as a read failure does, and leaves the
// database RESTORING with its files; DROP DATABASE takes it and them away.
TEST_F(Safety, ARestoreThatBreaksMidwayLeavesTheDatabaseRestoring) {
  for (const int year : {2000, 2005, 2019}) {
    SCOPED_TRACE(year);
    open(year, {{StatementFault::Kind::BreakRestore, 0, "Broken", 1}});
    const auto media = backUpSample();
    const auto r = run("RESTORE DATABASE [Sample_Broken] FROM DISK = N'" + media + "'");
    EXPECT_EQ(numbers(r.errors()), (std::vector<int>{3203, 3013}));
    EXPECT_NE(r.errors()[0].text.find("Read on \"" + media + "\" failed: "), std::string::npos);
    EXPECT_EQ(r.errors()[1].text, "RESTORE DATABASE is terminating abnormally.");
    EXPECT_EQ(scalar("SELECT DATABASEPROPERTYEX(N'Sample_Broken', 'Status')"), "RESTORING");
    EXPECT_EQ(scalar("SELECT status & 32 FROM master.dbo.sysdatabases WHERE name = N'Sample_Broken'"), "32");
    if (year > 2000) {
      EXPECT_EQ(scalar("SELECT state_desc FROM sys.databases WHERE name = N'Sample_Broken'"), "RESTORING");
    }
    const auto file = engine_->databaseFile("Sample_Broken");
    ASSERT_TRUE(file);
    EXPECT_TRUE(std::filesystem::exists(*file));
    EXPECT_EQ(numbers(run("USE Sample_Broken").errors()), std::vector<int>{927});
    ASSERT_FALSE(run("DROP DATABASE [Sample_Broken]").failed());
    EXPECT_FALSE(std::filesystem::exists(*file));
    EXPECT_FALSE(run("RESTORE DATABASE [Sample_Broken] FROM DISK = N'" + media + "'").failed()) << "times=1";
  }
}

// sys.dm_os_host_info: from 2017, one row as SQL Server on Linux shows it; 2022 adds the
// architecture; earlier releases have no such view.
TEST_F(Safety, TheHostInfoViewByRelease) {
  struct Case {
    int year;
    std::size_t columns;  // 0: no such view
  };
  for (const auto& c : std::vector<Case>{{2000, 0}, {2016, 0}, {2017, 6}, {2019, 6}, {2022, 7}}) {
    SCOPED_TRACE(c.year);
    open(c.year);
    const auto r = run("SELECT * FROM sys.dm_os_host_info");
    if (c.columns == 0) {
      ASSERT_EQ(numbers(r.errors()), std::vector<int>{208});
      EXPECT_EQ(r.errors()[0].text, "Invalid object name 'sys.dm_os_host_info'.");
      continue;
    }
    ASSERT_FALSE(r.failed()) << r.errors()[0].text;
    const auto sets = r.resultSets();
    ASSERT_EQ(sets[0].rows.size(), 1u);
    ASSERT_EQ(sets[0].columns.size(), c.columns);
    const auto& row = sets[0].rows[0];
    EXPECT_EQ(standin::sql::valueToText(row[0]), "Linux");
    EXPECT_FALSE(standin::sql::valueToText(row[1]).empty()) << "the distribution";
    EXPECT_EQ(standin::sql::valueToText(row[3]), "");
    EXPECT_TRUE(standin::sql::isNull(row[4])) << "host_sku";
    EXPECT_EQ(standin::sql::valueToText(row[5]), "0");
    if (c.columns == 7) {
      EXPECT_EQ(standin::sql::valueToText(row[6]), "X64");
    }
  }
}

// The Agent's run of a job in sysjobactivity: started (committed, and seen by the job's own step,
// which backs up and reads its own row as the program's steps do) before the first step, stopped
// when the job ends; syssessions holds one row per start of the Agent.
TEST_F(Safety, TheRunningJobInSysjobactivity) {
  for (const int year : {2005, 2016, 2022}) {
    SCOPED_TRACE(year);
    open(year);
    const std::string step =
        "DECLARE @start datetime; BACKUP DATABASE Sample TO DISK = N''" + (dir_.path() / "job.bak").string() +
        "'' WITH INIT; SELECT TOP 1 @start = a.start_execution_date FROM msdb.dbo.sysjobactivity a JOIN"
        " msdb.dbo.sysjobs j ON j.job_id = a.job_id WHERE j.name = N''proof'' AND a.session_id = (SELECT"
        " MAX(s.session_id) FROM msdb.dbo.syssessions s) AND a.stop_execution_date IS NULL ORDER BY"
        " a.start_execution_date DESC; IF @start IS NULL RAISERROR(N''no running row'', 16, 1);"
        " IF NOT EXISTS (SELECT 1 FROM msdb.dbo.backupset s WHERE s.backup_start_date >= @start)"
        " RAISERROR(N''backup before the job'', 16, 1)";
    ASSERT_FALSE(
        run("DECLARE @id uniqueidentifier; EXEC msdb.dbo.sp_add_job @job_name = N'proof', @job_id = @id "
            "OUTPUT; EXEC msdb.dbo.sp_add_jobstep @job_id = @id, @step_name = N's', @command = N'" +
            step + "', @database_name = N'master'; EXEC msdb.dbo.sp_add_jobserver @job_id = @id")
            .failed());
    const auto r = run("EXEC msdb.dbo.sp_start_job @job_name = N'proof'");
    ASSERT_FALSE(r.failed());
    EXPECT_EQ(scalar("SELECT run_status FROM msdb.dbo.sysjobhistory WHERE step_id = 1"), "1")
        << scalar("SELECT message FROM msdb.dbo.sysjobhistory WHERE step_id = 1");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM msdb.dbo.syssessions"), "1");
    EXPECT_EQ(scalar("SELECT CONVERT(nvarchar(10), last_executed_step_id) + N'|' + run_requested_source FROM "
                     "msdb.dbo.sysjobactivity WHERE stop_execution_date >= start_execution_date AND "
                     "job_history_id = (SELECT MAX(instance_id) FROM msdb.dbo.sysjobhistory)"),
              "1|4");
  }
  open(2000);
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM msdb.dbo.sysjobactivity"), "error 208") << "2000 has none";
}
