// Brackenrun run in-process: what it prints, the status it returns and the line it logs.
#include "runner/runner.h"

#include <gtest/gtest.h>

#include <sstream>

#include "closed_port.h"
#include "core/maintenance/command_builder.h"
#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"
#include "runner/run_log.h"
#include "runner_test_support.h"

namespace bv::runner {
namespace {

constexpr const char* kPassword = "Zq;'9secret";

struct Result {
  ExitStatus status;
  std::string out;
  std::string err;
  std::string log;
};

class RunnerTest : public ::testing::Test {
 protected:
  Result runWith(const std::vector<std::string>& words, const std::string& input = {}) {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const ExitStatus status = run(words, in, out, err, logFile_);
    return {status, out.str(), err.str(), brtest::readFile(logFile_)};
  }

  static bv::maintenance::BackupRequest backupOn(const std::string& server) {
    bv::maintenance::BackupRequest backup;
    backup.login.useSqlAuth = true;
    backup.login.userName = "sa";
    backup.login.password = kPassword;
    backup.login.server = server;
    backup.database = "売上";
    backup.backupFile = "/tmp/売上_%date%.bak";
    backup.verify = true;
    return backup;
  }

  static void expectNoPassword(const Result& result) {
    for (const std::string* text : {&result.out, &result.err, &result.log}) {
      EXPECT_EQ(text->find("secret"), std::string::npos) << *text;
      EXPECT_EQ(text->find(tasks::EncodeTaskArgument(kPassword)), std::string::npos) << *text;
    }
  }

