// sys.dm_exec_requests: every session's running request, read from another session while a
// backup, a restore or a verify copies, its percent_complete rising as the copy goes (a
// throttle fault slows the copy so that it can be watched).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "engine_support.h"
#include "standin/base/statement_faults.h"

using standin::sql::BatchResult;
using standintest::numbers;

namespace {

class Progress : public ::testing::Test {
 protected:
  void open(int year, std::vector<standin::base::StatementFault> faults = {}) {
    standin::engine::EngineConfig c;
    c.dataDir = dir_.path() / ("data" + std::to_string(year));
    c.recordFile = bvtest::nextRecordingFile();
    c.saPassword = "pw";
    c.serverVersion = year;
    c.startAgent = false;
    c.statementFaults = std::move(faults);
    engine_ = std::make_unique<standin::engine::Engine>(c);
  }
  std::unique_ptr<standin::engine::Session> login() {
    return engine_->login({"sa", "pw", "master", "", "", "", false}).session;
  }

  // What `statement` shows in sys.dm_exec_requests, read by another session while it runs.
  struct Seen {
    std::vector<double> percents;
    std::set<std::string> commands;
    std::string status;
    bool estimated = false;
  };
  Seen watch(const std::string& statement, BatchResult& result) {
    auto worker = login();
    auto reader = login();
    const int spid = worker->spid();
    Seen seen;
    std::atomic<bool> finished{false};
    std::thread run([&] {
      result = worker->executeBatch(statement);
      finished = true;
    });
    while (!finished) {
      const auto r = reader->executeBatch(
          "SELECT command, percent_complete, status, estimated_completion_time FROM sys.dm_exec_requests "
          "WHERE session_id = " +
          std::to_string(spid));
      const auto sets = r.resultSets();
      for (const auto& row : sets.at(0).rows) {
        seen.commands.insert(standin::sql::valueToText(row[0]));
        const double p = std::get<double>(row[1]);
        if (seen.percents.empty() || seen.percents.back() != p) seen.percents.push_back(p);
        seen.status = standin::sql::valueToText(row[2]);
        if (p > 0 && p < 100 && std::get<std::int64_t>(row[3]) > 0) seen.estimated = true;
      }
      std::this_thread::yield();
    }
    run.join();
    return seen;
  }

  bvtest::TempDir dir_{"bv-progress"};
  std::unique_ptr<standin::engine::Engine> engine_;
};

}  // namespace

TEST_F(Progress, TheCopyingStatementsShowTheirRisingPercentageToOtherSessions) {
  // About 100 KB of data copied at 200 KB a second: half a second to watch each copy.
  open(2008, {{standin::base::StatementFault::Kind::Throttle, 200 * 1024, "", 0}});
  const std::string file = (dir_.path() / "p.bak").string();
  auto setup = login();
  ASSERT_FALSE(setup
                   ->executeBatch("CREATE TABLE Sample.dbo.Filler (x NVARCHAR(400))\n"
                                  "INSERT INTO Sample.dbo.Filler VALUES (REPLICATE(N'x', 400))\n"
                                  "DECLARE @i int SET @i = 0\n"
                                  "WHILE @i < 8 BEGIN INSERT INTO Sample.dbo.Filler SELECT x FROM "
                                  "Sample.dbo.Filler SET @i = @i + 1 END")
                   .failed());
  for (const auto& [statement, command] : std::vector<std::pair<std::string, std::string>>{
           {"BACKUP DATABASE [Sample] TO DISK = N'" + file + "' WITH INIT, STATS = 10", "BACKUP DATABASE"},
           {"RESTORE VERIFYONLY FROM DISK = N'" + file + "'", "RESTORE VERIFYON"},
           {"RESTORE DATABASE [Copy] FROM DISK = N'" + file + "'", "RESTORE DATABASE"}}) {
    BatchResult result;
    const auto seen = watch(statement, result);
    ASSERT_FALSE(result.failed()) << command << ": " << result.errors()[0].text;
    EXPECT_EQ(seen.commands, std::set<std::string>{command});
    EXPECT_EQ(seen.status, "running") << command;
    EXPECT_TRUE(seen.estimated) << command;
    // The percentage only rises, through values between the ends.
    ASSERT_GE(seen.percents.size(), 3u) << command;
    EXPECT_TRUE(std::is_sorted(seen.percents.begin(), seen.percents.end())) << command;
    EXPECT_GT(
        std::count_if(seen.percents.begin(), seen.percents.end(), [](double p) { return p > 0 && p < 100; }),
        1)
        << command;
  }
}

TEST_F(Progress, EverySessionSeesTheRunningRequestsWithTheirOwnSpidAnd2000HasNoSuchView) {
  open(2005);
  auto a = login();
  auto b = login();
  EXPECT_NE(a->spid(), b->spid());
  const auto own = a->executeBatch(
      "SELECT session_id, command, status, start_time, database_id FROM "
      "sys.dm_exec_requests WHERE session_id = @@SPID");
  const auto sets = own.resultSets();
  ASSERT_EQ(sets.at(0).rows.size(), 1u);
  const auto& row = sets[0].rows[0];
  EXPECT_EQ(standin::sql::valueToText(row[0]), std::to_string(a->spid()));
  EXPECT_EQ(standin::sql::valueToText(row[1]), "SELECT");
  EXPECT_EQ(standin::sql::valueToText(row[2]), "running");
  EXPECT_EQ(standin::sql::valueToText(row[4]), "1");
  // An idle session has no request.
  EXPECT_EQ(a->executeBatch("SELECT COUNT(*) FROM sys.dm_exec_requests WHERE session_id = " +
                            std::to_string(b->spid()))
                .resultSets()
                .at(0)
                .rows.at(0)
                .at(0),
            standin::sql::Value{std::int64_t{0}});

  open(2000);
  const auto old = login()->executeBatch("SELECT percent_complete FROM sys.dm_exec_requests");
  ASSERT_EQ(numbers(old.errors()), std::vector<int>{208});
  EXPECT_EQ(old.errors()[0].text, "Invalid object name 'sys.dm_exec_requests'.");
}
