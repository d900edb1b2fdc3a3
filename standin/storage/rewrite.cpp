#include "standin/storage/rewrite.h"

#include <charconv>
#include <memory>

#include "standin/base/text.h"
#include "standin/sql/evaluator.h"
#include "standin/sql/functions.h"
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

bool isComparison(const Token& t) {
  return t.isSymbol("=") || t.isSymbol("<>") || t.isSymbol("!=") || t.isSymbol("<") || t.isSymbol(">") ||
         t.isSymbol("<=") || t.isSymbol(">=") || t.isSymbol("!<") || t.isSymbol("!>");
}

// Functions whose names are keywords but which are still called like functions.
bool isKeywordFunction(const Token& t) { return t.is("CONVERT") || t.is("LEFT") || t.is("RIGHT"); }

// What collation an operand brings to a comparison, by T-SQL's precedence: explicit (COLLATE),
// implicit (a column's), coercible-default (a literal, a variable: the current database's), or
// none (no text, or not told). Conflict: two implicit ones met in a concatenation.
struct Label {
  enum class Kind { None, Coercible, Implicit, Explicit, Conflict } kind = Kind::None;
  const base::Collation* collation = nullptr;
  const base::Collation* other = nullptr;  // Conflict, and explicit ones that differ
};

Label combined(const Label& a, const Label& b) {
  using L = Label::Kind;
  if (a.kind == L::None) return b;
  if (b.kind == L::None) return a;
  if (a.kind == L::Explicit && b.kind == L::Explicit && a.collation != b.collation)
    return {L::Conflict, a.collation, b.collation};
  if (a.kind == L::Explicit) return a;
  if (b.kind == L::Explicit) return b;
  if (a.kind == L::Conflict) return a;
  if (b.kind == L::Conflict) return b;
  if (a.kind == L::Implicit && b.kind == L::Implicit && a.collation != b.collation)
    return {L::Conflict, a.collation, b.collation};
  if (a.kind == L::Implicit) return a;
  return b;
}

// Functions whose text result keeps the collation of their text arguments.
bool keepsCollation(const Token& name) {
  for (const char* f :
       {"SUBSTRING", "LEFT", "RIGHT", "REPLACE", "UPPER", "LOWER", "LTRIM", "RTRIM", "REVERSE", "ISNULL",
        "IFNULL", "COALESCE", "NULLIF", "REPLICATE", "STUFF", "MAX", "MIN"})
    if (name.is(f)) return true;
  return false;
}

class Rewriter {
 public:
  Rewriter(const std::vector<Token>& tokens, const CollationScope& scope)
      : t_(tokens), scope_(scope), database_(scope.database ? *scope.database : base::serverCollation()) {}

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

  // The collation a COLLATE clause names (DATABASE_DEFAULT: the current database's).
  const base::Collation& collationNamed(const Token& name) const {
    if (name.is("DATABASE_DEFAULT")) return database_;
    if (const auto* c = base::findCollation(name.text)) return *c;
    throw SqlError(448, 16, "Invalid collation '" + name.text + "'.", name.line);
  }

  void collateTokens(const base::Collation& c, int line, std::vector<Token>& out) const {
    out.push_back(identifier("COLLATE", line));
    out.push_back(makeToken(Token::Kind::Identifier, base::storageCollationName(c), line));
  }

  // The collation two operands compare in, or 468.
  const base::Collation& resolved(const Label& l, const Label& r, const std::string& operation,
                                  int line) const {
    using L = Label::Kind;
    auto conflict = [&](const base::Collation* a, const base::Collation* b) {
      sql::collationConflict(a->name, b->name, operation, line);
    };
    if (l.kind == L::Explicit && r.kind == L::Explicit && l.collation != r.collation)
      conflict(l.collation, r.collation);
    if (l.kind == L::Explicit) return *l.collation;
    if (r.kind == L::Explicit) return *r.collation;
    if (l.kind == L::Conflict) conflict(l.collation, l.other);
    if (r.kind == L::Conflict) conflict(r.collation, r.other);
    if (l.kind == L::Implicit && r.kind == L::Implicit && l.collation != r.collation)
      conflict(l.collation, r.collation);
    if (l.kind == L::Implicit) return *l.collation;
    if (r.kind == L::Implicit) return *r.collation;
    return database_;
  }

