// "host\INSTANCE" through FreeTDS: its instance lookup always asks UDP 1434, so these tests
// share that port under a CTest resource lock. They need the port itself: when something else
// holds it they fail and say what holds it.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "odbc_client.h"
#include "sockets.h"
#include "standin/host/host.h"
#include "standin_fixture.h"
#include "subprocess.h"

namespace {

constexpr std::uint16_t kBrowserPort = 1434;

// Why the host has no responder on the browser port, naming whoever holds it; empty when it has.
std::string browserPortProblem(const standin::host::Host& host) {
  if (host.ssrpPort() == kBrowserPort) return {};
  const std::string holder = bvtest::whoHoldsPort("udp", kBrowserPort);
  return "UDP " + std::to_string(kBrowserPort) + " could not be taken (" + host.ssrpError() + "); " +
         (holder.empty() ? std::string("nothing holds it now") : "it is held by " + holder) +
         ". Stop that (a demo started with scripts/run holds it) and run the tests again.";
}

standin::host::HostOptions hostOptions(const std::filesystem::path& dataDir) {
  standin::host::HostOptions o;
  o.dataDir = dataDir;
  o.recordFile = bvtest::nextRecordingFile();
  o.saPassword = "Sa;pw";
  o.port = 0;
  o.instanceName = "BVTEST";
  o.extraInstances.push_back({"BVOLD", 0, 2000});
  o.ssrpPort = kBrowserPort;
  return o;
}

class InstanceLookup : public ::testing::Test {
 protected:
  InstanceLookup() : dir_("bv-ssrp") {
    host_ = std::make_unique<standin::host::Host>(hostOptions(dir_.path() / "data"));
    host_->start();
  }

  std::string version(const std::string& server) {
    bvtest::odbc::Connection c;
    std::vector<bvtest::odbc::Diag> diags;
    if (!c.connect("Driver=" + bvtest::odbcDriverName() + ";Server=" + server + ";UID=sa;PWD={Sa;pw};",
                   &diags, 30))
      return "<no connection: " + (diags.empty() ? std::string() : diags[0].text) + ">";
    const auto r = c.execute("SELECT @@VERSION");
    if (r.sets.empty() || r.sets[0].rows.empty()) return "<no row>";
    return r.sets[0].rows[0][0].value_or("");
  }

  bvtest::TempDir dir_;
  std::unique_ptr<standin::host::Host> host_;
};

TEST_F(InstanceLookup, NamedInstancesResolveThroughTheBrowserPort) {
  ASSERT_EQ(browserPortProblem(*host_), "");
  EXPECT_EQ(version("127.0.0.1\\BVTEST").substr(0, 25), "Microsoft SQL Server 2005");
  EXPECT_EQ(version("127.0.0.1\\bvold").substr(0, 26), "Microsoft SQL Server  2000");
}

TEST_F(InstanceLookup, TsqlListsEveryInstanceWithItsPort) {
  ASSERT_EQ(browserPortProblem(*host_), "");
  const auto r = bvtest::runProcess({"timeout", "60", BV_TSQL, "-LH", "127.0.0.1"}, "");
  EXPECT_NE(r.output.find("BVTEST"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("BVOLD"), std::string::npos) << r.output;
  for (const auto& inst : host_->instances())
    EXPECT_NE(r.output.find(std::to_string(inst.server->port())), std::string::npos) << r.output;
}

TEST(BrowserPortTaken, TheFailureNamesTheProcessThatHoldsThePort) {
  const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(holder, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kBrowserPort);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(holder, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(holder);
    FAIL() << "UDP 1434 is held by " << bvtest::whoHoldsPort("udp", kBrowserPort)
           << ". Stop that (a demo started with scripts/run holds it) and run the tests again.";
  }

  bvtest::TempDir dir("bv-ssrp");
  standin::host::Host host(hostOptions(dir.path() / "data"));
  host.start();
  const std::string problem = browserPortProblem(host);
  ::close(holder);
  EXPECT_NE(problem.find("it is held by pid " + std::to_string(::getpid()) + " ("), std::string::npos)
      << problem;
  EXPECT_NE(problem.find("standin_ssrp_lookup_tests"), std::string::npos) << problem;
}

}  // namespace
