// Brackenrun end to end: the real executable, started with an argument string built by the
// codec, backs up databases of the stand-in server over the real ODBC driver.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"
#include "process_posix.h"
#include "runner_test_support.h"
#include "standin_fixture.h"

namespace {

using brtest::ProcessResult;

// The local date as yyyymmdd, a day away from now when asked.
std::string localDate(int dayOffset = 0) {
  const std::time_t when = std::time(nullptr) + static_cast<std::time_t>(dayOffset) * 86400;
  std::tm local{};
  ::localtime_r(&when, &local);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%Y%m%d", &local);
  return buffer;
}

class BrackenrunStandin : public ::testing::Test {
 protected:
  explicit BrackenrunStandin(bvtest::StandinOptions options = {}) : fixture_(std::move(options)) {}

  bv::maintenance::BackupRequest backup(const std::string& fileName, bool verify) const {
    bv::maintenance::BackupRequest b;
    b.login.useSqlAuth = true;
    b.login.userName = "sa";
    b.login.password = fixture_.saPassword();
    b.login.server = fixture_.serverText();
    b.database = fixture_.sampleDatabase();
    b.backupFile = (std::filesystem::path(fixture_.scratchDir()) / fileName).string();
    b.verify = verify;
    return b;
  }

  ProcessResult brackenrun(const std::vector<std::string>& arguments) const {
    std::map<std::string, std::string> env = {
        {"PATH", "/usr/bin:/bin"},
        {"HOME", (dir_.path() / "home").string()},
        {"BRACKENRUN_LOG", log_.string()},
    };
    for (const char* name : {"BRACKENVALE_ODBC_DRIVER", "ODBCSYSINI", "ODBCINSTINI", "ODBCINI"}) {
      if (const char* value = std::getenv(name)) env[name] = value;
    }
    return brtest::runProcess(BRACKENRUN_PATH, arguments, env);
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

  // The file the server wrote for a name with one %date%: today's, or yesterday's when the
  // run went over midnight.
  std::filesystem::path resolved(const std::string& before, const std::string& after) const {
    for (const std::string& date : {localDate(), localDate(-1)}) {
      const auto file = std::filesystem::path(fixture_.scratchDir()) / (before + date + after);
      if (std::filesystem::exists(file)) return file;
    }
    return {};
  }

  void expectNoPassword(const ProcessResult& result) const {
    const std::string encoded = bv::tasks::EncodeTaskArgument(fixture_.saPassword());
    for (const std::string& text : {result.out, result.err, brtest::readFile(log_)}) {
      EXPECT_EQ(text.find(fixture_.saPassword()), std::string::npos) << text;
      EXPECT_EQ(text.find(encoded), std::string::npos) << text;
    }
  }

  bvtest::StandinFixture fixture_;
  brtest::TempDir dir_;
  std::filesystem::path log_ = dir_.path() / "brackenrun.log";
};

TEST_F(BrackenrunStandin, BacksUpWithTheServersDateInTheFileName) {
  // The password holds ";" and "'", which must reach the server unharmed.
  ASSERT_NE(fixture_.saPassword().find(';'), std::string::npos);
  ASSERT_NE(fixture_.saPassword().find('\''), std::string::npos);
  const auto b = backup("sample_%date%.bak", false);
  const ProcessResult result = brackenrun({bv::scheduling::encodeTaskParameters(b)});

  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find("100 percent processed.\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("BACKUP DATABASE successfully processed"), std::string::npos);
  EXPECT_EQ(result.out.find("RESTORE VERIFYONLY"), std::string::npos);
  EXPECT_NE(result.out.find("\nバックアップが終了しました。\n"), std::string::npos) << result.out;

  const auto file = resolved("sample_", ".bak");
  ASSERT_FALSE(file.empty()) << "no sample_" << localDate() << ".bak";
  EXPECT_GT(std::filesystem::file_size(file), 0u);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(fixture_.scratchDir()) / "sample_%date%.bak"));