  // Any stretch of a statement: its operand chains are rewritten, everything else stays. Gives
  // the collation label of its operands together (a function's arguments, a parenthesis).
  Label region(std::size_t b, std::size_t e, std::vector<Token>& out) {
    Label all;
    Label last;  // of the operand just read
    bool afterOperand = false;
    std::size_t lastStart = 0;  // where its tokens begin in out
    Label left;                 // of the operand before a comparison
    std::size_t i = b;
    while (i < e) {
      const Token& tk = t_[i];
      if (tk.kind == Token::Kind::End) {
        out.push_back(tk);
        afterOperand = false;
        ++i;
        continue;
      }
      if (afterOperand && (tk.is("LIKE") || (tk.is("NOT") && i + 1 < e && t_[i + 1].is("LIKE")))) {
        i = like(i, e, out, last, lastStart);
        afterOperand = false;
        continue;
      }
      if (startsOperand(i, e)) {
        // What is compared compares in the collation the two operands resolve to (SQLite applies
        // a collation to text only).
        const bool compared = !out.empty() && isComparison(out.back());
        const std::string op = compared ? out.back().text : std::string();
        const int line = tk.line;
        lastStart = out.size();
        Label l;
        i = chain(i, e, out, l);
        all = combined(all, l);
        if (compared) {
          // Nothing of text on either side (numbers, columns of numbers): no collation, so SQLite
          // can still search the columns' indexes.
          if (left.kind != Label::Kind::None || l.kind != Label::Kind::None)
            collateTokens(resolved(left, l, sql::operationName(op), line), line, out);
          afterOperand = false;
        } else {
          last = l;
          afterOperand = true;
        }
        continue;
      }
      if (isComparison(tk)) left = afterOperand ? last : Label{};
      afterOperand = false;
      if (tk.is("COLLATE") && i + 1 < e) {
        collateTokens(collationNamed(t_[i + 1]), tk.line, out);
        i += 2;
        continue;
      }
      out.push_back(tk);
      ++i;
    }
    return all;
  }

  // text [NOT] LIKE pattern [ESCAPE e], its text already in out from `textStart`: SQLite's LIKE
  // (the server's rules, case ignored) unless the collation heeds case, then bv_like with it.
  std::size_t like(std::size_t i, std::size_t e, std::vector<Token>& out, const Label& text,
                   std::size_t textStart) {
    const Token& first = t_[i];
    const bool negated = first.is("NOT");
    if (negated) ++i;
    const Token& likeToken = t_[i++];
    std::vector<Token> pattern, escape;
    Label p, ignored;
    if (!startsOperand(i, e)) {
      if (negated) out.push_back(first);
      out.push_back(likeToken);
      return i;
    }
    i = chain(i, e, pattern, p);
    if (i + 1 < e && t_[i].is("ESCAPE") && startsOperand(i + 1, e)) i = chain(i + 1, e, escape, ignored);
    const auto& c = resolved(text, p, "like", first.line);
    if (!c.caseSensitive) {
      if (negated) out.push_back(first);
      out.push_back(likeToken);
      out.insert(out.end(), pattern.begin(), pattern.end());
      if (!escape.empty()) {
        out.push_back(identifier("ESCAPE", first.line));
        out.insert(out.end(), escape.begin(), escape.end());
      }
      return i;
    }
    std::vector<Token> operand(out.begin() + static_cast<std::ptrdiff_t>(textStart), out.end());
    out.resize(textStart);
    if (negated) out.push_back(first);
    out.push_back(identifier("bv_like", first.line));
    out.push_back(symbol("(", first.line));
    out.insert(out.end(), operand.begin(), operand.end());
    out.push_back(symbol(",", first.line));
    out.insert(out.end(), pattern.begin(), pattern.end());
    out.push_back(symbol(",", first.line));
    out.push_back(makeToken(Token::Kind::String, c.name, first.line));
    if (!escape.empty()) {
      out.push_back(symbol(",", first.line));
      out.insert(out.end(), escape.begin(), escape.end());
    }
    out.push_back(symbol(")", first.line));
    return i;
  }

