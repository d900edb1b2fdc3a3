// Tokens of a T-SQL batch.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "standin/sql/errors.h"

namespace standin::sql {

struct Token {
  enum class Kind { Identifier, QuotedIdentifier, Variable, GlobalVariable, String, Number, Symbol, End };
  Kind kind = Kind::End;
  std::string text;      // the identifier / unescaped literal / symbol
  std::string raw;       // the source characters
  bool unicode = false;  // N'...' literal
  int line = 1;
  std::size_t offset = 0;  // where raw starts in the batch
  // True for a regular identifier equal to the keyword, ignoring case.
  bool is(std::string_view keyword) const;
  bool isSymbol(std::string_view symbol) const { return kind == Kind::Symbol && text == symbol; }
};

// Splits a batch into tokens; comments and blanks are dropped. Throws SqlError (105) for an
// unclosed quotation mark.
std::vector<Token> tokenize(std::string_view batch);

}  // namespace standin::sql
