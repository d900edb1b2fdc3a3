// The T-SQL of batches that work through rows: table variables, WHILE, assignments from
// queries, subqueries, and the string and date functions, as SQL Server 2005 and later run
// them (and as the 2000 release refuses what it lacks).
#include <gtest/gtest.h>

#include <ostream>

#include "engine_support.h"

using namespace standintest;
using standin::sql::BatchResult;

namespace {

class Batches : public EngineTest {
 protected:
  explicit Batches(int year = 2005) : EngineTest(year) {}

  // The first error's number, 0 when the batch ran without one.
  int firstError(const std::string& sql) {
    const auto r = run(sql);
    return r.errors().empty() ? 0 : r.errors()[0].number;
  }

  // Every row of the last result set, its values joined by '|', NULL as NULL.
  std::vector<std::string> rows(const std::string& sql) {
    const auto r = run(sql);
    if (r.failed()) ADD_FAILURE() << sql << ": " << r.errors().front().text;
    const auto sets = r.resultSets();
    std::vector<std::string> out;
    if (sets.empty()) return out;
    for (const auto& row : sets.back().rows) {
      std::string line;
      for (std::size_t i = 0; i < row.size(); ++i)
        line += (i ? "|" : "") +
                (standin::sql::isNull(row[i]) ? std::string("NULL") : standin::sql::valueToText(row[i]));
      out.push_back(line);
    }
    return out;
  }
};

class Batches2000 : public Batches {
 protected:
  Batches2000() : Batches(2000) {}
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(Batches, TableVariablesHoldRowsJoinRealTablesAndEndWithTheBatch) {
  const std::string declare =
      "DECLARE @t TABLE (id int NOT NULL, name nvarchar(10) NULL, [file] int) "
      "INSERT INTO @t VALUES (1, N'Zed', 1) "
      "INSERT @t (id, name) SELECT CustomerID, Name FROM Sample.dbo.Customers WHERE CustomerID <= 2 ";
  EXPECT_EQ(rows(declare + "SELECT id, name, [file] FROM @t ORDER BY id DESC, [file]"),
            (Lines{"2|" + rows("SELECT Name FROM Sample..Customers WHERE CustomerID = 2")[0] + "|NULL",
                   "1|" + rows("SELECT Name FROM Sample..Customers WHERE CustomerID = 1")[0] + "|NULL",
                   "1|Zed|1"}));
  // Joins with real tables, UPDATE and DELETE, compared as the collation compares.
  EXPECT_EQ(rows(declare + "UPDATE @t SET name = N'zed ' WHERE [file] = 1 "
                           "DELETE FROM @t WHERE id = 2 "
                           "SELECT COUNT(*) FROM @t t JOIN Sample.dbo.Customers c ON c.CustomerID = t.id "
                           "WHERE t.name = 'ZED'"),
            (Lines{"1"}));
  EXPECT_EQ(rows(declare + "SELECT @@ROWCOUNT"), (Lines{"2"}));
  // Gone with the batch that declared it.
  EXPECT_EQ(firstError("SELECT * FROM @t"), 1087);
  // What an INSERT refuses: a string longer than its column, NULL in a NOT NULL column, a
  // wrong number of values, a variable that is no table.
  const std::string t = "DECLARE @t TABLE (id int NOT NULL, name nvarchar(3)) ";
  EXPECT_EQ(firstError(t + "INSERT @t VALUES (1, N'four')"), 8152);
  EXPECT_EQ(firstError(t + "INSERT @t VALUES (1, N'abc   ')"), 0);  // trailing blanks are dropped
  EXPECT_EQ(firstError(t + "INSERT @t (name) VALUES (N'x')"), 515);
  EXPECT_EQ(firstError(t + "INSERT @t VALUES (1)"), 213);
  EXPECT_EQ(firstError(t + "INSERT @t (id) SELECT 1, 2"), 121);
  EXPECT_EQ(firstError(t + "INSERT @t VALUES ('x', 'y')"), 245);
  EXPECT_EQ(firstError("DECLARE @n int INSERT @n VALUES (1)"), 1087);
  EXPECT_EQ(firstError(t + "SELECT @t"), 137);
  EXPECT_EQ(firstError("DECLARE @t TABLE (a int, A int)"), 2705);
  EXPECT_EQ(firstError("DECLARE @t TABLE (a int PRIMARY KEY)"), 50000);  // refused, never ignored
  EXPECT_EQ(firstError(t + "USE msdb"), 50000);
}

TEST_F(Batches, InsertExecPutsAProceduresRowsIntoATable) {
  const auto r =
      run("DECLARE @t TABLE (name sysname, size int, remarks varchar(254)) "
          "INSERT INTO @t EXEC sp_databases "
          "SELECT name FROM @t WHERE name LIKE 'm%' ORDER BY name");
  ASSERT_FALSE(r.failed()) << r.errors().front().text;
  ASSERT_EQ(r.resultSets().size(), 1u) << "the procedure's own rows do not reach the client";
  EXPECT_EQ(r.resultSets()[0].rows.size(), 3u);  // master, model, msdb
  EXPECT_EQ(firstError("DECLARE @t TABLE (a int) INSERT @t EXEC sp_databases"), 213);
  EXPECT_EQ(rows("CREATE TABLE dbs (name sysname, size int, remarks varchar(254)) "
                 "INSERT dbs EXEC ('SELECT ''x'', 1, NULL') SELECT name, size FROM dbs"),
            (Lines{"x|1"}));
}

TEST_F(Batches2000, InsertExecIntoATableVariableIsRefusedBefore2005) {
  const auto r =
      run("DECLARE @t TABLE (name sysname, size int, remarks varchar(254)) INSERT @t EXEC sp_databases PRINT "
          "'ran'");
  ASSERT_EQ(r.errors().size(), 1u);
  EXPECT_EQ(r.errors()[0].number, 197);
  EXPECT_EQ(r.errors()[0].text, "EXECUTE cannot be used as a source when inserting into a table variable.");
  EXPECT_TRUE(r.infos().empty()) << "the batch is refused before it runs";
  EXPECT_EQ(firstError("SELECT ROW_NUMBER() OVER (ORDER BY name) FROM master..sysdatabases"), 195);
}

TEST_F(Batches, WhileLoopsWithBreakAndContinue) {
  EXPECT_EQ(rows("DECLARE @i int, @sum int SET @i = 0 SET @sum = 0 "
                 "WHILE @i < 10 BEGIN "
                 "  SET @i = @i + 1 "
                 "  IF @i % 2 = 0 CONTINUE "
                 "  IF @i > 7 BREAK "
                 "  SET @sum = @sum + @i "
                 "END SELECT @i, @sum"),
            (Lines{"9|16"}));  // 1 + 3 + 5 + 7
  // Nested loops: BREAK leaves the inner one only; RETURN leaves the batch.
  EXPECT_EQ(rows("DECLARE @a int, @n int SET @a = 0 SET @n = 0 "
                 "WHILE @a < 3 BEGIN SET @a = @a + 1 WHILE 1 = 1 BEGIN SET @n = @n + 1 BREAK END END "
                 "SELECT @a, @n"),
            (Lines{"3|3"}));
  const auto returned =
      run("DECLARE @i int SET @i = 0 WHILE 1 = 1 BEGIN SET @i = @i + 1 IF @i = 5 RETURN END SELECT 1");
  EXPECT_FALSE(returned.failed());
  EXPECT_TRUE(returned.resultSets().empty());
  EXPECT_EQ(firstError("BREAK"), 135);
  EXPECT_EQ(firstError("IF 1 = 1 CONTINUE"), 136);
}

TEST_F(Batches, AnEndlessLoopEndsWithAnAttention) {
  int asked = 0;
  const auto r = session_->executeBatch("DECLARE @i int SET @i = 0 WHILE 1 = 1 SET @i = 0",
                                        [&] { return ++asked > 1000; });
  EXPECT_TRUE(r.cancelled);
  // The session goes on.
  EXPECT_EQ(scalar("SELECT 1"), "1");
}

TEST_F(Batches, AssignmentsFromQueriesAndRowCounts) {
  const std::string t =
      "DECLARE @t TABLE (n int, s nvarchar(10)) INSERT @t VALUES (1, N'a') INSERT @t VALUES (2, N'b') "
      "INSERT @t VALUES (3, N'c') DECLARE @v nvarchar(10), @k int SET @v = N'none' ";
  EXPECT_EQ(rows(t + "SELECT TOP 1 @v = s, @k = n FROM @t ORDER BY n DESC SELECT @v, @k, @@ROWCOUNT"),
            (Lines{"c|3|1"}));
  EXPECT_EQ(rows(t + "SELECT @v = s FROM @t WHERE n > 5 SELECT @v, @@ROWCOUNT"), (Lines{"none|0"}));
  EXPECT_EQ(rows(t + "SELECT @v = s FROM @t ORDER BY n SELECT @v, @@ROWCOUNT"),
            (Lines{"c|3"}));  // the last row
  EXPECT_EQ(rows(t + "DECLARE @top int SET @top = 2 SELECT TOP (@top) n FROM @t ORDER BY n DESC"),
            (Lines{"3", "2"}));
  // @@ROWCOUNT after each kind of statement.
  EXPECT_EQ(rows(t + "UPDATE @t SET s = N'x' WHERE n >= 2 SELECT @@ROWCOUNT"), (Lines{"2"}));
  EXPECT_EQ(rows(t + "DELETE FROM @t SELECT @@ROWCOUNT"), (Lines{"3"}));
  EXPECT_EQ(rows(t + "SELECT n FROM @t SELECT @@ROWCOUNT"), (Lines{"3"}));
  EXPECT_EQ(rows(t + "SET @k = 7 SELECT @@ROWCOUNT"), (Lines{"1"}));
  EXPECT_EQ(rows(t + "SET NOCOUNT ON SELECT @@ROWCOUNT"), (Lines{"0"}));
  EXPECT_EQ(firstError(t + "SELECT @k = n, s FROM @t"), 141);
}

TEST_F(Batches, ExistsAndScalarSubqueries) {
  const std::string t = "DECLARE @t TABLE (n int) INSERT @t VALUES (1) INSERT @t VALUES (2) DECLARE @m int ";
  EXPECT_EQ(rows(t + "IF EXISTS (SELECT * FROM @t WHERE n = 2) SELECT 'yes' ELSE SELECT 'no'"),
            (Lines{"yes"}));
  EXPECT_EQ(rows(t + "IF NOT EXISTS (SELECT * FROM @t WHERE n = 3) SELECT 'none'"), (Lines{"none"}));
  EXPECT_EQ(rows(t + "SET @m = (SELECT MAX(n) FROM @t) SELECT @m"), (Lines{"2"}));
  EXPECT_EQ(rows(t + "IF (SELECT COUNT(*) FROM @t) > 1 SELECT 'many'"), (Lines{"many"}));
  EXPECT_EQ(rows(t + "SET @m = (SELECT n FROM @t WHERE n > 5) SELECT ISNULL(@m, -1)"), (Lines{"-1"}));
  EXPECT_EQ(rows(t + "IF 2 IN (SELECT n FROM @t) SELECT 'in'"), (Lines{"in"}));
  EXPECT_EQ(rows(t + "SELECT n FROM @t o WHERE EXISTS (SELECT * FROM @t i WHERE i.n = o.n + 1)"),
            (Lines{"1"}));
  EXPECT_EQ(firstError(t + "SET @m = (SELECT n FROM @t)"), 512);
  EXPECT_EQ(firstError(t + "SET @m = (SELECT n, n FROM @t)"), 116);
  EXPECT_EQ(firstError(t + "SELECT * FROM (SELECT n FROM @t ORDER BY n) d"), 1033);
  EXPECT_EQ(rows(t + "SELECT * FROM (SELECT TOP 1 n FROM @t ORDER BY n DESC) d"), (Lines{"2"}));
}

TEST_F(Batches, RowNumberNumbersRowsInItsOwnOrder) {
  EXPECT_EQ(
      rows("DECLARE @t TABLE (s nvarchar(20)) "
           "INSERT @t VALUES (N'b_20240102.bak') INSERT @t VALUES (N'b_20240105.bak') "
           "INSERT @t VALUES (N'b_20240103.bak') "
           "SELECT c.s FROM (SELECT s, ROW_NUMBER() OVER (ORDER BY SUBSTRING(s, 3, 8) DESC) AS r FROM @t) c "
           "WHERE c.r >= 2 ORDER BY c.r"),
      (Lines{"b_20240103.bak", "b_20240102.bak"}));
  EXPECT_EQ(firstError("SELECT ROW_NUMBER() OVER (PARTITION BY name) FROM master..sysdatabases"), 4112);
  EXPECT_EQ(firstError("SELECT SUM(dbid) OVER (ORDER BY name) FROM master..sysdatabases"), 102);  // 2012 on
}

// The same expression evaluated by the stand-in itself (no FROM) and on the storage engine
// (a query of a table): both follow T-SQL.
struct Expression {
  const char* expression;
  const char* value;
};

// How CTest lists a case (otherwise its raw bytes, pointers included, differ from run to run).
void PrintTo(const Expression& e, std::ostream* out) { *out << e.expression; }

class Functions : public Batches, public ::testing::WithParamInterface<Expression> {};

TEST_P(Functions, GiveTSqlsValueWhereverTheyRun) {
  const auto& p = GetParam();
  EXPECT_EQ(rows(std::string("SELECT ") + p.expression), (Lines{p.value})) << "evaluated by the stand-in";
  EXPECT_EQ(rows(std::string("DECLARE @one TABLE (x int) INSERT @one VALUES (1) SELECT ") + p.expression +
                 " FROM @one"),
            (Lines{p.value}))
      << "on the storage engine";
}

INSTANTIATE_TEST_SUITE_P(
    Batches, Functions,
    ::testing::Values(
        Expression{"ISDATE('20240229')", "1"}, Expression{"ISDATE('20230229')", "0"},
        Expression{"ISDATE('17521231')", "0"},  // before datetime's first year
        Expression{"ISDATE('2024-01-05')", "1"}, Expression{"ISDATE('01/31/2024')", "1"},
        Expression{"ISDATE('31/01/2024')", "0"},  // month 31 in mdy
        Expression{"ISDATE('2024-01-05T10:20:30')", "1"}, Expression{"ISDATE('Jan 5 2024 10:20PM')", "1"},
        Expression{"ISDATE('2024010')", "0"}, Expression{"ISDATE('abc')", "0"}, Expression{"ISDATE('')", "0"},
        Expression{"DATALENGTH(N'ab')", "4"}, Expression{"DATALENGTH(N'ab  ')", "8"},
        Expression{"LEN(N'ab  ')", "2"}, Expression{"LEN(N'  ab')", "4"},
        Expression{"CHARINDEX('_', 'Sample_20240105.bak')", "7"},
        Expression{"CHARINDEX('.', REVERSE('a.b.bak'))", "4"}, Expression{"REVERSE(N'日本語')", "語本日"},
        Expression{"LEFT('Sample_2024', 6)", "Sample"}, Expression{"RIGHT('x.bak', 4)", ".bak"},
        Expression{"SUBSTRING('Sample_20240105.bak', 8, 8)", "20240105"},
        Expression{"CASE WHEN '20240105' LIKE '[0-9][0-9][0-9][0-9][0-9][0-9][0-9][0-9]' THEN 1 ELSE 0 END",
                   "1"},
        Expression{"CASE WHEN '2024010x' LIKE '%[^0-9]%' THEN 1 ELSE 0 END", "1"},
        Expression{
            "CASE WHEN 'a_b' LIKE 'a!_b' ESCAPE '!' AND 'axb' NOT LIKE 'a!_b' ESCAPE '!' THEN 1 ELSE 0 END",
            "1"},
        Expression{"CASE WHEN 'SAMPLE_1.BAK' LIKE 'sample[_]%.bak' THEN 1 ELSE 0 END", "1"},
        Expression{"CASE WHEN '[x]' LIKE '[[]x]' THEN 1 ELSE 0 END", "1"},
        Expression{"CASE WHEN LEFT(N'Sample_1', 7) = N'SAMPLE_  ' AND 'b' > 'A' THEN 1 ELSE 0 END", "1"},
        Expression{"CONVERT(int, '42') + CAST('8' AS int)", "50"},
        Expression{"CONVERT(nvarchar(8), CONVERT(datetime, '20240105'), 112)", "20240105"},
        Expression{"CAST(CAST('2024-01-05 10:20:30' AS datetime) AS nvarchar(30))", "Jan  5 2024 10:20AM"}));

TEST_F(Batches, ConversionsFailAsTSqlFails) {
  for (const char* from : {"", " FROM (SELECT 1 AS x) d"}) {
    EXPECT_EQ(firstError(std::string("SELECT CAST('abc' AS int)") + from), 245) << from;
    EXPECT_EQ(firstError(std::string("SELECT CONVERT(datetime, '2023-02-30')") + from), 241) << from;
    EXPECT_EQ(firstError(std::string("SELECT CASE WHEN 'a' LIKE 'a' ESCAPE 'xy' THEN 1 END") + from), 506)
        << from;
  }
  // SET DATEFORMAT is honoured, and eight digits are a date under every order.
  EXPECT_EQ(rows("SET DATEFORMAT dmy SELECT ISDATE('31/01/2024'), ISDATE('20240131'), "
                 "CONVERT(nvarchar(8), CONVERT(datetime, '02/01/2024'), 112)"),
            (Lines{"1|1|20240102"}));
}

TEST_F(Batches, DynamicSqlRunsInABatchOfItsOwn) {
  EXPECT_EQ(rows("DECLARE @sql nvarchar(100) SET @sql = N'SELECT ' + N'41 + 1' EXEC (@sql)"), (Lines{"42"}));
  EXPECT_EQ(rows("DECLARE @stmt nvarchar(200), @v nvarchar(260) SET @v = N'it''s' "
                 "SET @stmt = N'SELECT @p + N''!''' "
                 "EXEC sp_executesql @stmt, N'@p nvarchar(260)', @p = @v"),
            (Lines{"it's!"}));
  // A table variable is not seen by the batch EXEC runs.
  EXPECT_EQ(firstError("DECLARE @t TABLE (a int) EXEC ('SELECT * FROM @t')"), 1087);
}
