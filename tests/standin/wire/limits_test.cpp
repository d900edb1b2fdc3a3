// What a client may cost the TDS server: a cap on connections, a time for logging in, a size
// for the login messages, and a pause rather than a busy loop when accepting fails. Each limit
// is set small here, and each is met by raw clients doing what a driver never does.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

#include "odbc_client.h"
#include "raw_tds_client.h"
#include "standin/wire/tds_protocol.h"
#include "standin/wire/tds_server.h"
#include "standin_fixture.h"

using namespace std::chrono_literals;
using bvtest::StandinFixture;
using bvtest::StandinOptions;
using standintest::RawTdsClient;

namespace {

bool driverLogsIn(StandinFixture& standin) {
  bvtest::odbc::Connection c;
  if (!c.connect(standin.odbcConnectionString(), nullptr, 5)) return false;
  const auto r = c.execute("SELECT 1 AS one");
  return !r.anyError && !r.sets.empty();
}

// CPU time this process has used.
std::chrono::milliseconds processCpuTime() {
  timespec ts{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return std::chrono::milliseconds(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

}  // namespace

TEST(ConnectionLimits, AConnectionBeyondTheCapIsClosedAndTheCapFreesAgain) {
  standin::wire::ConnectionLimits limits;
  limits.maxConnections = 3;
  StandinFixture standin(StandinOptions{2005, "Sa-pass;w'rd1", {}, limits});
  std::vector<std::unique_ptr<RawTdsClient>> held;
  // Each of the three logs in (connections not logged in have a smaller cap of their own) and
  // has been answered, so the server counts them all.
  for (int i = 0; i < 3; ++i) {
    held.push_back(std::make_unique<RawTdsClient>(standin.port()));
    ASSERT_TRUE(held.back()->logIn("Sa-pass;w'rd1"));
  }
  RawTdsClient extra(standin.port());
  ASSERT_TRUE(extra.connected());
  const auto rest = extra.readUntilClosed(10s);
  EXPECT_TRUE(rest.closed) << "the fourth connection is closed at once";
  EXPECT_TRUE(rest.bytes.empty());

  held.pop_back();
  bool served = false;
  for (int attempt = 0; attempt < 50 && !served; ++attempt) {
    served = driverLogsIn(standin);
    if (!served) std::this_thread::sleep_for(100ms);  // until the server has seen the client go
  }
  EXPECT_TRUE(served);
}

TEST(ConnectionLimits, SilentConnectionsCannotLockALoginOut) {
  // As many silent sockets as the server takes connections: those not logged in count against
  // a quarter of the cap, and the oldest of them goes for each new one.
  StandinFixture standin;
  std::vector<std::unique_ptr<RawTdsClient>> silent;
  for (int i = 0; i < 128; ++i) {
    silent.push_back(std::make_unique<RawTdsClient>(standin.port()));
    ASSERT_TRUE(silent.back()->connected());
  }
  // A connection may wait in the listen queue after connect() returned: the driver's comes
  // only after the server has taken every silent one.
  const auto& server = *standin.host().instances().front().server;
  for (int i = 0; i < 1000 && server.acceptedConnections() < silent.size(); ++i)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(server.acceptedConnections(), silent.size());
  EXPECT_TRUE(driverLogsIn(standin));
  EXPECT_TRUE(silent.front()->readUntilClosed(10s).closed) << "the oldest silent connection is closed";
  // The newest silent ones are still served: a login on one of them succeeds.
  EXPECT_TRUE(silent.back()->logIn("Sa-pass;w'rd1"));
}

TEST(ConnectionLimits, AClientThatNeverLogsInIsDisconnectedAtTheLoginTimeout) {
  standin::wire::ConnectionLimits limits;
  limits.loginTimeout = 300ms;
  StandinFixture standin(StandinOptions{2005, "Sa-pass;w'rd1", {}, limits});
  RawTdsClient silent(standin.port());
  RawTdsClient preloginOnly(standin.port());
  ASSERT_TRUE(silent.connected());
  ASSERT_TRUE(preloginOnly.connected());
  ASSERT_TRUE(preloginOnly.sendMessage(standin::wire::kPrelogin, standintest::preloginRequest()));
  ASSERT_TRUE(preloginOnly.readReply(10s));
  EXPECT_TRUE(silent.readUntilClosed(10s).closed);
  EXPECT_TRUE(preloginOnly.readUntilClosed(10s).closed);
  // A client that has logged in may stay idle longer than that.
  RawTdsClient loggedIn(standin.port());
  ASSERT_TRUE(loggedIn.logIn("Sa-pass;w'rd1"));
  EXPECT_TRUE(loggedIn.silentFor(600ms));
  const auto reply = loggedIn.batch("SELECT 1");
  ASSERT_TRUE(reply);
  EXPECT_TRUE(standintest::endsWithoutError(*reply));
}

TEST(ConnectionLimits, ALoginMessageBeyondTheSizeLimitEndsTheConnection) {
  standin::wire::ConnectionLimits limits;
  limits.maxLoginMessageBytes = 2048;
  StandinFixture standin(StandinOptions{2005, "Sa-pass;w'rd1", {}, limits});
  RawTdsClient big(standin.port());
  ASSERT_TRUE(big.connected());
  // A pre-login that goes on and on without its last packet.
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(big.sendPacket(standin::wire::kPrelogin, std::string(1000, 'x'), false));
  const auto rest = big.readUntilClosed(10s);
  EXPECT_TRUE(rest.closed);
  EXPECT_TRUE(rest.bytes.empty());
  // The driver's own login messages are far smaller.
  EXPECT_TRUE(driverLogsIn(standin));
}

TEST(ConnectionLimits, WithNoDescriptorLeftTheServerPausesInsteadOfSpinning) {
  // The engine and the listener alone: no Agent thread that opens msdb once a second, so
  // nothing else in this process takes or frees a descriptor while it is starved.
  bvtest::TempDir dir("bv-limits");
  standin::engine::EngineConfig engineConfig;
  engineConfig.dataDir = dir.path();
  engineConfig.recordFile = bvtest::nextRecordingFile();
  engineConfig.saPassword = "Sa-pass;w'rd1";
  engineConfig.startAgent = false;
  standin::engine::Engine engine(engineConfig);
  standin::wire::TdsServerConfig serverConfig;
  serverConfig.port = 0;
  serverConfig.limits.acceptPause = 200ms;
  standin::wire::TdsServer server(engine, serverConfig);
  server.start();

  rlimit saved{};
  ::getrlimit(RLIMIT_NOFILE, &saved);
  rlimit low = saved;
  low.rlim_cur = 256;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> hoard;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) hoard.push_back(fd);
  // The client takes the last descriptor, so it connects only once the server has none left:
  // it waits in the listen queue.
  if (!hoard.empty()) {
    ::close(hoard.back());
    hoard.pop_back();
  }
  RawTdsClient client(server.port());
  // The server cannot accept the client now; for half a second it must not burn a core trying.
  std::this_thread::sleep_for(100ms);
  const auto before = processCpuTime();
  std::this_thread::sleep_for(500ms);
  const auto used = processCpuTime() - before;
  const int acceptedWhileStarved = server.openConnections();
  for (const int fd : hoard) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &saved);
  EXPECT_EQ(acceptedWhileStarved, 0);
  EXPECT_LT(used.count(), 100) << "CPU time used while accepting failed";
  // With descriptors back, the waiting client is served.
  ASSERT_TRUE(client.connected());
  EXPECT_TRUE(client.logIn("Sa-pass;w'rd1"));
}
