#include "core/maintenance/command_executor.h"

#include <gtest/gtest.h>

#include "closed_port.h"
#include "environment.h"

namespace bv::maintenance {
namespace {

db::LoginSettings sqlLogin(std::string server) { return {std::move(server), true, "sa", "secret"}; }

TEST(MaintenanceConnectionSettings, OnlyTheExactRestoreNameSelectsMaster) {
  const db::LoginSettings login = sqlLogin("srv");
  const std::string base =
      "Provider=SQLOLEDB.1;Persist Security Info=False;Pooling=false;User ID=sa;"
      "Password=secret;Data Source=srv";
  EXPECT_EQ(maintenanceConnectionSettings(login, "レストア").text(), base + ";Database=master");
  EXPECT_EQ(maintenanceConnectionSettings(login, "バックアップ").text(), base);
  EXPECT_EQ(maintenanceConnectionSettings(login, "ログの切り捨て").text(), base);
  EXPECT_EQ(maintenanceConnectionSettings(login, "レストア ").text(), base);
  EXPECT_EQ(maintenanceConnectionSettings(login, "restore").text(), base);
}

TEST(MaintenanceConnectionSettings, WindowsAuthenticationForm) {
  const db::LoginSettings login{"(local)", false, "ignored", "ignored"};
  EXPECT_EQ(maintenanceConnectionSettings(login, "レストア").text(),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Trusted_Connection=yes;"
            "Pooling=false;Data Source=(local);Database=master");
}

TEST(OperationName, TheThreeOperationsByTheNamesTheUserReads) {
  EXPECT_EQ(operationName(Operation::Backup), "バックアップ");
  EXPECT_EQ(operationName(Operation::Restore), "レストア");
  EXPECT_EQ(operationName(Operation::TruncateLog), "ログの切り捨て");
}

TEST(ExecutionErrorMessage, HeaderBlankLineThenEachEntryOnItsOwnLine) {
  const std::vector<db::ErrorEntry> two{{"first", "42000", 1}, {"second", "42000", 2}};
  EXPECT_EQ(executionErrorMessage("バックアップ", two),
            "バックアップ中にエラーが発生しました。\r\n\r\nfirst\r\nsecond\r\n");
}

TEST(ExecutionErrorMessage, AnEmptyListStillGivesTheHeaderAndBothLineBreaks) {
  EXPECT_EQ(executionErrorMessage("レストア", {}), "レストア中にエラーが発生しました。\r\n\r\n");
}

TEST(ExecuteMaintenanceCommand, AnUnreachableServerEndsInTheDriversTextsUnderTheHeader) {
  const auto port = bvtest::closedLoopbackPort();
  const auto outcome = executeMaintenanceCommand(
      maintenanceConnectionSettings(sqlLogin("127.0.0.1," + std::to_string(port)), "バックアップ"),
      "SELECT 1", "バックアップ");
  EXPECT_FALSE(outcome.succeeded);
  ASSERT_FALSE(outcome.errors.empty());
  EXPECT_EQ(outcome.errorMessage.rfind("バックアップ中にエラーが発生しました。\r\n\r\n", 0), 0u);
  // The driver's own text, without its bracketed prefixes.
  EXPECT_NE(outcome.errorMessage.find("Unable to connect"), std::string::npos) << outcome.errorMessage;
  EXPECT_EQ(outcome.errorMessage.find("[FreeTDS]"), std::string::npos);
  EXPECT_EQ(outcome.errorMessage.substr(outcome.errorMessage.size() - 2), "\r\n");
}

TEST(ExecuteMaintenanceCommand, AValueTheDriverCannotCarryIsAFailureNotAWrongLogin) {
  // FreeTDS cannot carry "};" inside a braced value (the system drivers of Windows can).
  const bvtest::ScopedEnvironment driver("BRACKENVALE_ODBC_DRIVER", "FreeTDS");
  db::LoginSettings login = sqlLogin("127.0.0.1,1");
  login.password = "pa};ss";
  const auto outcome = executeMaintenanceCommand(maintenanceConnectionSettings(login, "バックアップ"),
                                                 "SELECT 1", "バックアップ");
  EXPECT_FALSE(outcome.succeeded);
  ASSERT_EQ(outcome.errors.size(), 1u);
  EXPECT_NE(outcome.errors[0].message.find("PWD"), std::string::npos);
}

}  // namespace
}  // namespace bv::maintenance
