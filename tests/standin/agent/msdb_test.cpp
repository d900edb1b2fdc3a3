// msdb and the SQL Server Agent of the stand-in, at the engine: the Agent tables in each
// release's layout, the job procedures with SQL Server's checks and messages inside the
// caller's transaction, both catalogue queries of the job dialog, next runs, and the Agent
// running jobs by the engine's clock (its thread, and sp_start_job).
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "core/agent/job_catalogue.h"
#include "core/agent/job_registration.h"
#include "core/db/sql_text.h"
#include "core/maintenance/command_builder.h"
#include "standin/base/statement_faults.h"
#include "standin/engine/engine.h"
#include "standin/agent/schedule.h"
#include "standin_fixture.h"

namespace {

using bv::agent::TJobEntry;
using standin::sql::BatchResult;
using standin::sql::DateTime;

// A clock the test sets; the Agent's thread may read it at any time.
class TestClock {
 public:
  explicit TestClock(DateTime t) : now_(t) {}
  DateTime now() const {
    std::lock_guard lock(mutex_);
    return now_;
  }
  void set(DateTime t) {
    std::lock_guard lock(mutex_);
    now_ = t;
  }

 private:
  mutable std::mutex mutex_;
  DateTime now_;
};

DateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
  return DateTime::fromParts(y, mo, d, h, mi, s);
}

std::vector<int> errorNumbers(const BatchResult& r) {
  std::vector<int> out;
  for (const auto& m : r.errors()) out.push_back(m.number);
  return out;
}

std::string firstError(const BatchResult& r) {
  return r.errors().empty() ? std::string() : r.errors()[0].text;
}

class AgentEngine : public ::testing::Test {
 protected:
  // 2030-01-15 is a Tuesday.
  void open(int year = 2005, bool agentThread = false, DateTime start = at(2030, 1, 15, 10, 0, 0),
            std::vector<standin::base::StatementFault> faults = {}) {
    clock_ = std::make_shared<TestClock>(start);
    standin::engine::EngineConfig c;
    c.dataDir = dir_.path() / "data";
    c.recordFile = bvtest::nextRecordingFile();
    c.saPassword = "pw";
    c.serverVersion = year;
    c.computerName = "TESTBOX";
    c.clock = [clock = clock_] { return clock->now(); };
    c.startAgent = agentThread;
    c.statementFaults = std::move(faults);
    engine_.reset();
    session_.reset();
    engine_ = std::make_unique<standin::engine::Engine>(c);
    session_ = login("Sample");
  }

  std::unique_ptr<standin::engine::Session> login(const std::string& database) {
    standin::engine::LoginRequest r;
    r.user = "sa";
    r.password = "pw";
    r.database = database;
    auto result = engine_->login(r);
    EXPECT_TRUE(result.session) << "login failed";
    return std::move(result.session);
  }

  BatchResult run(const std::string& sql) { return session_->executeBatch(sql); }
  BatchResult run(const std::vector<std::string>& lines) {
    return run(bv::maintenance::joinCommandLines(lines));
  }

  std::vector<standin::engine::Engine::TextRow> msdb(const std::string& sqliteSql) {
    return engine_->query("msdb", sqliteSql);
  }
  std::string msdbValue(const std::string& sqliteSql) {
    const auto rows = msdb(sqliteSql);
    if (rows.empty() || rows[0].empty() || !rows[0][0]) return "<none>";
    return *rows[0][0];
  }
  std::int64_t jobCount() { return std::stoll(msdbValue("SELECT count(*) FROM sysjobs")); }

  std::filesystem::path scratch(const std::string& name) const {
    std::filesystem::create_directories(dir_.path() / "scratch");
    return dir_.path() / "scratch" / name;
  }

  // A job as the dialog collects it.
  TJobEntry job(const std::string& name, int freqType, int hour, int minute = 0) {
    TJobEntry e;
    e.Name = name;
    e.Description = "nightly backup of " + name;
    e.BackupFile = scratch(name + "_%date%.bak").string();
    e.StartTime = bv::agent::AgentDateTime::fromTimeOfDay(hour, minute, 0);
    e.FreqType = freqType;
    e.StartDate = bv::agent::AgentDateTime::fromDate({2030, 1, 15});
    return e;
  }

  // The four procedure calls exactly as the dialog sends them, in one transaction.
  BatchResult registerJob(const TJobEntry& e) {
    BatchResult last = run("BEGIN TRANSACTION");
    for (const auto& lines : {bv::agent::addJobLines(e, "sa"), bv::agent::addJobStepLines(e, "Sample"),
                              bv::agent::addJobScheduleLines(e), bv::agent::addJobServerLines(e)}) {
      last = run(lines);
      if (last.failed()) {
        run("ROLLBACK TRANSACTION");
        return last;
      }
    }
    run("COMMIT TRANSACTION");
    return last;
  }

  static std::string literal(const std::string& text) { return "'" + bv::db::QuoteSqlString(text) + "'"; }
  std::string jobId(const std::string& name) {
    return msdbValue("SELECT job_id FROM sysjobs WHERE name = " + literal(name));
  }
  std::string nextRun(const std::string& name) {
    return msdbValue(
        "SELECT js.next_run_date || ' ' || js.next_run_time FROM sysjobschedules js JOIN sysjobs j ON "
        "j.job_id = js.job_id WHERE j.name = " +
        literal(name));
  }

