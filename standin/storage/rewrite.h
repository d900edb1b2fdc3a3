// Keeping T-SQL's meaning in statements handed to SQLite: the operators and functions whose
// SQLite namesakes mean something else are rewritten into calls of the stand-in's own SQLite
// functions, which evaluate them with the engine's T-SQL rules.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "standin/base/collation.h"
#include "standin/sql/evaluator.h"
#include "standin/sql/lexer.h"
#include "standin/sql/results.h"

namespace standin::storage {

// Rewrites the expressions of a SELECT, INSERT, UPDATE or DELETE:
//   a + b                      -> bv_add(a, b)       (T-SQL: concatenation of two strings,
//                                                     else addition with the string converted)
//   CONVERT(type, e [, style]) -> bv_convert(kind, length, e [, style])
//   CAST(e AS type)            -> bv_convert(kind, length, e)
//   LEN(e), CHARINDEX(a, b)... -> bv_len(e), bv_charindex(a, b)... (sql/functions.h)
//   SELECT TOP n ...           -> SELECT ... LIMIT n (at the end of that SELECT)
//   x COLLATE name             -> x COLLATE BV_NAME  (the stand-in's own SQLite collations)
//   a op b (=, <>, <, ...)     -> a op b COLLATE BV_C, C the collation T-SQL's precedence gives
//                                 them: an explicit COLLATE on either, else a column's, else the
//                                 current database's; 468 where two differ that give way to none
//   a [NOT] LIKE b             -> [NOT] bv_like(a, b, 'C' [, escape]) where C heeds case
// Everything else is kept token for token. Throws sql::SqlError for an unknown type name, for
// what TOP cannot be turned into, and for a collation conflict (468).
struct CollationScope {
  // The current database's collation: literals and variables compare in it, DATABASE_DEFAULT
  // names it. Null: the server's.
  const base::Collation* database = nullptr;
  // The collation of a column the statement names (the parts of its name, the column last): its
  // table's; null when it is no text column or cannot be told (it then gives way to the other
  // operand). Empty: no column is told.
  std::function<const base::Collation*(const std::vector<std::string>& parts)> column;
};
std::vector<sql::Token> rewriteForStorage(const std::vector<sql::Token>& tokens,
                                          const CollationScope& scope = {});

// Makes the functions of those rewrites known to a connection (bv_add, bv_convert, bv_top,
// bv_like and the built-in functions), LIKE with T-SQL's patterns, and a SQLite collation for
// each collation the stand-in knows (base::storageCollationName).
void registerStorageFunctions(sqlite3* db);

// A function of the caller's own, made known to a connection under `name` (any number of
// arguments, not deterministic): it is called with the arguments' values, and a sql::SqlError it
// raises becomes the statement's error, as with the functions above.
using StorageFunction = std::function<sql::TypedValue(const std::vector<sql::TypedValue>&)>;
void registerFunction(sqlite3* db, const std::string& name, StorageFunction function);

// The T-SQL error that one of those functions raised on this thread while the last statement
// ran (SQLite itself only reports that a function failed); cleared by taking it.
std::optional<sql::Message> takeStorageFunctionError();

}  // namespace standin::storage
