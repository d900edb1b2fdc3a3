#include "standin/storage/rewrite.h"

#include <charconv>

#include "standin/base/text.h"
#include "standin/sql/evaluator.h"
#include "standin/sql/parser.h"

namespace standin::storage {

using base::utf16Length;
using base::utf16leToUtf8;
using base::utf8ToUtf16le;
using sql::Binary;
using sql::DateTime;
using sql::isNull;
using sql::Message;
using sql::SqlError;
using sql::SqlType;
using sql::Token;
using sql::TypedValue;
using sql::Value;

namespace {

Token makeToken(Token::Kind kind, std::string text, int line) {
  Token t;
  t.kind = kind;
  t.raw = text;
  t.text = std::move(text);
  t.line = line;
  return t;
}
Token symbol(const char* s, int line) { return makeToken(Token::Kind::Symbol, s, line); }
Token identifier(const char* s, int line) { return makeToken(Token::Kind::Identifier, s, line); }
Token number(std::int64_t n, int line) { return makeToken(Token::Kind::Number, std::to_string(n), line); }

bool isName(const Token& t) {
  return t.kind == Token::Kind::QuotedIdentifier ||
         (t.kind == Token::Kind::Identifier && !sql::isReservedKeyword(t.text));
}

// Functions whose names are keywords but which are still called like functions.
bool isKeywordFunction(const Token& t) { return t.is("CONVERT") || t.is("LEFT") || t.is("RIGHT"); }

class Rewriter {
 public:
  explicit Rewriter(const std::vector<Token>& tokens) : t_(tokens) {}

  std::vector<Token> run() {
    std::vector<Token> out;
    region(0, t_.size(), out);
    return out;
  }

 private:
  // Index of the token closing the bracket (or CASE) opened at `open`; `end` when unclosed.
  std::size_t closing(std::size_t open, std::size_t end) const {
    const bool isCase = t_[open].is("CASE");
    int depth = 0;
    for (std::size_t i = open; i < end; ++i) {
      if (isCase) {
        if (t_[i].is("CASE")) ++depth;
        if (t_[i].is("END") && --depth == 0) return i;
      } else {
        if (t_[i].isSymbol("(")) ++depth;
        if (t_[i].isSymbol(")") && --depth == 0) return i;
      }
    }
    return end;
  }

  bool startsOperand(std::size_t i, std::size_t end) const {
    if (i >= end) return false;
    const Token& tk = t_[i];
    switch (tk.kind) {
      case Token::Kind::Number:
      case Token::Kind::String:
      case Token::Kind::Variable:
      case Token::Kind::GlobalVariable:
      case Token::Kind::QuotedIdentifier:
        return true;
      case Token::Kind::Symbol:
        return tk.isSymbol("(") || tk.isSymbol("-") || tk.isSymbol("+") || tk.isSymbol("~");
      case Token::Kind::Identifier:
        if (tk.is("NULL") || tk.is("CASE")) return true;
        if (isKeywordFunction(tk)) return i + 1 < end && t_[i + 1].isSymbol("(");
        return !sql::isReservedKeyword(tk.text);
      case Token::Kind::End:
        return false;
    }
    return false;
  }

  // Any stretch of a statement: its operand chains are rewritten, everything else stays.
  void region(std::size_t b, std::size_t e, std::vector<Token>& out) {
    std::size_t i = b;
    while (i < e) {
      if (t_[i].kind == Token::Kind::End) {
        out.push_back(t_[i]);
        ++i;
        continue;
      }
      if (startsOperand(i, e)) {
        i = chain(i, e, out);
      } else {
        out.push_back(t_[i]);
        ++i;
      }
    }
  }

