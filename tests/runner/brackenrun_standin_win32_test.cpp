// Brackenrun.exe end to end under Wine: started with a raw command line as a scheduled task
// starts it, it backs up databases of the native stand-in server through Wine's odbc32, the
// host's unixODBC and FreeTDS. The server writes the files, so they are named by host paths.
#include <windows.h>

#include <gtest/gtest.h>

#include <ctime>

#include "child_process_win32.h"
#include "core/db/database.h"
#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"
#include "environment.h"
#include "host_standin_win32.h"
#include "runner_test_support.h"

namespace {

using bvtest::ChildResult;

// The local date as yyyymmdd, a day away from now when asked.
std::string localDate(int dayOffset = 0) {
  const std::time_t when = std::time(nullptr) + static_cast<std::time_t>(dayOffset) * 86400;
  std::tm local{};
  ::localtime_s(&local, &when);
  char buffer[16];
  std::strftime(buffer, sizeof buffer, "%Y%m%d", &local);
  return buffer;
}

class BrackenrunOnWine : public ::testing::Test {
 protected:
  // A file name no other test uses: the stand-in and its scratch folder serve the whole run.
  static std::string unique(const std::string& stem) {
    return stem + "_" + std::to_string(::GetCurrentProcessId()) + "_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }

  bv::maintenance::BackupRequest backup(const std::string& fileName, bool verify) const {
    bv::maintenance::BackupRequest b;
    b.login.useSqlAuth = true;
    b.login.userName = "sa";
    b.login.password = standin_.saPassword;
    b.login.server = standin_.serverText();
    b.database = "Sample";
    b.backupFile = standin_.scratchDir + "/" + fileName;
    b.verify = verify;
    return b;
  }

  // Started as the Task Scheduler starts it: the quoted program, then the stored string.
  ChildResult brackenrun(const bv::maintenance::BackupRequest& b) const {
    const auto program = bvtest::besideThisProgram(L"Brackenrun.exe");
    ChildResult result = bvtest::runCommandLine(
        program, bvtest::quotedCommandLine(program, bv::scheduling::encodeTaskParameters(b)));
    result.out = bvtest::lineFeeds(result.out);
    result.err = bvtest::lineFeeds(result.err);
    return result;
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
      const std::string name = before + date + after;
      const auto file =
          standin_.scratchFolder / std::filesystem::path(std::u8string(name.begin(), name.end()));
      if (std::filesystem::exists(file)) return file;
    }
    return {};
  }

  void expectNoPassword(const ChildResult& result) const {
    const std::string encoded = bv::tasks::EncodeTaskArgument(standin_.saPassword);
    for (const std::string& text : {result.out, result.err, brtest::readFile(log_)}) {
      EXPECT_EQ(text.find(standin_.saPassword), std::string::npos) << text;
      EXPECT_EQ(text.find(encoded), std::string::npos) << text;
    }
  }

