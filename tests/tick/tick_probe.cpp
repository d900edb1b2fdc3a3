// A program for the tick's tests to start: it writes who and where it runs as, its arguments
// and its standard input into a report file, then sleeps and exits as told.
//   tick_probe REPORT EXIT-CODE SLEEP-MS [WORDS...]
// SLEEP-MS may be "fifo:PATH": the probe then waits until the test closes the named pipe, so a
// run lasts exactly as long as the test wants. Each run appends a line to REPORT.runs.
#include <grp.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 4) return 99;
  const std::string input{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
  {
    std::ofstream report(argv[1]);
    report << "uid=" << ::getuid() << "\ngid=" << ::getgid() << "\ngroups=";
    std::vector<gid_t> groups(static_cast<std::size_t>(::getgroups(0, nullptr)));
    ::getgroups(static_cast<int>(groups.size()), groups.data());
    for (gid_t group : groups) report << group << ',';
    char cwd[4096] = {};
    report << "\ncwd=" << (::getcwd(cwd, sizeof cwd) != nullptr ? cwd : "?");
    report << "\nsession=" << (::getsid(0) == ::getpid() ? "own" : "inherited");
    report << "\nhome=" << (std::getenv("HOME") ? std::getenv("HOME") : "");
    report << "\nargs=";
    for (int i = 4; i < argc; ++i) report << '[' << argv[i] << ']';
    report << "\nstdin=[" << input << "]\n";
  }
  std::ofstream(std::string(argv[1]) + ".runs", std::ios::app) << "run\n";
  const std::string sleep = argv[3];
  if (sleep.rfind("fifo:", 0) == 0) {
    std::ifstream pipe(sleep.substr(5));
    const std::string rest{std::istreambuf_iterator<char>(pipe), std::istreambuf_iterator<char>()};
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[3])));
  }
  std::ofstream(std::string(argv[1]) + ".done") << "done\n";
  return std::atoi(argv[2]);
}