  // operand { (+ | - | & | | | ^) operand }
  std::size_t chain(std::size_t i, std::size_t e, std::vector<Token>& out) {
    std::vector<Token> acc;
    i = term(i, e, acc);
    while (i + 1 < e &&
           (t_[i].isSymbol("+") || t_[i].isSymbol("-") || t_[i].isSymbol("&") || t_[i].isSymbol("|") ||
            t_[i].isSymbol("^")) &&
           startsOperand(i + 1, e)) {
      const Token op = t_[i];
      std::vector<Token> rhs;
      i = term(i + 1, e, rhs);
      std::vector<Token> next;
      if (op.isSymbol("+")) {
        next.push_back(identifier("bv_add", op.line));
        next.push_back(symbol("(", op.line));
        next.insert(next.end(), acc.begin(), acc.end());
        next.push_back(symbol(",", op.line));
        next.insert(next.end(), rhs.begin(), rhs.end());
        next.push_back(symbol(")", op.line));
      } else {
        // Left to right at one level, as T-SQL groups them.
        next.push_back(symbol("(", op.line));
        next.insert(next.end(), acc.begin(), acc.end());
        next.push_back(op);
        next.insert(next.end(), rhs.begin(), rhs.end());
        next.push_back(symbol(")", op.line));
      }
      acc = std::move(next);
    }
    out.insert(out.end(), acc.begin(), acc.end());
    return i;
  }

  // factor { (* | / | %) factor }
  std::size_t term(std::size_t i, std::size_t e, std::vector<Token>& out) {
    i = factor(i, e, out);
    while (i + 1 < e && (t_[i].isSymbol("*") || t_[i].isSymbol("/") || t_[i].isSymbol("%")) &&
           startsOperand(i + 1, e) && !t_[i + 1].isSymbol("-") && !t_[i + 1].isSymbol("+")) {
      out.push_back(t_[i]);
      i = factor(i + 1, e, out);
    }
    return i;
  }

  std::size_t factor(std::size_t i, std::size_t e, std::vector<Token>& out) {
    while (i < e && (t_[i].isSymbol("-") || t_[i].isSymbol("+") || t_[i].isSymbol("~")))
      out.push_back(t_[i++]);
    if (i >= e || !startsOperand(i, e) || t_[i].isSymbol("-") || t_[i].isSymbol("+") || t_[i].isSymbol("~"))
      return i;
    return atom(i, e, out);
  }

  std::size_t atom(std::size_t i, std::size_t e, std::vector<Token>& out) {
    const Token& tk = t_[i];
    if (tk.isSymbol("(") || tk.is("CASE")) {
      const std::size_t close = closing(i, e);
      out.push_back(tk);
      region(i + 1, close, out);
      if (close < e) out.push_back(t_[close]);
      return close < e ? close + 1 : e;
    }
    const bool call = (isName(tk) || isKeywordFunction(tk)) && tk.kind == Token::Kind::Identifier &&
                      i + 1 < e && t_[i + 1].isSymbol("(");
    if (call) {
      const std::size_t close = closing(i + 1, e);
      if (tk.is("CONVERT") && convertCall(i, close, e, out)) return close < e ? close + 1 : e;
      if (tk.is("SUBSTRING")) {
        out.push_back(identifier("bv_substring", tk.line));
      } else {
        out.push_back(tk);
      }
      out.push_back(t_[i + 1]);
      region(i + 2, close, out);
      if (close < e) out.push_back(t_[close]);
      return close < e ? close + 1 : e;
    }
    if (isName(tk)) {
      // a.b.c, a..c, t.*
      out.push_back(tk);
      ++i;
      while (i < e && t_[i].isSymbol(".")) {
        out.push_back(t_[i++]);
        if (i < e && (isName(t_[i]) || t_[i].isSymbol("*"))) {
          out.push_back(t_[i++]);
        } else if (!(i < e && t_[i].isSymbol("."))) {
          break;
        }
      }
      return i;
    }
    out.push_back(tk);
    return i + 1;
  }