  bvtest::TempDir dir_{"bv-msdb"};
  std::shared_ptr<TestClock> clock_;
  std::unique_ptr<standin::engine::Engine> engine_;
  std::unique_ptr<standin::engine::Session> session_;
};

class AgentEngineByRelease : public AgentEngine, public ::testing::WithParamInterface<int> {};

// ---------- the tables ----------

TEST_P(AgentEngineByRelease, MsdbHasTheAgentTablesInTheReleasesLayout) {
  open(GetParam());
  const auto columns = [&](const std::string& table) {
    std::string out;
    for (const auto& r : msdb("SELECT name FROM pragma_table_info('" + table + "')")) out += *r[0] + " ";
    return out;
  };
  for (const char* table :
       {"sysjobs", "sysjobsteps", "sysjobschedules", "sysjobhistory", "sysjobservers", "syscategories"})
    EXPECT_FALSE(columns(table).empty()) << table;
  if (GetParam() >= 2005) {
    EXPECT_EQ(columns("sysjobschedules"), "schedule_id job_id next_run_date next_run_time ");
    EXPECT_NE(columns("sysschedules").find("freq_type freq_interval"), std::string::npos);
  } else {
    EXPECT_NE(columns("sysjobschedules").find("job_id name enabled freq_type"), std::string::npos);
    EXPECT_NE(columns("sysjobschedules").find("next_run_date next_run_time"), std::string::npos);
    EXPECT_EQ(columns("sysschedules"), "");
  }
  EXPECT_EQ(msdbValue("SELECT name FROM syscategories WHERE category_id = 0"), "[Uncategorized (Local)]");
}

INSTANTIATE_TEST_SUITE_P(Releases, AgentEngineByRelease, ::testing::Values(2000, 2005, 2019));

TEST_F(AgentEngine, AFolderOfTheOtherLayoutIsConvertedWithItsJobs) {
  open(2000);
  ASSERT_FALSE(registerJob(job("kept", bv::agent::kFreqDaily, 2)).failed());
  open(2005);
  EXPECT_EQ(
      msdbValue("SELECT s.freq_type || ' ' || s.active_start_time || ' ' || s.name FROM sysschedules s JOIN "
                "sysjobschedules js ON js.schedule_id = s.schedule_id"),
      "4 20000 kept_schedule");
  EXPECT_EQ(nextRun("kept"), "20300116 20000");
  open(2000);
  EXPECT_EQ(msdbValue("SELECT freq_type || ' ' || name || ' ' || next_run_date FROM sysjobschedules"),
            "4 kept_schedule 20300116");
}

// ---------- the procedures ----------

TEST_F(AgentEngine, TheDialogsFourCallsRegisterAJobFromAUserDatabase) {
  open();
  TJobEntry e = job("O'Brien nightly", bv::agent::kFreqWeekly, 2, 30);
  e.WeekDays = bv::agent::kMonday | bv::agent::kWednesday;
  const auto r = registerJob(e);
  ASSERT_FALSE(r.failed()) << firstError(r);
  EXPECT_EQ(session_->tranCount(), 0);
  EXPECT_EQ(msdbValue("SELECT name || '|' || description || '|' || enabled || '|' || category_id || '|' || "
                      "delete_level || '|' || notify_level_eventlog || '|' || hex(owner_sid) FROM sysjobs"),
            "O'Brien nightly|nightly backup of O'Brien nightly|1|0|0|2|01");
  EXPECT_EQ(
      msdbValue("SELECT step_id || '|' || step_name || '|' || subsystem || '|' || database_name || '|' || "
                "on_success_action || '|' || on_fail_action FROM sysjobsteps"),
      "1|O'Brien nightly_step|TSQL|Sample|1|2");
  // The batch as the step's N'...' literal holds it, its quotes undone once.
  std::string batch = bv::agent::jobStepCommand("Sample", e.BackupFile);
  for (std::size_t p = batch.find("''"); p != std::string::npos; p = batch.find("''", p + 1))
    batch.erase(p, 1);
  EXPECT_EQ(msdbValue("SELECT command FROM sysjobsteps"), batch);
  EXPECT_NE(msdbValue("SELECT command FROM sysjobsteps").find("BACKUP \r\n  DATABASE [Sample]"),
            std::string::npos);
  EXPECT_EQ(msdbValue("SELECT freq_type || ' ' || freq_interval || ' ' || freq_recurrence_factor || ' ' || "
                      "active_start_date || ' ' || active_start_time FROM sysschedules"),
            "8 10 1 20300115 23000");
  EXPECT_EQ(nextRun("O'Brien nightly"), "20300116 23000") << "Wednesday, the first checked day ahead";
  EXPECT_EQ(msdbValue("SELECT server_id || ' ' || last_run_outcome FROM sysjobservers"), "0 5");
}

TEST_F(AgentEngine, AnOutputJobIdComesBackAndIdentifiesTheJob) {
  open();
  const auto r =
      run("DECLARE @id uniqueidentifier\r\n"
          "EXEC msdb.dbo.sp_add_job @job_name = N'by id', @job_id = @id OUTPUT\r\n"
          "EXEC msdb.dbo.sp_add_jobserver @job_id = @id\r\n"
          "SELECT @id AS id");
  ASSERT_FALSE(r.failed()) << firstError(r);
  EXPECT_EQ(standin::sql::valueToText(r.resultSets().back().rows.at(0).at(0)), jobId("by id"));
  EXPECT_EQ(msdbValue("SELECT description FROM sysjobs"), "No description available.");
}

