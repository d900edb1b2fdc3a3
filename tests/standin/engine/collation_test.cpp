// Collations as SQL Server resolves them: COLLATE on any operand, the known collations each
// compared its own way, a database's collation taken by its tables and by table variables, and
// 468 where two implicit collations meet; then the T-SQL the program's job steps send.
#include <gtest/gtest.h>

#include <ostream>

#include "engine_support.h"

using namespace standintest;

namespace {

class Collations : public EngineTest {
 protected:
  explicit Collations(int year = 2005) : EngineTest(year) {}
  // The last result set's first value, or "error N" for the first error.
  std::string answer(const std::string& sql) {
    const auto r = run(sql);
    if (r.failed()) return "error " + std::to_string(r.errors()[0].number);
    const auto sets = r.resultSets();
    if (sets.empty() || sets.back().rows.empty()) return "<none>";
    const auto& v = sets.back().rows[0][0];
    return standin::sql::isNull(v) ? "NULL" : standin::sql::valueToText(v);
  }
};

struct Case {
  const char* name;
  std::string sql;
  std::string expected;  // the first value, or "error N"
};
std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.name; }

// A table variable of three names in the server's collation, for the statements SQLite runs.
const std::string kNames =
    "DECLARE @t TABLE (n nvarchar(10), k int); INSERT INTO @t VALUES (N'b', 1); INSERT INTO @t VALUES (N'B', "
    "2);"
    " INSERT INTO @t VALUES (N'a', 3); ";

class Collate : public Collations, public ::testing::WithParamInterface<Case> {};

TEST_P(Collate, ComparesAsTheCollationDoes) {
  EXPECT_EQ(answer(GetParam().sql), GetParam().expected) << GetParam().sql;
}

std::string when(const std::string& condition) {
  return "SELECT CASE WHEN " + condition + " THEN 1 ELSE 0 END";
}

INSTANTIATE_TEST_SUITE_P(
    Expressions, Collate,
    ::testing::Values(
        Case{"server_ci", when("N'abc' = N'ABC'"), "1"},
        Case{"bin2_left", when("N'abc' COLLATE Latin1_General_BIN2 = N'ABC'"), "0"},
        Case{"bin2_right", when("N'abc' = N'ABC' COLLATE Latin1_General_BIN2"), "0"},
        Case{"japanese_bin2", when("N'abc' = N'ABC' COLLATE Japanese_BIN2"), "0"},
        Case{"cs_as", when("N'abc' = N'ABC' COLLATE Latin1_General_CS_AS"), "0"},
        Case{"the_ci_ones", when("N'abc' = N'ABC' COLLATE Latin1_General_CI_AS AND N'abc' = N'ABC' COLLATE "
                                 "Latin1_General_CI_AS_KS_WS AND N'abc' = N'ABC' COLLATE SQL_Latin1_General_CP1_CI_AS"),
             "1"},
        Case{"database_default", when("N'abc' = N'ABC' COLLATE DATABASE_DEFAULT"), "1"},
        Case{"bin2_pads", when("N'abc  ' COLLATE Latin1_General_BIN2 = N'abc'"), "1"},
        Case{"bin2_code_points", when("N'B' COLLATE Latin1_General_BIN2 < N'a'"), "1"},
        Case{"ci_order", when("N'B' < N'a'"), "0"},
        Case{"cs_lower_first", when("N'a' COLLATE Latin1_General_CS_AS < N'A'"), "1"},
        Case{"cs_letters_first", when("N'A' COLLATE Latin1_General_CS_AS < N'b'"), "1"},
        Case{"like_bin2", when("N'ABC' COLLATE Latin1_General_BIN2 LIKE N'a%'"), "0"},
        Case{"like_ci", when("N'ABC' LIKE N'a%' COLLATE Latin1_General_CI_AS"), "1"},
        Case{"in_bin2", when("N'ABC' COLLATE Latin1_General_BIN2 IN (N'abc', N'x')"), "0"},
        Case{"case_operand", "SELECT CASE N'ABC' COLLATE Latin1_General_BIN2 WHEN N'abc' THEN 1 ELSE 0 END",
             "0"},
        Case{"parenthesised",
             "DECLARE @a nvarchar(9) = N'x', @b nvarchar(9) = N'Y';" +
                 when("(@a + @b) COLLATE Latin1_General_BIN2 = N'xy'"),
             "0"},
        Case{"through_substring", when("SUBSTRING(N'xABx', 2, 2) COLLATE Latin1_General_BIN2 = N'ab'"), "0"},
        Case{"unknown_collation", when("N'a' COLLATE Klingon_CI_AS = N'a'"), "error 448"},
        Case{"two_explicit", when("N'a' COLLATE Latin1_General_BIN2 = N'a' COLLATE Latin1_General_CS_AS"),
             "error 468"},
        Case{"table_ci", kNames + "SELECT COUNT(*) FROM @t WHERE n = N'B'", "2"},
        Case{"table_bin2", kNames + "SELECT COUNT(*) FROM @t WHERE n = N'B' COLLATE Latin1_General_BIN2",
             "1"},
        Case{"table_bin2_left",
             kNames + "SELECT COUNT(*) FROM @t t WHERE t.n COLLATE Latin1_General_BIN2 >= N'a'", "2"},
        Case{"table_like_bin2",
             kNames + "SELECT COUNT(*) FROM @t WHERE n COLLATE Latin1_General_BIN2 LIKE N'b%'", "1"},
        Case{"table_not_like_cs",
             kNames + "SELECT COUNT(*) FROM @t WHERE n NOT LIKE N'b%' COLLATE Latin1_General_CS_AS", "2"},
        Case{"table_order_bin2", kNames + "SELECT TOP 1 n FROM @t ORDER BY n COLLATE Latin1_General_BIN2",
             "B"},
        Case{"table_order_bin2_desc", kNames + "SELECT TOP 1 n FROM @t ORDER BY n COLLATE Japanese_BIN2 DESC",
             "b"},
        Case{"table_in",
             kNames + "SELECT COUNT(*) FROM @t WHERE n COLLATE Latin1_General_BIN2 IN (N'B', N'c')", "1"},
        Case{"table_case",
             kNames + "SELECT SUM(CASE n COLLATE Latin1_General_BIN2 WHEN N'b' THEN 1 ELSE 0 END) FROM @t",
             "1"},
        Case{"table_unknown", "SELECT 1; " + kNames + "SELECT n FROM @t WHERE n = N'a' COLLATE Nope",
             "error 448"}),
    [](const auto& p) { return std::string(p.param.name); });

