// FreeTDS's tsql and unixODBC's isql log in to the stand-in and run queries.
#include <gtest/gtest.h>

#include "standin_fixture.h"
#include "subprocess.h"

namespace {

class Tools : public ::testing::Test {
 protected:
  bvtest::StandinFixture standin;
};

TEST_F(Tools, TsqlLogsInAndRunsBatches) {
  const auto r =
      bvtest::runProcess({"timeout", "60", BV_TSQL, "-H", "127.0.0.1", "-p", std::to_string(standin.port()),
                          "-U", "sa", "-P", standin.saPassword()},
                         "SELECT DB_NAME() AS NAME\ngo\nuse Sample\ngo\nSELECT Name FROM Customers WHERE "
                         "CustomerID = 3\ngo\nexit\n");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("master"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Brackenvale Ltd"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("(1 row affected)"), std::string::npos) << r.output;
}

TEST_F(Tools, TsqlShowsTheRefusalOfAWrongPassword) {
  const auto r = bvtest::runProcess({"timeout", "60", BV_TSQL, "-H", "127.0.0.1", "-p",
                                     std::to_string(standin.port()), "-U", "sa", "-P", "not-it"},
                                    "exit\n");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.output.find("Login failed for user 'sa'."), std::string::npos) << r.output;
}

TEST_F(Tools, IsqlLogsInAndRunsPreparedStatements) {
  // isql prepares every statement: these arrive as sp_prepexec calls.
  const auto r = bvtest::runProcess(
      {"timeout", "60", BV_ISQL, "-v", "-b", "-k", standin.odbcConnectionString("Database=Sample;")},
      "SELECT City FROM Customers WHERE CustomerID = 3\nSELECT COUNT(*) AS n FROM Orders\n");
  EXPECT_EQ(r.exitCode, 0) << r.output;
  EXPECT_NE(r.output.find("Sapporo"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("| 5"), std::string::npos) << r.output;
}

TEST_F(Tools, IsqlReportsAServerError) {
  const auto r =
      bvtest::runProcess({"timeout", "60", BV_ISQL, "-v", "-b", "-k", standin.odbcConnectionString()},
                         "SELECT * FROM NoSuchTable\n");
  EXPECT_NE(r.output.find("Invalid object name 'NoSuchTable'."), std::string::npos) << r.output;
}

}  // namespace