  // operand { (+ | - | & | | | ^) operand }
  std::size_t chain(std::size_t i, std::size_t e, std::vector<Token>& out, Label& label) {
    std::vector<Token> acc;
    i = term(i, e, acc, label);
    while (i + 1 < e &&
           (t_[i].isSymbol("+") || t_[i].isSymbol("-") || t_[i].isSymbol("&") || t_[i].isSymbol("|") ||
            t_[i].isSymbol("^")) &&
           startsOperand(i + 1, e)) {
      const Token op = t_[i];
      std::vector<Token> rhs;
      Label r;
      i = term(i + 1, e, rhs, r);
      // A concatenation carries its operands' collations; arithmetic has none.
      label = op.isSymbol("+") ? combined(label, r) : Label{};
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
  std::size_t term(std::size_t i, std::size_t e, std::vector<Token>& out, Label& label) {
    i = factor(i, e, out, label);
    while (i + 1 < e && (t_[i].isSymbol("*") || t_[i].isSymbol("/") || t_[i].isSymbol("%")) &&
           startsOperand(i + 1, e) && !t_[i + 1].isSymbol("-") && !t_[i + 1].isSymbol("+")) {
      out.push_back(t_[i]);
      Label ignored;
      i = factor(i + 1, e, out, ignored);
      label = Label{};
    }
    return i;
  }

  std::size_t factor(std::size_t i, std::size_t e, std::vector<Token>& out, Label& label) {
    bool prefixed = false;
    while (i < e && (t_[i].isSymbol("-") || t_[i].isSymbol("+") || t_[i].isSymbol("~"))) {
      out.push_back(t_[i++]);
      prefixed = true;
    }
    if (i >= e || !startsOperand(i, e) || t_[i].isSymbol("-") || t_[i].isSymbol("+") || t_[i].isSymbol("~"))
      return i;
    i = atom(i, e, out, label);
    if (prefixed) label = Label{};  // a number
    return i;
  }

  // atom [COLLATE name]...
  std::size_t atom(std::size_t i, std::size_t e, std::vector<Token>& out, Label& label) {
    i = atomBody(i, e, out, label);
    while (i + 1 < e && t_[i].is("COLLATE")) {
      const auto& c = collationNamed(t_[i + 1]);
      collateTokens(c, t_[i].line, out);
      label = Label{Label::Kind::Explicit, &c, nullptr};
      i += 2;
    }
    return i;
  }

  std::size_t atomBody(std::size_t i, std::size_t e, std::vector<Token>& out, Label& label) {
    const Token& tk = t_[i];
    label = Label{};
    if (tk.isSymbol("(") || tk.is("CASE")) {
      const std::size_t close = closing(i, e);
      out.push_back(tk);
      const Label inner = region(i + 1, close, out);
      if (tk.isSymbol("(")) label = inner;
      if (close < e) out.push_back(t_[close]);
      return close < e ? close + 1 : e;
    }
    const bool call = (isName(tk) || isKeywordFunction(tk)) && tk.kind == Token::Kind::Identifier &&
                      i + 1 < e && t_[i + 1].isSymbol("(");
    if (call) {
      const std::size_t close = closing(i + 1, e);
      if (tk.is("CONVERT") && convertCall(i, close, e, out, label)) return close < e ? close + 1 : e;
      if (tk.is("CAST") && castCall(i, close, e, out, label)) return close < e ? close + 1 : e;
      if (sql::findBuiltinFunction(base::toUpperAscii(tk.text))) {
        out.push_back(makeToken(Token::Kind::Identifier, "bv_" + base::toLowerAscii(tk.text), tk.line));
      } else {
        out.push_back(tk);
      }
      out.push_back(t_[i + 1]);
      const Label inner = region(i + 2, close, out);
      if (keepsCollation(tk)) label = inner;
      if (close < e) out.push_back(t_[close]);
      return close < e ? close + 1 : e;
    }
    if (isName(tk)) {
      // a.b.c, a..c, t.*
      std::vector<std::string> parts{tk.text};
      out.push_back(tk);
      ++i;
      while (i < e && t_[i].isSymbol(".")) {
        out.push_back(t_[i++]);
        if (i < e && (isName(t_[i]) || t_[i].isSymbol("*"))) {
          parts.push_back(t_[i].text);
          out.push_back(t_[i++]);
        } else if (!(i < e && t_[i].isSymbol("."))) {
          break;
        }
      }
      if (scope_.column)
        if (const auto* c = scope_.column(parts)) label = Label{Label::Kind::Implicit, c, nullptr};
      return i;
    }
    if (tk.kind == Token::Kind::String || tk.kind == Token::Kind::Variable ||
        tk.kind == Token::Kind::GlobalVariable)
      label = Label{Label::Kind::Coercible, &database_, nullptr};
    out.push_back(tk);
    return i + 1;
  }

  // CONVERT(type [(n [, m])], expression [, style]) -> bv_convert(kind, length, expression [, style])
  bool convertCall(std::size_t i, std::size_t close, std::size_t e, std::vector<Token>& out, Label& label) {
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
    const SqlType type = sql::parseTypeName(typeToken.text, args, hasArgs, true, typeToken.line);
    convertOpening(type, typeToken.line, out);
    label = converted(type, region(p, close, out));
    out.push_back(t_[close]);
    return true;
  }

  // A conversion to text keeps the collation of text, and gives other values the database's.
  Label converted(const SqlType& type, const Label& inner) const {
    if (!type.isString()) return Label{};
    return inner.kind == Label::Kind::None ? Label{Label::Kind::Coercible, &database_, nullptr} : inner;
  }

  // "bv_convert(kind, length," for a conversion to `type`.
  static void convertOpening(SqlType type, int line, std::vector<Token>& out) {
    if (type.isString() && type.length == 0) type.length = 30;
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
  }

  // CAST(expression AS type [(n [, m])]) -> bv_convert(kind, length, expression): SQLite's own
  // CAST turns what T-SQL refuses ('abc' as int) into a value.
  bool castCall(std::size_t i, std::size_t close, std::size_t e, std::vector<Token>& out, Label& label) {
    if (close >= e) return false;
    int depth = 0;
    std::size_t as = close;
    for (std::size_t k = i + 2; k < close; ++k) {
      if (t_[k].isSymbol("(")) ++depth;
      if (t_[k].isSymbol(")")) --depth;
      if (depth == 0 && t_[k].is("AS")) as = k;
    }
    if (as == close || as + 1 >= close) return false;
    const Token& typeToken = t_[as + 1];
    std::vector<int> args;
    bool hasArgs = false;
    for (std::size_t k = as + 2; k < close; ++k) {
      if (t_[k].isSymbol("(")) {
        hasArgs = true;
      } else if (t_[k].is("MAX")) {
        args.push_back(-1);
      } else if (t_[k].kind == Token::Kind::Number) {
        int n = 0;
        std::from_chars(t_[k].text.data(), t_[k].text.data() + t_[k].text.size(), n);
        args.push_back(n);
      } else if (!t_[k].isSymbol(",") && !t_[k].isSymbol(")")) {
        return false;
      }
    }
    const SqlType type = sql::parseTypeName(typeToken.text, args, hasArgs, true, typeToken.line);
    convertOpening(type, typeToken.line, out);
    label = converted(type, region(i + 2, as, out));
    out.push_back(t_[close]);
    return true;
  }

  const std::vector<Token>& t_;
  const CollationScope& scope_;
  const base::Collation& database_;
};

// ---- the functions ----

thread_local std::optional<Message> pendingError;

// SQLite keeps a datetime as its ISO text; a function's result carries this subtype with it, so
// that the next function of the expression reads it as a datetime again (CAST(CAST(x AS
// datetime) AS nvarchar) formats a date, not the text).
constexpr unsigned kDateTimeSubtype = 'D';

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
      // A datetime one of these functions gave, within the same expression.
      if (sqlite3_value_subtype(v) == kDateTimeSubtype)
        if (auto dt = DateTime::parse(s)) return {SqlType{SqlType::Kind::DateTime, 0}, *dt};
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
    sqlite3_result_subtype(ctx, kDateTimeSubtype);
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

// A built-in function of sql/functions.h (the context's user data), over SQLite's values.
void builtinFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  guarded(ctx, [&] {
    const auto* f = static_cast<const sql::BuiltinFunction*>(sqlite3_user_data(ctx));
    const auto count = static_cast<std::size_t>(argc);
    sql::checkArgumentCount(f->name, count, f->minArguments, f->maxArguments, 1);
    std::vector<TypedValue> arguments;
    for (std::size_t i = 0; i < count; ++i) arguments.push_back(fromSqlite(argv[i]));
    toSqlite(ctx, f->call(arguments, 1).value);
  });
}

// like(pattern, text [, escape]): what SQLite calls for LIKE, with T-SQL's patterns and the
// server's case rules; and bv_like(text, pattern, collation [, escape]) in a collation that
// heeds case.
template <bool InCollation>
void likeFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  guarded(ctx, [&] {
    for (int i = 0; i < argc; ++i) {
      if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
      }
    }
    auto text = [&](int i) {
      return std::get<std::string>(sql::convert(fromSqlite(argv[i]), SqlType::nvarchar(-1), -1, 1).value);
    };
    const int escapeAt = InCollation ? 3 : 2;
    std::string escape;
    if (argc > escapeAt) {
      escape = text(escapeAt);
      sql::checkLikeEscape(escape, 1);
    }
    const base::Collation* named = InCollation ? base::findCollation(text(2)) : nullptr;
    const auto& collation = named ? *named : base::serverCollation();
    sqlite3_result_int(ctx,
                       base::likeIn(collation, text(InCollation ? 0 : 1), text(InCollation ? 1 : 0), escape));
  });
}

