// The tick's entry in the user's crontab: the managed block through a fake crontab command that
// keeps the text (the round trip, other lines byte for byte), and one smoke test against the real
// crontab command of a throw-away user.
#include "core/tasks/crontab_posix.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "core/sys/process_posix.h"

namespace bv::tasks {
namespace {

// A crontab command that keeps the crontab in memory and counts the installs.
class FakeCrontab final : public CrontabCommand {
 public:
  HResult read(std::string& out, std::string&) override {
    if (missing) return kSchedServiceNotInstalled;
    out = text;
    return kOk;
  }
  HResult install(const std::string& in, std::string&) override {
    ++installs;
    text = in;
    return kOk;
  }
  std::string text;
  int installs = 0;
  bool missing = false;
};

const std::filesystem::path kTick = "/usr/lib/brackenvale/brackenvale-tick";
const std::filesystem::path kStore = "/home/me/.local/share/brackenvale/tasks";

const std::string kBlock =
    "# BEGIN brackenvale-tick (managed by Brackenvale; do not edit)\n"
    "* * * * * '/usr/lib/brackenvale/brackenvale-tick' --store '/home/me/.local/share/brackenvale/tasks' "
    "--quiet >/dev/null 2>&1\n"
    "@reboot '/usr/lib/brackenvale/brackenvale-tick' --store '/home/me/.local/share/brackenvale/tasks' "
    "--event startup --quiet >/dev/null 2>&1\n"
    "# END brackenvale-tick\n";

// The logon entry goes into a configuration folder of the test's own, never the user's.
class TickEntryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/bv-config-XXXXXX";
    folder_ = ::mkdtemp(pattern);
    ::setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

 private:
  std::filesystem::path folder_;
};
const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new TickEntryEnvironment);

std::string fileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(TickEntry, GoesAtTheTopOnceAndLeavesEveryOtherLineByteForByte) {
  FakeCrontab crontab;
  const std::string user = "MAILTO=me@example.org\r\n# my jobs\n0 3 * * * /home/me/backup.sh  %  x\n\n";
  crontab.text = user;
  ASSERT_EQ(installTickEntry(crontab, kTick, kStore), kOk);
  EXPECT_EQ(crontab.text, kBlock + user);
  ASSERT_EQ(installTickEntry(crontab, kTick, kStore), kOk);
  EXPECT_EQ(crontab.installs, 1);  // nothing to change the second time
  EXPECT_EQ(fileText(logonEntryFile()), logonEntry(kTick, kStore));
  ASSERT_EQ(removeTickEntry(crontab, kStore), kOk);
  EXPECT_EQ(crontab.text, user);
  EXPECT_EQ(crontab.installs, 2);
  EXPECT_FALSE(std::filesystem::exists(logonEntryFile()));
}

TEST(TickEntry, TheLogonEntryQuotesItsPathsForTheDesktopAndStaysForAnotherStore) {
  EXPECT_EQ(logonEntry("/opt/a \"b\" $c\\d 100%/brackenvale-tick", "/s"),
            "[Desktop Entry]\nType=Application\nName=Brackenvale タスク（ログオン時）\n"
            "Comment=ログオン時に実行するよう登録したタスクを開始します\n"
            "Exec=\"/opt/a \\\\\"b\\\\\" \\\\$c\\\\\\\\d 100%%/brackenvale-tick\" --store \"/s\" --event logon --quiet\n"
            "NoDisplay=true\nTerminal=false\nX-GNOME-Autostart-enabled=true\n");
  ASSERT_EQ(writeLogonEntry(kTick, kStore), kOk);
  removeLogonEntry("/another/store");
  EXPECT_TRUE(std::filesystem::exists(logonEntryFile()));
  removeLogonEntry(kStore);
  EXPECT_FALSE(std::filesystem::exists(logonEntryFile()));
}

TEST(TickEntry, OnlyTheBlockForThisStoreIsTakenOut) {
  FakeCrontab crontab;
  ASSERT_EQ(installTickEntry(crontab, kTick, kStore), kOk);
  const std::string installed = crontab.text;
  ASSERT_EQ(removeTickEntry(crontab, "/another/store"), kOk);
  EXPECT_EQ(crontab.text, installed);
  ASSERT_EQ(removeTickEntry(crontab, kStore), kOk);
  EXPECT_EQ(crontab.text, "");
}