// A database of its own collation: its tables' and table variables' text columns take it, and
// so do literals and variables while it is current.
TEST_F(Collations, ADatabaseCollationIsTakenByItsTablesAndTableVariables) {
  ASSERT_FALSE(run("CREATE DATABASE cs COLLATE Latin1_General_CS_AS").failed());
  EXPECT_EQ(answer("SELECT collation_name FROM sys.databases WHERE name = N'cs'"), "Latin1_General_CS_AS");
  EXPECT_EQ(answer("SELECT DATABASEPROPERTYEX(N'cs', 'Collation')"), "Latin1_General_CS_AS");
  EXPECT_EQ(answer("SELECT DATABASEPROPERTYEX(N'Sample', 'Collation')"), "Japanese_CI_AS");
  EXPECT_EQ(answer("CREATE DATABASE other COLLATE Klingon_CI_AS"), "error 448");
  ASSERT_FALSE(run("USE cs; CREATE TABLE t (n nvarchar(10)); INSERT INTO t VALUES (N'abc')").failed());
  EXPECT_EQ(answer("SELECT COUNT(*) FROM t WHERE n = N'ABC'"), "0");
  EXPECT_EQ(answer("SELECT COUNT(*) FROM t WHERE n = N'abc  '"), "1");
  EXPECT_EQ(answer("SELECT CASE WHEN N'a' = N'A' THEN 1 ELSE 0 END"), "0")
      << "literals take the current database's";
  EXPECT_EQ(answer("DECLARE @v TABLE (n nvarchar(10)); INSERT INTO @v VALUES (N'abc');"
                   " SELECT COUNT(*) FROM @v WHERE n = N'ABC'"),
            "0");
  EXPECT_EQ(answer("USE Sample; SELECT COUNT(*) FROM cs.dbo.t WHERE n = N'ABC'"), "0")
      << "a column keeps its own";
  EXPECT_EQ(answer("SELECT COUNT(*) FROM cs.dbo.t WHERE n = N'ABC' COLLATE DATABASE_DEFAULT"), "1");
}