// bv_top(n): the row count of TOP (expression), as a LIMIT.
void topFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
  guarded(ctx, [&] {
    const auto n = sql::convert(fromSqlite(argv[0]), SqlType::bigint(), -1, 1);
    if (isNull(n.value) || std::get<std::int64_t>(n.value) < 0)
      throw SqlError(127, 15, "A TOP N value may not be negative.");
    sqlite3_result_int64(ctx, std::get<std::int64_t>(n.value));
  });
}

// A known collation (the user data) as SQLite compares with it.
int compareText(void* collation, int aLength, const void* a, int bLength, const void* b) {
  const std::string_view x(static_cast<const char*>(a), static_cast<std::size_t>(aLength));
  const std::string_view y(static_cast<const char*>(b), static_cast<std::size_t>(bLength));
  return base::compareText(*static_cast<const base::Collation*>(collation), x, y);
}

// TOP n, TOP (expression) become LIMITs at the end of their SELECT (a subquery's too): SQLite
// has no TOP. TOP ... PERCENT, WITH TIES, a TOP beside UNION and a TOP of UPDATE or DELETE are
// refused.
class LimitPlacer {
 public:
  explicit LimitPlacer(const std::vector<Token>& tokens) : t_(tokens) {}

  std::vector<Token> run() {
    std::size_t i = 0;
    auto out = scope(i);
    while (i < t_.size()) out.push_back(t_[i++]);  // an unbalanced ')', left for SQLite to report
    return out;
  }

