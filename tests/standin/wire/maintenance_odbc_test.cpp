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