  brtest::TempDir dir_;
  std::filesystem::path logFile_ = dir_.path() / "state" / "brackenrun.log";
};

TEST_F(RunnerTest, PrintShowsTheBatchWithoutConnecting) {
  const brtest::SilentListener server;
  bv::maintenance::BackupRequest backup = backupOn(server.serverText());
  for (bool verify : {true, false}) {
    backup.verify = verify;
    const Result result = runWith({"--print", bv::scheduling::encodeTaskParameters(backup)});
    EXPECT_EQ(result.status, ExitStatus::Success);
    EXPECT_EQ(result.out, maintenance::buildBackupCommand("売上", "/tmp/売上_%date%.bak", verify) + "\n");
    EXPECT_EQ(result.err, "");
  }
  EXPECT_FALSE(server.anybodyConnected());
  // --print is no run: nothing logged.
  EXPECT_FALSE(std::filesystem::exists(logFile_));
}

TEST_F(RunnerTest, MalformedInputIsRefusedWithoutAConnectionAttempt) {
  const brtest::SilentListener server;
  const std::string good = bv::scheduling::encodeTaskParameters(backupOn(server.serverText()));
  const std::vector<std::string> goodWords = tasks::splitTaskParameters(good);
  const auto replaced = [&](std::size_t index, std::string value) {
    std::vector<std::string> changed = goodWords;
    changed[index] = std::move(value);
    return changed;
  };
  const std::vector<std::vector<std::string>> cases = {
      {"2", "61"},             // a wrong count
      replaced(0, "9"),        // an unknown authentication code
      replaced(2, "ABC"),      // odd-length text
      replaced(5, "XYZ1"),     // not hexadecimal
      replaced(4, "08"),       // 0x80: no byte of code page 932
      replaced(6, "yes"),      // a verify flag other than 1 / 0
      {"--frobnicate", good},  // an unknown option
      {},                      // nothing at all
  };
  for (const auto& words : cases) {
    const Result result = runWith(words);
    EXPECT_EQ(result.status, ExitStatus::BadArguments);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err.rfind("Brackenrun: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find("Brackenrun --help"), std::string::npos);
    expectNoPassword(result);
  }
  EXPECT_FALSE(server.anybodyConnected());
  const auto logged = brtest::lines(brtest::readFile(logFile_));
  ASSERT_EQ(logged.size(), cases.size());
  for (const auto& line : logged) {
    EXPECT_NE(line.find("\tstatus=2\toutcome=bad-arguments\t"), std::string::npos) << line;
  }
  // A refused line still names what could be read: here the server and database of the task
  // whose verify flag was wrong.
  EXPECT_NE(logged[5].find("\tserver=" + server.serverText() + "\tdatabase=売上\t"), std::string::npos)
      << logged[5];
}

TEST_F(RunnerTest, ABackupFileTheBatchCannotCarryExactlyIsRefusedWithoutConnecting) {
  const brtest::SilentListener server;
  bv::maintenance::BackupRequest backup = backupOn(server.serverText());
  backup.backupFile = "/tmp/" + std::string(996, 'x');  // 1001 bytes
  const Result result = runWith({bv::scheduling::encodeTaskParameters(backup)});
  EXPECT_EQ(result.status, ExitStatus::BadArguments);
  EXPECT_NE(result.err.find("バックアップファイル名が長すぎます。"), std::string::npos) << result.err;
  EXPECT_FALSE(server.anybodyConnected());
  const auto logged = brtest::lines(result.log);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("\tstatus=2\toutcome=bad-arguments\t"), std::string::npos);
}

TEST_F(RunnerTest, AServerThatCannotBeReachedIsAConnectFailure) {
  const bv::maintenance::BackupRequest backup = backupOn("127.0.0.1," + std::to_string(bvtest::closedLoopbackPort()));
  const Result result = runWith({bv::scheduling::encodeTaskParameters(backup)});
  EXPECT_EQ(result.status, ExitStatus::ConnectFailed);
  EXPECT_EQ(result.err.rfind("サーバにログインできませんでした。\n\n", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("Unable to connect"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find('\r'), std::string::npos);
  expectNoPassword(result);
  const auto logged = brtest::lines(result.log);
  ASSERT_EQ(logged.size(), 2u);
  // The start line comes before the connection is tried, so a run killed on its way still shows.
  EXPECT_NE(logged[0].find("\tstatus=-\toutcome=started\tserver=" + backup.login.server +
                           "\tdatabase=売上\tfile=/tmp/売上_%date%.bak\tlogin=sql:sa\tverify=1\t"),
            std::string::npos)
      << logged[0];
  EXPECT_NE(logged[1].find("\tstatus=3\toutcome=connect-failed\tserver=" + backup.login.server +
                           "\tdatabase=売上\tfile=/tmp/売上_%date%.bak\tlogin=sql:sa\tverify=1\t"
                           "detail=Unable to connect"),
            std::string::npos)
      << logged[1];
}

TEST_F(RunnerTest, TheStandardInputFormReadsTheParameterStringAsTheArgumentFormsDo) {
  const brtest::SilentListener server;
  bv::maintenance::BackupRequest backup = backupOn(server.serverText());
  backup.login.password = "";  // an empty argument: two blanks in a row must survive
  const std::string parameters = bv::scheduling::encodeTaskParameters(backup);
  ASSERT_EQ(parameters.back(), ' ');
  const std::string expected = maintenance::buildBackupCommand("売上", "/tmp/売上_%date%.bak", true) + "\n";
  for (const std::string& input :
       {parameters, parameters + "\n", parameters + "\r\n", parameters + "\n\n\r\n"}) {
    const Result result = runWith({"--print", "-"}, input);
    EXPECT_EQ(result.status, ExitStatus::Success) << result.err;
    EXPECT_EQ(result.out, expected);
  }
  // Only the line's own trailing blank is kept: the string without it reads the same, as the
  // argument form reads it.
  EXPECT_EQ(runWith({"--print", "-"}, parameters.substr(0, parameters.size() - 1)).out, expected);
  EXPECT_FALSE(server.anybodyConnected());
}

TEST_F(RunnerTest, TheStandardInputFormRefusesWhatItCannotReadWithoutConnecting) {
  const brtest::SilentListener server;
  const std::string good = bv::scheduling::encodeTaskParameters(backupOn(server.serverText()));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-"}, ""},                                        // empty input
      {{"-"}, "\n"},                                      // an empty first line
      {{"-"}, good + "\n" + good + "\n"},                 // a second line that is not empty
      {{"-"}, std::string(kMaxParameterInput + 1, '0')},  // over 64 KiB
      {{"-", good}, ""},                                  // "-" and arguments
      {{good, "-"}, good},
      {{"-"}, good.substr(0, good.size() - 3)},  // a malformed string
  };
  for (const auto& [words, input] : cases) {
    const Result result = runWith(words, input);
    EXPECT_EQ(result.status, ExitStatus::BadArguments) << result.err;
    EXPECT_EQ(result.err.rfind("Brackenrun: ", 0), 0u) << result.err;
    expectNoPassword(result);
  }
  EXPECT_FALSE(server.anybodyConnected());
}

TEST_F(RunnerTest, ExactlySixtyFourKiBOfInputIsStillRead) {
  const std::string input = std::string(kMaxParameterInput - 1, 'A') + "\n";
  std::istringstream in(input);
  EXPECT_EQ(readParameterString(in).size(), kMaxParameterInput - 1);
}

TEST_F(RunnerTest, HelpListsTheExitStatusesAndTheLogFile) {
  const Result result = runWith({"--help"});
  EXPECT_EQ(result.status, ExitStatus::Success);
  for (int status = 0; status <= 4; ++status) {
    EXPECT_NE(result.out.find("\n  " + std::to_string(status) + "  "), std::string::npos) << status;
  }
  EXPECT_NE(result.out.find(logFile_.string()), std::string::npos);
  EXPECT_NE(result.out.find("BRACKENRUN_LOG"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(logFile_));
}

TEST_F(RunnerTest, ALogThatCannotBeWrittenLeavesTheStatusAlone) {
  std::filesystem::create_directories(logFile_);  // a folder where the file should be
  const Result result = runWith({"1"});
  EXPECT_EQ(result.status, ExitStatus::BadArguments);
  EXPECT_NE(result.err.find("ログファイルに書き込めませんでした"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace bv::runner
