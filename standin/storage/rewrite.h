// Keeping T-SQL's meaning in statements handed to SQLite: the operators and functions whose
// SQLite namesakes mean something else are rewritten into calls of the stand-in's own SQLite
// functions, which evaluate them with the engine's T-SQL rules.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <vector>

#include "standin/sql/lexer.h"
#include "standin/sql/results.h"

namespace standin::storage {

// Rewrites the expressions of a SELECT, INSERT, UPDATE or DELETE:
//   a + b                      -> bv_add(a, b)       (T-SQL: concatenation of two strings,
//                                                     else addition with the string converted)
//   CONVERT(type, e [, style]) -> bv_convert(kind, length, e [, style])
//   SUBSTRING(e, start, len)   -> bv_substring(e, start, len)   (T-SQL's start below 1)
// Everything else is kept token for token. Throws sql::SqlError for an unknown type name.
std::vector<sql::Token> rewriteForStorage(const std::vector<sql::Token>& tokens);

// Makes bv_add, bv_convert and bv_substring known to a connection.
void registerStorageFunctions(sqlite3* db);

// The T-SQL error that one of those functions raised on this thread while the last statement
// ran (SQLite itself only reports that a function failed); cleared by taking it.
std::optional<sql::Message> takeStorageFunctionError();

}  // namespace standin::storage
