// Start-up of the program against an empty window: how long from the process's start until its
// main window is visible and painted, and the process's peak resident memory, for Brackenvale
// and for bench/empty_window (the least a Qt Widgets program does for a window of the same
// size). Both write "painted" once their window's first paint is done and end (Brackenvale
// under BRACKENVALE_EXIT_AFTER_PAINT=1). The two run in turn, program then yardstick, and the
// ratios are taken pair by pair, so a machine whose speed drifts moves both sides of a pair.
//
//   startup_bench [--pairs N] [--warmup N] [--program PATH] [--yardstick PATH]
//
// The platform is Qt's, from QT_QPA_PLATFORM as usual (bench/startup.sh runs offscreen and
// under Xvfb). It prints each side's median, minimum and maximum time and its median peak
// memory, then the median of the pairs' ratios.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kRunLimit = std::chrono::seconds(30);
constexpr const char* kPaintedLine = "painted\n";

struct Run {
  double millisecondsToPaint = 0;
  double peakMebibytes = 0;
};

// Starts `program` with the environment plus BRACKENVALE_EXIT_AFTER_PAINT=1, waits for its
// "painted" line, then for its end, and reads its own peak memory from the kernel's accounting.
Run runOnce(const std::string& program) {
  int output[2];
  if (::pipe2(output, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

  std::vector<std::string> variables{"BRACKENVALE_EXIT_AFTER_PAINT=1"};
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "BRACKENVALE_EXIT_AFTER_PAINT=", 29) != 0) variables.emplace_back(*entry);
  }
  std::vector<char*> envp;
  for (std::string& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string argument0 = program;
  char* argv[] = {argument0.data(), nullptr};

  const Clock::time_point started = Clock::now();
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(output[1]);
  if (spawned != 0) {
    ::close(output[0]);
    throw std::runtime_error(program + ": cannot start: " + std::strerror(spawned));
  }

  std::string seen;
  Clock::time_point painted{};
  while (seen.find(kPaintedLine) == std::string::npos) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(started + kRunLimit - Clock::now());
    pollfd ready{output[0], POLLIN, 0};
    char buffer[256];
    const ssize_t count = left.count() > 0 && ::poll(&ready, 1, static_cast<int>(left.count())) > 0
                              ? ::read(output[0], buffer, sizeof buffer)
                              : 0;
    if (count <= 0) break;  // ended, or out of time
    seen.append(buffer, static_cast<std::size_t>(count));
    painted = Clock::now();
  }
  ::close(output[0]);
  const bool gotLine = seen.find(kPaintedLine) != std::string::npos;
  if (!gotLine) ::kill(child, SIGKILL);

  int status = 0;
  rusage usage{};
  ::wait4(child, &status, 0, &usage);
  if (!gotLine) throw std::runtime_error(program + ": no painted window within 30 s");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(program + ": did not end cleanly");
  return {std::chrono::duration<double, std::milli>(painted - started).count(),
          static_cast<double>(usage.ru_maxrss) / 1024.0};  // ru_maxrss is in KiB
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

struct Side {
  std::vector<double> times;
  std::vector<double> peaks;
};

void printSide(const std::string& name, const Side& side) {
  std::printf("%-18s %10.1f %8.1f %8.1f %14.1f\n", name.c_str(), median(side.times),
              *std::min_element(side.times.begin(), side.times.end()),
              *std::max_element(side.times.begin(), side.times.end()), median(side.peaks));
}

int usage() {
  std::fputs("usage: startup_bench [--pairs N] [--warmup N] [--program PATH] [--yardstick PATH]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path here = fs::canonical("/proc/self/exe").parent_path();
  std::string program = (here / "brackenvale").string();
  std::string yardstick = (here / "empty_window").string();
  int pairs = 10;
  int warmup = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (i + 1 >= argc) return usage();
    const std::string value = argv[++i];
    if (option == "--pairs") {
      pairs = std::atoi(value.c_str());
    } else if (option == "--warmup") {
      warmup = std::atoi(value.c_str());
    } else if (option == "--program") {
      program = value;
    } else if (option == "--yardstick") {
      yardstick = value;
    } else {
      return usage();
    }
  }
  if (pairs < 1 || warmup < 0) return usage();

  const char* platform = std::getenv("QT_QPA_PLATFORM");
  std::printf("platform: %s, %d pairs (after %d unmeasured)\n",
              platform != nullptr ? platform : "Qt's default", pairs, warmup);
  try {
    for (int i = 0; i < warmup; ++i) {
      runOnce(program);
      runOnce(yardstick);
    }
    Side measured;
    Side empty;
    std::vector<double> timeRatios;
    std::vector<double> peakRatios;
    for (int i = 0; i < pairs; ++i) {
      const Run a = runOnce(program);
      const Run b = runOnce(yardstick);
      measured.times.push_back(a.millisecondsToPaint);
      measured.peaks.push_back(a.peakMebibytes);
      empty.times.push_back(b.millisecondsToPaint);
      empty.peaks.push_back(b.peakMebibytes);
      timeRatios.push_back(a.millisecondsToPaint / b.millisecondsToPaint);
      peakRatios.push_back(a.peakMebibytes / b.peakMebibytes);
    }
    std::printf("%-18s %10s %8s %8s %14s\n", "", "paint (ms)", "min", "max", "peak RSS (MiB)");
    printSide(fs::path(program).filename().string(), measured);
    printSide(fs::path(yardstick).filename().string(), empty);
    std::printf("ratio (median of pairs): time %.2fx, peak RSS %.2fx\n", median(timeRatios),
                median(peakRatios));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "startup_bench: %s\n", error.what());
    return 1;
  }
  return 0;
}