  // CONVERT(type [(n [, m])], expression [, style]) -> bv_convert(kind, length, expression [, style])
  bool convertCall(std::size_t i, std::size_t close, std::size_t e, std::vector<Token>& out) {
    if (close >= e) return false;
    std::size_t p = i + 2;
    if (p >= close || (t_[p].kind != Token::Kind::Identifier && t_[p].kind != Token::Kind::QuotedIdentifier))
      return false;
    const Token& typeToken = t_[p++];
    std::vector<int> args;
    bool hasArgs = false;
    if (p < close && t_[p].isSymbol("(")) {
      hasArgs = true;
      ++p;
      while (p < close && !t_[p].isSymbol(")")) {
        if (t_[p].is("MAX")) {
          args.push_back(-1);
        } else if (t_[p].kind == Token::Kind::Number) {
          int n = 0;
          std::from_chars(t_[p].text.data(), t_[p].text.data() + t_[p].text.size(), n);
          args.push_back(n);
        } else if (!t_[p].isSymbol(",")) {
          return false;
        }
        ++p;
      }
      if (p >= close) return false;
      ++p;  // ')'
    }
    if (p >= close || !t_[p].isSymbol(",")) return false;
    ++p;
    SqlType type = sql::parseTypeName(typeToken.text, args, hasArgs, true, typeToken.line);
    if (type.isString() && type.length == 0) type.length = 30;
    const int line = typeToken.line;
    out.push_back(identifier("bv_convert", line));
    out.push_back(symbol("(", line));
    out.push_back(number(static_cast<std::int64_t>(type.kind), line));
    out.push_back(symbol(",", line));
    if (type.length < 0) {
      out.push_back(symbol("-", line));
      out.push_back(number(-static_cast<std::int64_t>(type.length), line));
    } else {
      out.push_back(number(type.length, line));
    }
    out.push_back(symbol(",", line));
    region(p, close, out);
    out.push_back(t_[close]);
    return true;
  }

  const std::vector<Token>& t_;
};

// ---- the functions ----

thread_local std::optional<Message> pendingError;

TypedValue fromSqlite(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER: {
      const std::int64_t n = sqlite3_value_int64(v);
      return {(n > 2147483647LL || n < -2147483648LL) ? SqlType::bigint() : SqlType::integer(), n};
    }
    case SQLITE_FLOAT:
      return {SqlType{SqlType::Kind::Float, 0}, sqlite3_value_double(v)};
    case SQLITE_TEXT: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
      std::string s(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v)));
      const int len = std::max<int>(1, static_cast<int>(utf16Length(s)));
      return {SqlType::nvarchar(std::min(len, 4000)), std::move(s)};
    }
    case SQLITE_BLOB: {
      const auto* p = static_cast<const char*>(sqlite3_value_blob(v));
      return {SqlType{SqlType::Kind::VarBinary, 8000},
              Binary{std::string(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v)))}};
    }
    default:
      return {SqlType::integer(), std::monostate{}};
  }
}