TEST(TickEntry, AnEmptyCrontabGetsTheBlockAndALastLineGetsItsLineFeed) {
  FakeCrontab crontab;
  ASSERT_EQ(installTickEntry(crontab, kTick, kStore), kOk);
  EXPECT_EQ(crontab.text, kBlock);
  EXPECT_EQ(*withTickBlock("@reboot /x", kTick, kStore), kBlock + "@reboot /x\n");
  EXPECT_EQ(*withoutTickBlock(kBlock), "");
}

TEST(TickEntry, AnOldBlockAnywhereIsReplacedByOneAtTheTop) {
  const std::string text = "A=1\n" + kBlock + "B=2\n";
  EXPECT_EQ(*withTickBlock(text, "/opt/bv/brackenvale-tick", "/s"),
            "# BEGIN brackenvale-tick (managed by Brackenvale; do not edit)\n"
            "* * * * * '/opt/bv/brackenvale-tick' --store '/s' --quiet >/dev/null 2>&1\n"
            "@reboot '/opt/bv/brackenvale-tick' --store '/s' --event startup --quiet >/dev/null 2>&1\n"
            "# END brackenvale-tick\nA=1\nB=2\n");
}

TEST(TickEntry, ABeginWithoutItsEndIsRefusedAndNothingIsInstalled) {
  FakeCrontab crontab;
  crontab.text =
      "# BEGIN brackenvale-tick (managed by Brackenvale; do not edit)\n"
      "* * * * * '/x/brackenvale-tick' --store '/home/me/.local/share/brackenvale/tasks' --quiet\n"
      "0 3 * * * /mine\n";
  EXPECT_EQ(installTickEntry(crontab, kTick, kStore), kUnspecifiedFailure);
  EXPECT_EQ(removeTickEntry(crontab, kStore), kUnspecifiedFailure);
  EXPECT_EQ(crontab.installs, 0);
}

TEST(TickEntry, NoCrontabCommandIsTheServiceNotInstalled) {
  FakeCrontab crontab;
  crontab.missing = true;
  EXPECT_EQ(installTickEntry(crontab, kTick, kStore), kSchedServiceNotInstalled);
}

TEST(TickBlock, QuotesThePathForTheShellAndEscapesPercentForCron) {
  EXPECT_EQ(
      tickBlock("/opt/it's 100%/brackenvale-tick", "/home/a b/%s"),
      "# BEGIN brackenvale-tick (managed by Brackenvale; do not edit)\n"
      "* * * * * '/opt/it'\\''s 100\\%/brackenvale-tick' --store '/home/a b/\\%s' --quiet >/dev/null 2>&1\n"
      "@reboot '/opt/it'\\''s 100\\%/brackenvale-tick' --store '/home/a b/\\%s' --event startup --quiet "
      ">/dev/null 2>&1\n"
      "# END brackenvale-tick\n");
}

// --- What the lines run ------------------------------------------------------------------------

// A crontab line's command as cron hands it to the shell, by crontab(5)'s "%" rule: a "%" not
// escaped by a backslash ends the command (the rest becomes its input), and "\%" stands for "%"
// (Debian's cron keeps a backslash before any other character).
std::string cronCommand(std::string_view line) {
  std::string command;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      if (line[i + 1] != '%') command.push_back('\\');
      command.push_back(line[++i]);
    } else if (line[i] == '%') {
      break;
    } else {
      command.push_back(line[i]);
    }
  }
  return command;
}

// The words of a desktop entry's Exec value: the key file's escapes (\s \n \t \r \\) first, then
// the Exec rules (double-quoted arguments with \" \` \$ \\ escaped, "%%" for "%").
std::vector<std::string> desktopExecWords(std::string_view value) {
  std::string unescaped;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      unescaped.push_back(value[i]);
      continue;
    }
    const char next = value[++i];
    unescaped.push_back(next == 's' ? ' ' : next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next);
  }
  std::vector<std::string> words;
  std::string word;
  bool quoted = false, inWord = false;
  for (std::size_t i = 0; i < unescaped.size(); ++i) {
    const char c = unescaped[i];
    if (quoted && c == '\\' && i + 1 < unescaped.size()) {
      word.push_back(unescaped[++i]);
    } else if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (c == '%' && i + 1 < unescaped.size() && unescaped[i + 1] == '%') {
      word.push_back(unescaped[++i]);
    } else if (c == ' ' && !quoted) {
      if (inWord) words.push_back(word);
      word.clear();
      inWord = false;
    } else {
      word.push_back(c);
      inWord = true;
    }
  }
  if (inWord) words.push_back(word);
  return words;
}

