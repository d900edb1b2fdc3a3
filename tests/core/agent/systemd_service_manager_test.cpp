// The systemd service manager, driven against a scripted systemctl in a temporary folder (no
// test machine runs systemd as its service manager), and against this computer's own.
#include "core/agent/systemd_service_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace bv::agent {
namespace {

namespace fs = std::filesystem;

struct Script {
  std::string show = "LoadState=loaded\nActiveState=active\nUnitFileState=enabled\n";
  int showExit = 0;
  int enableExit = 0;
  int startExit = 0;
  bool showHangs = false;
};

// A folder holding a systemctl script that logs its arguments, and the marker folder that
// says systemd runs the computer.
class FakeSystemd {
 public:
  explicit FakeSystemd(const Script& script, bool booted = true) {
    std::string pattern = (fs::temp_directory_path() / "bv-systemd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    root_ = pattern;
    if (booted) fs::create_directory(root_ / "run-systemd-system");
    std::ofstream(root_ / "show.txt") << script.show;
    const std::string log = (root_ / "calls").string();
    std::ofstream out(root_ / "systemctl");
    out << "#!/bin/sh\n"
        << "printf '%s\\n' \"$*\" >> '" << log << "'\n"
        << "for a in \"$@\"; do case \"$a\" in\n"
        << "  show) " << (script.showHangs ? "exec sleep 30;" : "") << " cat '"
        << (root_ / "show.txt").string() << "'; exit " << script.showExit << ";;\n"
        << "  enable) exit " << script.enableExit << ";;\n"
        << "  start) exit " << script.startExit << ";;\n"
        << "esac; done\nexit 1\n";
    out.close();
    fs::permissions(root_ / "systemctl", fs::perms::owner_all);
  }
  ~FakeSystemd() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  FakeSystemd(const FakeSystemd&) = delete;
  FakeSystemd& operator=(const FakeSystemd&) = delete;

  SystemdOptions options() const {
    SystemdOptions options;
    options.systemctl = (root_ / "systemctl").string();
    options.bootedMarker = (root_ / "run-systemd-system").string();
    options.queryTimeoutMs = 5000;
    options.changeTimeoutMs = 5000;
    return options;
  }
  std::vector<std::string> calls() const {
    std::ifstream in(root_ / "calls");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

 private:
  fs::path root_;
};

using Calls = std::vector<std::string>;

TEST(SystemdServiceManager, TheAgentIsRunBySqlServerOnLinuxItsOwnUnit) {
  EXPECT_EQ(systemdUnitForService("SQLSERVERAGENT"), "mssql-server.service");
  EXPECT_EQ(systemdUnitForService("SqlServerAgent"), "mssql-server.service");
  EXPECT_EQ(systemdUnitForService("MSSQLSERVER"), "");
  EXPECT_EQ(systemdUnitForService(""), "");
}

TEST(SystemdServiceManager, UnitStatesReadAsServiceStatesAndStartTypes) {
  EXPECT_EQ(serviceStateFromActiveState("active"), kServiceRunning);
  EXPECT_EQ(serviceStateFromActiveState("reloading"), kServiceRunning);
  EXPECT_EQ(serviceStateFromActiveState("activating"), kServiceStartPending);
  EXPECT_EQ(serviceStateFromActiveState("deactivating"), kServiceStopPending);
  EXPECT_EQ(serviceStateFromActiveState("inactive"), kServiceStopped);
  EXPECT_EQ(serviceStateFromActiveState("failed"), kServiceStopped);
  EXPECT_EQ(serviceStateFromActiveState(""), std::nullopt);
  EXPECT_EQ(startTypeFromUnitFileState("enabled"), kServiceAutoStart);
  EXPECT_EQ(startTypeFromUnitFileState("enabled-runtime"), kServiceAutoStart);
  EXPECT_EQ(startTypeFromUnitFileState("disabled"), kServiceDemandStart);
  EXPECT_EQ(startTypeFromUnitFileState("static"), kServiceDemandStart);
  EXPECT_EQ(startTypeFromUnitFileState("masked"), kServiceDisabled);
  EXPECT_EQ(startTypeFromUnitFileState("bad-setting"), std::nullopt);
}

TEST(SystemdServiceManager, ARunningEnabledUnitIsRunningAndAutomatic) {
  FakeSystemd systemd({});
  auto manager = makeSystemdServiceManager(systemd.options());
  EXPECT_EQ(GetServiceState(*manager, kAgentServiceName), kServiceRunning);
  EXPECT_EQ(GetServiceStartType(*manager, kAgentServiceName), kServiceAutoStart);
  EXPECT_EQ(systemd.calls(), (Calls{"--no-pager show --property=LoadState mssql-server.service",
                                    "--no-pager show --property=ActiveState mssql-server.service",
                                    "--no-pager show --property=LoadState mssql-server.service",
                                    "--no-pager show --property=UnitFileState mssql-server.service"}));
}

TEST(SystemdServiceManager, AStoppedDisabledUnitIsEnabledAndStartedWithoutWaiting) {
  Script script;
  script.show = "LoadState=loaded\nActiveState=inactive\nUnitFileState=disabled\n";
  FakeSystemd systemd(script);
  auto manager = makeSystemdServiceManager(systemd.options());
  EXPECT_EQ(GetServiceState(*manager, kAgentServiceName), kServiceStopped);
  EXPECT_EQ(GetServiceStartType(*manager, kAgentServiceName), kServiceDemandStart);
  EXPECT_TRUE(SetServiceAutoStart(*manager, kAgentServiceName));
  EXPECT_TRUE(StartServiceIfNotRunning(*manager, kAgentServiceName));
  const Calls calls = systemd.calls();
  ASSERT_EQ(calls.size(), 10u);
  EXPECT_EQ(calls[5], "--no-ask-password enable mssql-server.service");
  EXPECT_EQ(calls[9], "--no-ask-password --no-block start mssql-server.service");
}

TEST(SystemdServiceManager, RefusedChangesAreFalse) {
  Script script;
  script.show = "LoadState=loaded\nActiveState=failed\nUnitFileState=disabled\n";
  script.enableExit = 1;  // as without the right to change units
  script.startExit = 4;
  FakeSystemd systemd(script);
  auto manager = makeSystemdServiceManager(systemd.options());
  EXPECT_FALSE(SetServiceAutoStart(*manager, kAgentServiceName));
  EXPECT_FALSE(StartServiceIfNotRunning(*manager, kAgentServiceName));
}

TEST(SystemdServiceManager, AMissingUnitCannotBeOpened) {
  Script script;
  script.show = "LoadState=not-found\nActiveState=inactive\nUnitFileState=\n";
  FakeSystemd systemd(script);
  auto manager = makeSystemdServiceManager(systemd.options());
  EXPECT_EQ(GetServiceState(*manager, kAgentServiceName), 0u);
  EXPECT_EQ(GetServiceStartType(*manager, kAgentServiceName), 0u);
  EXPECT_FALSE(SetServiceAutoStart(*manager, kAgentServiceName));
  EXPECT_FALSE(StartServiceIfNotRunning(*manager, kAgentServiceName));
  for (const auto& call : systemd.calls())
    EXPECT_NE(call.find("--property=LoadState"), std::string::npos) << call;
}

TEST(SystemdServiceManager, WithoutSystemdOrAUnitNothingIsRun) {
  FakeSystemd notBooted({}, /*booted=*/false);
  auto manager = makeSystemdServiceManager(notBooted.options());
  EXPECT_EQ(GetServiceState(*manager, kAgentServiceName), 0u);
  EXPECT_EQ(GetServiceStartType(*manager, kAgentServiceName), 0u);
  EXPECT_FALSE(SetServiceAutoStart(*manager, kAgentServiceName));
  EXPECT_FALSE(StartServiceIfNotRunning(*manager, kAgentServiceName));
  EXPECT_TRUE(notBooted.calls().empty());

  FakeSystemd booted({});
  auto other = makeSystemdServiceManager(booted.options());
  EXPECT_EQ(GetServiceState(*other, "MSSQLSERVER"), 0u);
  EXPECT_TRUE(booted.calls().empty());
}

TEST(SystemdServiceManager, AFailingSilentOrMissingSystemctlReadsAsZero) {
  Script failing;
  failing.showExit = 1;
  FakeSystemd systemdFailing(failing);
  EXPECT_EQ(GetServiceState(*makeSystemdServiceManager(systemdFailing.options()), kAgentServiceName), 0u);

  Script hanging;
  hanging.showHangs = true;
  FakeSystemd systemdHanging(hanging);
  SystemdOptions options = systemdHanging.options();
  options.queryTimeoutMs = 200;
  EXPECT_EQ(GetServiceState(*makeSystemdServiceManager(options), kAgentServiceName), 0u);

  FakeSystemd systemdMissing({});
  options = systemdMissing.options();
  options.systemctl += "-not-there";
  EXPECT_EQ(GetServiceState(*makeSystemdServiceManager(options), kAgentServiceName), 0u);
  EXPECT_FALSE(StartServiceIfNotRunning(*makeSystemdServiceManager(options), kAgentServiceName));
}

TEST(SystemdServiceManager, OnAComputerNotRunBySystemdTheAgentReadsAsAbsent) {
  struct stat info {};
  if (::lstat("/run/systemd/system", &info) == 0) GTEST_SKIP() << "this computer runs systemd";
  ServiceManager& manager = systemServiceManager();
  EXPECT_EQ(GetServiceState(manager, kAgentServiceName), 0u);
  EXPECT_EQ(GetServiceStartType(manager, kAgentServiceName), 0u);
  EXPECT_FALSE(SetServiceAutoStart(manager, kAgentServiceName));
  EXPECT_FALSE(StartServiceIfNotRunning(manager, kAgentServiceName));
}

}  // namespace
}  // namespace bv::agent
