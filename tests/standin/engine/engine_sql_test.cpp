// T-SQL the stand-in runs itself (expressions, variables) and hands to SQLite (tables).
#include <gtest/gtest.h>

#include "engine_support.h"

using namespace standintest;

namespace {

class EngineSql : public EngineTest {
 protected:
  EngineSql() { run("USE Sample"); }
};

std::vector<std::string> column(const standin::sql::ResultSet& rs, std::size_t c) {
  std::vector<std::string> out;
  for (const auto& row : rs.rows)
    out.push_back(standin::sql::isNull(row[c]) ? "NULL" : standin::sql::valueToText(row[c]));
  return out;
}

}  // namespace

TEST_F(EngineSql, ExpressionsFollowTSqlRules) {
  EXPECT_EQ(scalar("SELECT 7 / 2"), "3");
  EXPECT_EQ(scalar("SELECT 7 % 3 + 10 * 2"), "21");
  EXPECT_EQ(scalar("SELECT '1' + 1"), "2");  // the string takes the number's type
  EXPECT_EQ(scalar("SELECT 'a' + 'b' + N'ç'"), "abç");
  EXPECT_EQ(scalar("SELECT CASE WHEN 1 = 2 THEN 'x' WHEN 'abc' = 'ABC  ' THEN 'ci' ELSE 'no' END"), "ci");
  EXPECT_EQ(scalar("SELECT CASE 3 WHEN 1 THEN 'one' WHEN 3 THEN 'three' END"), "three");
  EXPECT_EQ(scalar("SELECT ISNULL(NULL, 'dflt')"), "dflt");
  EXPECT_EQ(scalar("SELECT LEN('abc   ')"), "3");
  EXPECT_EQ(scalar("SELECT SUBSTRING(N'日本語の文字', 2, 3)"), "本語の");
  EXPECT_EQ(scalar("SELECT UPPER('abc') + LOWER('DEF')"), "ABCdef");
  EXPECT_EQ(scalar("SELECT CHARINDEX('date', 'x_%DATE%')"), "4");
  EXPECT_EQ(scalar("SELECT LEFT('abcdef', 2) + RIGHT('abcdef', 2)"), "abef");
  EXPECT_EQ(scalar("SELECT CASE WHEN NULL = NULL THEN 'eq' ELSE 'unknown' END"), "unknown");
  EXPECT_EQ(scalar("SELECT CASE WHEN 5 BETWEEN 1 AND 9 AND 'b' IN ('a', 'b') AND 'Sample' LIKE 's%' THEN 1 "
                   "ELSE 0 END"),
            "1");
}

TEST_F(EngineSql, DateStylesAreThoseOfConvert) {
  const std::string d = "CONVERT(datetime, '2008-01-02 15:04:05.123')";
  EXPECT_EQ(scalar("SELECT CONVERT(varchar, " + d + ", 111)"), "2008/01/02");
  EXPECT_EQ(scalar("SELECT CONVERT(varchar, " + d + ", 112)"), "20080102");
  EXPECT_EQ(scalar("SELECT CONVERT(varchar, " + d + ", 120)"), "2008-01-02 15:04:05");
  EXPECT_EQ(scalar("SELECT CONVERT(varchar, " + d + ", 101)"), "01/02/2008");
  EXPECT_EQ(scalar("SELECT CONVERT(varchar, " + d + ", 108)"), "15:04:05");
  EXPECT_EQ(scalar("SELECT CONVERT(varchar, " + d + ")"), "Jan  2 2008  3:04PM");
  EXPECT_EQ(scalar("SELECT CONVERT(varchar(4), " + d + ", 112)"), "2008");
  const auto bad = run("SELECT CONVERT(varchar, GETDATE(), 999)");
  ASSERT_TRUE(bad.failed());
  EXPECT_EQ(bad.errors()[0].number, 281);
}

