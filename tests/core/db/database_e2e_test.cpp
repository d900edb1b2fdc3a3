// The data-access layer through the real driver stack (unixODBC + FreeTDS) against the stand-in.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/db/database.h"
#include "standin_fixture.h"

namespace bv::db {
namespace {

class DataAccess : public ::testing::Test {
 protected:
  LoginSettings sa() const { return {standin.serverText(), true, "sa", standin.saPassword()}; }
  ConnectionSettings saSettings() const { return loginConnectionSettings(sa()); }

  bvtest::StandinFixture standin;
};

TEST_F(DataAccess, APasswordHoldingSemicolonAndQuoteLogsIn) {
  ASSERT_NE(standin.saPassword().find(';'), std::string::npos);
  ASSERT_NE(standin.saPassword().find('\''), std::string::npos);
  Connection connection(saSettings());
  connection.open();
  EXPECT_TRUE(connection.isOpen());
  Query query(connection);
  query.addLine("SELECT DB_NAME() AS NAME");
  query.open();
  ASSERT_FALSE(query.eof());
  EXPECT_EQ(query.fieldAsText("name"), "master");
  query.next();
  EXPECT_TRUE(query.eof());
}

TEST_F(DataAccess, AWrongPasswordIsRefusedWithTheServersText) {
  Connection connection(loginConnectionSettings({standin.serverText(), true, "sa", "wrong"}));
  try {
    connection.open();
    FAIL() << "logged in with a wrong password";
  } catch (const ProviderError& error) {
    const auto& entries = error.entries();
    const bool loginFailed = std::any_of(entries.begin(), entries.end(), [](const ErrorEntry& e) {
      return e.nativeCode == 18456 && e.message == "Login failed for user 'sa'.";
    });
    EXPECT_TRUE(loginFailed) << error.what();
  }
  EXPECT_FALSE(connection.isOpen());
}

TEST_F(DataAccess, WindowsAuthenticationFailsLocallyWithoutAKerberosTicket) {
  Connection connection(loginConnectionSettings({standin.serverText(), false, "", ""}));
  EXPECT_THROW(connection.open(), ProviderError);
  EXPECT_FALSE(connection.errors().empty());
}

TEST_F(DataAccess, TheInitialCatalogChoosesTheDatabase) {
  Connection connection(loginConnectionSettings(sa(), standin.sampleDatabase()));
  connection.open();
  Query query(connection);
  query.addLine("SELECT DB_NAME() AS NAME");
  query.open();
  EXPECT_EQ(query.fieldAsText("NAME"), standin.sampleDatabase());
  ConnectionSettings inMaster = saSettings();
  inMaster.set("Database", "master");
  Connection master(inMaster);
  master.open();
  Query other(master);
  other.addLine("SELECT DB_NAME() AS NAME");
  other.open();
  EXPECT_EQ(other.fieldAsText("NAME"), "master");
}

TEST_F(DataAccess, TheCatalogListNamesEveryDatabaseInTheServersOrder) {
  Connection connection(saSettings());
  connection.open();
  const auto names = connection.catalogs();
  const std::vector<std::string> system{"master", "tempdb", "model", "msdb"};
  ASSERT_GE(names.size(), 5u);
  EXPECT_TRUE(std::equal(system.begin(), system.end(), names.begin()));
  EXPECT_NE(std::find(names.begin(), names.end(), standin.sampleDatabase()), names.end());
}

TEST_F(DataAccess, ServerErrorsArriveAsEntriesWithNumbersAndNoDriverPrefix) {
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
    EXPECT_EQ(error.entries()[0].message, "Incorrect syntax near '+'.");
    EXPECT_EQ(error.entries()[0].message.find('['), std::string::npos);
    EXPECT_EQ(connection.errors().size(), error.entries().size());
  }
  // The connection stays usable after a failed statement.
  query.clear();
  query.addLine("SELECT DB_NAME() AS NAME");
  query.open();
  EXPECT_FALSE(query.eof());
  EXPECT_TRUE(connection.errors().empty());
}

TEST_F(DataAccess, BackupProgressMessagesAreInfoNotErrors) {
  Connection connection(saSettings());
  connection.open();
  Query query(connection);
  const auto file = (standin.scratchDir() / "plain.bak").string();
  query.addLine("BACKUP DATABASE [" + standin.sampleDatabase() + "] TO DISK = N'" + file +
                "' WITH STATS = 100, INIT");
  query.setCommandTimeout(600);
  query.execute();
  EXPECT_TRUE(connection.errors().empty());
  const auto& infos = connection.infoMessages();
  const bool complete = std::any_of(
      infos.begin(), infos.end(), [](const ErrorEntry& e) { return e.message == "100 percent processed."; });
  EXPECT_TRUE(complete);
  EXPECT_TRUE(std::filesystem::exists(file));
}

TEST_F(DataAccess, ACommittedTransactionKeepsItsWorkAndARolledBackOneDoesNot) {
  Connection connection(loginConnectionSettings(sa(), standin.sampleDatabase()));
  connection.open();
  Query query(connection);
  query.addLine("CREATE TABLE tx_probe (n int)");
  query.execute();

  connection.beginTransaction();
  EXPECT_TRUE(connection.inTransaction());
  query.clear();
  query.addLine("INSERT INTO tx_probe (n) VALUES (1)");
  query.execute();
  connection.rollbackTransaction();
  EXPECT_FALSE(connection.inTransaction());

  connection.beginTransaction();
  query.clear();
  query.addLine("INSERT INTO tx_probe (n) VALUES (2)");
  query.execute();
  connection.commitTransaction();

  query.clear();
  query.addLine("SELECT COUNT(*) AS cnt, MAX(n) AS top FROM tx_probe");
  query.open();
  EXPECT_EQ(query.fieldAsInteger("cnt"), 1);
  EXPECT_EQ(query.fieldAsInteger("top"), 2);
}

TEST_F(DataAccess, AConnectionClosedByItsOwnerCanBeOpenedAgain) {
  Connection connection(saSettings());
  connection.open();
  connection.close();
  EXPECT_FALSE(connection.isOpen());
  connection.open();
  EXPECT_TRUE(connection.isOpen());
}

}  // namespace
}  // namespace bv::db
