// systemd behind the service control interface. systemctl runs as a child process with its
// output read through a pipe; every wait is bounded, and a child that outlives its time is
// killed and reaped.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

#include "core/agent/service_control.h"
#include "core/agent/systemd_service_manager.h"

extern char** environ;

namespace bv::agent {
namespace {

using Clock = std::chrono::steady_clock;

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const noexcept { return fd_; }
  void reset() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

class SpawnActions {
 public:
  SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  ~SpawnActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  bool ok() const noexcept { return ok_; }
  posix_spawn_file_actions_t* get() noexcept { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

// A started child: reaped by wait(); killed and reaped on destruction if still running.
class ChildProcess {
 public:
  explicit ChildProcess(pid_t pid) : pid_(pid) {}
  ~ChildProcess() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The exit code once the child has exited by the deadline; nothing otherwise.
  std::optional<int> wait(Clock::time_point deadline) {
    for (;;) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        pid_ = 0;
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        return std::nullopt;  // ended by a signal
      }
      if (done < 0 && errno != EINTR) {
        pid_ = 0;
        return std::nullopt;
      }
      if (Clock::now() >= deadline) return std::nullopt;
      ::poll(nullptr, 0, 10);
    }
  }

 private:
  pid_t pid_;
};

struct ProcessOutcome {
  std::optional<int> exitCode;  // nothing: not started, killed, or out of time
  std::string output;
};

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

// Runs a program with stdin and stderr on /dev/null and keeps what it writes to stdout.
ProcessOutcome runBounded(const std::string& program, const std::vector<std::string>& arguments,
                          int timeoutMs) {
  constexpr std::size_t kMaxOutput = 64 * 1024;
  ProcessOutcome outcome;
  int fds[2] = {-1, -1};
  if (::pipe2(fds, O_CLOEXEC) != 0) return outcome;
  UniqueFd readEnd(fds[0]);
  UniqueFd writeEnd(fds[1]);

  SpawnActions actions;
  if (!actions.ok() || posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0) != 0 ||
      posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), 1) != 0 ||
      posix_spawn_file_actions_addopen(actions.get(), 2, "/dev/null", O_WRONLY, 0) != 0) {
    return outcome;
  }
  std::vector<std::string> argvStorage;
  argvStorage.push_back(program);
  argvStorage.insert(argvStorage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (auto& argument : argvStorage) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const bool onPath = program.find('/') == std::string::npos;
  const int spawned = onPath ? posix_spawnp(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ)
                             : posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
  if (spawned != 0) return outcome;
  ChildProcess child(pid);
  writeEnd.reset();

  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  for (;;) {
    pollfd readable{readEnd.get(), POLLIN, 0};
    const int ready = ::poll(&readable, 1, remainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return outcome;  // out of time: the child is killed on the way out
    const ssize_t got = ::read(readEnd.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;  // end of output
    if (outcome.output.size() < kMaxOutput) outcome.output.append(buffer, static_cast<std::size_t>(got));
  }
  outcome.exitCode = child.wait(deadline);
  return outcome;
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
  SystemdService(const SystemdOptions& options, std::string unit) : options_(options), unit_(std::move(unit)) {}

  std::optional<std::string> show(std::string_view property) const {
    const ProcessOutcome outcome =
        runBounded(options_.systemctl,
                   {"--no-pager", "show", "--property=" + std::string(property), unit_},
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

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string systemdUnitForService(std::string_view serviceName) {
  if (equalsIgnoringAsciiCase(serviceName, kAgentServiceName)) return "mssql-server.service";
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
