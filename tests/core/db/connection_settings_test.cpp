#include "core/db/odbc_connection_string.h"

#include <gtest/gtest.h>

#include "core/sys/system_info.h"
#include "environment.h"

namespace bv::db {
namespace {

OdbcTarget freeTds() {
  OdbcTarget target;
  target.driver = "FreeTDS";
  target.braceRule = BraceRule::FirstCloseBeforeSemicolon;
  target.localNames = {"(local)", ".", "localhost", "MYBOX", "mybox.example.lan"};
  return target;
}

TEST(LoginConnectionSettings, PlainValuesGiveTheProviderFormsLetterForLetter) {
  EXPECT_EQ(loginConnectionSettings({"SRV01\\SQLEXPRESS", false, "u", "p"}).text(),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Trusted_Connection=yes;"
            "Pooling=false;Data Source=SRV01\\SQLEXPRESS");
  EXPECT_EQ(loginConnectionSettings({"SRV01", true, "sa", "pw"}).text(),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Pooling=false;User ID=sa;"
            "Password=pw;Data Source=SRV01");
}

TEST(LoginConnectionSettings, ANamedDatabaseFollowsPooling) {
  EXPECT_EQ(loginConnectionSettings({"SRV01", true, "sa", "pw"}, "msdb").text(),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Pooling=false;Initial Catalog=msdb;"
            "User ID=sa;Password=pw;Data Source=SRV01");
  EXPECT_EQ(loginConnectionSettings({"SRV01", false, "sa", "pw"}, "master").text(),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Trusted_Connection=yes;"
            "Pooling=false;Initial Catalog=master;Data Source=SRV01");
}

TEST(ConnectionSettings, SetReplacesAKeyInPlaceIgnoringCaseAndAppendsANewOne) {
  ConnectionSettings settings({{"Data Source", "a"}, {"User ID", "u"}});
  settings.set("data source", "b");
  settings.set("Database", "master");
  EXPECT_EQ(settings.text(), "Data Source=b;User ID=u;Database=master");
  EXPECT_EQ(settings.value("DATABASE"), "master");
  EXPECT_EQ(settings.value("Password"), "");
}

TEST(BuildConnectionString, ATypedValueCannotAddAKey) {
  const std::string text =
      loginConnectionSettings({"srv", true, "sa", "x;Data Source=evil;Initial Catalog=master"}).text();
  const ConnectionSettings read = ConnectionSettings::parse(text);
  EXPECT_EQ(read.value("Password"), "x;Data Source=evil;Initial Catalog=master");
  EXPECT_EQ(read.value("Data Source"), "srv");
  EXPECT_EQ(read.value("Initial Catalog"), "");
  EXPECT_EQ(read, loginConnectionSettings({"srv", true, "sa", "x;Data Source=evil;Initial Catalog=master"}));
}

TEST(BuildConnectionString, EveryAwkwardValueReadsBackUnchanged) {
  for (const std::string value :
       {"a;b", " lead", "trail ", "\"quoted\"", "'single'", "mix'\"", "a=b", "==", "", "日本語;"}) {
    const ConnectionSettings read =
        ConnectionSettings::parse(loginConnectionSettings({"s", true, value, value}).text());
    EXPECT_EQ(read.value("User ID"), value);
    EXPECT_EQ(read.value("Password"), value);
  }
}

TEST(ParseOleDbConnectionString, TrimsKeysAndPlainValuesAndSkipsEmptyPairs) {
  const ConnectionSettings read = ConnectionSettings::parse(" Data Source = srv ;;User ID=sa;");
  ASSERT_EQ(read.pairs().size(), 2u);
  EXPECT_EQ(read.pairs()[0], (std::pair<std::string, std::string>{"Data Source", "srv"}));
  EXPECT_EQ(read.value("user id"), "sa");
}

TEST(ParseOleDbConnectionString, QuotedValuesAndLaterDuplicates) {
  const ConnectionSettings read = ConnectionSettings::parse("Password=\"a\"\"b;c\";Password='x''y';k==ey=v");
  EXPECT_EQ(read.value("Password"), "x'y");
  EXPECT_EQ(read.value("k=ey"), "v");
  EXPECT_EQ(read.text(), "Password=x'y;k==ey=v");
}

TEST(ParseOleDbConnectionString, MalformedTextIsRefused) {
  EXPECT_THROW(ConnectionSettings::parse("Password=\"open"), ConnectionStringError);
  EXPECT_THROW(ConnectionSettings::parse("Password=\"a\"b"), ConnectionStringError);
  EXPECT_THROW(ConnectionSettings::parse("NoValue;x=1"), ConnectionStringError);
  EXPECT_THROW(ConnectionSettings::parse("=1"), ConnectionStringError);
}

TEST(MapServerForDriver, APlainHostGetsTheDefaultInstancePortWhereTheDriverHasNone) {
  OdbcTarget target = freeTds();
  target.defaultInstancePort = 1433;
  EXPECT_EQ(mapServerForDriver("(local)", target), "127.0.0.1,1433");
  EXPECT_EQ(mapServerForDriver("farhost", target), "farhost,1433");
  EXPECT_EQ(mapServerForDriver("farhost,2000", target), "farhost,2000");
  EXPECT_EQ(mapServerForDriver("farhost\\SQLEXPRESS", target), "farhost\\SQLEXPRESS");
  EXPECT_EQ(mapServerForDriver("", target), "");
  const bvtest::ScopedEnvironment driver("BRACKENVALE_ODBC_DRIVER", "FreeTDS");
  EXPECT_EQ(defaultOdbcTarget().defaultInstancePort, 1433);
  EXPECT_EQ(
      renderOdbcConnectionString(loginConnectionSettings({"(local)", true, "sa", "pw"}), defaultOdbcTarget()),
      "Driver=FreeTDS;UID=sa;PWD=pw;Server=127.0.0.1,1433;");
}

TEST(MapServerForDriver, LocalNamesBecomeLoopbackAndKeepTheirTail) {
  const OdbcTarget target = freeTds();
  EXPECT_EQ(mapServerForDriver("(local)", target), "127.0.0.1");
  EXPECT_EQ(mapServerForDriver("(LOCAL)\\SQLEXPRESS", target), "127.0.0.1\\SQLEXPRESS");
  EXPECT_EQ(mapServerForDriver(".", target), "127.0.0.1");
  EXPECT_EQ(mapServerForDriver("mybox,1444", target), "127.0.0.1,1444");
  EXPECT_EQ(mapServerForDriver("MyBox.example.lan", target), "127.0.0.1");
  EXPECT_EQ(mapServerForDriver("otherbox\\INST", target), "otherbox\\INST");
  EXPECT_EQ(mapServerForDriver("10.1.2.3,1433", target), "10.1.2.3,1433");
  EXPECT_EQ(mapServerForDriver("", target), "");
}

TEST(RenderOdbcConnectionString, MapsTheKeysAndDropsProviderOnlyOnes) {
  EXPECT_EQ(
      renderOdbcConnectionString(loginConnectionSettings({"(local)", true, "sa", "pw"}, "msdb"), freeTds()),
      "Driver=FreeTDS;Database=msdb;UID=sa;PWD=pw;Server=127.0.0.1;");
  ConnectionSettings windows = loginConnectionSettings({"host", false, "", ""});
  windows.set("Database", "master");
  EXPECT_EQ(renderOdbcConnectionString(windows, freeTds()),
            "Driver=FreeTDS;Trusted_Connection=yes;Server=host;Database=master;");
  // Text from outside reads the same way.
  EXPECT_EQ(
      renderOdbcConnectionString(
          ConnectionSettings::parse("Integrated Security=SSPI;Data Source=h;Initial Catalog=x"), freeTds()),
      "Driver=FreeTDS;Trusted_Connection=yes;Server=h;Database=x;");
}

TEST(RenderOdbcConnectionString, SemicolonsAndBracesAreCarriedTheWayFreeTdsReadsThem) {
  const auto render = [](const std::string& password) {
    return renderOdbcConnectionString(ConnectionSettings(KeyValuePairs{{"Password", password}}), freeTds());
  };
  EXPECT_EQ(render("a;b"), "Driver=FreeTDS;PWD={a;b};");
  EXPECT_EQ(render("{x"), "Driver=FreeTDS;PWD={{x};");
  EXPECT_EQ(render("p}w"), "Driver=FreeTDS;PWD=p}w;");
  EXPECT_EQ(render("a;b}"), "Driver=FreeTDS;PWD={a;b}};");
  EXPECT_THROW(render("a};b"), ConnectionStringError);
}

TEST(RenderOdbcConnectionString, TheOdbcRuleDoublesClosingBraces) {
  OdbcTarget target = freeTds();
  target.driver = "SQL Server";
  target.braceRule = BraceRule::DoubledClose;
  EXPECT_EQ(renderOdbcConnectionString(ConnectionSettings(KeyValuePairs{{"Password", "a};b"}}), target),
            "Driver=SQL Server;PWD={a}};b};");
}

TEST(DefaultOdbcTarget, TheEnvironmentNamesTheDriver) {
  {
    const bvtest::ScopedEnvironment driver("BRACKENVALE_ODBC_DRIVER", "ODBC Driver 18 for SQL Server");
    const OdbcTarget other = defaultOdbcTarget();
    EXPECT_EQ(other.driver, "ODBC Driver 18 for SQL Server");
    EXPECT_EQ(other.braceRule, BraceRule::DoubledClose);
  }
  {
    const bvtest::ScopedEnvironment driver("BRACKENVALE_ODBC_DRIVER", "FreeTDS");
    const OdbcTarget freeTds = defaultOdbcTarget();
    EXPECT_EQ(freeTds.driver, "FreeTDS");
    EXPECT_EQ(freeTds.braceRule, BraceRule::FirstCloseBeforeSemicolon);
  }
  // Without the variable, the platform's driver (system_info tests say which).
  const bvtest::ScopedEnvironment none("BRACKENVALE_ODBC_DRIVER", nullptr);
  EXPECT_EQ(defaultOdbcTarget().driver, sys::defaultOdbcDriver());
}

}  // namespace
}  // namespace bv::db
