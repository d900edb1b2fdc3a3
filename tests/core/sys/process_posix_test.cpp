// Running a helper program: input in, both outputs and the exit code out, nothing left behind.
#include "core/sys/process_posix.h"

#include <gtest/gtest.h>

namespace bv::sys {
namespace {

TEST(RunProgram, FeedsTheInputAndKeepsBothOutputsAndTheExitCode) {
  const std::string input(100000, 'x');  // more than a pipe holds at once
  const ProgramOutcome cat = runProgram("sh", {"-c", "wc -c; echo oops >&2; exit 3"}, input, 10000);
  EXPECT_TRUE(cat.started);
  EXPECT_EQ(cat.exitCode, 3);
  EXPECT_EQ(std::stol(cat.output), 100000);
  EXPECT_EQ(cat.errors, "oops\n");
}

TEST(RunProgram, AMissingProgramIsNotStarted) {
  const ProgramOutcome missing = runProgram("/nonexistent/bv-program", {}, {}, 1000);
  EXPECT_FALSE(missing.started);
  EXPECT_FALSE(missing.exitCode);
}

TEST(RunProgram, AChildThatOutlivesItsTimeIsKilled) {
  const ProgramOutcome slow = runProgram("sleep", {"30"}, {}, 200);
  EXPECT_TRUE(slow.started);
  EXPECT_FALSE(slow.exitCode);
}

}  // namespace
}  // namespace bv::sys