// DATEDIFF counts the boundaries it crosses, not whole units gone by.
TEST_F(EngineSql, DatediffCountsBoundariesCrossed) {
  const auto diff = [&](const std::string& part, const std::string& from, const std::string& to) {
    return scalar("SELECT DATEDIFF(" + part + ", CONVERT(datetime, '" + from + "'), CONVERT(datetime, '" + to + "'))");
  };
  EXPECT_EQ(diff("minute", "2026-12-08 10:00:59", "2026-12-08 10:01:00"), "1");
  EXPECT_EQ(diff("mi", "2026-12-08 10:01:00", "2026-12-08 10:00:59"), "-1");
  EXPECT_EQ(diff("hour", "2026-12-08 10:59:59", "2026-12-08 13:00:00"), "3");
  EXPECT_EQ(diff("day", "2026-12-07 23:59:59", "2026-12-08 00:00:00"), "1");
  EXPECT_EQ(diff("second", "1899-12-31 23:59:59", "1900-01-01 00:00:01"), "2");
  EXPECT_EQ(diff("month", "2026-01-31", "2026-02-01"), "1");
  EXPECT_EQ(diff("year", "2026-12-31", "2027-01-01"), "1");
  EXPECT_EQ(scalar("SELECT ISNULL(CONVERT(varchar(10), DATEDIFF(minute, NULL, GETDATE())), 'none')"), "none");
  EXPECT_EQ(run("SELECT DATEDIFF(fortnight, GETDATE(), GETDATE())").errors()[0].number, 155);
}

TEST_F(EngineSql, RuntimeErrorsHaveSqlServersNumbers) {
  auto first = [&](const std::string& sql) {
    const auto r = run(sql);
    return r.errors().empty() ? 0 : r.errors()[0].number;
  };
  EXPECT_EQ(first("SELECT 1 / 0"), 8134);
  EXPECT_EQ(first("SELECT CONVERT(int, 'abc')"), 245);
  EXPECT_EQ(first("SELECT CONVERT(datetime, 'not a date')"), 241);
  EXPECT_EQ(first("DECLARE @t tinyint SET @t = 300"), 8115);
  EXPECT_EQ(first("DECLARE @a int DECLARE @a int"), 134);
  EXPECT_EQ(first("SELECT NOSUCHFUNC(1)"), 195);
  EXPECT_EQ(first("SELECT name"), 207);
  EXPECT_EQ(first("COMMIT"), 3902);
  EXPECT_EQ(first("ROLLBACK TRANSACTION"), 3903);
  EXPECT_EQ(first("SELECT *"), 263);
  EXPECT_EQ(first("SELECT 'unclosed"), 105);
  EXPECT_EQ(first("DROP DATABASE master"), 3708);
  EXPECT_EQ(first("DROP DATABASE Nowhere"), 3701);
  EXPECT_EQ(first("CREATE DATABASE Sample"), 1801);
  // a conversion failure abandons the rest of the batch
  const auto r = run("SELECT CONVERT(int, 'x') SELECT 'not reached'");
  EXPECT_TRUE(r.resultSets().empty());
}

TEST_F(EngineSql, RaiserrorAndPrintAreMessages) {
  const auto info = run("PRINT 'hello ' + 'world' RAISERROR('note %s', 10, 1, 'this')");
  ASSERT_EQ(info.infos().size(), 2u);
  EXPECT_EQ(info.infos()[0].text, "hello world");
  EXPECT_EQ(info.infos()[0].number, 0);
  EXPECT_EQ(info.infos()[1].text, "note this");
  EXPECT_FALSE(info.failed());
  const auto err = run("RAISERROR('bad thing %d', 16, 3, 42)");
  ASSERT_EQ(err.errors().size(), 1u);
  EXPECT_EQ(err.errors()[0].number, 50000);
  EXPECT_EQ(err.errors()[0].state, 3);
  EXPECT_EQ(err.errors()[0].text, "bad thing 42");
}

TEST_F(EngineSql, TablesTakeTSqlNamesLiteralsAndVariables) {
  ASSERT_FALSE(
      run("CREATE TABLE [My Table] (id INT PRIMARY KEY, txt NVARCHAR(20) NOT NULL, at DATETIME)").failed());
  const auto ins =
      run("DECLARE @t nvarchar(20) SET @t = N'vär''s' "
          "INSERT INTO dbo.[My Table] (id, txt, at) VALUES (1, @t, GETDATE()) "
          "INSERT INTO [dbo].[My Table] VALUES (2, N'日本', '2008-01-01') "
          "INSERT INTO Sample..[My Table] VALUES (3, 'three', NULL)");
  ASSERT_FALSE(ins.failed()) << ins.errors().front().text;
  const auto sets = run("SELECT TOP 2 id, txt FROM [My Table] ORDER BY id DESC").resultSets();
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(column(sets[0], 0), (std::vector<std::string>{"3", "2"}));
  EXPECT_EQ(scalar("SELECT txt FROM [My Table] WHERE id = 1"), "vär's");
  const auto types = run("SELECT id, txt, at FROM [My Table] WHERE id = 2").resultSets().at(0);
  EXPECT_EQ(types.columns[0].type.kind, standin::sql::SqlType::Kind::Int);
  EXPECT_EQ(types.columns[1].type.kind, standin::sql::SqlType::Kind::NVarChar);
  EXPECT_EQ(types.columns[1].type.length, 20);
  EXPECT_EQ(types.columns[2].type.kind, standin::sql::SqlType::Kind::DateTime);
  EXPECT_EQ(standin::sql::valueToText(types.rows[0][2]), "Jan  1 2008 12:00AM");
}