TEST_F(AgentEngine, TheProceduresAnswerRemoteProcedureCallsWithTheirOutputs) {
  open();
  using P = standin::engine::Session::Parameter;
  const auto r = session_->callProcedure(
      "msdb.dbo.sp_add_job", {P{"@job_name", standin::sql::SqlType::nvarchar(128), std::string("by rpc")},
                              P{"@job_id", standin::sql::SqlType::nvarchar(36), std::monostate{}, true}});
  ASSERT_FALSE(r.failed()) << firstError(r);
  const standin::sql::ReturnValue* id = nullptr;
  for (const auto& item : r.items)
    if (const auto* v = std::get_if<standin::sql::ReturnValue>(&item)) id = v;
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(id->name, "@job_id");
  EXPECT_EQ(standin::sql::valueToText(id->value), jobId("by rpc"));
  const auto missing = session_->callProcedure(
      "sp_add_job", {P{"@job_name", standin::sql::SqlType::nvarchar(128), std::string("x")}});
  EXPECT_EQ(errorNumbers(missing), std::vector<int>{2812}) << "outside msdb the short name is unknown";
}

TEST_F(AgentEngine, ADuplicateNameIsRefusedWith14261) {
  open();
  ASSERT_FALSE(registerJob(job("nightly", bv::agent::kFreqDaily, 2)).failed());
  TJobEntry again = job("NIGHTLY", bv::agent::kFreqDaily, 3);
  const auto r = run(bv::agent::addJobLines(again, "sa"));
  EXPECT_EQ(errorNumbers(r), std::vector<int>{14261});
  EXPECT_EQ(firstError(r), "The specified @job_name ('NIGHTLY') already exists.");
  EXPECT_EQ(r.errors()[0].severity, 16);
  EXPECT_EQ(r.errors()[0].procedure, "sp_add_job");
  EXPECT_EQ(jobCount(), 1);
  // The count the dialog asks before it registers.
  const auto count = run(bv::agent::jobExistsLines("  nightly "));
  EXPECT_EQ(standin::sql::valueToText(count.resultSets().at(0).rows.at(0).at(0)), "1");
  EXPECT_EQ(count.resultSets().at(0).columns.at(0).name, "cnt");
}

TEST_F(AgentEngine, AnUnknownJobIsRefusedWith14262ByEveryProcedure) {
  open();
  const TJobEntry e = job("ghost", bv::agent::kFreqDaily, 2);
  for (const auto& lines : {bv::agent::addJobStepLines(e, "Sample"), bv::agent::addJobScheduleLines(e),
                            bv::agent::addJobServerLines(e), bv::agent::deleteJobLines("ghost"),
                            std::vector<std::string>{"EXEC msdb.dbo.sp_start_job @job_name = N'ghost'"}}) {
    const auto r = run(lines);
    EXPECT_EQ(errorNumbers(r), std::vector<int>{14262}) << lines[0];
    EXPECT_EQ(firstError(r), "The specified @job_name ('ghost') does not exist.") << lines[0];
  }
  const auto byId = run("EXEC msdb.dbo.sp_delete_job @job_id = '01234567-89AB-CDEF-0123-456789ABCDEF'");
  EXPECT_EQ(firstError(byId),
            "The specified @job_id ('01234567-89AB-CDEF-0123-456789ABCDEF') does not exist.");
  EXPECT_EQ(firstError(run("EXEC msdb.dbo.sp_delete_job")),
            "Supply either @job_id or @job_name to identify the job.");
}

TEST_F(AgentEngine, BadScheduleValuesAreRefusedAsSqlServerRefusesThem) {
  open();
  ASSERT_FALSE(run(bv::agent::addJobLines(job("j", bv::agent::kFreqDaily, 2), "sa")).failed());
  const auto schedule = [&](const std::string& values) {
    return run("EXEC msdb.dbo.sp_add_jobschedule @job_name = 'j', @name = 's', " + values);
  };
  const std::pair<std::string, std::pair<int, std::string>> cases[] = {
      {"@freq_type = 3",
       {14266,
        "The specified '@freq_type' is invalid (valid values are: 0x1, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80)."}},
      {"@freq_type = 4, @freq_interval = 0",
       {14278,
        "The schedule for this job is invalid (reason: @freq_interval must be at least 1 for a daily "
        "job.)."}},
      {"@freq_type = 8, @freq_interval = 128, @freq_recurrence_factor = 1",
       {14278,
        "The schedule for this job is invalid (reason: @freq_interval must be a valid day of the week "
        "bitmask [Sunday "
        "= 1 .. Saturday = 64] for a weekly job.)."}},
      {"@freq_type = 16, @freq_interval = 32, @freq_recurrence_factor = 1",
       {14278,
        "The schedule for this job is invalid (reason: @freq_interval must be between 1 and 31 for a monthly "
        "job.)."}},
      {"@freq_type = 16, @freq_interval = 5, @freq_recurrence_factor = 0",
       {14278,
        "The schedule for this job is invalid (reason: @freq_recurrence_factor must be at least 1.)."}},
      {"@freq_type = 4, @freq_interval = 1, @freq_subday_type = 3",
       {14266, "The specified '@freq_subday_type' is invalid (valid values are: 0x1, 0x2, 0x4, 0x8)."}},
      {"@freq_type = 1, @active_start_date = 20300230",
       {14266, "The specified '@active_start_date' is invalid (valid values are: 19900101..99991231)."}},
      {"@freq_type = 1, @active_start_time = 246000",
       {14266, "The specified '@active_start_time' is invalid (valid values are: 000000..235959)."}},
      {"@freq_type = 4, @freq_interval = 1, @active_start_date = 20300101, @active_end_date = 20291231",
       {14288, "@active_end_date cannot be before @active_start_date."}},
  };
  for (const auto& [values, expected] : cases) {
    const auto r = schedule(values);
    EXPECT_EQ(errorNumbers(r), std::vector<int>{expected.first}) << values;
    EXPECT_EQ(firstError(r), expected.second) << values;
  }
  EXPECT_EQ(msdbValue("SELECT count(*) FROM sysjobschedules"), "0");
}

