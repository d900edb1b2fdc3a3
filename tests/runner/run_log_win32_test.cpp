// Where the run log goes on Windows: the variable, then %LOCALAPPDATA%\Brackenvale.
#include <gtest/gtest.h>

#include "environment.h"
#include "runner/run_log.h"

namespace bv::runner {
namespace {

TEST(LogFile, TheVariableWinsThenTheLocalApplicationDataFolder) {
  const bvtest::ScopedEnvironment local("LOCALAPPDATA", "C:\\Users\\tester\\AppData\\Local");
  {
    const bvtest::ScopedEnvironment log(kLogFileVariable, "D:\\logs\\run.log");
    EXPECT_EQ(logFileFromEnvironment(), std::filesystem::path("D:\\logs\\run.log"));
  }
  const bvtest::ScopedEnvironment log(kLogFileVariable, nullptr);
  EXPECT_EQ(logFileFromEnvironment(),
            std::filesystem::path("C:\\Users\\tester\\AppData\\Local\\Brackenvale\\brackenrun.log"));
}

TEST(LogFile, WithoutTheLocalApplicationDataFolderThereIsNone) {
  const bvtest::ScopedEnvironment log(kLogFileVariable, nullptr);
  const bvtest::ScopedEnvironment local("LOCALAPPDATA", nullptr);
  EXPECT_EQ(logFileFromEnvironment(), std::nullopt);
}

}  // namespace
}  // namespace bv::runner