 private:
  [[noreturn]] static void unsupported(const std::string& what, int line) {
    throw SqlError(50000, 16, "The stand-in server does not support " + what + ".", line);
  }

  // The tokens from i up to the ')' that closes the enclosing parenthesis (or the end).
  std::vector<Token> scope(std::size_t& i) {
    std::vector<Token> out;
    std::vector<Token> limit;
    bool setOperator = false;
    int line = 1;
    while (i < t_.size() && !t_[i].isSymbol(")") && t_[i].kind != Token::Kind::End) {
      const Token& tk = t_[i];
      if (tk.isSymbol("(")) {
        out.push_back(t_[i++]);
        auto inner = scope(i);
        out.insert(out.end(), inner.begin(), inner.end());
        if (i < t_.size() && t_[i].isSymbol(")")) out.push_back(t_[i++]);
        continue;
      }
      if (tk.is("UNION") || tk.is("EXCEPT") || tk.is("INTERSECT")) setOperator = true;
      // TOP after SELECT is its clause; after UPDATE, DELETE or INSERT one SQLite lacks; elsewhere
      // a name.
      const bool afterSelect =
          !out.empty() && (out.back().is("SELECT") || out.back().is("ALL") || out.back().is("DISTINCT"));
      if (tk.is("TOP") && !out.empty() &&
          (out.back().is("UPDATE") || out.back().is("DELETE") || out.back().is("INSERT")))
        unsupported("TOP in UPDATE, DELETE and INSERT", tk.line);
      if (tk.is("TOP") && afterSelect) {
        if (!limit.empty()) unsupported("TOP in more than one SELECT of a UNION", tk.line);
        line = tk.line;
        limit = count(++i);
        if (i < t_.size() && (t_[i].is("PERCENT") || t_[i].is("WITH")))
          unsupported("TOP ... " + base::toUpperAscii(t_[i].text), t_[i].line);
        continue;
      }
      out.push_back(t_[i++]);
    }
    if (!limit.empty()) {
      if (setOperator) unsupported("TOP in more than one SELECT of a UNION", line);
      out.push_back(identifier("LIMIT", line));
      out.insert(out.end(), limit.begin(), limit.end());
    }
    return out;
  }