TEST_F(EngineSql, DmlReportsRowCountsUnlessNocount) {
  const auto r = run("UPDATE Orders SET Quantity = Quantity + 1 WHERE CustomerID = 1");
  ASSERT_FALSE(r.failed());
  const auto* done = std::get_if<standin::sql::StatementDone>(&r.items.back());
  ASSERT_NE(done, nullptr);
  ASSERT_TRUE(done->rowCount.has_value());
  EXPECT_EQ(*done->rowCount, 2);
  EXPECT_EQ(scalar("DELETE FROM Orders WHERE OrderID = 5 SELECT @@ROWCOUNT"), "1");
  const auto quiet = run("SET NOCOUNT ON DELETE FROM Orders WHERE OrderID = 4");
  const auto* quietDone = std::get_if<standin::sql::StatementDone>(&quiet.items.back());
  ASSERT_NE(quietDone, nullptr);
  EXPECT_FALSE(quietDone->rowCount.has_value());
}

TEST_F(EngineSql, ConstraintViolationsUseSqlServersNumbers) {
  const auto dup = run("INSERT INTO Customers VALUES (1, 'again', NULL)");
  ASSERT_TRUE(dup.failed());
  EXPECT_EQ(dup.errors()[0].number, 2627);
  const auto nul = run("INSERT INTO Customers VALUES (77, NULL, NULL)");
  ASSERT_TRUE(nul.failed());
  EXPECT_EQ(nul.errors()[0].number, 515);
  EXPECT_EQ(run("CREATE TABLE Customers (x INT)").errors().at(0).number, 2714);
  EXPECT_EQ(run("SELECT nope FROM Customers").errors().at(0).number, 207);
}

TEST_F(EngineSql, AnotherDatabaseIsReachedByItsName) {
  run("USE master");
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM Sample.dbo.Customers"),
            std::to_string(count("Sample", "Customers")));
  EXPECT_EQ(scalar("SELECT COUNT(*) FROM Sample..Orders"), std::to_string(count("Sample", "Orders")));
  EXPECT_EQ(run("SELECT * FROM Nowhere..Orders").errors().at(0).number, 208);
  // the other database is not held once the statement is over
  const auto file = scratch("x.bak").string();
  ASSERT_FALSE(run(backupBatch("Sample", file, false)).failed());
  EXPECT_FALSE(run(restoreStatement("Sample", file)).failed());
}

TEST_F(EngineSql, ExecuteSqlRunsItsTextWithParameters) {
  EXPECT_EQ(
      scalar("EXEC sp_executesql N'SELECT Name FROM Customers WHERE CustomerID = @id', N'@id int', @id = 2"),
      "佐藤 花子");
  const auto dyn = run("EXEC('SELECT ''dynamic'' AS d')");
  EXPECT_EQ(standin::sql::valueToText(dyn.resultSets().at(0).rows.at(0).at(0)), "dynamic");
  const auto rc = run("DECLARE @rc int EXEC @rc = sp_tables SELECT @rc");
  EXPECT_EQ(standin::sql::valueToText(rc.resultSets().back().rows.at(0).at(0)), "0");
}

TEST_F(EngineSql, ANewDatabaseCanBeBackedUpRestoredAndDropped) {
  ASSERT_FALSE(run("CREATE DATABASE Scratch").failed());
  run("USE Scratch CREATE TABLE t (a INT) INSERT INTO t VALUES (1) INSERT INTO t VALUES (2)");
  const auto file = scratch("scratch.bak").string();
  ASSERT_FALSE(run("BACKUP DATABASE Scratch TO DISK = '" + file + "' WITH INIT").failed());
  EXPECT_TRUE(run("DROP DATABASE Scratch").hasMessage(3702));  // this session sits in it
  run("USE master");
  ASSERT_FALSE(run("DROP DATABASE Scratch").failed());
  EXPECT_FALSE(engine_->databaseFile("Scratch"));
  ASSERT_FALSE(run(restoreStatement("Scratch", file)).failed());
  EXPECT_EQ(count("Scratch", "t"), 2);
}
