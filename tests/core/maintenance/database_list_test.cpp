// The database list: the default entry, and the list read from the stand-in through the real
// driver.
#include "core/maintenance/database_list.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "closed_port.h"
#include "standin_fixture.h"

namespace bv::maintenance {
namespace {

TEST(ResolveDatabaseName, TheDefaultEntryStandsForTheDefaultDatabase) {
  EXPECT_EQ(resolveDatabaseName("<既定値>", "Sales"), "Sales");
  EXPECT_EQ(resolveDatabaseName("master", "Sales"), "master");
  EXPECT_EQ(resolveDatabaseName("<既定値> ", "Sales"), "<既定値> ");
  EXPECT_EQ(resolveDatabaseName("", "Sales"), "");
}

TEST(DatabaseList, TheDefaultEntryLeadsOnlyWhenThereIsADefaultDatabase) {
  DatabaseList list;
  list.databases = {"master", "Sales"};
  EXPECT_EQ(list.entries(), (std::vector<std::string>{"master", "Sales"}));
  list.defaultDatabase = "Sales";
  EXPECT_EQ(list.entries(), (std::vector<std::string>{"<既定値>", "master", "Sales"}));
}

TEST(ReadDatabaseList, ReadsTheLoginsDefaultDatabaseAndTheServersDatabases) {
  bvtest::StandinFixture standin;
  const DatabaseList list = readDatabaseList({standin.serverText(), true, "sa", standin.saPassword()});
  EXPECT_EQ(list.defaultDatabase, "master");
  for (const char* name : {"master", "msdb", "Sample"}) {
    EXPECT_NE(std::find(list.databases.begin(), list.databases.end(), name), list.databases.end()) << name;
  }
}

TEST(ReadDatabaseList, ARefusedLoginIsLoginFailedWithTheServersText) {
  bvtest::StandinFixture standin;
  try {
    readDatabaseList({standin.serverText(), true, "sa", "wrong"});
    FAIL() << "a wrong password listed databases";
  } catch (const LoginFailed& error) {
    EXPECT_NE(std::string(error.what()).find("Login failed"), std::string::npos) << error.what();
  }
}

TEST(ReadDatabaseList, NoServerIsLoginFailed) {
  EXPECT_THROW(
      readDatabaseList({"127.0.0.1," + std::to_string(bvtest::closedLoopbackPort()), true, "sa", "pw"}),
      LoginFailed);
}

}  // namespace
}  // namespace bv::maintenance
