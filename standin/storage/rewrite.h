// Keeping T-SQL's meaning in statements handed to SQLite: the operators and functions whose
// SQLite namesakes mean something else are rewritten into calls of the stand-in's own SQLite
// functions, which evaluate them with the engine's T-SQL rules.
#pragma once

#include <sqlite3.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

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
// Everything else is kept token for token. Throws sql::SqlError for an unknown type name and
// for what TOP cannot be turned into.
std::vector<sql::Token> rewriteForStorage(const std::vector<sql::Token>& tokens);

// The collation of the stand-in's own text columns (table variables): the server's,
// case-insensitive with trailing blanks ignored.
inline constexpr const char* kServerCollation = "BV_SERVER";

// Makes the functions of those rewrites known to a connection (bv_add, bv_convert, bv_top and
// the built-in functions), LIKE with T-SQL's patterns, and the server's collation.
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