  bvtest::HostStandin standin_ = bvtest::hostStandin();
  brtest::TempDir dir_;
  std::filesystem::path log_ = dir_.path() / "brackenrun.log";
  bvtest::ScopedEnvironment logVariable_{"BRACKENRUN_LOG", bvtest::utf8(log_).c_str()};
};

TEST_F(BrackenrunOnWine, BacksUpWithTheServersDateInTheFileName) {
  ASSERT_NE(standin_.saPassword.find(';'), std::string::npos);
  ASSERT_NE(standin_.saPassword.find('\''), std::string::npos);
  const std::string stem = unique("sample");
  const auto b = backup(stem + "_%date%.bak", false);
  const ChildResult result = brackenrun(b);

  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_NE(result.out.find("100 percent processed.\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("BACKUP DATABASE successfully processed"), std::string::npos);
  EXPECT_EQ(result.out.find("is valid"), std::string::npos);
  EXPECT_NE(result.out.find("\nバックアップが終了しました。\n"), std::string::npos) << result.out;

  const auto file = resolved(stem + "_", ".bak");
  ASSERT_FALSE(file.empty()) << "no " << stem << "_" << localDate() << ".bak";
  EXPECT_GT(std::filesystem::file_size(file), 0u);
  EXPECT_FALSE(std::filesystem::exists(standin_.scratchFolder / (stem + "_%date%.bak")));

  const auto logged = logLines();
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("\tstatus=0\toutcome=succeeded\tserver=" + b.login.server +
                           "\tdatabase=Sample\tfile=" + b.backupFile + "\tlogin=sql:sa\tverify=0\t"),
            std::string::npos)
      << logged[0];
  expectNoPassword(result);
}

TEST_F(BrackenrunOnWine, VerifyReadsTheFileBack) {
  const std::string stem = unique("v");
  const ChildResult result = brackenrun(backup(stem + "_%date%.bak", true));
  EXPECT_EQ(result.status, 0) << result.err;
  const auto backupAt = result.out.find("BACKUP DATABASE successfully processed");
  const auto validAt = result.out.find("is valid");
  ASSERT_NE(backupAt, std::string::npos) << result.out;
  ASSERT_NE(validAt, std::string::npos) << result.out;
  EXPECT_GT(validAt, backupAt);
  EXPECT_FALSE(resolved(stem + "_", ".bak").empty());
  ASSERT_EQ(logLines().size(), 1u);
  EXPECT_NE(logLines()[0].find("\tverify=1\t"), std::string::npos);
}

TEST_F(BrackenrunOnWine, AJapaneseDatabaseAndFileNameTravelTheWholeRoad) {
  // The database is made through the data-access layer of this build, on the same road.
  const std::string database = unique("売上");
  {
    bv::db::Connection connection(
        bv::db::loginConnectionSettings({standin_.serverText(), true, "sa", standin_.saPassword}));
    connection.open();
    bv::db::Query query(connection);
    query.addLine("CREATE DATABASE [" + database + "]");
    query.execute();
  }
  auto b = backup(database + "_%date%.bak", true);
  b.database = database;
  const ChildResult result = brackenrun(b);
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("バックアップが終了しました。"), std::string::npos) << result.out;
  EXPECT_FALSE(resolved(database + "_", ".bak").empty());
  ASSERT_EQ(logLines().size(), 1u);
  EXPECT_NE(logLines()[0].find("\tdatabase=" + database + "\t"), std::string::npos) << logLines()[0];
}

TEST_F(BrackenrunOnWine, AWrongPasswordIsAConnectFailure) {
  const std::string stem = unique("never");
  auto b = backup(stem + "_%date%.bak", false);
  b.login.password = "not-" + b.login.password;
  const ChildResult result = brackenrun(b);
  EXPECT_EQ(result.status, 3);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err.rfind("サーバにログインできませんでした。\n\n", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("Login failed for user 'sa'."), std::string::npos) << result.err;
  EXPECT_TRUE(resolved(stem + "_", ".bak").empty());
  ASSERT_EQ(logLines().size(), 1u);
  EXPECT_NE(logLines()[0].find("\tstatus=3\toutcome=connect-failed\t"), std::string::npos);
  expectNoPassword(result);
}

TEST_F(BrackenrunOnWine, AnEmptyPasswordOnTheRawLineReachesTheServer) {
  // Two blanks in a row on the command line: an empty password, refused by the server, not a
  // command line with one argument too few.
  auto b = backup(unique("empty") + "_%date%.bak", false);
  b.login.password.clear();
  ASSERT_NE(bv::scheduling::encodeTaskParameters(b).find("  "), std::string::npos);
  const ChildResult result = brackenrun(b);
  EXPECT_EQ(result.status, 3) << result.err;
  EXPECT_NE(result.err.find("Login failed for user 'sa'."), std::string::npos) << result.err;
}

TEST_F(BrackenrunOnWine, AFolderThatDoesNotExistFailsTheBatch) {
  const auto b = backup("missing-folder/" + unique("x") + "_%date%.bak", true);
  const ChildResult result = brackenrun(b);
  EXPECT_EQ(result.status, 4);
  EXPECT_EQ(result.err.rfind("バックアップ中にエラーが発生しました。\n\n", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("Cannot open backup device"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("BACKUP DATABASE is terminating abnormally."), std::string::npos);
  EXPECT_EQ(result.out.find("バックアップが終了しました。"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(standin_.scratchFolder / "missing-folder"));
  ASSERT_EQ(logLines().size(), 1u);
  EXPECT_NE(logLines()[0].find("\tstatus=4\toutcome=backup-failed\t"), std::string::npos);
}

}  // namespace