TEST_F(AgentEngine, CallsThatDoNotFitTheProceduresAreRefused) {
  open();
  EXPECT_EQ(firstError(run("EXEC msdb.dbo.sp_add_job @description = N'x'")),
            "Procedure or function 'sp_add_job' expects parameter '@job_name', which was not supplied.");
  EXPECT_EQ(firstError(run("EXEC msdb.dbo.sp_add_job @job_name = N'x', @colour = 1")),
            "@colour is not a parameter for procedure sp_add_job.");
  EXPECT_EQ(firstError(run("EXEC msdb.dbo.sp_add_job @job_name = N'x', @delete_level = 4")),
            "The specified '@delete_level' is invalid (valid values are: 0, 1, 2, 3).");
  EXPECT_EQ(firstError(run("EXEC msdb.dbo.sp_add_job @job_name = N'x', @category_name = N'Nothing'")),
            "The specified '@category_name' is invalid (valid values are returned by sp_help_category).");
  EXPECT_EQ(firstError(run("EXEC msdb.dbo.sp_add_job @job_name = N'x', @owner_login_name = N'nobody'")),
            "The specified @owner_login_name ('nobody') does not exist.");
  // The procedures live in msdb, not in the user database.
  EXPECT_EQ(errorNumbers(run("EXEC sp_add_job @job_name = N'x'")), std::vector<int>{2812});
  EXPECT_EQ(jobCount(), 0);

  ASSERT_FALSE(run("EXEC msdb.dbo.sp_add_job @job_name = N'x'").failed());
  EXPECT_EQ(
      firstError(
          run("EXEC msdb.dbo.sp_add_jobstep @job_name = N'x', @step_name = N's', @database_name = N'Nope'")),
      "The specified @database_name ('Nope') does not exist.");
  EXPECT_EQ(
      firstError(
          run("EXEC msdb.dbo.sp_add_jobstep @job_name = N'x', @step_name = N's', @subsystem = N'Cobol'")),
      "The specified '@subsystem' is invalid (valid values are returned by sp_enum_sqlagent_subsystems).");
  EXPECT_EQ(firstError(run("EXEC msdb.dbo.sp_add_jobstep @job_name = N'x', @step_id = 3, @step_name = N's'")),
            "The specified '@step_id' is invalid (valid values are: 1..1).");
  EXPECT_EQ(firstError(run("EXEC msdb.dbo.sp_start_job @job_name = N'x'")),
            "Cannot start job 'x' (ID " + jobId("x") +
                ") because it does not have any job server or servers defined. Associate the job with a job "
                "server by "
                "calling sp_add_jobserver.");
  ASSERT_FALSE(run("EXEC msdb.dbo.sp_add_jobserver @job_name = N'x'").failed());
  EXPECT_EQ(firstError(run("EXEC msdb.dbo.sp_add_jobserver @job_name = N'x'")),
            "Job 'x' is already targeted at server 'TESTBOX'.");
  // In msdb itself the short name works.
  auto inMsdb = login("msdb");
  EXPECT_FALSE(inMsdb->executeBatch("EXEC sp_delete_job @job_name = N'x'").failed());
  EXPECT_EQ(jobCount(), 0);
}

TEST_F(AgentEngine, ARolledBackRegistrationLeavesNothing) {
  open();
  TJobEntry e = job("half", bv::agent::kFreqMonthly, 2);
  e.MonthDay = 31;
  ASSERT_FALSE(run("BEGIN TRANSACTION").failed());
  ASSERT_FALSE(run(bv::agent::addJobLines(e, "sa")).failed());
  ASSERT_FALSE(run(bv::agent::addJobStepLines(e, "Sample")).failed());
  ASSERT_FALSE(run(bv::agent::addJobScheduleLines(e)).failed());
  EXPECT_EQ(session_->tranCount(), 1);
  ASSERT_FALSE(run("ROLLBACK TRANSACTION").failed());
  for (const char* table : {"sysjobs", "sysjobsteps", "sysjobschedules", "sysschedules", "sysjobservers"})
    EXPECT_EQ(msdbValue(std::string("SELECT count(*) FROM ") + table), "0") << table;
}

