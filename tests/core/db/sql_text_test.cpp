// T-SQL text built from values.
#include "core/db/sql_text.h"

#include <gtest/gtest.h>

namespace bv::db {
namespace {

TEST(QuoteSqlString, DoublesEachQuoteAndNothingElse) {
  EXPECT_EQ(QuoteSqlString("O'Neil"), "O''Neil");
  EXPECT_EQ(QuoteSqlString("''"), "''''");
  EXPECT_EQ(QuoteSqlString("'"), "''");
  EXPECT_EQ(QuoteSqlString("a\"b]%_[c;--"), "a\"b]%_[c;--");
  EXPECT_EQ(QuoteSqlString("日本'語"), "日本''語");
  EXPECT_EQ(QuoteSqlString(""), "");
}

TEST(BracketName, DoublesEachClosingBracketAndNothingElse) {
  EXPECT_EQ(bracketName("Sales"), "[Sales]");
  EXPECT_EQ(bracketName("a]b"), "[a]]b]");
  EXPECT_EQ(bracketName("[x]"), "[[x]]]");
  EXPECT_EQ(bracketName("売上'"), "[売上']");
  EXPECT_EQ(bracketName(""), "[]");
}

}  // namespace
}  // namespace bv::db
