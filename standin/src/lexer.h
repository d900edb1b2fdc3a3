// Tokens of a T-SQL batch.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "standin/results.h"

namespace standin::sql {

struct Token {
  enum class Kind { Identifier, QuotedIdentifier, Variable, GlobalVariable, String, Number, Symbol, End };
  Kind kind = Kind::End;
  std::string text;   // the identifier / unescaped literal / symbol
  std::string raw;    // the source characters
  bool unicode = false;  // N'...' literal
  int line = 1;
  // True for a regular identifier equal to the keyword, ignoring case.
  bool is(std::string_view keyword) const;
  bool isSymbol(std::string_view symbol) const { return kind == Kind::Symbol && text == symbol; }
};

// A T-SQL error raised while parsing or running, carrying SQL Server's number, severity, text.
struct SqlError : std::runtime_error {
  explicit SqlError(Message m) : std::runtime_error(m.text), message(std::move(m)) {}
  SqlError(int number, int severity, std::string text, int line = 1, int state = 1)
      : std::runtime_error(text), message{number, state, severity, std::move(text), line, {}} {}
  Message message;
};

// Splits a batch into tokens; comments and blanks are dropped. Throws SqlError (105) for an
// unclosed quotation mark.
std::vector<Token> tokenize(std::string_view batch);

}  // namespace standin::sql