void toSqlite(sqlite3_context* ctx, const Value& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) {
    sqlite3_result_int64(ctx, *i);
  } else if (const auto* d = std::get_if<double>(&v)) {
    sqlite3_result_double(ctx, *d);
  } else if (const auto* s = std::get_if<std::string>(&v)) {
    sqlite3_result_text(ctx, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
  } else if (const auto* dt = std::get_if<DateTime>(&v)) {
    const std::string text = dt->iso();
    sqlite3_result_text(ctx, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  } else if (const auto* b = std::get_if<Binary>(&v)) {
    sqlite3_result_blob(ctx, b->bytes.data(), static_cast<int>(b->bytes.size()), SQLITE_TRANSIENT);
  } else {
    sqlite3_result_null(ctx);
  }
}

template <typename F>
void guarded(sqlite3_context* ctx, F&& body) {
  try {
    body();
  } catch (const SqlError& e) {
    pendingError = e.message;
    sqlite3_result_error(ctx, e.message.text.c_str(), -1);
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

void addFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  guarded(ctx, [&] {
    TypedValue a = fromSqlite(argv[0]);
    TypedValue b = fromSqlite(argv[1]);
    if (isNull(a.value) || isNull(b.value)) {
      sqlite3_result_null(ctx);
      return;
    }
    // A datetime column holds ISO text; plus a number it is a date moved on by days.
    auto asDate = [](TypedValue& v, const TypedValue& other) {
      if (!other.type.isInteger() && other.type.kind != SqlType::Kind::Float) return;
      if (const auto* s = std::get_if<std::string>(&v.value);
          s && s->size() >= 19 && (*s)[4] == '-' && (*s)[13] == ':')
        if (auto dt = DateTime::parse(*s)) v = TypedValue{SqlType{SqlType::Kind::DateTime, 0}, *dt};
    };
    asDate(a, b);
    asDate(b, a);
    toSqlite(ctx, sql::binaryOp("+", a, b, 1).value);
  });
}

void convertFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  guarded(ctx, [&] {
    SqlType target;
    target.kind = static_cast<SqlType::Kind>(sqlite3_value_int(argv[0]));
    target.length = sqlite3_value_int(argv[1]);
    TypedValue v = fromSqlite(argv[2]);
    int style = -1;
    if (argc > 3 && sqlite3_value_type(argv[3]) != SQLITE_NULL) style = sqlite3_value_int(argv[3]);
    // A datetime column holds its value as ISO text; a date style means it is read as a date.
    if (style >= 0 && target.isString())
      if (const auto* s = std::get_if<std::string>(&v.value); s && s->size() >= 10 && (*s)[4] == '-')
        if (auto dt = DateTime::parse(*s)) v = TypedValue{SqlType{SqlType::Kind::DateTime, 0}, *dt};
    toSqlite(ctx, sql::convert(v, target, style, 1).value);
  });
}

void substringFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  guarded(ctx, [&] {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL ||
        sqlite3_value_type(argv[2]) == SQLITE_NULL) {
      sqlite3_result_null(ctx);
      return;
    }
    const TypedValue text = sql::convert(fromSqlite(argv[0]), SqlType::nvarchar(-1), -1, 1);
    const std::int64_t start = sqlite3_value_int64(argv[1]);
    const std::int64_t length = sqlite3_value_int64(argv[2]);
    if (length < 0) throw SqlError(537, 16, "Invalid length parameter passed to the substring function.");
    // Characters from `start` (1-based; positions before 1 count but hold nothing).
    const std::string u16 = utf8ToUtf16le(std::get<std::string>(text.value));
    const std::int64_t units = static_cast<std::int64_t>(u16.size() / 2);
    const std::int64_t from = std::max<std::int64_t>(start, 1);
    const std::int64_t to = std::min<std::int64_t>(start + length, units + 1);  // exclusive
    std::string piece;
    if (to > from)
      piece = utf16leToUtf8(std::string_view(u16).substr(static_cast<std::size_t>((from - 1) * 2),
                                                         static_cast<std::size_t>((to - from) * 2)));
    sqlite3_result_text(ctx, piece.data(), static_cast<int>(piece.size()), SQLITE_TRANSIENT);
  });
}

}  // namespace

std::vector<Token> rewriteForStorage(const std::vector<Token>& tokens) { return Rewriter(tokens).run(); }

void registerStorageFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function(db, "bv_add", 2, flags, nullptr, &addFunction, nullptr, nullptr);
  sqlite3_create_function(db, "bv_convert", 3, flags, nullptr, &convertFunction, nullptr, nullptr);
  sqlite3_create_function(db, "bv_convert", 4, flags, nullptr, &convertFunction, nullptr, nullptr);
  sqlite3_create_function(db, "bv_substring", 3, flags, nullptr, &substringFunction, nullptr, nullptr);
}

std::optional<Message> takeStorageFunctionError() {
  std::optional<Message> out;
  out.swap(pendingError);
  return out;
}

}  // namespace standin::storage
