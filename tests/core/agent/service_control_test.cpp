// The four service operations over a service manager: what each asks, and that each closes
// what it opened before it returns.
#include "core/agent/service_control.h"

#include <gtest/gtest.h>

#include "fake_service_manager.h"

namespace bv::agent {
namespace {

using Calls = std::vector<std::string>;

TEST(ServiceOperations, EachOpensTheNamedServiceMakesOneRequestAndClosesIt) {
  bvtest::FakeServiceManager manager;
  manager.state = kServiceRunning;
  manager.startType = kServiceAutoStart;
  EXPECT_EQ(GetServiceState(manager, kAgentServiceName), kServiceRunning);
  EXPECT_EQ(manager.calls, (Calls{"open SQLSERVERAGENT", "state", "close"}));
  manager.calls.clear();
  EXPECT_EQ(GetServiceStartType(manager, kAgentServiceName), kServiceAutoStart);
  EXPECT_EQ(manager.calls, (Calls{"open SQLSERVERAGENT", "start type", "close"}));
  manager.calls.clear();
  EXPECT_TRUE(SetServiceAutoStart(manager, kAgentServiceName));
  EXPECT_EQ(manager.calls, (Calls{"open SQLSERVERAGENT", "set automatic", "close"}));
  EXPECT_EQ(manager.openSessions, 0);
}

TEST(ServiceOperations, AServiceThatCannotBeOpenedReadsAsZeroAndFalse) {
  bvtest::FakeServiceManager missing;
  missing.serviceName = "MSSQLSERVER";  // the Agent is not installed
  bvtest::FakeServiceManager noRights;
  noRights.fullAccess = false;
  noRights.state = kServiceRunning;
  noRights.startType = kServiceAutoStart;
  for (auto* manager : {&missing, &noRights}) {
    EXPECT_EQ(GetServiceState(*manager, kAgentServiceName), 0u);
    EXPECT_EQ(GetServiceStartType(*manager, kAgentServiceName), 0u);
    EXPECT_FALSE(SetServiceAutoStart(*manager, kAgentServiceName));
    EXPECT_FALSE(StartServiceIfNotRunning(*manager, kAgentServiceName));
    EXPECT_TRUE(manager->requests().empty());
  }
}

TEST(ServiceOperations, AFailedQueryReadsAsZero) {
  bvtest::FakeServiceManager manager;
  manager.queriesFail = true;
  manager.state = kServiceRunning;
  manager.startType = kServiceAutoStart;
  EXPECT_EQ(GetServiceState(manager, kAgentServiceName), 0u);
  EXPECT_EQ(GetServiceStartType(manager, kAgentServiceName), 0u);
  EXPECT_EQ(manager.openSessions, 0);
}

TEST(StartServiceIfNotRunning, ARunningServiceIsNotStartedAgain) {
  bvtest::FakeServiceManager manager;
  manager.state = kServiceRunning;
  manager.refuseStart = true;  // would fail if it were asked
  EXPECT_TRUE(StartServiceIfNotRunning(manager, kAgentServiceName));
  EXPECT_EQ(manager.calls, (Calls{"open SQLSERVERAGENT", "state", "close"}));
}

TEST(StartServiceIfNotRunning, AStoppedServiceGetsAStartRequestOnAFreshOpen) {
  bvtest::FakeServiceManager manager;
  manager.state = kServiceStopped;
  EXPECT_TRUE(StartServiceIfNotRunning(manager, kAgentServiceName));
  EXPECT_EQ(manager.calls,
            (Calls{"open SQLSERVERAGENT", "state", "close", "open SQLSERVERAGENT", "start", "close"}));
  EXPECT_EQ(manager.state, kServiceStartPending);
}

TEST(StartServiceIfNotRunning, APausedOrStartingServiceAlsoGetsOneAndARefusalIsFalse) {
  for (const std::uint32_t state : {kServicePaused, kServiceStartPending, 0u}) {
    bvtest::FakeServiceManager manager;
    manager.state = state;
    manager.refuseStart = true;
    EXPECT_FALSE(StartServiceIfNotRunning(manager, kAgentServiceName)) << state;
    EXPECT_EQ(manager.requests(), (Calls{"state", "start"})) << state;
  }
}

TEST(ServiceManagerOverride, InstallsAManagerForItsLifetime) {
  ServiceManager& platform = serviceManager();
  EXPECT_EQ(&platform, &systemServiceManager());
  bvtest::FakeServiceManager fake;
  {
    ServiceManagerOverride installed(fake);
    EXPECT_EQ(&serviceManager(), &fake);
  }
  EXPECT_EQ(&serviceManager(), &platform);
}

}  // namespace
}  // namespace bv::agent