TEST_F(AgentEngine, DeletingAJobTakesItsStepsScheduleServerAndHistory) {
  open();
  ASSERT_FALSE(registerJob(job("gone", bv::agent::kFreqDaily, 2)).failed());
  ASSERT_FALSE(run("EXEC msdb.dbo.sp_start_job @job_name = N'gone'").failed());
  EXPECT_EQ(msdbValue("SELECT count(*) FROM sysjobhistory"), "2");
  const auto r = run(bv::agent::deleteJobLines("gone"));
  ASSERT_FALSE(r.failed()) << firstError(r);
  for (const char* table :
       {"sysjobs", "sysjobsteps", "sysjobschedules", "sysschedules", "sysjobservers", "sysjobhistory"})
    EXPECT_EQ(msdbValue(std::string("SELECT count(*) FROM ") + table), "0") << table;
}

// The job as the dialog registers it with a test restore and a prune: the backup step goes on to
// the proof step and that to the prune step; a proof that finds damage fails the job there, and
// the history has a row per step run and the job's outcome (step 0), as the Agent writes them.
TEST_P(AgentEngineByRelease, AJobWithAProofAndAPruneRunsItsStepsInTurn) {
  if (GetParam() < 2005) GTEST_SKIP() << "the proof step needs TRY ... CATCH (2005 on)";
  for (const bool damaged : {false, true}) {
    std::vector<standin::base::StatementFault> faults;
    if (damaged)
      faults.push_back({standin::base::StatementFault::Kind::DamageRestore, 0, "Brackenvale_check", 0});
    open(GetParam(), false, at(2030, 1, 15, 10, 0, 0), faults);
    const std::string name = damaged ? "damaged" : "proven";
    TJobEntry e = job(name, bv::agent::kFreqDaily, 2);
    e.Backup.testRestore = true;
    e.Backup.generations = 2;
    auto registration = registerJob(e);
    ASSERT_FALSE(registration.failed()) << firstError(registration);
    for (const auto& lines : bv::agent::followingStepLines(e, "Sample")) {
      registration = run(lines);
      ASSERT_FALSE(registration.failed()) << firstError(registration);
    }
    ASSERT_FALSE(run("EXEC msdb.dbo.sp_start_job @job_name = N'" + name + "'").failed());
    std::string steps;
    for (const auto& r : msdb("SELECT step_id, run_status FROM sysjobhistory WHERE job_id = '" + jobId(name) +
                              "' ORDER BY instance_id"))
      steps += *r[0] + ":" + *r[1] + " ";
    EXPECT_EQ(steps, damaged ? "1:1 2:0 0:0 " : "1:1 2:1 3:1 0:1 ") << damaged;
    const std::string outcome =
        msdbValue("SELECT message FROM sysjobhistory WHERE step_id = 0 AND job_id = '" + jobId(name) + "'");
    EXPECT_NE(outcome.find(damaged ? "The job failed." : "The job succeeded."), std::string::npos) << outcome;
    EXPECT_NE(outcome.find(damaged ? "The last step to run was step 2 (damaged_proof)."
                                   : "The last step to run was step 3 (proven_prune)."),
              std::string::npos)
        << outcome;
    if (damaged) {
      const std::string step =
          msdbValue("SELECT message FROM sysjobhistory WHERE step_id = 2 AND job_id = '" + jobId(name) + "'");
      EXPECT_NE(step.find("整合性チェックでエラーが見つかりました。"), std::string::npos) << step;
    }
    EXPECT_EQ(standin::sql::valueToText(
                  run("SELECT COUNT(*) FROM sys.databases WHERE name LIKE N'Brackenvale[_]check[_]%'")
                      .resultSets()
                      .at(0)
                      .rows.at(0)
                      .at(0)),
              "0");
  }
}

// ---------- the catalogue queries ----------

TEST_P(AgentEngineByRelease, TheDialogsCatalogueQueryListsEveryKindWithItsNextRun) {
  open(GetParam());
  const std::int32_t version = GetParam() == 2000 ? 200 : GetParam();  // as the dialog reads @@VERSION
  TJobEntry once = job("once", bv::agent::kFreqOnce, 2);
  once.StartDate = bv::agent::AgentDateTime::fromDate({2030, 1, 20});
  TJobEntry daily = job("daily", bv::agent::kFreqDaily, 11, 15);
  TJobEntry weekly = job("weekly", bv::agent::kFreqWeekly, 2);
  weekly.WeekDays = bv::agent::kSunday | bv::agent::kSaturday;
  TJobEntry monthly = job("monthly", bv::agent::kFreqMonthly, 9);
  monthly.MonthDay = 15;
  for (const auto& e : {once, daily, weekly, monthly}) ASSERT_FALSE(registerJob(e).failed()) << e.Name;
  // One job has run: its latest outcome is listed, the earlier one is not.
  ASSERT_FALSE(run("EXEC msdb.dbo.sp_start_job @job_name = N'daily'").failed());
  clock_->set(at(2030, 1, 15, 10, 30, 5));
  ASSERT_FALSE(run("EXEC msdb.dbo.sp_start_job @job_name = N'daily'").failed());

  const auto r = run(bv::agent::catalogueQueryLines(version));
  ASSERT_FALSE(r.failed()) << firstError(r);
  const auto sets = r.resultSets();
  ASSERT_EQ(sets.size(), 1u);
  const auto& rs = sets[0];
  const std::vector<std::string> names = {
      "name",          "description",   "freq_type",         "freq_interval",
      "next_run_date", "next_run_time", "active_start_date", "active_start_time",
      "run_status",    "run_date",      "run_time",          "command"};
  ASSERT_EQ(rs.columns.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) EXPECT_EQ(rs.columns[i].name, names[i]);
  ASSERT_EQ(rs.rows.size(), 4u);
  const auto cell = [&](std::size_t row, std::size_t col) {
    return standin::sql::valueToText(rs.rows[row][col]);
  };
  const auto line = [&](std::size_t row) {
    std::string out;
    for (std::size_t c = 0; c < 11; ++c) out += (c ? "|" : "") + cell(row, c);
    return out;
  };
  // In creation order; never-run jobs come with an empty status and zero dates.
  EXPECT_EQ(line(0), "once|nightly backup of once|1|0|20300120|20000|20300120|20000||0|0");
  EXPECT_EQ(line(1), "daily|nightly backup of daily|4|1|20300115|111500|20300115|111500|1|20300115|103005");
  EXPECT_EQ(line(2), "weekly|nightly backup of weekly|8|65|20300119|20000|20300115|20000||0|0");
  EXPECT_EQ(line(3), "monthly|nightly backup of monthly|16|15|20300215|90000|20300115|90000||0|0");
  EXPECT_EQ(bv::agent::backupFileFromCommand(cell(1, 11)), daily.BackupFile);
}

