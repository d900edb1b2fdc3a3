#include "after_backup_e2e.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "core/agent/job_store.h"
#include "core/db/sql_text.h"
#include "odbc_client.h"

namespace bvtest {

std::string dateDigits(int days) {
  const std::time_t when = std::time(nullptr) + static_cast<std::time_t>(days) * 86400;
  std::tm local{};
  ::localtime_r(&when, &local);
  char text[16];
  std::strftime(text, sizeof text, "%Y%m%d", &local);
  return text;
}

AgentJobRun runAgentBackupJob(StandinFixture& standin, bv::agent::JobInputs inputs) {
  const bv::db::LoginSettings login{standin.serverText(), true, "sa", standin.saPassword()};
  inputs.startTimeText = "02:00:00";
  inputs.freqType = bv::agent::kFreqDaily;
  inputs.serverVersion = standin.serverVersion();
  const bv::agent::AgentDate today{2026, 12, 8};
  EXPECT_FALSE(bv::agent::validateJobInputs(inputs, true, today).has_value());
  const bv::agent::TJobEntry entry = bv::agent::CollectJobSettings(inputs, today);
  bv::agent::JobStore store;
  store.open(bv::agent::agentConnectionSettings(login, standin.sampleDatabase()));
  store.beginTransaction();
  store.addJob(entry, "sa");
  store.addJobStep(entry, standin.sampleDatabase());
  store.addJobSchedule(entry);
  store.addJobServer(entry);
  store.commitTransaction();

  const std::string name = bv::db::QuoteSqlString(entry.Name);
  odbc::Connection client;
  EXPECT_TRUE(client.connect(standin.odbcConnectionString()));
  EXPECT_FALSE(client.execute("EXEC msdb.dbo.sp_start_job @job_name = N'" + name + "'").anyError);
  const std::string history =
      "SELECT CONVERT(nvarchar(10), h.step_id), CONVERT(nvarchar(10), h.run_status), h.message FROM "
      "msdb.dbo.sysjobhistory h JOIN msdb.dbo.sysjobs j ON j.job_id = h.job_id WHERE j.name = N'" +
      name + "' ORDER BY h.instance_id";
  AgentJobRun run;
  for (int i = 0; i < 600 && run.outcome.empty(); ++i) {
    run = {};
    const auto rows = client.execute(history);
    if (!rows.sets.empty()) {
      for (const auto& row : rows.sets[0].rows) {
        const int step = std::stoi(row[0].value_or("-1"));
        (step == 0 ? run.outcome : run.steps[step]) = row[1].value_or("");
        run.messages += row[0].value_or("") + ": " + row[2].value_or("") + "\n";
      }
    }
    if (run.outcome.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_FALSE(run.outcome.empty()) << "the job did not end";
  store.deleteJob(entry.Name);
  return run;
}

}  // namespace bvtest