std::string lineStarting(const std::string& text, std::string_view start) {
  const std::size_t at = text.find("\n" + std::string(start));
  return at == std::string::npos ? "" : text.substr(at + 1 + start.size(), text.find('\n', at + 1) - at - 1 - start.size());
}

// The words a fake tick program was started with, one per line of its record.
std::vector<std::string> wordsRecorded(const std::filesystem::path& file) {
  std::vector<std::string> words;
  const std::string text = fileText(file);
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\0', start);
    words.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return words;
}

struct EntryPaths {
  std::string label;
  std::string programFolder;  // under a scratch folder
  std::string storeFolder;
};

class TickEntryPaths : public ::testing::TestWithParam<EntryPaths> {};

// A path the crontab line and the autostart entry hold runs the tick with exactly that program
// and store: the minute's line through crontab(5)'s "%" rule and /bin/sh -c, the Exec line by the
// Desktop Entry rules.
TEST_P(TickEntryPaths, BothEntriesStartTheTickWithThePathsAsGiven) {
  char pattern[] = "/tmp/bv-cron-XXXXXX";
  const std::filesystem::path scratch = ::mkdtemp(pattern);
  const std::filesystem::path program = scratch / GetParam().programFolder / "brackenvale-tick";
  const std::filesystem::path store = scratch / GetParam().storeFolder;
  const std::filesystem::path record = scratch / "words";
  std::filesystem::create_directories(program.parent_path());
  std::ofstream(program) << "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > '" << record.string() << "'\n";
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);

  FakeCrontab crontab;
  ASSERT_EQ(installTickEntry(crontab, program, store), kOk);
  const std::string minuteLine = lineStarting("\n" + crontab.text, "* * * * * ");
  ASSERT_EQ(sys::runProgram("/bin/sh", {"-c", cronCommand(minuteLine)}, {}, 10000).exitCode, 0) << minuteLine;
  EXPECT_EQ(wordsRecorded(record), (std::vector<std::string>{program.string(), "--store", store.string(), "--quiet"}));

  const std::string exec = lineStarting(fileText(logonEntryFile()), "Exec=");
  EXPECT_EQ(desktopExecWords(exec), (std::vector<std::string>{program.string(), "--store", store.string(), "--event",
                                                               "logon", "--quiet"}))
      << exec;
  ASSERT_EQ(removeTickEntry(crontab, store), kOk);
  EXPECT_EQ(crontab.text, "");
  std::filesystem::remove_all(scratch);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TickEntryPaths,
    ::testing::Values(EntryPaths{"Blanks", "opt/a b", "home/a b/tasks"},
                      EntryPaths{"Quotes", "opt/it's \"q\"", "home/'s'/\"t\""},
                      EntryPaths{"Percent", "opt/100%", "home/%s %% x%"},
                      EntryPaths{"ShellSigns", "opt/$HOME `id` ;&|<>*", "home/$(id)"},
                      EntryPaths{"BackslashNotBeforePercent", "opt/a\\b\\", "home/c\\ %d"},
                      EntryPaths{"NonAscii", "opt/山田 太郎", "home/タスク（一覧）"}),
    [](const ::testing::TestParamInfo<EntryPaths>& paths) { return paths.param.label; });

// A path the lines cannot hold is refused before anything is written: a line feed would start a
// crontab line (and an autostart key) of its own, and a backslash just before a "%" leaves that
// "%" bare, where cron cuts the command.
TEST(TickEntry, APathTheLinesCannotHoldIsRefusedBeforeAnythingIsWritten) {
  const std::vector<std::pair<std::filesystem::path, std::filesystem::path>> refused{
      {"/opt/bv\n* * * * * touch /tmp/bv-injected\n/brackenvale-tick", kStore},
      {kTick, "/home/me/tasks\n* * * * * touch /tmp/bv-injected"},
      {kTick, "/home/me/100\\%"},
      {"/opt/a\\%b/brackenvale-tick", kStore},
      {kTick, "/home/me/\rtasks"},
  };
  for (const auto& [program, store] : refused) {
    FakeCrontab crontab;
    crontab.text = "0 3 * * * /mine\n";
    EXPECT_EQ(installTickEntry(crontab, program, store), kCrontabPathRefused) << store;
    EXPECT_EQ(crontab.installs, 0);
    EXPECT_FALSE(std::filesystem::exists(logonEntryFile()));
  }
}

