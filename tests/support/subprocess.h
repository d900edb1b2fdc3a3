// Runs a program with the given standard input and collects its output (no shell involved).
#pragma once

#include <string>
#include <vector>

namespace bvtest {

struct ProcessResult {
  int exitCode = -1;   // -1 when it did not exit normally
  std::string output;  // standard output and standard error together
};

// argv[0] is the program (looked up in PATH when it has no slash).
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input);

}  // namespace bvtest
