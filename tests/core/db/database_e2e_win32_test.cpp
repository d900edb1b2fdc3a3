// The data-access layer of the Windows build end to end under Wine: Wine's odbc32 hands the
// calls to the host's unixODBC and FreeTDS, which reach the native stand-in server on
// 127.0.0.1. The program names the Windows driver ("SQL Server"); the tests' odbcinst.ini gives
// that name to FreeTDS.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "core/db/database.h"
#include "core/db/odbc_connection_string.h"
#include "host_standin_win32.h"

namespace bv::db {
namespace {

class WindowsDataAccess : public ::testing::Test {
 protected:
  LoginSettings sa() const { return {standin.serverText(), true, "sa", standin.saPassword}; }
  ConnectionSettings saSettings() const { return loginConnectionSettings(sa()); }
  // A name no other test run uses: the stand-in is shared by every test of the run.
  static std::string unique(const std::string& stem) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return stem + "_" + std::to_string(::GetCurrentProcessId()) + "_" + test->name();
  }

  bvtest::HostStandin standin = bvtest::hostStandin();
};

TEST_F(WindowsDataAccess, TheWindowsDriverNameLogsInWithAPasswordHoldingSemicolonAndQuote) {
  ASSERT_EQ(defaultOdbcTarget().driver, "SQL Server");
  ASSERT_NE(standin.saPassword.find(';'), std::string::npos);
  ASSERT_NE(standin.saPassword.find('\''), std::string::npos);
  Connection connection(saSettings());
  connection.open();
  ASSERT_TRUE(connection.isOpen());
  Query query(connection);
  query.addLine("SELECT DB_NAME() AS NAME");
  query.open();
  ASSERT_FALSE(query.eof());
  EXPECT_EQ(query.fieldAsText("name"), "master");
}

TEST_F(WindowsDataAccess, AWrongPasswordIsRefusedWithTheServersText) {
  Connection connection(loginConnectionSettings({standin.serverText(), true, "sa", "wrong"}));
  try {
    connection.open();
    FAIL() << "logged in with a wrong password";
  } catch (const ProviderError& error) {
    const auto& entries = error.entries();
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const ErrorEntry& e) {
      return e.nativeCode == 18456 && e.message == "Login failed for user 'sa'.";
    })) << error.what();
  }
  EXPECT_FALSE(connection.isOpen());
}

TEST_F(WindowsDataAccess, JapaneseTextTravelsBothWaysAsUtf16) {
  Connection connection(saSettings());
  connection.open();
  const std::string database = unique("在庫");
  Query query(connection);
  query.addLine("CREATE DATABASE [" + database + "]");
  query.execute();
  const auto names = connection.catalogs();
  const std::vector<std::string> system{"master", "tempdb", "model", "msdb"};
  ASSERT_GE(names.size(), 5u);
  EXPECT_TRUE(std::equal(system.begin(), system.end(), names.begin()));
  EXPECT_NE(std::find(names.begin(), names.end(), database), names.end());

  query.clear();
  query.addLine("SELECT N'日本語のサーバ' AS text, DB_NAME() AS name");
  query.open();
  ASSERT_FALSE(query.eof());
  EXPECT_EQ(query.fieldAsText("text"), "日本語のサーバ");
}

TEST_F(WindowsDataAccess, ServerErrorsArriveAsEntriesWithNumbersAndNoDriverPrefix) {
  Connection connection(saSettings());
  connection.open();
  Query query(connection);
  query.addLine("SELECT 1 +");
  try {
    query.execute();
    FAIL() << "a syntax error was reported as success";
  } catch (const ProviderError& error) {
    ASSERT_FALSE(error.entries().empty());
    EXPECT_EQ(error.entries()[0].nativeCode, 102);
    EXPECT_EQ(error.entries()[0].sqlState, "42000");
    EXPECT_EQ(error.entries()[0].message, "Incorrect syntax near '+'.");
  }
  query.clear();
  query.addLine("SELECT DB_NAME() AS NAME");
  query.open();
  EXPECT_FALSE(query.eof());
  EXPECT_TRUE(connection.errors().empty());
}

TEST_F(WindowsDataAccess, BackupProgressMessagesAreInfoAndTheFileIsWritten) {
  Connection connection(saSettings());
  connection.open();
  Query query(connection);
  const std::string name = unique("plain") + ".bak";
  query.addLine("BACKUP DATABASE [Sample] TO DISK = N'" + standin.scratchDir + "/" + name +
                "' WITH STATS = 100, INIT");
  query.setCommandTimeout(600);
  query.execute();
  EXPECT_TRUE(connection.errors().empty());
  const auto& infos = connection.infoMessages();
  EXPECT_TRUE(std::any_of(infos.begin(), infos.end(),
                          [](const ErrorEntry& e) { return e.message == "100 percent processed."; }));
  EXPECT_GT(std::filesystem::file_size(standin.scratchFolder / name), 0u);
}

TEST_F(WindowsDataAccess, ACommittedTransactionKeepsItsWorkAndARolledBackOneDoesNot) {
  Connection connection(loginConnectionSettings(sa(), "Sample"));
  connection.open();
  const std::string table = unique("tx_probe");
  Query query(connection);
  query.addLine("CREATE TABLE " + table + " (n int)");
  query.execute();

  connection.beginTransaction();
  query.clear();
  query.addLine("INSERT INTO " + table + " (n) VALUES (1)");
  query.execute();
  connection.rollbackTransaction();

  connection.beginTransaction();
  query.clear();
  query.addLine("INSERT INTO " + table + " (n) VALUES (2)");
  query.execute();
  connection.commitTransaction();

  query.clear();
  query.addLine("SELECT COUNT(*) AS cnt, MAX(n) AS top FROM " + table);
  query.open();
  EXPECT_EQ(query.fieldAsInteger("cnt"), 1);
  EXPECT_EQ(query.fieldAsInteger("top"), 2);
}

}  // namespace
}  // namespace bv::db
