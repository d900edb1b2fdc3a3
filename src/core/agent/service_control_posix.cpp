// systemd behind the service control interface. systemctl runs as a child process whose output
// is read to its end within a bounded time (sys::runProgram).
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <utility>
#include <vector>

#include "core/agent/service_control.h"
#include "core/agent/systemd_service_manager.h"
#include "core/sys/process_posix.h"
#include "core/text/ascii.h"

namespace bv::agent {
namespace {

// Runs a program with stdin and stderr unused and keeps what it writes to stdout.
struct ProcessOutcome {
  std::optional<int> exitCode;  // nothing: not started, killed, or out of time
  std::string output;
};

ProcessOutcome runBounded(const std::string& program, const std::vector<std::string>& arguments,
                          int timeoutMs) {
  sys::ProgramOutcome ran = sys::runProgram(program, arguments, {}, timeoutMs);
  return {ran.exitCode, std::move(ran.output)};
}

// The value of "Key=Value" in systemctl show's output; nothing when the key is missing.
std::optional<std::string> propertyValue(const std::string& output, std::string_view key) {
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string_view line(output.data() + start, end - start);
    if (line.size() > key.size() && line.substr(0, key.size()) == key && line[key.size()] == '=') {
      std::string_view value = line.substr(key.size() + 1);
      if (!value.empty() && value.back() == '\r') value.remove_suffix(1);
      return std::string(value);
    }
    start = end + 1;
  }
  return std::nullopt;
}

class SystemdService final : public ServiceSession {
 public:
  SystemdService(const SystemdOptions& options, std::string unit)
      : options_(options), unit_(std::move(unit)) {}

  std::optional<std::string> show(std::string_view property) const {
    const ProcessOutcome outcome =
        runBounded(options_.systemctl, {"--no-pager", "show", "--property=" + std::string(property), unit_},
                   options_.queryTimeoutMs);
    if (outcome.exitCode != 0) return std::nullopt;
    return propertyValue(outcome.output, property);
  }

  std::optional<std::uint32_t> queryState() override {
    const auto state = show("ActiveState");
    return state ? serviceStateFromActiveState(*state) : std::nullopt;
  }
  std::optional<std::uint32_t> queryStartType() override {
    const auto state = show("UnitFileState");
    return state ? startTypeFromUnitFileState(*state) : std::nullopt;
  }
  bool changeStartTypeToAutomatic() override { return change({"enable", unit_}); }
  bool requestStart() override { return change({"--no-block", "start", unit_}); }

 private:
  bool change(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), "--no-ask-password");
    return runBounded(options_.systemctl, arguments, options_.changeTimeoutMs).exitCode == 0;
  }

  SystemdOptions options_;
  std::string unit_;
};

class SystemdServiceManager final : public ServiceManager {
 public:
  explicit SystemdServiceManager(SystemdOptions options) : options_(std::move(options)) {}

  std::unique_ptr<ServiceSession> openService(std::string_view name) override {
    std::string unit = systemdUnitForService(name);
    if (unit.empty() || !bootedWithSystemd()) return nullptr;
    auto service = std::make_unique<SystemdService>(options_, std::move(unit));
    if (service->show("LoadState") != "loaded") return nullptr;
    return service;
  }

 private:
  bool bootedWithSystemd() const {
    struct stat info {};
    return ::lstat(options_.bootedMarker.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
  }

  SystemdOptions options_;
};

}  // namespace

std::string systemdUnitForService(std::string_view serviceName) {
  if (text::equalsIgnoringAsciiCase(serviceName, kAgentServiceName)) return "mssql-server.service";
  return {};
}

std::optional<std::uint32_t> serviceStateFromActiveState(std::string_view activeState) {
  if (activeState == "active" || activeState == "reloading") return kServiceRunning;
  if (activeState == "activating") return kServiceStartPending;
  if (activeState == "deactivating") return kServiceStopPending;
  if (activeState == "inactive" || activeState == "failed") return kServiceStopped;
  return std::nullopt;
}

std::optional<std::uint32_t> startTypeFromUnitFileState(std::string_view unitFileState) {
  if (unitFileState == "enabled" || unitFileState == "enabled-runtime") return kServiceAutoStart;
  if (unitFileState == "masked" || unitFileState == "masked-runtime") return kServiceDisabled;
  if (unitFileState == "disabled" || unitFileState == "static" || unitFileState == "indirect" ||
      unitFileState == "linked" || unitFileState == "linked-runtime" || unitFileState == "generated" ||
      unitFileState == "transient" || unitFileState == "alias") {
    return kServiceDemandStart;
  }
  return std::nullopt;
}

std::unique_ptr<ServiceManager> makeSystemdServiceManager(SystemdOptions options) {
  return std::make_unique<SystemdServiceManager>(std::move(options));
}

ServiceManager& systemServiceManager() {
  static const std::unique_ptr<ServiceManager> instance = makeSystemdServiceManager();
  return *instance;
}

}  // namespace bv::agent
