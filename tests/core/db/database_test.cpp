#include "core/db/database.h"

#include <gtest/gtest.h>

#include "closed_port.h"
#include "environment.h"

namespace bv::db {
namespace {

TEST(StripDriverPrefixes, LeavesTheServersOwnText) {
  EXPECT_EQ(stripDriverPrefixes("[FreeTDS][SQL Server]Login failed for user 'sa'."),
            "Login failed for user 'sa'.");
  EXPECT_EQ(stripDriverPrefixes("[Microsoft][ODBC SQL Server Driver][SQL Server]x [y]"), "x [y]");
  EXPECT_EQ(stripDriverPrefixes("no prefix [here]"), "no prefix [here]");
  EXPECT_EQ(stripDriverPrefixes("[unclosed"), "[unclosed");
}

TEST(Query, TheServerReceivesEachLineFollowedByCrLf) {
  Connection connection;
  Query query(connection);
  query.addLine("SELECT 1");
  query.addLine("");
  query.addLine("SELECT 2");
  EXPECT_EQ(query.text(), "SELECT 1\r\n\r\nSELECT 2\r\n");
  query.clear();
  EXPECT_EQ(query.text(), "");
}

TEST(Connection, NothingListeningIsAProviderErrorWithTheDriversEntries) {
  Connection connection(loginConnectionSettings(
      {"127.0.0.1," + std::to_string(bvtest::closedLoopbackPort()), true, "sa", "pw"}));
  try {
    connection.open();
    FAIL() << "open() succeeded against a closed port";
  } catch (const ProviderError& error) {
    ASSERT_FALSE(error.entries().empty());
    EXPECT_EQ(error.entries().size(), connection.errors().size());
    bool unableToConnect = false;
    for (const auto& entry : error.entries()) {
      EXPECT_EQ(entry.message.find("[FreeTDS]"), std::string::npos);
      unableToConnect |= entry.message.find("Unable to connect") != std::string::npos;
    }
    EXPECT_TRUE(unableToConnect);
  }
  EXPECT_FALSE(connection.isOpen());
}

TEST(Connection, OperationsOnAClosedConnectionRaiseInsteadOfCrashing) {
  Connection connection;
  EXPECT_THROW(connection.catalogs(), ProviderError);
  EXPECT_THROW(connection.beginTransaction(), ProviderError);
  Query query(connection);
  query.addLine("SELECT 1");
  EXPECT_THROW(query.execute(), ProviderError);
  EXPECT_THROW(query.open(), ProviderError);
  EXPECT_FALSE(connection.errors().empty());
}

TEST(Connection, AValueTheDriverCannotCarryIsRefusedBeforeTheDriver) {
  const bvtest::ScopedEnvironment driver("BRACKENVALE_ODBC_DRIVER", "FreeTDS");
  Connection connection(loginConnectionSettings({"127.0.0.1,1", true, "sa", "a};b"}));
  EXPECT_THROW(connection.open(), ConnectionStringError);
  EXPECT_FALSE(connection.isOpen());
}

}  // namespace
}  // namespace bv::db