TEST_F(AgentEngine, TheOlderQueryFailsOnTheScheduleTableLayoutAndTheNewerOnTheOld) {
  open(2005);
  const auto older = run(bv::agent::catalogueQueryLines(2000));
  ASSERT_EQ(errorNumbers(older), std::vector<int>{207});
  EXPECT_EQ(firstError(older), "Invalid column name 'freq_type'.");
  open(2000);
  const auto newer = run(bv::agent::catalogueQueryLines(2005));
  ASSERT_EQ(errorNumbers(newer), std::vector<int>{208});
  EXPECT_EQ(firstError(newer), "Invalid object name 'sysschedules'.");
}

TEST_F(AgentEngine, StatementsKeepTheMeaningOfPlusConvertAndSubstring) {
  open();
  const auto r =
      run("CREATE TABLE t (n INT, s NVARCHAR(10), d DATETIME)\r\n"
          "INSERT INTO t VALUES (7, N'ab', '2030-01-15 10:00:00')\r\n"
          "SELECT s + 'c' AS a, n + '3' AS b, convert(varchar, n) + '0' AS c, substring('000000' + "
          "convert(varchar, n), "
          "len('000000' + convert(varchar, n)) - 5, 6) AS e, substring(s, 0, 2) AS f, convert(varchar, d, "
          "112) AS g, "
          "1 + 2 * 3 - 1 AS h, convert(varchar, d + 1, 112) AS i FROM t");
  ASSERT_FALSE(r.failed()) << firstError(r);
  const auto row = r.resultSets().at(0).rows.at(0);
  std::vector<std::string> got;
  for (const auto& v : row) got.push_back(standin::sql::valueToText(v));
  EXPECT_EQ(got, (std::vector<std::string>{"abc", "10", "70", "000007", "a", "20300115", "6", "20300116"}));
  const auto bad = run("SELECT s + 1 AS x FROM t");
  EXPECT_EQ(errorNumbers(bad), std::vector<int>{245});
}

// ---------- next runs ----------

TEST_F(AgentEngine, NextRunsAreComputedAtRegistration) {
  open();  // Tuesday 2030-01-15 10:00:00
  TJobEntry past = job("past", bv::agent::kFreqOnce, 9);
  TJobEntry later = job("later", bv::agent::kFreqDaily, 10, 30);
  TJobEntry gone = job("gone for today", bv::agent::kFreqDaily, 9, 59);
  TJobEntry tue = job("tuesdays", bv::agent::kFreqWeekly, 9);
  tue.WeekDays = bv::agent::kTuesday;
  TJobEntry day31 = job("day 31", bv::agent::kFreqMonthly, 2);
  day31.MonthDay = 31;
  for (const auto& e : {past, later, gone, tue, day31}) ASSERT_FALSE(registerJob(e).failed()) << e.Name;
  EXPECT_EQ(nextRun("past"), "0 0") << "a one-time run in the past never comes";
  EXPECT_EQ(nextRun("later"), "20300115 103000");
  EXPECT_EQ(nextRun("gone for today"), "20300116 95900");
  EXPECT_EQ(nextRun("tuesdays"), "20300122 90000");
  EXPECT_EQ(nextRun("day 31"), "20300131 20000");
}

// The schedule arithmetic on its own: the next run from a moment.
std::string next(const standin::agent::Schedule& s, int date, int time) {
  const auto from = standin::agent::Moment::fromPacked(date, time);
  const auto n = standin::agent::nextRun(s, *from);
  return n ? std::to_string(n->packedDate()) + " " + std::to_string(n->packedTime()) : "never";
}

