// A program for the tick's tests to start: it writes who and where it runs as, its arguments
// and its standard input into a report file, then sleeps and exits as told.
//   tick_probe REPORT EXIT-CODE SLEEP-MS [WORDS...]
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
  std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[3])));
  std::ofstream(std::string(argv[1]) + ".done") << "done\n";
  return std::atoi(argv[2]);
}
