// T-SQL's built-in scalar functions that need nothing of the session: each takes its
// arguments' values and gives SQL Server's result, type and errors. The evaluator calls them
// for the expressions the stand-in evaluates itself, and the storage layer registers them with
// SQLite for the statements it hands over, so both follow one set of rules.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "standin/sql/evaluator.h"

namespace standin::sql {

struct BuiltinFunction {
  std::string_view name;  // upper case
  std::size_t minArguments;
  std::size_t maxArguments;
  TypedValue (*call)(const std::vector<TypedValue>& arguments, int line);
  bool deterministic = true;  // the same arguments always give the same value
};

// The function of that (upper-case) name, or null.
const BuiltinFunction* findBuiltinFunction(std::string_view name);
const std::vector<BuiltinFunction>& builtinFunctions();

// SqlError 174 unless a call of `name` has from lo to hi arguments.
void checkArgumentCount(std::string_view name, std::size_t count, std::size_t lo, std::size_t hi, int line);

// Blanks (U+0020 only, as T-SQL trims) removed from either end.
std::string trimBlanks(std::string_view s, bool left, bool right);

}  // namespace standin::sql
