#include "core/db/connection_string.h"

#include <gtest/gtest.h>

#include "environment.h"
#include "core/sys/system_info.h"

namespace bv::db {
namespace {

OdbcTarget freeTds() {
  OdbcTarget target;
  target.driver = "FreeTDS";
  target.braceRule = BraceRule::FirstCloseBeforeSemicolon;
  target.localNames = {"(local)", ".", "localhost", "MYBOX", "mybox.example.lan"};
  return target;
}

TEST(BuildConnectionString, PlainValuesGiveTheProviderFormsLetterForLetter) {
  EXPECT_EQ(buildConnectionString({"SRV01\\SQLEXPRESS", false, "u", "p"}),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Trusted_Connection=yes;"
            "Pooling=false;Data Source=SRV01\\SQLEXPRESS");
  EXPECT_EQ(buildConnectionString({"SRV01", true, "sa", "pw"}),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Pooling=false;User ID=sa;"
            "Password=pw;Data Source=SRV01");
  EXPECT_EQ(buildConnectionString({"SRV01", true, "sa", "pw"}, "msdb"),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Pooling=false;User ID=sa;"
            "Password=pw;Data Source=SRV01;Initial Catalog=msdb");
}

TEST(BuildConnectionString, ATypedValueCannotAddAKey) {
  const std::string text =
      buildConnectionString({"srv", true, "sa", "x;Data Source=evil;Initial Catalog=master"});
  const KeyValuePairs pairs = parseOleDbConnectionString(text);
  EXPECT_EQ(findValue(pairs, "Password"), "x;Data Source=evil;Initial Catalog=master");
  EXPECT_EQ(findValue(pairs, "Data Source"), "srv");
  EXPECT_EQ(findValue(pairs, "Initial Catalog"), "");
}

TEST(BuildConnectionString, EveryAwkwardValueReadsBackUnchanged) {
  for (const std::string value :
       {"a;b", " lead", "trail ", "\"quoted\"", "'single'", "mix'\"", "a=b", "==", "", "日本語;"}) {
    const KeyValuePairs pairs = parseOleDbConnectionString(buildConnectionString({"s", true, value, value}));
    EXPECT_EQ(findValue(pairs, "User ID"), value);
    EXPECT_EQ(findValue(pairs, "Password"), value);
  }
}

TEST(ParseOleDbConnectionString, TrimsKeysAndPlainValuesAndSkipsEmptyPairs) {
  const KeyValuePairs pairs = parseOleDbConnectionString(" Data Source = srv ;;User ID=sa;");
  ASSERT_EQ(pairs.size(), 2u);
  EXPECT_EQ(pairs[0], (std::pair<std::string, std::string>{"Data Source", "srv"}));
  EXPECT_EQ(findValue(pairs, "user id"), "sa");
}

TEST(ParseOleDbConnectionString, QuotedValuesAndLaterDuplicates) {
  const KeyValuePairs pairs =
      parseOleDbConnectionString("Password=\"a\"\"b;c\";Password='x''y';k==ey=v");
  EXPECT_EQ(findValue(pairs, "Password"), "x'y");
  EXPECT_EQ(findValue(pairs, "k=ey"), "v");
}

TEST(ParseOleDbConnectionString, MalformedTextIsRefused) {
  EXPECT_THROW(parseOleDbConnectionString("Password=\"open"), ConnectionStringError);
  EXPECT_THROW(parseOleDbConnectionString("Password=\"a\"b"), ConnectionStringError);
  EXPECT_THROW(parseOleDbConnectionString("NoValue;x=1"), ConnectionStringError);
  EXPECT_THROW(parseOleDbConnectionString("=1"), ConnectionStringError);
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
  const std::string ole = buildConnectionString({"(local)", true, "sa", "pw"});
  EXPECT_EQ(renderOdbcConnectionString(parseOleDbConnectionString(ole), defaultOdbcTarget()),
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
  const std::string ole = buildConnectionString({"(local)", true, "sa", "pw"}, "msdb");
  EXPECT_EQ(renderOdbcConnectionString(parseOleDbConnectionString(ole), freeTds()),
            "Driver=FreeTDS;UID=sa;PWD=pw;Server=127.0.0.1;Database=msdb;");
  const std::string windows = buildConnectionString({"host", false, "", ""}) + ";Database=master";
  EXPECT_EQ(renderOdbcConnectionString(parseOleDbConnectionString(windows), freeTds()),
            "Driver=FreeTDS;Trusted_Connection=yes;Server=host;Database=master;");
}

TEST(RenderOdbcConnectionString, SemicolonsAndBracesAreCarriedTheWayFreeTdsReadsThem) {
  const auto render = [](const std::string& password) {
    return renderOdbcConnectionString({{"Password", password}}, freeTds());
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
  EXPECT_EQ(renderOdbcConnectionString({{"Password", "a};b"}}, target),
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