// A backup carries its database's collation: the history and HEADERONLY show it, a restore to a
// new name keeps it; a data folder of a version that kept none gives every database the server's.
TEST_F(Collations, TheCollationTravelsWithBackupsAndOldFoldersTakeTheServers) {
  const auto media = scratch("cs.bak").string();
  ASSERT_FALSE(run("CREATE DATABASE cs COLLATE Latin1_General_CS_AS").failed());
  ASSERT_FALSE(run("BACKUP DATABASE cs TO DISK = N'" + media + "' WITH INIT").failed());
  EXPECT_EQ(answer("SELECT collation_name FROM msdb.dbo.backupset WHERE database_name = N'cs'"),
            "Latin1_General_CS_AS");
  const auto header = run("RESTORE HEADERONLY FROM DISK = N'" + media + "'").resultSets();
  ASSERT_EQ(header.size(), 1u);
  std::string collation;
  for (std::size_t i = 0; i < header[0].columns.size(); ++i)
    if (header[0].columns[i].name == "Collation") collation = standin::sql::valueToText(header[0].rows[0][i]);
  EXPECT_EQ(collation, "Latin1_General_CS_AS");
  ASSERT_FALSE(run("RESTORE DATABASE cs_copy FROM DISK = N'" + media + "'").failed());
  EXPECT_EQ(answer("SELECT DATABASEPROPERTYEX(N'cs_copy', 'Collation')"), "Latin1_General_CS_AS");

  session_.reset();
  engine_->execute("master", "ALTER TABLE bv_databases DROP COLUMN collation");
  engine_.reset();
  standin::engine::EngineConfig c;
  c.dataDir = dir_.path() / "data";
  c.recordFile = bvtest::nextRecordingFile();
  c.saPassword = "pw";
  engine_ = std::make_unique<standin::engine::Engine>(c);
  session_ = login();
  EXPECT_EQ(answer("SELECT COUNT(*) FROM sys.databases WHERE collation_name = N'Japanese_CI_AS'"),
            std::to_string(engine_->databases().size()));
}

// Two implicit collations meeting in a comparison: 468 when the statement runs, unless an
// explicit COLLATE settles it; columns of no text and operands of one collation never conflict.
TEST_F(Collations, ImplicitCollationsInConflict) {
  const std::string setUp =
      "DECLARE @folder nvarchar(260) = N'/b/'; DECLARE @f TABLE (subdirectory nvarchar(260), n int);"
      " INSERT INTO @f VALUES (N'x.bak', 1); ";
  const std::string family = "SELECT COUNT(*) FROM msdb.dbo.backupmediafamily m JOIN @f f ON ";
  struct Conflict {
    const char* name;
    std::string database;  // where the table variable is declared
    std::string statement;
    std::string expected;  // "error 468 <operation>" or the count
  };
  const std::vector<Conflict> cases = {
      {"new_shape", "bin", family + "m.physical_device_name = @folder + f.subdirectory",
       "error 468 equal to"},
      {"old_shape", "Sample", family + "m.physical_device_name = @folder + f.subdirectory", "0"},
      {"database_default", "bin",
       family + "m.physical_device_name = @folder + f.subdirectory COLLATE DATABASE_DEFAULT", "0"},
      {"parenthesised", "bin",
       family + "m.physical_device_name = (@folder + f.subdirectory) COLLATE Latin1_General_BIN2", "0"},
      {"left_explicit", "bin", family + "m.physical_device_name COLLATE Latin1_General_BIN2 = f.subdirectory",
       "0"},
      {"not_equal", "bin", family + "m.physical_device_name <> f.subdirectory", "error 468 not equal to"},
      {"less_than", "bin", family + "m.physical_device_name < f.subdirectory", "error 468 less than"},
      {"greater_equal", "bin", family + "m.physical_device_name >= f.subdirectory",
       "error 468 greater than or equal to"},
      {"like", "bin", family + "m.physical_device_name LIKE f.subdirectory + N'%'", "error 468 like"},
      {"through_a_function", "bin", family + "UPPER(m.physical_device_name) = LEFT(f.subdirectory, 3)",
       "error 468 equal to"},
      {"numbers", "bin", family + "m.media_set_id = f.n", "0"},
      {"variable_only", "bin", family + "m.physical_device_name = @folder", "0"},
      {"table_name", "bin",
       "SELECT COUNT(*) FROM msdb.dbo.backupmediafamily JOIN @f f ON backupmediafamily.physical_device_name "
       "= "
       "f.subdirectory",
       "error 468 equal to"},
      {"unqualified", "bin",
       "SELECT COUNT(*) FROM msdb.dbo.backupmediafamily, @f WHERE physical_device_name = subdirectory",
       "error 468 equal to"},
      {"derived_table", "bin",
       "SELECT COUNT(*) FROM (SELECT physical_device_name AS p FROM msdb.dbo.backupmediafamily) d, @f f"
       " WHERE d.p = f.subdirectory",
       "0"},
  };
  ASSERT_FALSE(run("CREATE DATABASE bin COLLATE Latin1_General_BIN2").failed());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = run("USE " + c.database + "; " + setUp + c.statement);
    if (c.expected.rfind("error", 0) == 0) {
      ASSERT_TRUE(r.failed());
      const auto errors = r.errors();
      const auto& e = errors[0];
      const auto at = e.text.rfind(" in the ") + 8;
      EXPECT_EQ(
          "error " + std::to_string(e.number) + " " + e.text.substr(at, e.text.rfind(" operation.") - at),
          c.expected);
      EXPECT_EQ(e.severity, 16);
      EXPECT_NE(e.text.find("\"Japanese_CI_AS\" and \"Latin1_General_BIN2\""), std::string::npos) << e.text;
    } else {
      EXPECT_EQ(answer("USE " + c.database + "; " + setUp + c.statement), c.expected);
    }
  }
}