  const auto logged = logLines();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("\tstatus=0\toutcome=succeeded\tserver=" + b.login.server + "\tdatabase=" + b.database +
                           "\tfile=" + b.backupFile + "\tlogin=sql:sa\tverify=0\t"),
            std::string::npos)
      << logged[0];
  expectNoPassword(result);
}

TEST_F(BrackenrunStandin, VerifyReadsTheFileBack) {
  const ProcessResult result = brackenrun({bv::scheduling::encodeTaskParameters(backup("v_%date%.bak", true))});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("BACKUP DATABASE successfully processed"), std::string::npos);
  // The verify line's own message comes after the backup's.
  const auto backupAt = result.out.find("BACKUP DATABASE successfully processed");
  const auto validAt = result.out.find("is valid");
  EXPECT_NE(validAt, std::string::npos) << result.out;
  EXPECT_GT(validAt, backupAt);
  EXPECT_FALSE(resolved("v_", ".bak").empty());
  ASSERT_EQ(logLines().size(), 1u);
  EXPECT_NE(logLines()[0].find("\tverify=1\t"), std::string::npos);
}

TEST_F(BrackenrunStandin, AWrongPasswordIsAConnectFailure) {
  auto b = backup("never_%date%.bak", false);
  b.login.password = "not-" + b.login.password;
  const ProcessResult result = brackenrun({bv::scheduling::encodeTaskParameters(b)});
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("サーバにログインできませんでした。\n\n", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("Login failed for user 'sa'."), std::string::npos) << result.err;
  EXPECT_TRUE(resolved("never_", ".bak").empty());
  ASSERT_EQ(logLines().size(), 1u);
  EXPECT_NE(logLines()[0].find("\tstatus=3\toutcome=connect-failed\t"), std::string::npos);
  EXPECT_NE(logLines()[0].find("Login failed for user 'sa'."), std::string::npos);
  expectNoPassword(result);
  EXPECT_EQ(result.err.find(b.login.password), std::string::npos);
}

