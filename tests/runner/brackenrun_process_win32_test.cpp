// The real Brackenrun.exe as a child process on Windows. A scheduled task starts it with a raw
// command line: the program, then the task's parameter string exactly as stored, two blanks in
// a row standing for an empty argument. The runner reads that line (GetCommandLineW), not the
// C runtime's argument list, which would merge the blanks.
#include <gtest/gtest.h>

#include "child_process_win32.h"
#include "closed_port.h"
#include "core/maintenance/command_builder.h"
#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"
#include "environment.h"
#include "runner_test_support.h"

namespace {

using bvtest::ChildResult;

class BrackenrunProcess : public ::testing::Test {
 protected:
  // The runner's outputs with the C runtime's CR LF line ends made line feeds.
  ChildResult run(const std::filesystem::path& program, const std::string& commandLine) const {
    ChildResult result = bvtest::runCommandLine(program, commandLine);
    result.out = bvtest::lineFeeds(result.out);
    result.err = bvtest::lineFeeds(result.err);
    return result;
  }
  ChildResult brackenrun(const std::string& arguments) const {
    return run(program_, bvtest::quotedCommandLine(program_, arguments));
  }
  // The lines of finished runs; each run that connected also wrote a start line before them.
  std::vector<std::string> logLines() const {
    std::vector<std::string> finished;
    for (auto& line : brtest::lines(brtest::readFile(log_))) {
      if (line.find("\tstatus=-\toutcome=started\t") == std::string::npos)
        finished.push_back(std::move(line));
    }
    return finished;
  }

  // A task with an empty password: its parameter string holds two blanks in a row.
  static bv::maintenance::BackupRequest backup() {
    bv::maintenance::BackupRequest b;
    b.login.useSqlAuth = true;
    b.login.userName = "sa";
    b.login.password = "";
    b.login.server = "127.0.0.1," + std::to_string(bvtest::closedLoopbackPort());
    b.database = "在庫";
    b.backupFile = "D:\\backup\\在庫 %date%.bak";
    b.verify = false;
    return b;
  }

  brtest::TempDir dir_;
  std::filesystem::path log_ = dir_.path() / "run.log";
  bvtest::ScopedEnvironment logVariable_{"BRACKENRUN_LOG", bvtest::utf8(log_).c_str()};
  std::filesystem::path program_ = bvtest::besideThisProgram(L"Brackenrun.exe");
};

TEST_F(BrackenrunProcess, HelpAndVersionSucceedOnStandardOutput) {
  const ChildResult help = brackenrun("--help");
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_EQ(help.out.rfind("使い方: Brackenrun", 0), 0u) << help.out;
  EXPECT_NE(help.out.find("終了ステータス"), std::string::npos);
  EXPECT_EQ(help.err, "");
  const ChildResult version = brackenrun("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("Brackenrun ", 0), 0u) << version.out;
  EXPECT_FALSE(std::filesystem::exists(log_));
}

TEST_F(BrackenrunProcess, TheRawCommandLineKeepsTheEmptyArgumentOfTheParameterString) {
  const bv::maintenance::BackupRequest b = backup();
  const std::string parameters = bv::scheduling::encodeTaskParameters(b);
  ASSERT_NE(parameters.find("  "), std::string::npos);
  const ChildResult result = brackenrun("--print " + parameters);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.out, bv::maintenance::buildBackupCommand(b.database, b.backupFile, false) + "\n");
}

TEST_F(BrackenrunProcess, TheStoredStringAloneRunsTheTaskWithItsEmptyPassword) {
  // What the Task Scheduler starts: the parameter string, final blank included, and no option.
  const bv::maintenance::BackupRequest b = backup();
  const ChildResult result = brackenrun(bv::scheduling::encodeTaskParameters(b));
  // All seven arguments were read: the run got as far as connecting.
  EXPECT_EQ(result.status, 3) << result.err;
  EXPECT_EQ(result.err.rfind("サーバにログインできませんでした。\n\n", 0), 0u) << result.err;
  const auto logged = logLines();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("\tstatus=3\toutcome=connect-failed\tserver=" + b.login.server +
                           "\tdatabase=在庫\tfile=" + b.backupFile + "\tlogin=sql:sa\tverify=0\t"),
            std::string::npos)
      << logged[0];
}

TEST_F(BrackenrunProcess, TheProgramsNameIsSkippedQuotedWithBlanksOrUnquoted) {
  const std::filesystem::path folder = dir_.path() / "with blanks";
  std::filesystem::create_directories(folder);
  const std::filesystem::path copy = folder / "Brackenrun.exe";
  std::filesystem::copy_file(program_, copy);
  const bv::maintenance::BackupRequest b = backup();
  const std::string expected = bv::maintenance::buildBackupCommand(b.database, b.backupFile, false) + "\n";
  const std::string parameters = bv::scheduling::encodeTaskParameters(b);

  const ChildResult quoted = run(copy, bvtest::quotedCommandLine(copy, "--print " + parameters));
  EXPECT_EQ(quoted.status, 0) << quoted.err;
  EXPECT_EQ(quoted.out, expected);

  ASSERT_EQ(bvtest::utf8(program_).find(' '), std::string::npos) << bvtest::utf8(program_);
  const ChildResult unquoted = run(program_, bvtest::utf8(program_) + " --print " + parameters);
  EXPECT_EQ(unquoted.status, 0) << unquoted.err;
  EXPECT_EQ(unquoted.out, expected);
}

TEST_F(BrackenrunProcess, BadArgumentsExitWithTwoAndAreLogged) {
  const ChildResult result = brackenrun("2 6137 ");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("引数の数が正しくありません"), std::string::npos) << result.err;
  const auto logged = logLines();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("\tstatus=2\toutcome=bad-arguments\t"), std::string::npos);
}

TEST_F(BrackenrunProcess, WithoutTheVariableTheLogGoesToTheLocalApplicationDataFolder) {
  const bvtest::ScopedEnvironment noLog("BRACKENRUN_LOG", nullptr);
  const bvtest::ScopedEnvironment local("LOCALAPPDATA", bvtest::utf8(dir_.path() / "local").c_str());
  EXPECT_EQ(brackenrun("1").status, 2);
  EXPECT_EQ(brtest::lines(brtest::readFile(dir_.path() / "local" / "Brackenvale" / "brackenrun.log")).size(),
            1u);
  EXPECT_FALSE(std::filesystem::exists(log_));
}

// The standard-input form works on Windows too: the same batch as the argument forms.
TEST_F(BrackenrunProcess, TheStandardInputFormReadsTheParameterString) {
  const std::string parameters = bv::scheduling::encodeTaskParameters(backup());
  const ChildResult fromArguments = brackenrun("--print " + parameters);
  ChildResult fromInput =
      bvtest::runCommandLine(program_, bvtest::quotedCommandLine(program_, "--print -"), parameters + "\r\n");
  fromInput.out = bvtest::lineFeeds(fromInput.out);
  EXPECT_EQ(fromInput.status, 0) << fromInput.err;
  EXPECT_EQ(fromInput.out, fromArguments.out);
  EXPECT_EQ(bvtest::runCommandLine(program_, bvtest::quotedCommandLine(program_, "-")).status, 2);
}

}  // namespace
