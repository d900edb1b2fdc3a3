// "host\INSTANCE" through FreeTDS: its instance lookup always asks UDP 1434, so these tests
// share that port under a CTest resource lock.
#include <gtest/gtest.h>

#include "odbc_client.h"
#include "standin/host/host.h"
#include "standin_fixture.h"
#include "subprocess.h"

namespace {

class InstanceLookup : public ::testing::Test {
 protected:
  InstanceLookup() : dir_("bv-ssrp") {
    standin::host::HostOptions o;
    o.dataDir = dir_.path() / "data";
    o.saPassword = "Sa;pw";
    o.port = 0;
    o.instanceName = "BVTEST";
    o.extraInstances.push_back({"BVOLD", 0, 2000});
    o.ssrpPort = 1434;
    host_ = std::make_unique<standin::host::Host>(o);
    host_->start();
  }

  std::string version(const std::string& server) {
    bvtest::odbc::Connection c;
    std::vector<bvtest::odbc::Diag> diags;
    if (!c.connect("Driver=" + bvtest::odbcDriverName() + ";Server=" + server + ";UID=sa;PWD={Sa;pw};", &diags, 30))
      return "<no connection: " + (diags.empty() ? std::string() : diags[0].text) + ">";
    const auto r = c.execute("SELECT @@VERSION");
    if (r.sets.empty() || r.sets[0].rows.empty()) return "<no row>";
    return r.sets[0].rows[0][0].value_or("");
  }

  bvtest::TempDir dir_;
  std::unique_ptr<standin::host::Host> host_;
};

TEST_F(InstanceLookup, NamedInstancesResolveThroughTheBrowserPort) {
  ASSERT_EQ(host_->ssrpPort(), 1434) << host_->ssrpError();
  EXPECT_EQ(version("127.0.0.1\\BVTEST").substr(0, 25), "Microsoft SQL Server 2005");
  EXPECT_EQ(version("127.0.0.1\\bvold").substr(0, 26), "Microsoft SQL Server  2000");
}

TEST_F(InstanceLookup, TsqlListsEveryInstanceWithItsPort) {
  ASSERT_EQ(host_->ssrpPort(), 1434) << host_->ssrpError();
  const auto r = bvtest::runProcess({"timeout", "60", BV_TSQL, "-LH", "127.0.0.1"}, "");
  EXPECT_NE(r.output.find("BVTEST"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("BVOLD"), std::string::npos) << r.output;
  for (const auto& inst : host_->instances())
    EXPECT_NE(r.output.find(std::to_string(inst.server->port())), std::string::npos) << r.output;
}

}  // namespace
