// The rewrites that keep T-SQL's meaning on SQLite, run on a real connection: T-SQL in, SQLite's
// rows (or SQL Server's error) out, where SQLite's own +, CAST, LIKE, ... would answer otherwise.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "standin/base/collation.h"
#include "standin/sql/errors.h"
#include "standin/sql/lexer.h"
#include "standin/sql/value.h"
#include "standin/storage/passthrough.h"
#include "standin/storage/rewrite.h"
#include "standin/storage/sqlite_db.h"

namespace {

namespace sql = standin::sql;
namespace storage = standin::storage;

struct Case {
  const char* name;
  const char* tsql;
  const char* rows;  // values '|' apart, rows ';' apart; or "error N"
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.tsql; }

class Rewrites : public ::testing::TestWithParam<Case> {
 protected:
  Rewrites() : db_(storage::Database::openMemory()) {
    storage::registerStorageFunctions(db_.get());
    db_.exec(
        "CREATE TABLE t (n INTEGER, name TEXT, code TEXT);"
        "INSERT INTO t VALUES (1, 'Abc', 'Abc'), (2, 'abc', 'abc'), (3, 'x', 'x');");
  }
  storage::Database db_;
};

TEST_P(Rewrites, MeanOnSqliteWhatTheyMeanOnSqlServer) {
  // What the engine tells of the table: name in the server's collation, code in a case-sensitive one.
  storage::CollationScope scope;
  scope.column = [](const std::vector<std::string>& parts) {
    return parts.back() == "code" ? standin::base::findCollation("Latin1_General_CS_AS")
                                  : &standin::base::serverCollation();
  };
  std::string rows;
  try {
    std::string text;  // quoted for SQLite as the engine hands it on: 'texts' and "names"
    for (const auto& t : storage::rewriteForStorage(sql::tokenize(GetParam().tsql), scope))
      text += (t.kind == sql::Token::Kind::String             ? storage::quoteString(t.text)
               : t.kind == sql::Token::Kind::QuotedIdentifier ? storage::quoteIdentifier(t.text)
                                                              : t.raw) +
              " ";
    for (const auto& row : storage::select(db_.get(), text)) {
      rows += rows.empty() ? "" : ";";
      for (std::size_t i = 0; i < row.size(); ++i) rows += (i ? "|" : "") + sql::valueToText(row[i]);
    }
  } catch (const sql::SqlError& e) {
    rows = "error " + std::to_string(e.message.number);
  } catch (const storage::Error& e) {
    rows = "error " + std::to_string(storage::messageFor(e, "Sample").number);
  }
  EXPECT_EQ(rows, GetParam().rows);
}

INSTANTIATE_TEST_SUITE_P(
    Storage, Rewrites,
    ::testing::Values(
        // + joins texts and refuses to add a number to one that holds none; [names] and N'' texts.
        Case{"Concatenation", "SELECT [name] + N'''s' + N'日本' FROM [t] WHERE [n] = 3", "x's日本"},
        Case{"NumberAndText", "SELECT 'x' + 1", "error 245"},
        // CONVERT and CAST with T-SQL's types, styles and refusals; the built-in functions.
        Case{"ConvertStyle", "SELECT CONVERT(char(10), CAST('2024-03-05' AS datetime), 111)", "2024/03/05"},
        Case{"CastRefused", "SELECT CAST('abc' AS int)", "error 245"},
        Case{"Functions", "SELECT LEN(name + ' '), LEFT(name, 2) FROM t WHERE n = 1", "3|Ab"},
        // TOP becomes a LIMIT at the end of its own SELECT.
        Case{"Top", "SELECT TOP 2 n FROM t ORDER BY n DESC", "3;2"},
        Case{"TopExpression", "SELECT TOP (1 + 1) n FROM t ORDER BY n", "1;2"},
        Case{"TopInSubquery", "SELECT n FROM t WHERE n = (SELECT TOP 1 n FROM t ORDER BY n DESC)", "3"},
        Case{"TopNegative", "SELECT TOP (-1) n FROM t", "error 127"},
        Case{"TopPercent", "SELECT TOP 10 PERCENT n FROM t", "error 50000"},
        // Comparisons in the collation T-SQL's precedence gives them, trailing blanks ignored.
        Case{"ServersCollation", "SELECT COUNT(*) FROM t WHERE name = 'ABC '", "2"},
        Case{"ColumnsCollation", "SELECT n FROM t WHERE code > 'B' OR code = 'ABC'", "3"},
        Case{"ExplicitWins", "SELECT COUNT(*) FROM t WHERE code = 'ABC' COLLATE Japanese_CI_AS", "2"},
        Case{"ColumnsInConflict", "SELECT COUNT(*) FROM t WHERE code = name", "error 468"},
        // LIKE with T-SQL's patterns, heeding case where the collation does.
        Case{"LikePattern", "SELECT COUNT(*) FROM t WHERE name LIKE '[a-c]b_'", "2"},
        Case{"LikeInCollation", "SELECT n FROM t WHERE code NOT LIKE 'A%'", "2;3"}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
