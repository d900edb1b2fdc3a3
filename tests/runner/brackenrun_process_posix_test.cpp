// The real Brackenrun executable as a child process: its command-line forms, exit statuses,
// outputs and the log file it finds through the environment.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>

#include "closed_port.h"
#include "core/maintenance/command_builder.h"
#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"
#include "process_posix.h"
#include "runner_test_support.h"
#include "silent_listener.h"

namespace {

using brtest::ProcessResult;

class BrackenrunProcess : public ::testing::Test {
 protected:
  // A small, known environment: the log goes into the temporary folder unless a test says
  // otherwise. The ODBC settings of the parent are passed on.
  std::map<std::string, std::string> environment() const {
    std::map<std::string, std::string> env = {
        {"PATH", "/usr/bin:/bin"},
        {"HOME", (dir_.path() / "home").string()},
        {"BRACKENRUN_LOG", log_.string()},
    };
    for (const char* name : {"BRACKENVALE_ODBC_DRIVER", "ODBCSYSINI", "ODBCINSTINI", "ODBCINI"}) {
      if (const char* value = std::getenv(name)) env[name] = value;
    }
    return env;
  }

  ProcessResult brackenrun(const std::vector<std::string>& arguments) const {
    return brtest::runProcess(BRACKENRUN_PATH, arguments, environment());
  }

  static bv::maintenance::BackupRequest backup() {
    bv::maintenance::BackupRequest b;
    b.login.useSqlAuth = true;
    b.login.userName = "sa";
    b.login.password = "";
    b.login.server = "127.0.0.1," + std::to_string(bvtest::closedLoopbackPort());
    b.database = "在庫";
    b.backupFile = "/srv/backup/在庫 %date%.bak";
    b.verify = false;
    return b;
  }

  brtest::TempDir dir_;
  std::filesystem::path log_ = dir_.path() / "run.log";
};

TEST_F(BrackenrunProcess, HelpAndVersionSucceedOnStandardOutput) {
  const ProcessResult help = brackenrun({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("使い方: Brackenrun", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("終了ステータス"), std::string::npos);
  EXPECT_EQ(help.err, "");
  const ProcessResult version = brackenrun({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("Brackenrun ", 0), 0u);
  EXPECT_FALSE(std::filesystem::exists(log_));
}

TEST_F(BrackenrunProcess, TheParameterStringAndTheWordFormPrintTheSameBatch) {
  const bv::maintenance::BackupRequest b = backup();  // with an empty password: two blanks in a row
  const std::string parameters = bv::scheduling::encodeTaskParameters(b);
  ASSERT_NE(parameters.find("  "), std::string::npos);

  const ProcessResult fromString = brackenrun({"--print", parameters});
  std::vector<std::string> words = {"--print"};
  for (const auto& word : bv::tasks::splitTaskParameters(parameters)) words.push_back(word);
  ASSERT_EQ(words.size(), 8u);
  const ProcessResult fromWords = brackenrun(words);

  EXPECT_EQ(fromString.status, 0) << fromString.err;
  EXPECT_EQ(fromWords.status, 0) << fromWords.err;
  EXPECT_EQ(fromString.out, bv::maintenance::buildBackupCommand(b.database, b.backupFile, false) + "\n");
  EXPECT_EQ(fromWords.out, fromString.out);
  EXPECT_EQ(fromWords.err, fromString.err);
}

TEST_F(BrackenrunProcess, TheStandardInputFormPrintsTheSameBatchAsTheArgumentForm) {
  const bv::maintenance::BackupRequest b = backup();
  const std::string parameters = bv::scheduling::encodeTaskParameters(b);
  const ProcessResult fromInput =
      brtest::runProcess(BRACKENRUN_PATH, {"--print", "-"}, environment(), parameters + "\r\n");
  EXPECT_EQ(fromInput.status, 0) << fromInput.err;
  EXPECT_EQ(fromInput.out, brackenrun({"--print", parameters}).out);
  const ProcessResult empty = brtest::runProcess(BRACKENRUN_PATH, {"-"}, environment(), "");
  EXPECT_EQ(empty.status, 2);
  EXPECT_NE(empty.err.find("標準入力"), std::string::npos) << empty.err;
}

TEST_F(BrackenrunProcess, BadArgumentsExitWithTwoAndAreLogged) {
  const ProcessResult result = brackenrun({"2 6137 "});
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("引数の数が正しくありません"), std::string::npos) << result.err;
  const auto logged = brtest::lines(brtest::readFile(log_));
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("\tstatus=2\toutcome=bad-arguments\t"), std::string::npos);
}

TEST_F(BrackenrunProcess, WithoutTheVariableTheLogGoesToTheUsersStateFolder) {
  auto env = environment();
  env.erase("BRACKENRUN_LOG");
  EXPECT_EQ(brtest::runProcess(BRACKENRUN_PATH, {"1"}, env).status, 2);
  const auto underHome = dir_.path() / "home" / ".local" / "state" / "brackenvale" / "brackenrun.log";
  EXPECT_EQ(brtest::lines(brtest::readFile(underHome)).size(), 1u);

  env["XDG_STATE_HOME"] = (dir_.path() / "xdg").string();
  EXPECT_EQ(brtest::runProcess(BRACKENRUN_PATH, {"1"}, env).status, 2);
  EXPECT_EQ(brtest::lines(brtest::readFile(dir_.path() / "xdg" / "brackenvale" / "brackenrun.log")).size(),
            1u);
  EXPECT_EQ(brtest::lines(brtest::readFile(underHome)).size(), 1u);
}

// While a run waits for its server, what other users of the computer can read of it: no part of
// the parameter string in its command line, and no core dump of it ever.
TEST_F(BrackenrunProcess, AWaitingRunShowsNoParametersAndDumpsNoCore) {
  const bvtest::SilentListener silent;  // accepts and never answers: the login waits
  bv::maintenance::BackupRequest b = backup();
  b.login.useSqlAuth = true;
  b.login.userName = "sa";
  b.login.password = "Visible-if-not-wiped";
  b.login.server = silent.serverText();
  const std::string parameters = bv::scheduling::encodeTaskParameters(b);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int devNull = ::open("/dev/null", O_RDWR);
    ::dup2(devNull, 1);
    ::dup2(devNull, 2);
    ::setenv("BRACKENRUN_LOG", (dir_.path() / "waiting.log").c_str(), 1);
    ::execl(BRACKENRUN_PATH, BRACKENRUN_PATH, parameters.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto read = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  };
  const std::string proc = "/proc/" + std::to_string(child);
  bool wiped = false;
  for (int attempt = 0; attempt < 200 && !wiped; ++attempt) {
    wiped = silent.anybodyConnected() &&
            read(proc + "/cmdline").find(bv::tasks::EncodeTaskArgument("Visible-if-not-wiped")) ==
                std::string::npos;
    if (!wiped) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const std::string commandLine = read(proc + "/cmdline");
  const std::string limits = read(proc + "/limits");
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(wiped);
  for (const std::string& argument : bv::tasks::splitTaskParameters(parameters)) {
    if (argument.size() > 2) {
      EXPECT_EQ(commandLine.find(argument), std::string::npos) << argument;
    }
  }
  EXPECT_NE(limits.find("Max core file size        0                    0"), std::string::npos) << limits;
}

}  // namespace