TEST(AgentNextRun, FollowsEachKindsRules) {
  using namespace standin::agent;
  Schedule s;
  s.activeStartDate = 20300115;  // a Tuesday
  s.activeStartTime = 20000;
  s.freqType = kOnce;
  EXPECT_EQ(next(s, 20300101, 0), "20300115 20000");
  EXPECT_EQ(next(s, 20300115, 20000), "20300115 20000") << "at its very second";
  EXPECT_EQ(next(s, 20300115, 20001), "never");

  s.freqType = kDaily;
  s.freqInterval = 3;
  EXPECT_EQ(next(s, 20300116, 0), "20300118 20000") << "every third day from the start";

  s.freqType = kWeekly;
  s.freqInterval = 2 | 32;  // Monday, Friday
  s.freqRecurrenceFactor = 2;
  EXPECT_EQ(next(s, 20300115, 0), "20300118 20000");
  EXPECT_EQ(next(s, 20300119, 0), "20300128 20000") << "the week after is skipped";

  s.freqType = kMonthly;
  s.freqInterval = 31;
  s.freqRecurrenceFactor = 1;
  EXPECT_EQ(next(s, 20300201, 0), "20300331 20000") << "February has no 31st";

  s.freqType = kMonthlyRelative;
  s.freqInterval = 6;           // Friday
  s.freqRelativeInterval = 16;  // the last one
  EXPECT_EQ(next(s, 20300115, 0), "20300125 20000");
  s.freqInterval = 9;          // a weekday
  s.freqRelativeInterval = 1;  // the first one
  EXPECT_EQ(next(s, 20300201, 0), "20300201 20000");
  EXPECT_EQ(next(s, 20300201, 30000), "20300301 20000");
}

TEST(AgentNextRun, RepeatsWithinTheDayAndStopsAtTheEndDate) {
  using namespace standin::agent;
  Schedule s;
  s.freqType = kDaily;
  s.freqInterval = 1;
  s.freqSubdayType = 8;  // hours
  s.freqSubdayInterval = 4;
  s.activeStartDate = 20300115;
  s.activeEndDate = 20300116;
  s.activeStartTime = 10000;
  s.activeEndTime = 180000;
  EXPECT_EQ(next(s, 20300115, 50001), "20300115 90000");
  EXPECT_EQ(next(s, 20300115, 170001), "20300116 10000") << "17:00 is the last of the day";
  EXPECT_EQ(next(s, 20300116, 170001), "never") << "after the end date";
  s.freqSubdayType = 4;  // minutes
  s.freqSubdayInterval = 15;
  EXPECT_EQ(next(s, 20300115, 10001), "20300115 11500");
  s.freqType = kAgentStart;
  EXPECT_EQ(next(s, 20300115, 0), "never") << "no time of its own";
}

// ---------- the Agent ----------

TEST_F(AgentEngine, DueJobsRunAtTheirTimeWriteHistoryAndMoveTheirNextRunOn) {
  open();
  const TJobEntry daily = job("daily", bv::agent::kFreqDaily, 2);
  ASSERT_FALSE(registerJob(daily).failed());
  clock_->set(at(2030, 1, 16, 1, 59, 59));
  engine_->runDueAgentJobs();
  EXPECT_EQ(msdbValue("SELECT count(*) FROM sysjobhistory"), "0") << "not yet";
  clock_->set(at(2030, 1, 16, 2, 0, 0));
  engine_->runDueAgentJobs();
  const auto history = msdb(
      "SELECT step_id, step_name, run_status, run_date, run_time, sql_message_id, message FROM sysjobhistory "
      "ORDER BY "
      "instance_id");
  ASSERT_EQ(history.size(), 2u);
  EXPECT_EQ(*history[0][0] + "|" + *history[0][1] + "|" + *history[0][2] + "|" + *history[0][3] + "|" +
                *history[0][4],
            "1|daily_step|1|20300116|20000");
  EXPECT_NE(history[0][6]->find("(Message 3014)"), std::string::npos) << *history[0][6];
  EXPECT_NE(history[0][6]->find("The step succeeded."), std::string::npos);
  EXPECT_EQ(*history[1][0] + "|" + *history[1][1] + "|" + *history[1][2] + "|" + *history[1][3] + "|" +
                *history[1][4],
            "0|(Job outcome)|1|20300116|20000");
  EXPECT_EQ(*history[1][6],
            "The job succeeded.  The Job was invoked by Schedule 1 (daily_schedule).  The last step to run "
            "was step 1 "
            "(daily_step).");
  // %date% is the run day of the engine's clock.
  EXPECT_TRUE(std::filesystem::exists(scratch("daily_20300116.bak")));
  EXPECT_EQ(nextRun("daily"), "20300117 20000");
  EXPECT_EQ(
      msdbValue("SELECT last_run_outcome || ' ' || last_run_date || ' ' || last_run_time FROM sysjobservers"),
      "1 20300116 20000");
  engine_->runDueAgentJobs();
  EXPECT_EQ(msdbValue("SELECT count(*) FROM sysjobhistory"), "2") << "one run per due time";
}

TEST_F(AgentEngine, EachKindRunsOnItsDays) {
  open();  // Tuesday 2030-01-15
  TJobEntry weekly = job("mon wed", bv::agent::kFreqWeekly, 3);
  weekly.WeekDays = bv::agent::kMonday | bv::agent::kWednesday;
  TJobEntry monthly = job("the 20th", bv::agent::kFreqMonthly, 3);
  monthly.MonthDay = 20;
  TJobEntry once = job("once", bv::agent::kFreqOnce, 3);
  once.StartDate = bv::agent::AgentDateTime::fromDate({2030, 1, 18});
  for (const auto& e : {weekly, monthly, once}) ASSERT_FALSE(registerJob(e).failed()) << e.Name;
  std::vector<std::string> ran;
  for (int day = 16; day <= 31; ++day) {
    clock_->set(at(2030, 1, day, 3, 0, 0));
    engine_->runDueAgentJobs();
    for (const auto& r :
         msdb("SELECT j.name FROM sysjobhistory h JOIN sysjobs j ON j.job_id = h.job_id WHERE h.step_id "
              "= 0 AND h.run_date = " +
              std::to_string(20300100 + day)))
      ran.push_back(std::to_string(day) + " " + *r[0]);
  }
  // The one-time job ran on the 18th and deleted itself (delete_level 3), its history with it.
  EXPECT_EQ(ran, (std::vector<std::string>{"16 mon wed", "20 the 20th", "21 mon wed", "23 mon wed",
                                           "28 mon wed", "30 mon wed"}));
  EXPECT_TRUE(std::filesystem::exists(scratch("once_20300118.bak")));
  EXPECT_EQ(jobId("once"), "<none>");
  EXPECT_EQ(msdbValue("SELECT count(*) FROM sysjobhistory WHERE job_id NOT IN (SELECT job_id FROM sysjobs)"),
            "0");
}

