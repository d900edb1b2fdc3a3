// Where the run log goes on POSIX: the variable, then the XDG state folder, then the home
// folder (from HOME, else the password file).
#include <gtest/gtest.h>

#include <fstream>

#include <pwd.h>
#include <sys/stat.h>
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

// Only a folder the runner makes is made private; a shared folder (a 1777 one, or the user's
// home) keeps its mode, and a link planted where the log goes is not written through.
TEST(LogFile, ExistingFoldersKeepTheirModesAndALinkIsNotFollowed) {
  char pattern[] = "/tmp/bv-log-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::filesystem::path shared(pattern);
  ASSERT_EQ(::chmod(pattern, 01777), 0);
  ASSERT_EQ(appendLogLine(shared / "brackenrun.log", LogEntry{}), std::nullopt);
  ASSERT_EQ(appendLogLine(shared / "made" / "deeper" / "brackenrun.log", LogEntry{}), std::nullopt);
  struct stat info {};
  ASSERT_EQ(::stat(pattern, &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 01777u);
  ASSERT_EQ(::stat((shared / "made").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat((shared / "brackenrun.log").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0600u);

  std::ofstream(shared / "victim") << "kept\n";
  ::chmod((shared / "victim").c_str(), 0644);
  std::filesystem::create_symlink(shared / "victim", shared / "planted.log");
  EXPECT_TRUE(appendLogLine(shared / "planted.log", LogEntry{}).has_value());
  ASSERT_EQ(::stat((shared / "victim").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  std::ifstream victim(shared / "victim");
  std::string text;
  std::getline(victim, text);
  EXPECT_EQ(text, "kept");
  std::filesystem::remove_all(shared);
}

}  // namespace
}  // namespace bv::runner
