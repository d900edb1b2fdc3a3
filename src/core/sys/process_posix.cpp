#include "core/sys/process_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include "core/sys/unique_fd.h"

extern char** environ;

namespace bv::sys {
namespace {

using Clock = std::chrono::steady_clock;

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

int remainingMs(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

ProgramOutcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& input, int timeoutMs, std::size_t outputLimit) {
  ProgramOutcome outcome;
  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (::pipe2(in, O_CLOEXEC) != 0) return outcome;
  UniqueFd inRead(in[0]), inWrite(in[1]);
  if (::pipe2(out, O_CLOEXEC) != 0) return outcome;
  UniqueFd outRead(out[0]), outWrite(out[1]);
  if (::pipe2(err, O_CLOEXEC) != 0) return outcome;
  UniqueFd errRead(err[0]), errWrite(err[1]);

  SpawnActions actions;
  if (!actions.ok() || posix_spawn_file_actions_adddup2(actions.get(), inRead.get(), 0) != 0 ||
      posix_spawn_file_actions_adddup2(actions.get(), outWrite.get(), 1) != 0 ||
      posix_spawn_file_actions_adddup2(actions.get(), errWrite.get(), 2) != 0) {
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
  const int spawned = onPath
                          ? posix_spawnp(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ)
                          : posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ);
  if (spawned != 0) return outcome;
  outcome.started = true;
  ChildProcess child(pid);
  inRead.reset();
  outWrite.reset();
  errWrite.reset();
  ::fcntl(inWrite.get(), F_SETFL, O_NONBLOCK);

  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::size_t written = 0;
  if (input.empty()) inWrite.reset();
  std::string* sinks[2] = {&outcome.output, &outcome.errors};
  UniqueFd* sources[2] = {&outRead, &errRead};
  for (;;) {
    pollfd fds[3] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}, {inWrite.get(), POLLOUT, 0}};
    if (fds[0].fd < 0 && fds[1].fd < 0) break;
    const int ready = ::poll(fds, 3, remainingMs(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return outcome;  // out of time: the child is killed on the way out
    if (fds[2].fd >= 0 && (fds[2].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
      const ssize_t n = ::write(inWrite.get(), input.data() + written, input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) inWrite.reset();
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      char buffer[4096];
      const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        sources[i]->reset();
        continue;
      }
      const std::size_t room = outputLimit - std::min(outputLimit, sinks[i]->size());
      const std::size_t kept = std::min(room, static_cast<std::size_t>(got));
      sinks[i]->append(buffer, kept);
      if (kept < static_cast<std::size_t>(got) && i == 0) outcome.outputCut = true;
    }
  }
  inWrite.reset();
  outcome.exitCode = child.wait(deadline);
  return outcome;
}

}  // namespace bv::sys
