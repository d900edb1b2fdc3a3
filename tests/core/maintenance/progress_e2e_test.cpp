// The server's percentage as the run reports it, against the stand-in slowed by its throttle
// fault: each statement of the batch (the backup, then its verify) is timed from its own start,
// and the verify is named.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "core/maintenance/operations.h"
#include "core/maintenance/progress.h"
#include "standin_fixture.h"

namespace bv::maintenance {
namespace {

using Clock = std::chrono::steady_clock;

struct Reading {
  Progress progress;
  Clock::time_point at;
};

TEST(ServerProgress, EachStatementIsTimedFromItsOwnStartAndTheVerifyIsNamed) {
  bvtest::StandinFixture standin(
      bvtest::StandinOptions{.serverVersion = 2019, .faults = {"throttle=12000:match=BACKUP DATABASE"}});
  std::mutex guard;
  std::vector<Reading> readings;
  const BackupRequest request{{standin.serverText(), true, "sa", standin.saPassword()},
                              standin.sampleDatabase(),
                              (standin.scratchDir() / "timed.bak").string(),
                              true};
  const OperationOutcome outcome = run(request, {}, [&](const Progress& progress) {
    const std::lock_guard lock(guard);
    readings.push_back({progress, Clock::now()});
  });
  const Clock::time_point ended = Clock::now();
  ASSERT_TRUE(outcome.succeeded) << outcome.message;

  std::vector<Reading> verify;
  for (const Reading& reading : readings) {
    EXPECT_TRUE(reading.progress.step.empty() || reading.progress.step == "ベリファイしています...")
        << reading.progress.step;
    if (reading.progress.step == "ベリファイしています...") verify.push_back(reading);
  }
  ASSERT_GE(verify.size(), 2u) << "the verify was watched";
  ASSERT_LT(verify.size(), readings.size()) << "so was the backup";
  EXPECT_NE(verify.front().progress.statement, readings.front().progress.statement);
  // The time left of the verify is the verify's own: never more than what it really took, with
  // a second or two of reading's grace (the whole batch's time would put it far beyond).
  for (const Reading& reading : verify) {
    ASSERT_TRUE(reading.progress.left);
    const auto really = std::chrono::duration_cast<std::chrono::seconds>(ended - reading.at);
    EXPECT_LE(reading.progress.left->count(), really.count() + 2)
        << reading.progress.percent << "% left " << reading.progress.left->count() << " s, really " << really.count();
  }
}

}  // namespace
}  // namespace bv::maintenance
