// Brackenrun: started by a scheduled task with the task's parameter string; see runner.h.
#include <iostream>

#include "runner/platform.h"
#include "runner/run_log.h"
#include "runner/runner.h"

int main(int argc, char** argv) {
  bv::runner::platform::protectProcess();
  const auto words = bv::runner::platform::programArguments(argc, argv);
  return static_cast<int>(
      bv::runner::run(words, std::cin, std::cout, std::cerr, bv::runner::logFileFromEnvironment()));
}