class JobStepTsql : public Collations, public ::testing::WithParamInterface<Case> {};

TEST_P(JobStepTsql, RunsAsSqlServerRunsIt) {
  EXPECT_EQ(answer(GetParam().sql), GetParam().expected) << GetParam().sql;
}

INSTANTIATE_TEST_SUITE_P(
    Statements, JobStepTsql,
    ::testing::Values(
        Case{"long_dynamic_sql",
             "DECLARE @sql nvarchar(max) = N'SELECT LEN(N''' + REPLICATE(CONVERT(nvarchar(max), N'x'), 4500) "
             "+ N''')';"
             " SET @sql = @sql + N' + 1'; EXEC (@sql)",
             "4501"},
        Case{"insert_exec_fewer_columns",
             "DECLARE @t TABLE (a int, b nvarchar(10), c int); DECLARE @sql nvarchar(max) = N'SELECT 7';"
             " INSERT INTO @t (a) EXEC (@sql); SELECT CONVERT(nvarchar(5), a) + N'|' + ISNULL(b, N'null') + "
             "N'|' +"
             " ISNULL(CONVERT(nvarchar(5), c), N'null') FROM @t",
             "7|null|null"},
        Case{"try_drop_in_while_break",
             "DECLARE @n int = 0, @m nvarchar(400) = N''; WHILE @n < 5 BEGIN SET @n = @n + 1;"
             " BEGIN TRY DROP DATABASE [no_such_db] END TRY BEGIN CATCH SET @m = ERROR_MESSAGE(); BREAK; END "
             "CATCH"
             " END; SELECT CONVERT(nvarchar(5), @n) + N':' + LEFT(@m, 26)",
             "1:Cannot drop the database '"},
        Case{"print_error_message",
             "BEGIN TRY SELECT 1/0 END TRY BEGIN CATCH PRINT N'failed: ' + ERROR_MESSAGE() END CATCH; SELECT "
             "1",
             "1"},
        Case{"convert_left_charindex",
             "DECLARE @v nvarchar(20) = N'15.0.2000.5'; SELECT CONVERT(int, LEFT(@v, CHARINDEX(N'.', @v) - "
             "1))",
             "15"},
        Case{"newid_without_dashes", "SELECT LEN(REPLACE(CONVERT(nvarchar(36), NEWID()), N'-', N''))", "32"},
        Case{"digits_only_bin2",
             "DECLARE @x nvarchar(40) = N'Sample_20261208_1'; SELECT CASE WHEN SUBSTRING(@x, 8, 8) COLLATE"
             " Latin1_General_BIN2 NOT LIKE N'%[^0-9]%' THEN 1 ELSE 0 END",
             "1"},
        Case{"digits_only_bin2_fails",
             "DECLARE @x nvarchar(40) = N'Sample_2026x208_1'; SELECT CASE WHEN SUBSTRING(@x, 8, 8) COLLATE"
             " Latin1_General_BIN2 NOT LIKE N'%[^0-9]%' THEN 1 ELSE 0 END",
             "0"},
        Case{"insert_exec_host_info",
             "DECLARE @h TABLE (p nvarchar(256)); INSERT INTO @h EXEC (N'SELECT host_platform FROM "
             "sys.dm_os_host_info');"
             " SELECT p FROM @h",
             "error 208"},
        Case{"row_number_bin2",
             "DECLARE @t TABLE (n nvarchar(10)); INSERT INTO @t VALUES (N'b'); INSERT INTO @t VALUES (N'B');"
             " INSERT INTO @t VALUES (N'a');"
             " SELECT TOP 1 n FROM (SELECT n, ROW_NUMBER() OVER (ORDER BY n COLLATE Latin1_General_BIN2 "
             "DESC) AS r"
             " FROM @t) x WHERE r = 1",
             "b"}),
    [](const auto& p) { return std::string(p.param.name); });

class Collations2017 : public Collations {
 protected:
  Collations2017() : Collations(2017) {}
};

TEST_F(Collations2017, InsertExecTakesTheHostInfo) {
  EXPECT_EQ(answer("DECLARE @h TABLE (p nvarchar(256)); INSERT INTO @h EXEC (N'SELECT host_platform FROM "
                   "sys.dm_os_host_info'); SELECT p FROM @h"),
            "Linux");
}

}  // namespace
