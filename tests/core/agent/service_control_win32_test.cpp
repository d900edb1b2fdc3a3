// The service control of the Agent check against the real service control manager (advapi32;
// Wine's services.exe here), on services that these tests create in the prefix with a small
// test service program, and remove again. A remote manager and a user without the right to
// change services cannot be had here: the fake manager's tests cover those answers.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "child_process_win32.h"
#include "core/agent/agent_service_check.h"
#include "core/agent/service_control.h"

namespace bv::agent {
namespace {

// A service manager handle, closed on every path.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
  ~ScHandle() { reset(); }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void reset(SC_HANDLE handle = nullptr) {
    if (handle_ != nullptr) ::CloseServiceHandle(handle_);
    handle_ = handle;
  }

 private:
  SC_HANDLE handle_;
};

std::wstring wide(std::string_view text) { return std::wstring(text.begin(), text.end()); }

std::string quoted(const std::filesystem::path& program, const std::string& arguments = "") {
  return bvtest::quotedCommandLine(program, arguments);
}

std::filesystem::path testServiceProgram() { return bvtest::besideThisProgram(L"bv_test_service.exe"); }

struct Config {
  DWORD serviceType = 0;
  DWORD startType = 0;
  DWORD errorControl = 0;
  std::wstring binaryPath;
  std::wstring displayName;
  std::wstring account;
};

// A service made for one test (any service of that name is removed first); stopped and removed
// again when the test ends.
class TestService {
 public:
  TestService(const std::string& name, DWORD startType, const std::string& binaryPath) : name_(wide(name)) {
    manager_.reset(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager_) return;
    const ScHandle old(::OpenServiceW(manager_.get(), name_.c_str(), SERVICE_ALL_ACCESS));
    remove(old);
    const std::wstring path(binaryPath.begin(), binaryPath.end());
    service_.reset(::CreateServiceW(manager_.get(), name_.c_str(), (L"Brackenvale test " + name_).c_str(),
                                    SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, startType,
                                    SERVICE_ERROR_NORMAL, path.c_str(), nullptr, nullptr, nullptr, nullptr,
                                    nullptr));
    if (!service_) error_ = ::GetLastError();
  }
  ~TestService() { remove(service_); }
  TestService(const TestService&) = delete;
  TestService& operator=(const TestService&) = delete;

  bool created() const { return static_cast<bool>(service_); }
  DWORD error() const { return error_; }

  DWORD state() const {
    SERVICE_STATUS status{};
    return ::QueryServiceStatus(service_.get(), &status) ? status.dwCurrentState : 0;
  }
  // Waits (at most half a minute) for the state; true when it came.
  bool reaches(DWORD wanted) const {
    for (int i = 0; i < 600; ++i) {
      if (state() == wanted) return true;
      ::Sleep(50);
    }
    return false;
  }
  bool start() const { return ::StartServiceW(service_.get(), 0, nullptr) != FALSE; }

  Config config() const {
    DWORD needed = 0;
    ::QueryServiceConfigW(service_.get(), nullptr, 0, &needed);
    std::vector<QUERY_SERVICE_CONFIGW> buffer(needed / sizeof(QUERY_SERVICE_CONFIGW) + 1);
    Config config;
    if (!::QueryServiceConfigW(service_.get(), buffer.data(),
                               static_cast<DWORD>(buffer.size() * sizeof(QUERY_SERVICE_CONFIGW)), &needed)) {
      return config;
    }
    const QUERY_SERVICE_CONFIGW& record = buffer.front();
    const auto text = [](const wchar_t* value) {
      return value != nullptr ? std::wstring(value) : std::wstring();
    };
    config.serviceType = record.dwServiceType;
    config.startType = record.dwStartType;
    config.errorControl = record.dwErrorControl;
    config.binaryPath = text(record.lpBinaryPathName);
    config.displayName = text(record.lpDisplayName);
    config.account = text(record.lpServiceStartName);
    return config;
  }

 private:
  // Stops the service if it runs and deletes it.
  static void remove(const ScHandle& service) {
    if (!service) return;
    SERVICE_STATUS status{};
    if (::QueryServiceStatus(service.get(), &status) && status.dwCurrentState != SERVICE_STOPPED) {
      ::ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
      for (int i = 0; i < 600 && ::QueryServiceStatus(service.get(), &status) &&
                      status.dwCurrentState != SERVICE_STOPPED;
           ++i) {
        ::Sleep(50);
      }
    }
    ::DeleteService(service.get());
  }

