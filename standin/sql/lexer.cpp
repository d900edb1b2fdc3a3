#include "standin/sql/lexer.h"

#include "standin/base/text.h"

namespace standin::sql {

using base::equalsIgnoreCase;

bool Token::is(std::string_view keyword) const {
  return kind == Kind::Identifier && equalsIgnoreCase(text, keyword);
}

namespace {

bool isIdentStart(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '#' || u >= 0x80;
}
bool isIdentPart(char c) { return isIdentStart(c) || (c >= '0' && c <= '9') || c == '@' || c == '$'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a quoted run that starts at s[i] (the opening quote or bracket) up to `close`, a doubled
// `close` standing for itself; i ends past the closing character.
std::string readQuoted(std::string_view s, std::size_t& i, char close, int line) {
  ++i;
  std::string value;
  while (i < s.size()) {
    if (s[i] == close) {
      if (i + 1 < s.size() && s[i + 1] == close) {
        value.push_back(close);
        i += 2;
        continue;
      }
      ++i;
      return value;
    }
    value.push_back(s[i++]);
  }
  throw SqlError(105, 15, "Unclosed quotation mark after the character string '" + value + "'.", line);
}

}  // namespace

std::vector<Token> tokenize(std::string_view s) {
  std::vector<Token> out;
  std::size_t i = 0;
  int line = 1;
  auto countLines = [&](std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to && k < s.size(); ++k)
      if (s[k] == '\n') ++line;
  };
  while (i < s.size()) {
    const char c = s[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
      if (c == '\n') ++line;
      ++i;
      continue;
    }
    if (c == '-' && i + 1 < s.size() && s[i + 1] == '-') {
      while (i < s.size() && s[i] != '\n') ++i;
      continue;
    }
    if (c == '/' && i + 1 < s.size() && s[i + 1] == '*') {
      // block comments nest in T-SQL
      int depth = 0;
      const std::size_t start = i;
      do {
        if (i + 1 < s.size() && s[i] == '/' && s[i + 1] == '*') {
          ++depth;
          i += 2;
        } else if (i + 1 < s.size() && s[i] == '*' && s[i + 1] == '/') {
          --depth;
          i += 2;
        } else {
          ++i;
        }
      } while (depth > 0 && i < s.size());
      if (depth > 0) throw SqlError(113, 15, "Missing end comment mark '*/'.", line);
      countLines(start, i);
      continue;
    }
    Token t;
    t.line = line;
    const std::size_t start = i;
    t.offset = start;
    if ((c == 'N' || c == 'n') && i + 1 < s.size() && s[i + 1] == '\'') {
      t.unicode = true;
      ++i;
    }
    if (s[i] == '\'') {
      t.kind = Token::Kind::String;
      t.text = readQuoted(s, i, '\'', line);
    } else if (c == '[') {
      t.kind = Token::Kind::QuotedIdentifier;
      t.text = readQuoted(s, i, ']', line);
    } else if (c == '"') {
      t.kind = Token::Kind::QuotedIdentifier;
      t.text = readQuoted(s, i, '"', line);
    } else if (c == '@') {
      std::size_t j = i + 1;
      const bool global = j < s.size() && s[j] == '@';
      if (global) ++j;
      while (j < s.size() && isIdentPart(s[j])) ++j;
      t.kind = global ? Token::Kind::GlobalVariable : Token::Kind::Variable;
      t.text = std::string(s.substr(i, j - i));
      i = j;
    } else if (isDigit(c) || (c == '.' && i + 1 < s.size() && isDigit(s[i + 1]))) {
      std::size_t j = i;
      while (j < s.size() && isDigit(s[j])) ++j;
      if (j < s.size() && s[j] == '.') {
        ++j;
        while (j < s.size() && isDigit(s[j])) ++j;
      }
      if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
        if (k < s.size() && isDigit(s[k])) {
          j = k;
          while (j < s.size() && isDigit(s[j])) ++j;
        }
      }
      t.kind = Token::Kind::Number;
      t.text = std::string(s.substr(i, j - i));
      i = j;
    } else if (isIdentStart(c)) {
      std::size_t j = i;
      while (j < s.size() && isIdentPart(s[j])) ++j;
      t.kind = Token::Kind::Identifier;
      t.text = std::string(s.substr(i, j - i));
      i = j;
    } else {
      static const char* const two[] = {"<>", "!=", "<=", ">=", "!<", "!>", "+=", "-=", "*=", "/=", "::"};
      t.kind = Token::Kind::Symbol;
      t.text = std::string(1, c);
      for (const char* op : two) {
        if (i + 1 < s.size() && s[i] == op[0] && s[i + 1] == op[1]) {
          t.text = op;
          break;
        }
      }
      i += t.text.size();
    }
    t.raw = std::string(s.substr(start, i - start));
    countLines(start, i);
    out.push_back(std::move(t));
  }
  Token end;
  end.kind = Token::Kind::End;
  end.line = line;
  end.offset = s.size();
  out.push_back(end);
  // The date part of DATEADD and DATEDIFF is a keyword, not a column: it goes on as the text of
  // its name.
  for (std::size_t k = 0; k + 2 < out.size(); ++k)
    if (out[k].kind == Token::Kind::Identifier && (out[k].is("DATEADD") || out[k].is("DATEDIFF")) &&
        out[k + 1].isSymbol("(") &&
        out[k + 2].kind == Token::Kind::Identifier)
      out[k + 2].kind = Token::Kind::String;
  return out;
}

}  // namespace standin::sql