TEST(CronProbe, TheOverrideAnswersWhileItLives) {
  {
    const CronProbeOverride running([] { return true; });
    EXPECT_TRUE(cronDaemonRunning());
  }
  {
    const CronProbeOverride stopped([] { return false; });
    EXPECT_FALSE(cronDaemonRunning());
  }
}

// The real crontab command, as a uniquely named throw-away user that the test creates and
// removes (the machine may be reused; nobody else's crontab is touched): a short crontab, and one
// of 2,004 lines (117 KB) that must come back whole, and a read limit below its size that must
// change nothing.
struct RealCrontab {
  const char* name;
  std::size_t lines;
  std::size_t readLimit;  // 0: the default
};

class SystemCrontab : public ::testing::TestWithParam<RealCrontab> {};

TEST_P(SystemCrontab, TheRoundTripKeepsEveryOtherLine) {
  if (::geteuid() != 0) GTEST_SKIP() << "creating a throw-away user needs root";
  const std::string user = "bvcron" + std::to_string(::getpid());
  ASSERT_EQ(sys::runProgram("useradd", {"--no-create-home", "--shell", "/bin/sh", user}, {}, 30000).exitCode,
            0);
  struct Removal {
    std::string user;
    ~Removal() {
      sys::runProgram("crontab", {"-u", user, "-r"}, {}, 30000);
      sys::runProgram("userdel", {user}, {}, 30000);
    }
  } removal{user};
  std::string mine;
  for (std::size_t line = 0; line < GetParam().lines; ++line) {
    mine += std::to_string(line % 60) + " 3 * * * /home/" + user + "/jobs/nightly-job-number-" +
            std::to_string(line) + ".sh --with-arguments >/dev/null\n";
  }
  ASSERT_EQ(sys::runProgram("crontab", {"-u", user, "-"}, mine, 30000).exitCode, 0);

  const passwd* entry = ::getpwnam(user.c_str());
  ASSERT_NE(entry, nullptr);
  const std::filesystem::path config = std::filesystem::temp_directory_path() / (user + "-config");
  std::filesystem::create_directories(config);
  ASSERT_EQ(::chown(config.c_str(), entry->pw_uid, entry->pw_gid), 0);
  struct ConfigRemoval {
    std::filesystem::path folder;
    ~ConfigRemoval() { std::filesystem::remove_all(folder); }
  } configRemoval{config};
  const std::size_t limit = GetParam().readLimit;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(entry->pw_gid) != 0 || ::setuid(entry->pw_uid) != 0) ::_exit(90);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    const auto crontab = systemCrontab(limit);
    std::string text, message;
    if (limit != 0) {
      // Cut at the limit: refused, nothing installed over it.
      if (installTickEntry(*crontab, kTick, kStore) != kCrontabTooLarge) ::_exit(10);
      ::_exit(0);
    }
    if (installTickEntry(*crontab, kTick, kStore) != kOk) ::_exit(1);
    if (crontab->read(text, message) != kOk || text != kBlock + mine) ::_exit(2);
    if (removeTickEntry(*crontab, kStore) != kOk) ::_exit(3);
    if (crontab->read(text, message) != kOk || text != mine) ::_exit(4);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  const sys::ProgramOutcome left = sys::runProgram("crontab", {"-u", user, "-l"}, {}, 30000, 1 << 24);
  EXPECT_TRUE(left.output == mine) << left.output.size() << " bytes left of " << mine.size();
}

INSTANTIATE_TEST_SUITE_P(Sizes, SystemCrontab,
                         ::testing::Values(RealCrontab{"OneLine", 1, 0}, RealCrontab{"LargerThan64KiB", 2004, 0},
                                           RealCrontab{"CutAtItsReadLimit", 2004, 65536}),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace bv::tasks
