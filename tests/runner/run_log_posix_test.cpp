// Where the run log goes on POSIX: the variable, then the XDG state folder, then the home
// folder (from HOME, else the password file).
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include "environment.h"
#include "runner/run_log.h"

namespace bv::runner {
namespace {

TEST(LogFile, TheVariableWinsThenTheStateFolderThenHome) {
  const bvtest::ScopedEnvironment home("HOME", "/home/tester");
  {
    const bvtest::ScopedEnvironment log(kLogFileVariable, "/tmp/elsewhere/run.log");
    const bvtest::ScopedEnvironment state("XDG_STATE_HOME", "/var/state-of-tester");
    EXPECT_EQ(logFileFromEnvironment(), std::filesystem::path("/tmp/elsewhere/run.log"));
  }
  {
    const bvtest::ScopedEnvironment log(kLogFileVariable, "");
    const bvtest::ScopedEnvironment state("XDG_STATE_HOME", "/var/state-of-tester");
    EXPECT_EQ(logFileFromEnvironment(),
              std::filesystem::path("/var/state-of-tester/brackenvale/brackenrun.log"));
  }
  {
    const bvtest::ScopedEnvironment log(kLogFileVariable, nullptr);
    const bvtest::ScopedEnvironment state("XDG_STATE_HOME", nullptr);
    EXPECT_EQ(logFileFromEnvironment(),
              std::filesystem::path("/home/tester/.local/state/brackenvale/brackenrun.log"));
  }
  {
    // A relative XDG_STATE_HOME is ignored, as the XDG Base Directory rules say.
    const bvtest::ScopedEnvironment log(kLogFileVariable, nullptr);
    const bvtest::ScopedEnvironment state("XDG_STATE_HOME", "relative/state");
    EXPECT_EQ(logFileFromEnvironment(),
              std::filesystem::path("/home/tester/.local/state/brackenvale/brackenrun.log"));
  }
}

TEST(LogFile, WithoutHomeThePasswordFileNamesTheHomeFolder) {
  const bvtest::ScopedEnvironment log(kLogFileVariable, nullptr);
  const bvtest::ScopedEnvironment state("XDG_STATE_HOME", nullptr);
  const bvtest::ScopedEnvironment home("HOME", nullptr);
  if (::getpwuid(::getuid()) == nullptr) GTEST_SKIP() << "this user has no password file entry";
  const auto file = logFileFromEnvironment();
  ASSERT_TRUE(file.has_value());
  EXPECT_TRUE(file->is_absolute());
  EXPECT_EQ(file->filename(), "brackenrun.log");
  EXPECT_EQ(file->parent_path().parent_path().filename(), "state");
}

TEST(LogFile, TheLogAndItsFolderArePrivateToTheUser) {
  char pattern[] = "/tmp/bv-log-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::filesystem::path file = std::filesystem::path(pattern) / "state" / "brackenrun.log";
  ASSERT_EQ(appendLogLine(file, LogEntry{}), std::nullopt);
  using std::filesystem::perms;
  EXPECT_EQ(std::filesystem::status(file).permissions() & perms::all, perms::owner_read | perms::owner_write);
  EXPECT_EQ(std::filesystem::status(file.parent_path()).permissions() & perms::all, perms::owner_all);
  std::filesystem::remove_all(pattern);
}

}  // namespace
}  // namespace bv::runner