  // The count after TOP: a number, or bv_top(expression) for TOP (expression).
  std::vector<Token> count(std::size_t& i) {
    std::vector<Token> out;
    if (i >= t_.size()) return out;
    if (!t_[i].isSymbol("(")) {
      out.push_back(t_[i++]);
      return out;
    }
    out.push_back(identifier("bv_top", t_[i].line));
    int depth = 0;
    do {
      if (t_[i].isSymbol("(")) ++depth;
      if (t_[i].isSymbol(")")) --depth;
      out.push_back(t_[i++]);
    } while (i < t_.size() && depth > 0 && t_[i].kind != Token::Kind::End);
    return out;
  }

  const std::vector<Token>& t_;
};

}  // namespace

std::vector<Token> rewriteForStorage(const std::vector<Token>& tokens, const CollationScope& scope) {
  const auto limited = LimitPlacer(tokens).run();
  return Rewriter(limited, scope).run();
}

namespace {

void callerFunction(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  guarded(ctx, [&] {
    const auto* f = static_cast<const StorageFunction*>(sqlite3_user_data(ctx));
    std::vector<TypedValue> arguments;
    for (int i = 0; i < argc; ++i) arguments.push_back(fromSqlite(argv[i]));
    toSqlite(ctx, (*f)(arguments).value);
  });
}

void destroyCallerFunction(void* f) { delete static_cast<StorageFunction*>(f); }

}  // namespace

void registerFunction(sqlite3* db, const std::string& name, StorageFunction function) {
  auto owned = std::make_unique<StorageFunction>(std::move(function));
  // SQLite owns it from here: it calls destroyCallerFunction when the connection closes (or the
  // registration fails).
  sqlite3_create_function_v2(db, name.c_str(), -1, SQLITE_UTF8, owned.release(), &callerFunction, nullptr,
                             nullptr, &destroyCallerFunction);
}

void registerStorageFunctions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_SUBTYPE;
  sqlite3_create_function(db, "bv_add", 2, flags, nullptr, &addFunction, nullptr, nullptr);
  sqlite3_create_function(db, "bv_convert", 3, flags, nullptr, &convertFunction, nullptr, nullptr);
  sqlite3_create_function(db, "bv_convert", 4, flags, nullptr, &convertFunction, nullptr, nullptr);
  sqlite3_create_function(db, "bv_top", 1, flags, nullptr, &topFunction, nullptr, nullptr);
  for (const auto& f : sql::builtinFunctions()) {
    const std::string name = "bv_" + base::toLowerAscii(f.name);
    sqlite3_create_function(db, name.c_str(), -1, f.deterministic ? flags : SQLITE_UTF8 | SQLITE_SUBTYPE,
                            const_cast<sql::BuiltinFunction*>(&f), &builtinFunction, nullptr, nullptr);
  }
  // LIKE is SQLite's like(pattern, text [, escape]); the server's patterns and case rules replace it.
  sqlite3_create_function(db, "like", 2, flags, nullptr, &likeFunction<false>, nullptr, nullptr);
  sqlite3_create_function(db, "like", 3, flags, nullptr, &likeFunction<false>, nullptr, nullptr);
  sqlite3_create_function(db, "bv_like", 3, flags, nullptr, &likeFunction<true>, nullptr, nullptr);
  sqlite3_create_function(db, "bv_like", 4, flags, nullptr, &likeFunction<true>, nullptr, nullptr);
  for (const auto& c : base::knownCollations())
    sqlite3_create_collation_v2(db, base::storageCollationName(c).c_str(), SQLITE_UTF8,
                                const_cast<base::Collation*>(&c), &compareText, nullptr);
}

std::optional<Message> takeStorageFunctionError() {
  std::optional<Message> out;
  out.swap(pendingError);
  return out;
}

}  // namespace standin::storage
