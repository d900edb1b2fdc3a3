// The tick's entry in the user's crontab: the managed block through a fake crontab command that
// keeps the text (the round trip, other lines byte for byte), and one smoke test against the real
// crontab command of a throw-away user.
#include "core/tasks/crontab_posix.h"

#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>

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
    "# END brackenvale-tick\n";

TEST(TickEntry, GoesAtTheTopOnceAndLeavesEveryOtherLineByteForByte) {
  FakeCrontab crontab;
  const std::string user = "MAILTO=me@example.org\r\n# my jobs\n0 3 * * * /home/me/backup.sh  %  x\n\n";
  crontab.text = user;
  ASSERT_EQ(installTickEntry(crontab, kTick, kStore), kOk);
  EXPECT_EQ(crontab.text, kBlock + user);
  ASSERT_EQ(installTickEntry(crontab, kTick, kStore), kOk);
  EXPECT_EQ(crontab.installs, 1);  // nothing to change the second time
  ASSERT_EQ(removeTickEntry(crontab, kStore), kOk);
  EXPECT_EQ(crontab.text, user);
  EXPECT_EQ(crontab.installs, 2);
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
      "# END brackenvale-tick\n");
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
// removes (the machine may be reused; nobody else's crontab is touched).
TEST(SystemCrontab, TheRoundTripWorksAgainstTheRealCommand) {
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
  ASSERT_EQ(sys::runProgram("crontab", {"-u", user, "-"}, "0 3 * * * /bin/true\n", 30000).exitCode, 0);

  const passwd* entry = ::getpwnam(user.c_str());
  ASSERT_NE(entry, nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(entry->pw_gid) != 0 || ::setuid(entry->pw_uid) != 0) ::_exit(90);
    const auto crontab = systemCrontab();
    if (installTickEntry(*crontab, kTick, kStore) != kOk) ::_exit(1);
    std::string text, message;
    if (crontab->read(text, message) != kOk || text != kBlock + "0 3 * * * /bin/true\n") ::_exit(2);
    if (removeTickEntry(*crontab, kStore) != kOk) ::_exit(3);
    if (crontab->read(text, message) != kOk || text != "0 3 * * * /bin/true\n") ::_exit(4);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace bv::tasks