TEST_F(BrackenrunStandin, AFolderThatDoesNotExistFailsTheBatch) {
  const auto b = backup("missing-folder/x_%date%.bak", true);
  const ProcessResult result = brackenrun({bv::scheduling::encodeTaskParameters(b)});
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.err.rfind("バックアップ中にエラーが発生しました。\n\n", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("Cannot open backup device"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("BACKUP DATABASE is terminating abnormally."), std::string::npos);
  EXPECT_EQ(result.out.find("バックアップが終了しました。"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(fixture_.scratchDir()) / "missing-folder"));
  ASSERT_EQ(logLines().size(), 1u);
  EXPECT_NE(logLines()[0].find("\tstatus=4\toutcome=backup-failed\t"), std::string::npos);
  EXPECT_NE(logLines()[0].find("Cannot open backup device"), std::string::npos);
}

TEST_F(BrackenrunStandin, AnUnknownDatabaseFailsTheBatch) {
  auto b = backup("u_%date%.bak", false);
  b.database = "存在しない";
  const ProcessResult result = brackenrun({bv::scheduling::encodeTaskParameters(b)});
  EXPECT_EQ(result.status, 4);
  EXPECT_NE(result.err.find("存在しない"), std::string::npos) << result.err;
  EXPECT_TRUE(resolved("u_", ".bak").empty());
}

TEST_F(BrackenrunStandin, TheWordFormGivesTheSameResultAsTheParameterString) {
  const auto words = [](const bv::maintenance::BackupRequest& b) {
    return bv::tasks::splitTaskParameters(bv::scheduling::encodeTaskParameters(b));
  };
  // Timings differ from run to run; everything else must be the same.
  const auto withoutTimings = [](const std::string& text) {
    return std::regex_replace(text, std::regex(R"( in [0-9.]+ seconds \([0-9.]+ MB/sec\))"), "");
  };

  const auto good = backup("w_%date%.bak", true);
  const ProcessResult fromString = brackenrun({bv::scheduling::encodeTaskParameters(good)});
  const auto stringFile = resolved("w_", ".bak");
  ASSERT_FALSE(stringFile.empty());
  std::filesystem::remove(stringFile);
  const ProcessResult fromWords = brackenrun(words(good));
  EXPECT_EQ(fromString.status, 0) << fromString.err;
  EXPECT_EQ(fromWords.status, 0) << fromWords.err;
  EXPECT_EQ(withoutTimings(fromWords.out), withoutTimings(fromString.out));
  EXPECT_EQ(fromWords.err, fromString.err);
  EXPECT_EQ(resolved("w_", ".bak"), stringFile);

  auto wrong = good;
  wrong.login.password.clear();  // an empty argument: two blanks in the string, an empty word
  const ProcessResult wrongString = brackenrun({bv::scheduling::encodeTaskParameters(wrong)});
  const ProcessResult wrongWords = brackenrun(words(wrong));
  EXPECT_EQ(wrongString.status, 3);
  EXPECT_EQ(wrongWords.status, 3);
  EXPECT_EQ(wrongWords.err, wrongString.err);

  const auto logged = logLines();
  ASSERT_EQ(logged.size(), 4u);
  const auto afterTime = [](const std::string& line) {
    return line.substr(line.find('\t'), line.find("\tdetail=") - line.find('\t'));
  };
  EXPECT_EQ(afterTime(logged[1]), afterTime(logged[0]));
  EXPECT_EQ(afterTime(logged[3]), afterTime(logged[2]));
}

// The server goes away in the middle of the run (the stand-in drops the session when the batch
// with the verify line arrives; the plain backup before it goes through).
class BrackenrunServerGone : public BrackenrunStandin {
 protected:
  BrackenrunServerGone() : BrackenrunStandin(bvtest::StandinOptions{.faults = {"drop:match=VERIFYONLY"}}) {}
};

TEST_F(BrackenrunServerGone, ExitsWithTheBatchFailureLogsItAndKeepsTheEarlierFile) {
  ASSERT_EQ(brackenrun({bv::scheduling::encodeTaskParameters(backup("kept.bak", false))}).status, 0);
  const auto file = std::filesystem::path(fixture_.scratchDir()) / "kept.bak";
  const std::string earlier = brtest::readFile(file);
  ASSERT_FALSE(earlier.empty());

  const ProcessResult result = brackenrun({bv::scheduling::encodeTaskParameters(backup("kept.bak", true))});
  EXPECT_EQ(result.status, 4) << result.err;
  EXPECT_EQ(result.err.rfind("バックアップ中にエラーが発生しました。\n\n", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("EOF"), std::string::npos) << result.err;
  EXPECT_EQ(result.out.find("バックアップが終了しました。"), std::string::npos) << result.out;
  EXPECT_EQ(brtest::readFile(file), earlier);

  const auto logged = logLines();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_NE(logged[1].find("\tstatus=4\toutcome=backup-failed\t"), std::string::npos) << logged[1];
  EXPECT_NE(logged[1].find("EOF"), std::string::npos) << logged[1];
  expectNoPassword(result);
}

// The server works through the batch a statement at a time (the stand-in holds its reply for
// two seconds after each statement's end, as a long backup would take).
class BrackenrunLongBatch : public BrackenrunStandin {
 protected:
  BrackenrunLongBatch()
      : BrackenrunStandin(bvtest::StandinOptions{.faults = {"stall-between=2s:match=VERIFYONLY"}}) {}
};

TEST_F(BrackenrunLongBatch, PrintsEachStatementsMessagesAsItEndsNotAllAtTheEnd) {
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> backupSeen, verifySeen;
  const auto watch = [&](const std::string& out) {
    const auto now = Clock::now();
    if (!backupSeen && out.find("BACKUP DATABASE successfully processed") != std::string::npos)
      backupSeen = now;
    if (!verifySeen && out.find("is valid") != std::string::npos) verifySeen = now;
  };
  std::map<std::string, std::string> env = {{"PATH", "/usr/bin:/bin"},
                                            {"HOME", (dir_.path() / "home").string()},
                                            {"BRACKENRUN_LOG", log_.string()}};
  for (const char* name : {"BRACKENVALE_ODBC_DRIVER", "ODBCSYSINI", "ODBCINSTINI", "ODBCINI"}) {
    if (const char* value = std::getenv(name)) env[name] = value;
  }
  const ProcessResult result = brtest::runProcess(
      BRACKENRUN_PATH, {"-"}, env, bv::scheduling::encodeTaskParameters(backup("slow.bak", true)) + "\n", watch);

  EXPECT_EQ(result.status, 0) << result.err;
  ASSERT_TRUE(backupSeen && verifySeen) << result.out;
  // The backup's messages were out while the server still held the rest of the batch.
  EXPECT_GE(*verifySeen - *backupSeen, std::chrono::milliseconds(1000)) << result.out;
  EXPECT_NE(result.out.find("\nバックアップが終了しました。\n"), std::string::npos) << result.out;
}

// The same run at a terminal and into a pipe: someone watching sees the server's percentage, a
// log collecting the output does not.
class BrackenrunThrottled : public BrackenrunStandin {
 protected:
  BrackenrunThrottled()
      : BrackenrunStandin(bvtest::StandinOptions{.faults = {"throttle=9000:match=BACKUP DATABASE"}}) {}

  std::map<std::string, std::string> environment() const {
    std::map<std::string, std::string> env = {{"PATH", "/usr/bin:/bin"},
                                              {"HOME", (dir_.path() / "home").string()},
                                              {"BRACKENRUN_LOG", log_.string()}};
    for (const char* name : {"BRACKENVALE_ODBC_DRIVER", "ODBCSYSINI", "ODBCINSTINI", "ODBCINI"}) {
      if (const char* value = std::getenv(name)) env[name] = value;
    }
    return env;
  }
  // Runs Brackenrun on a pseudo terminal; what it wrote there, line ends as written.
  ProcessResult brackenrunAtATerminal(const std::string& argument) const {
    std::vector<std::string> words = {BRACKENRUN_PATH, argument};
    std::vector<std::string> envWords;
    for (const auto& [name, value] : environment()) envWords.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (auto& word : words) argv.push_back(word.data());
    for (auto& word : envWords) envp.push_back(word.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child == 0) {
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ProcessResult result;
    if (child < 0) return result;
    const brtest::Fd owned(terminal);
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::read(terminal, buffer, sizeof buffer);
      if (got > 0) {
        result.out.append(buffer, static_cast<size_t>(got));
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else {
        break;  // EIO once the child has closed its side
      }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::erase(result.out, '\r');
    return result;
  }
  static std::vector<int> percentLines(const std::string& out) {
    std::vector<int> percents;
    const std::regex line(R"((?:^|\n)(\d+)%(?:（残り \d+:\d\d:\d\d）)?(?=\n))");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), line); it != std::sregex_iterator(); ++it) {
      percents.push_back(std::stoi((*it)[1]));
    }
    return percents;
  }
};

TEST_F(BrackenrunThrottled, PrintsThePercentageInTensAtATerminalOnly) {
  const ProcessResult watched = brackenrunAtATerminal(bv::scheduling::encodeTaskParameters(backup("tty.bak", false)));
  EXPECT_EQ(watched.status, 0) << watched.out;
  EXPECT_NE(watched.out.find("\nバックアップが終了しました。\n"), std::string::npos) << watched.out;
  const std::vector<int> percents = percentLines(watched.out);
  ASSERT_GE(percents.size(), 2u) << watched.out;
  for (size_t i = 0; i < percents.size(); ++i) {
    EXPECT_EQ(percents[i] % 10, 0) << watched.out;
    if (i > 0) {
      EXPECT_GT(percents[i], percents[i - 1]) << watched.out;
    }
  }

  const ProcessResult piped = brackenrun({bv::scheduling::encodeTaskParameters(backup("pipe.bak", false))});
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_TRUE(percentLines(piped.out).empty()) << piped.out;
}

}  // namespace