  std::wstring name_;
  ScHandle manager_;  // declared first: closed after the service
  ScHandle service_;
  DWORD error_ = 0;
};

// A name of this test run's own.
std::string serviceName(const char* stem) {
  return std::string("Brackenvale") + stem + std::to_string(::GetCurrentProcessId());
}

TEST(ServiceControl, AServiceThatDoesNotExistReadsAsZeroAndFalse) {
  ServiceManager& manager = systemServiceManager();
  const std::string name = serviceName("Missing");
  EXPECT_EQ(GetServiceState(manager, name), 0u);
  EXPECT_EQ(GetServiceStartType(manager, name), 0u);
  EXPECT_FALSE(SetServiceAutoStart(manager, name));
  EXPECT_FALSE(StartServiceIfNotRunning(manager, name));
}

TEST(ServiceControl, AStoppedServiceStartedOnDemandReadsStoppedAndManual) {
  const std::string name = serviceName("Manual");
  const TestService service(name, SERVICE_DEMAND_START, quoted(testServiceProgram()));
  ASSERT_TRUE(service.created()) << service.error();
  EXPECT_EQ(GetServiceState(systemServiceManager(), name), kServiceStopped);
  EXPECT_EQ(GetServiceStartType(systemServiceManager(), name), kServiceDemandStart);
}

TEST(ServiceControl, SetServiceAutoStartChangesTheStartTypeAndNothingElse) {
  const std::string name = serviceName("Auto");
  const TestService service(name, SERVICE_DEMAND_START, quoted(testServiceProgram()));
  ASSERT_TRUE(service.created()) << service.error();
  const Config before = service.config();
  ASSERT_EQ(before.startType, static_cast<DWORD>(SERVICE_DEMAND_START));

  EXPECT_TRUE(SetServiceAutoStart(systemServiceManager(), name));
  const Config after = service.config();
  EXPECT_EQ(after.startType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(GetServiceStartType(systemServiceManager(), name), kServiceAutoStart);
  EXPECT_EQ(after.serviceType, before.serviceType);
  EXPECT_EQ(after.errorControl, before.errorControl);
  EXPECT_EQ(after.binaryPath, before.binaryPath);
  EXPECT_EQ(after.displayName, before.displayName);
  EXPECT_EQ(after.account, before.account);
  // Only the start type changed: the service was not started.
  EXPECT_EQ(service.state(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST(ServiceControl, AStoppedServiceIsStartedAndARunningOneIsLeftAlone) {
  const std::string name = serviceName("Start");
  const TestService service(name, SERVICE_DEMAND_START, quoted(testServiceProgram()));
  ASSERT_TRUE(service.created()) << service.error();
  EXPECT_TRUE(StartServiceIfNotRunning(systemServiceManager(), name));
  ASSERT_TRUE(service.reaches(SERVICE_RUNNING)) << service.state();
  EXPECT_EQ(GetServiceState(systemServiceManager(), name), kServiceRunning);
  // A second start request would be refused (the service already runs): none is made.
  EXPECT_FALSE(service.start());
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SERVICE_ALREADY_RUNNING));
  EXPECT_TRUE(StartServiceIfNotRunning(systemServiceManager(), name));
  EXPECT_EQ(GetServiceStartType(systemServiceManager(), name), kServiceDemandStart);
}

TEST(ServiceControl, AStartTheManagerRefusesIsFalse) {
  const std::string missing = serviceName("NoProgram");
  const TestService noProgram(missing, SERVICE_DEMAND_START,
                              quoted(testServiceProgram().parent_path() / "no-such-program.exe"));
  ASSERT_TRUE(noProgram.created()) << noProgram.error();
  EXPECT_FALSE(StartServiceIfNotRunning(systemServiceManager(), missing));
  EXPECT_NE(GetServiceState(systemServiceManager(), missing), kServiceRunning);

  const std::string notAService = serviceName("NotAService");
  const TestService plain(notAService, SERVICE_DEMAND_START, quoted(testServiceProgram(), "--no-service"));
  ASSERT_TRUE(plain.created()) << plain.error();
  EXPECT_FALSE(StartServiceIfNotRunning(systemServiceManager(), notAService));
  EXPECT_NE(GetServiceState(systemServiceManager(), notAService), kServiceRunning);
}

TEST(ServiceControl, ADisabledServiceReadsAsDisabledAndIsNotStarted) {
  const std::string name = serviceName("Disabled");
  const TestService service(name, SERVICE_DISABLED, quoted(testServiceProgram()));
  ASSERT_TRUE(service.created()) << service.error();
  EXPECT_EQ(GetServiceStartType(systemServiceManager(), name), kServiceDisabled);
  EXPECT_FALSE(StartServiceIfNotRunning(systemServiceManager(), name));
  EXPECT_EQ(service.state(), static_cast<DWORD>(SERVICE_STOPPED));
}

// The check of the scheduling button over the real manager, with scripted answers.
class ScriptedPrompts final : public AgentCheckPrompts {
 public:
  explicit ScriptedPrompts(bool answer) : answer_(answer) {}
  bool askYesNo(const std::string& text) override {
    questions.push_back(text);
    return answer_;
  }
  void showError(const std::string& text) override { errors.push_back(text); }

  std::vector<std::string> questions;
  std::vector<std::string> errors;

 private:
  bool answer_;
};

const std::string kAgent(kAgentServiceName);

TEST(AgentServiceCheck, AStoppedManualAgentIsSetAutomaticAndStartedOnYes) {
  const TestService agent(kAgent, SERVICE_DEMAND_START, quoted(testServiceProgram()));
  ASSERT_TRUE(agent.created()) << agent.error();
  ScriptedPrompts prompts(true);
  EXPECT_TRUE(checkAgentService(true, systemServiceManager(), prompts));
  EXPECT_EQ(prompts.questions, std::vector<std::string>{std::string(kAskAgentAutoStart)});
  EXPECT_TRUE(prompts.errors.empty());
  EXPECT_EQ(agent.config().startType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_TRUE(agent.reaches(SERVICE_RUNNING)) << agent.state();
}

TEST(AgentServiceCheck, ARunningAutomaticAgentPassesWithoutAWord) {
  const TestService agent(kAgent, SERVICE_AUTO_START, quoted(testServiceProgram()));
  ASSERT_TRUE(agent.created()) << agent.error();
  ASSERT_TRUE(agent.start()) << ::GetLastError();
  ASSERT_TRUE(agent.reaches(SERVICE_RUNNING));
  ScriptedPrompts prompts(false);
  EXPECT_TRUE(checkAgentService(true, systemServiceManager(), prompts));
  EXPECT_TRUE(prompts.questions.empty());
  EXPECT_TRUE(prompts.errors.empty());
}

TEST(AgentServiceCheck, AStoppedAgentAndTheAnswerNoLeaveTheServiceAsItWas) {
  const TestService agent(kAgent, SERVICE_DEMAND_START, quoted(testServiceProgram()));
  ASSERT_TRUE(agent.created()) << agent.error();
  ScriptedPrompts prompts(false);
  EXPECT_TRUE(checkAgentService(true, systemServiceManager(), prompts));
  EXPECT_EQ(prompts.questions.size(), 1u);
  EXPECT_EQ(agent.config().startType, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(agent.state(), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST(AgentServiceCheck, WithoutTheAgentServiceYesEndsInTheAutoStartFailure) {
  {
    const TestService cleared(kAgent, SERVICE_DEMAND_START, quoted(testServiceProgram()));
  }  // made and removed: no service of that name is left
  ScriptedPrompts prompts(true);
  EXPECT_FALSE(checkAgentService(true, systemServiceManager(), prompts));
  EXPECT_EQ(prompts.questions.size(), 1u);
  EXPECT_EQ(prompts.errors, std::vector<std::string>{std::string(kAgentAutoStartFailed)});
}

TEST(AgentServiceCheck, ARefusedStartEndsInTheStartFailureAndKeepsTheAutomaticStart) {
  const TestService agent(kAgent, SERVICE_DEMAND_START, quoted(testServiceProgram(), "--no-service"));
  ASSERT_TRUE(agent.created()) << agent.error();
  ScriptedPrompts prompts(true);
  EXPECT_FALSE(checkAgentService(true, systemServiceManager(), prompts));
  EXPECT_EQ(prompts.errors, std::vector<std::string>{std::string(kAgentStartFailed)});
  EXPECT_EQ(agent.config().startType, static_cast<DWORD>(SERVICE_AUTO_START));
}

}  // namespace
}  // namespace bv::agent