TEST_F(AgentEngine, StartJobRunsAtOnceAndAFailedStepFailsTheJob) {
  open();
  TJobEntry bad = job("bad path", bv::agent::kFreqDaily, 2);
  bad.BackupFile = (dir_.path() / "no such folder" / "x.bak").string();
  ASSERT_FALSE(registerJob(bad).failed());
  const auto r = run("EXEC msdb.dbo.sp_start_job @job_name = N'bad path'");
  ASSERT_FALSE(r.failed()) << firstError(r);
  ASSERT_EQ(r.infos().size(), 1u);
  EXPECT_EQ(r.infos()[0].number, 14243);
  EXPECT_EQ(r.infos()[0].text, "Job 'bad path' started successfully.");
  EXPECT_EQ(engine_->agentJobRuns(), 1u);
  const auto step =
      msdb("SELECT run_status, sql_message_id, sql_severity, message FROM sysjobhistory WHERE step_id = 1");
  ASSERT_EQ(step.size(), 1u);
  EXPECT_EQ(*step[0][0] + " " + *step[0][1] + " " + *step[0][2], "0 3201 16");
  EXPECT_NE(step[0][3]->find("[SQLSTATE 42000] (Error 3013)"), std::string::npos) << *step[0][3];
  EXPECT_NE(step[0][3]->find("The step failed."), std::string::npos);
  EXPECT_EQ(
      msdbValue("SELECT run_status || ' ' || message FROM sysjobhistory WHERE step_id = 0"),
      "0 The job failed.  The Job was invoked by User sa.  The last step to run was step 1 (bad path_step).");
  EXPECT_EQ(nextRun("bad path"), "20300116 20000") << "a run by request leaves the schedule as it is";
}

TEST_F(AgentEngine, DisabledJobsAndJobsWithoutAServerAreNotRunBySchedule) {
  open();
  ASSERT_FALSE(registerJob(job("disabled", bv::agent::kFreqDaily, 2)).failed());
  engine_->execute("msdb", "UPDATE sysjobs SET enabled = 0");
  TJobEntry e = job("no server", bv::agent::kFreqDaily, 2);
  ASSERT_FALSE(run(bv::agent::addJobLines(e, "sa")).failed());
  ASSERT_FALSE(run(bv::agent::addJobStepLines(e, "Sample")).failed());
  ASSERT_FALSE(run(bv::agent::addJobScheduleLines(e)).failed());
  clock_->set(at(2030, 1, 16, 2, 0, 0));
  engine_->runDueAgentJobs();
  EXPECT_EQ(msdbValue("SELECT count(*) FROM sysjobhistory"), "0");
  EXPECT_EQ(nextRun("disabled"), "20300117 20000");
}

TEST_F(AgentEngine, TheAgentsThreadRunsAJobWhenItsTimeComes) {
  open(2005, true, at(2030, 1, 15, 1, 59, 0));
  ASSERT_TRUE(engine_->agentRunning());
  // Starting, the thread plans the schedules in a write transaction of its own; a job registered
  // in a transaction meanwhile may meet a locked msdb (1222), as on a busy server. That is not
  // what this test is about, so it registers once the first pass is done.
  ASSERT_TRUE(engine_->waitForAgentPasses(1, std::chrono::seconds(60)));
  TJobEntry e = job("threaded", bv::agent::kFreqOnce, 2);
  ASSERT_FALSE(registerJob(e).failed());
  EXPECT_EQ(nextRun("threaded"), "20300115 20000");
  clock_->set(at(2030, 1, 15, 2, 0, 1));
  engine_->wakeAgent();
  ASSERT_TRUE(engine_->waitForAgentJobRuns(1, std::chrono::seconds(60)));
  EXPECT_TRUE(std::filesystem::exists(scratch("threaded_20300115.bak")));
  EXPECT_EQ(jobCount(), 0) << "a one-time job deletes itself after its run";
  session_.reset();
  engine_.reset();  // stops and joins the thread
}

TEST_F(AgentEngine, NextRunsAreReplannedWhenTheAgentStarts) {
  open();
  ASSERT_FALSE(registerJob(job("daily", bv::agent::kFreqDaily, 2)).failed());
  // Down for three days: the missed runs are skipped, not made up.
  open(2005, true, at(2030, 1, 19, 12, 0, 0));
  ASSERT_TRUE(engine_->waitForAgentPasses(1, std::chrono::seconds(60)));
  EXPECT_EQ(nextRun("daily"), "20300120 20000");
  EXPECT_EQ(msdbValue("SELECT count(*) FROM sysjobhistory"), "0");
}

}  // namespace
