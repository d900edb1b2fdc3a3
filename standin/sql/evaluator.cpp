#include "standin/sql/evaluator.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "standin/base/text.h"
#include "standin/sql/functions.h"

namespace standin::sql {

using base::compareIgnoreCase;
using base::equalsIgnoreCase;
using base::likeMatch;
using base::toServerCodePage;
using base::toUpperAscii;
using base::utf16leToUtf8;
using base::utf8ToServerCodePageBytes;
using base::utf8ToUtf16le;
using K = SqlType::Kind;

namespace {

std::string typeWord(const SqlType& t) {
  switch (t.kind) {
    case K::VarChar:
      return "varchar";
    case K::NVarChar:
      return "nvarchar";
    case K::Int:
      return "int";
    case K::BigInt:
      return "bigint";
    case K::SmallInt:
      return "smallint";
    case K::TinyInt:
      return "tinyint";
    case K::Bit:
      return "bit";
    case K::Float:
      return "float";
    case K::DateTime:
      return "datetime";
    case K::VarBinary:
      return "varbinary";
  }
  return "?";
}

bool isNumeric(const SqlType& t) { return t.isInteger() || t.kind == K::Float; }

// UTF-8 text cut to n UTF-16 code units without splitting a surrogate pair.
std::string cutUnits(const std::string& utf8, std::size_t n) {
  const std::string u16 = utf8ToUtf16le(utf8);
  if (u16.size() / 2 <= n) return utf8;
  std::size_t bytes = n * 2;
  if (bytes >= 2) {
    const auto hi = static_cast<unsigned char>(u16[bytes - 1]);
    if (hi >= 0xD8 && hi <= 0xDB) bytes -= 2;
  }
  return utf16leToUtf8(std::string_view(u16).substr(0, bytes));
}

std::optional<int> compareValues(const TypedValue& a, const TypedValue& b, int line,
                                 const base::Collation& collation = base::serverCollation());

TypedValue boolean(std::optional<bool> b) {
  if (!b) return {SqlType::integer(), std::monostate{}};
  return {SqlType::integer(), std::int64_t{*b ? 1 : 0}};
}

std::int64_t checkedRange(std::int64_t v, const SqlType& t) {
  bool ok = true;
  switch (t.kind) {
    case K::Int:
      ok = v >= -2147483648LL && v <= 2147483647LL;
      break;
    case K::SmallInt:
      ok = v >= -32768 && v <= 32767;
      break;
    case K::TinyInt:
      ok = v >= 0 && v <= 255;
      break;
    case K::Bit:
      return v != 0 ? 1 : 0;
    default:
      break;
  }
  if (!ok)
    throw SqlError(8115, 16,
                   "Arithmetic overflow error converting expression to data type " + typeWord(t) + ".");
  return v;
}

// A subquery that is no EXISTS gives one column.
void singleColumn(const ResultSet& rows, int line) {
  if (rows.columns.size() != 1)
    throw SqlError(
        116, 15,
        "Only one expression can be specified in the select list when the subquery is not introduced "
        "with EXISTS.",
        line);
}

}  // namespace

void checkLikeEscape(const std::string& escape, int line) {
  if (base::utf16Length(escape) != 1)
    throw SqlError(
        506, 16, "The invalid escape character \"" + escape + "\" was specified in a LIKE predicate.", line);
}

TypedValue convert(const TypedValue& v, const SqlType& targetIn, int style, int line) {
  SqlType target = targetIn;
  if (target.isString() && target.length == 0) target.length = 30;
  if (isNull(v.value)) return {target, std::monostate{}};
  switch (target.kind) {
    case K::VarChar:
    case K::NVarChar: {
      std::string text;
      if (const auto* dt = std::get_if<DateTime>(&v.value)) {
        const auto f = dt->format(style < 0 ? 0 : style);
        if (!f)
          throw SqlError(
              281, 16,
              std::to_string(style) +
                  " is not a valid style number when converting from datetime to a character string.",
              line);
        text = *f;
      } else if (const auto* s = std::get_if<std::string>(&v.value)) {
        text = *s;
      } else if (const auto* b = std::get_if<Binary>(&v.value)) {
        text = v.type.kind == K::VarBinary && target.kind == K::NVarChar ? utf16leToUtf8(b->bytes) : b->bytes;
      } else {
        text = valueToText(v.value);
      }
      if (target.kind == K::VarChar) {
        text = toServerCodePage(text, target.length < 0 ? SIZE_MAX : static_cast<std::size_t>(target.length));
      } else if (target.length >= 0) {
        text = cutUnits(text, static_cast<std::size_t>(target.length));
      }
      return {target, text};
    }
    case K::Int:
    case K::BigInt:
    case K::SmallInt:
    case K::TinyInt:
    case K::Bit: {
      std::int64_t r = 0;
      if (const auto* i = std::get_if<std::int64_t>(&v.value)) {
        r = *i;
      } else if (const auto* d = std::get_if<double>(&v.value)) {
        if (target.kind == K::Bit) return {target, std::int64_t{*d != 0.0 ? 1 : 0}};
        if (std::fabs(*d) > 9.2e18)
          throw SqlError(
              8115, 16,
              "Arithmetic overflow error converting expression to data type " + typeWord(target) + ".", line);
        r = static_cast<std::int64_t>(std::trunc(*d));
      } else if (const auto* s = std::get_if<std::string>(&v.value)) {
        const std::string t = trimBlanks(*s, true, true);
        if (target.kind == K::Bit && (equalsIgnoreCase(t, "true") || equalsIgnoreCase(t, "false")))
          return {target, std::int64_t{equalsIgnoreCase(t, "true") ? 1 : 0}};
        std::string_view digits = t;
        bool neg = false;
        if (!digits.empty() && (digits[0] == '+' || digits[0] == '-')) {
          neg = digits[0] == '-';
          digits.remove_prefix(1);
        }
        std::uint64_t u = 0;
        const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), u);
        if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size()) {
          const std::string from = v.type.kind == K::NVarChar ? "nvarchar" : "varchar";
          throw SqlError(245, 16,
                         "Conversion failed when converting the " + from + " value '" + *s +
                             "' to data type " + typeWord(target) + ".",
                         line);
        }
        if (u > 9223372036854775807ULL)
          throw SqlError(
              8115, 16,
              "Arithmetic overflow error converting expression to data type " + typeWord(target) + ".", line);
        r = neg ? -static_cast<std::int64_t>(u) : static_cast<std::int64_t>(u);
      } else if (const auto* dt = std::get_if<DateTime>(&v.value)) {
        r = dt->days + (dt->ticks >= 300u * 43200u ? 1 : 0);
      } else if (const auto* b = std::get_if<Binary>(&v.value)) {
        for (const char c : b->bytes) r = (r << 8) | static_cast<unsigned char>(c);
      }
      return {target, checkedRange(r, target)};
    }
    case K::Float: {
      if (const auto* i = std::get_if<std::int64_t>(&v.value)) return {target, static_cast<double>(*i)};
      if (const auto* d = std::get_if<double>(&v.value)) return {target, *d};
      if (const auto* s = std::get_if<std::string>(&v.value)) {
        const std::string t = trimBlanks(*s, true, true);
        char* end = nullptr;
        const double d = std::strtod(t.c_str(), &end);
        if (t.empty() || end != t.c_str() + t.size())
          throw SqlError(8114, 16, "Error converting data type " + typeWord(v.type) + " to float.", line);
        return {target, d};
      }
      if (const auto* dt = std::get_if<DateTime>(&v.value))
        return {target, dt->days + static_cast<double>(dt->ticks) / (300.0 * 86400.0)};
      throw SqlError(529, 16,
                     "Explicit conversion from data type " + typeWord(v.type) + " to float is not allowed.",
                     line);
    }
    case K::DateTime: {
      if (const auto* dt = std::get_if<DateTime>(&v.value)) return {target, *dt};
      if (const auto* s = std::get_if<std::string>(&v.value)) {
        // An empty string is the first day of the type, as SQL Server converts it.
        const auto parsed = trimBlanks(*s, true, true).empty() ? std::optional<DateTime>(DateTime{})
                                                               : DateTime::fromText(*s, dateOrder());
        if (!parsed)
          throw SqlError(241, 16, "Conversion failed when converting date and/or time from character string.",
                         line);
        return {target, *parsed};
      }
      if (const auto* i = std::get_if<std::int64_t>(&v.value)) {
        DateTime dt;
        dt.days = static_cast<std::int32_t>(*i);
        return {target, dt};
      }
      if (const auto* d = std::get_if<double>(&v.value)) {
        DateTime dt;
        dt.days = static_cast<std::int32_t>(std::floor(*d));
        dt.ticks = static_cast<std::uint32_t>((*d - std::floor(*d)) * 300.0 * 86400.0 + 0.5);
        return {target, dt};
      }
      throw SqlError(
          529, 16, "Explicit conversion from data type " + typeWord(v.type) + " to datetime is not allowed.",
          line);
    }
    case K::VarBinary: {
      std::string bytes;
      if (const auto* b = std::get_if<Binary>(&v.value)) {
        bytes = b->bytes;
      } else if (const auto* s = std::get_if<std::string>(&v.value)) {
        bytes = v.type.kind == K::NVarChar ? utf8ToUtf16le(*s) : utf8ToServerCodePageBytes(*s);
      } else if (const auto* i = std::get_if<std::int64_t>(&v.value)) {
        for (int k = 3; k >= 0; --k) bytes.push_back(static_cast<char>((*i >> (8 * k)) & 0xFF));
      } else {
        throw SqlError(
            529, 16,
            "Explicit conversion from data type " + typeWord(v.type) + " to varbinary is not allowed.", line);
      }
      if (target.length >= 0 && bytes.size() > static_cast<std::size_t>(target.length))
        bytes.resize(static_cast<std::size_t>(target.length));
      return {target, Binary{bytes}};
    }
  }
  return {target, v.value};
}

bool truthy(const TypedValue& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v.value)) return *i != 0;
  if (const auto* d = std::get_if<double>(&v.value)) return *d != 0.0;
  return false;
}

namespace {

std::optional<int> compareValues(const TypedValue& a, const TypedValue& b, int line,
                                 const base::Collation& collation) {
  if (isNull(a.value) || isNull(b.value)) return std::nullopt;
  auto sign = [](auto x, auto y) { return x < y ? -1 : (y < x ? 1 : 0); };
  if (a.type.isString() && b.type.isString())
    return base::compareText(collation, std::get<std::string>(a.value), std::get<std::string>(b.value));
  if (a.type.kind == K::DateTime || b.type.kind == K::DateTime) {
    const auto x = convert(a, SqlType{K::DateTime, 0}, -1, line);
    const auto y = convert(b, SqlType{K::DateTime, 0}, -1, line);
    const auto& dx = std::get<DateTime>(x.value);
    const auto& dy = std::get<DateTime>(y.value);
    if (dx.days != dy.days) return sign(dx.days, dy.days);
    return sign(dx.ticks, dy.ticks);
  }
  if (a.type.kind == K::VarBinary && b.type.kind == K::VarBinary) {
    const auto& x = std::get<Binary>(a.value).bytes;
    const auto& y = std::get<Binary>(b.value).bytes;
    return sign(x, y);
  }
  const bool useFloat = a.type.kind == K::Float || b.type.kind == K::Float;
  if (useFloat || a.type.isString() || b.type.isString()) {
    if (!useFloat && (a.type.isInteger() || b.type.isInteger())) {
      const auto x = convert(a, SqlType::bigint(), -1, line);
      const auto y = convert(b, SqlType::bigint(), -1, line);
      return sign(std::get<std::int64_t>(x.value), std::get<std::int64_t>(y.value));
    }
    const auto x = convert(a, SqlType{K::Float, 0}, -1, line);
    const auto y = convert(b, SqlType{K::Float, 0}, -1, line);
    return sign(std::get<double>(x.value), std::get<double>(y.value));
  }
  return sign(std::get<std::int64_t>(a.value), std::get<std::int64_t>(b.value));
}

}  // namespace

std::string operationName(const std::string& op) {
  if (op == "=") return "equal to";
  if (op == "<>" || op == "!=") return "not equal to";
  if (op == "<") return "less than";
  if (op == ">") return "greater than";
  if (op == "<=" || op == "!>") return "less than or equal to";
  if (op == ">=" || op == "!<") return "greater than or equal to";
  return "like";
}

void collationConflict(const std::string& a, const std::string& b, const std::string& operation, int line) {
  throw SqlError(468, 16,
                 "Cannot resolve the collation conflict between \"" + a + "\" and \"" + b + "\" in the " +
                     operation + " operation.",
                 line);
}

namespace {

bool isComparison(const std::string& op) {
  return op == "=" || op == "<>" || op == "!=" || op == "<" || op == ">" || op == "<=" || op == ">=" ||
         op == "!<" || op == "!>";
}

// Functions whose text result keeps the collation of their (first) text argument.
bool keepsCollation(const std::string& name) {
  for (const char* f : {"SUBSTRING", "LEFT", "RIGHT", "REPLACE", "UPPER", "LOWER", "LTRIM", "RTRIM",
                        "REVERSE", "ISNULL", "COALESCE", "NULLIF", "REPLICATE", "STUFF"})
    if (name == f) return true;
  return false;
}

// The collation an expression carries explicitly: COLLATE, also through + and the string
// functions over it; empty for none.
std::string explicitCollation(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::Collate:
      return e.name;
    case Expr::Kind::Binary:
      if (e.name != "+") return {};
      for (const auto& a : e.args)
        if (auto c = explicitCollation(*a); !c.empty()) return c;
      return {};
    case Expr::Kind::Function:
      if (!keepsCollation(e.name)) return {};
      for (const auto& a : e.args)
        if (auto c = explicitCollation(*a); !c.empty()) return c;
      return {};
    case Expr::Kind::Convert:
      return e.type.isString() && !e.args.empty() ? explicitCollation(*e.args[0]) : std::string();
    default:
      return {};
  }
}

}  // namespace

TypedValue binaryOp(const std::string& op, const TypedValue& a, const TypedValue& b, int line,
                    const base::Collation* collation) {
  if (op == "AND" || op == "OR") {
    const bool an = isNull(a.value), bn = isNull(b.value);
    const bool at = truthy(a), bt = truthy(b);
    if (op == "AND") {
      if ((!an && !at) || (!bn && !bt)) return boolean(false);
      if (an || bn) return boolean(std::nullopt);
      return boolean(true);
    }
    if ((!an && at) || (!bn && bt)) return boolean(true);
    if (an || bn) return boolean(std::nullopt);
    return boolean(false);
  }
  if (op == "=" || op == "<>" || op == "!=" || op == "<" || op == ">" || op == "<=" || op == ">=" ||
      op == "!<" || op == "!>") {
    const auto c = compareValues(a, b, line, collation ? *collation : base::serverCollation());
    if (!c) return boolean(std::nullopt);
    if (op == "=") return boolean(*c == 0);
    if (op == "<>" || op == "!=") return boolean(*c != 0);
    if (op == "<") return boolean(*c < 0);
    if (op == ">") return boolean(*c > 0);
    if (op == "<=" || op == "!>") return boolean(*c <= 0);
    return boolean(*c >= 0);
  }
  // string concatenation
  if (op == "+" && a.type.isString() && b.type.isString()) {
    const bool unicode = a.type.kind == K::NVarChar || b.type.kind == K::NVarChar;
    SqlType t{unicode ? K::NVarChar : K::VarChar, 0};
    const int cap = unicode ? 4000 : 8000;
    t.length = (a.type.length < 0 || b.type.length < 0) ? -1 : std::min(cap, a.type.length + b.type.length);
    if (isNull(a.value) || isNull(b.value)) return {t, std::monostate{}};
    return {t, std::get<std::string>(a.value) + std::get<std::string>(b.value)};
  }
  if ((op == "+" || op == "-") && (a.type.kind == K::DateTime || b.type.kind == K::DateTime)) {
    const SqlType dtType{K::DateTime, 0};
    if (isNull(a.value) || isNull(b.value)) return {dtType, std::monostate{}};
    const TypedValue& d = a.type.kind == K::DateTime ? a : b;
    const TypedValue& n = a.type.kind == K::DateTime ? b : a;
    const double days =
        std::get<double>(convert(n, SqlType{K::Float, 0}, -1, line).value) * (op == "-" ? -1 : 1);
    const double base = std::get<double>(convert(d, SqlType{K::Float, 0}, -1, line).value);
    return convert(TypedValue{SqlType{K::Float, 0}, base + days}, dtType, -1, line);
  }
  // arithmetic; a string operand takes the number's type
  TypedValue x = a, y = b;
  if (x.type.isString() && isNumeric(y.type)) x = convert(x, y.type, -1, line);
  if (y.type.isString() && isNumeric(x.type)) y = convert(y, x.type, -1, line);
  if (!isNumeric(x.type) || !isNumeric(y.type))
    throw SqlError(402, 16,
                   "The data types " + typeWord(a.type) + " and " + typeWord(b.type) +
                       " are incompatible in the " +
                       (op == "+"   ? "add"
                        : op == "-" ? "subtract"
                        : op == "*" ? "multiply"
                        : op == "/" ? "divide"
                                    : "modulo") +
                       " operator.",
                   line);
  const bool useFloat = x.type.kind == K::Float || y.type.kind == K::Float;
  const SqlType resultType = useFloat                                                 ? SqlType{K::Float, 0}
                             : (x.type.kind == K::BigInt || y.type.kind == K::BigInt) ? SqlType::bigint()
                                                                                      : SqlType::integer();
  if (isNull(x.value) || isNull(y.value)) return {resultType, std::monostate{}};
  if (useFloat) {
    const double p = std::get<double>(convert(x, SqlType{K::Float, 0}, -1, line).value);
    const double q = std::get<double>(convert(y, SqlType{K::Float, 0}, -1, line).value);
    if ((op == "/" || op == "%") && q == 0.0)
      throw SqlError(8134, 16, "Divide by zero error encountered.", line);
    if (op == "+") return {resultType, p + q};
    if (op == "-") return {resultType, p - q};
    if (op == "*") return {resultType, p * q};
    if (op == "/") return {resultType, p / q};
    if (op == "%") return {resultType, std::fmod(p, q)};
    throw SqlError(402, 16, "The data types float and float are incompatible in the bitwise operator.", line);
  }
  const std::int64_t p = std::get<std::int64_t>(x.value);
  const std::int64_t q = std::get<std::int64_t>(y.value);
  std::int64_t r = 0;
  bool overflow = false;
  if (op == "+")
    overflow = __builtin_add_overflow(p, q, &r);
  else if (op == "-")
    overflow = __builtin_sub_overflow(p, q, &r);
  else if (op == "*")
    overflow = __builtin_mul_overflow(p, q, &r);
  else if (op == "/" || op == "%") {
    if (q == 0) throw SqlError(8134, 16, "Divide by zero error encountered.", line);
    r = op == "/" ? p / q : p % q;
  } else if (op == "&")
    r = p & q;
  else if (op == "|")
    r = p | q;
  else if (op == "^")
    r = p ^ q;
  if (overflow)
    throw SqlError(
        8115, 16,
        "Arithmetic overflow error converting expression to data type " + typeWord(resultType) + ".", line);
  return {resultType, checkedRange(r, resultType)};
}

std::string Evaluator::evalText(const Expr& e) {
  const TypedValue v = eval(e);
  if (isNull(v.value)) return {};
  return std::get<std::string>(convert(v, SqlType::nvarchar(-1), -1, e.line).value);
}

void Evaluator::assign(const std::string& name, const TypedValue& v, int line) {
  auto it = vars_.find(name);
  if (it == vars_.end() || it->second.isTable)
    throw SqlError(137, 15, "Must declare the scalar variable \"" + name + "\".", line);
  it->second.value = convert(v, it->second.type, -1, line).value;
}

TypedValue Evaluator::eval(const Expr& e) {
  switch (e.kind) {
    case Expr::Kind::Literal:
      return {e.type, e.literal};
    case Expr::Kind::Variable: {
      auto it = vars_.find(e.name);
      if (it == vars_.end() || it->second.isTable)
        throw SqlError(137, 15, "Must declare the scalar variable \"" + e.name + "\".", e.line);
      return {it->second.type, it->second.value};
    }
    case Expr::Kind::Global:
      return environment_.global(e);
    case Expr::Kind::Column:
      throw SqlError(207, 16, "Invalid column name '" + e.name + "'.", e.line);
    case Expr::Kind::Function:
      return callFunction(e);
    case Expr::Kind::Convert: {
      int style = -1;
      if (e.args.size() > 1) {
        const auto st = convert(eval(*e.args[1]), SqlType::integer(), -1, e.line);
        if (!isNull(st.value)) style = static_cast<int>(std::get<std::int64_t>(st.value));
      }
      return convert(eval(*e.args[0]), e.type, style, e.line);
    }
    case Expr::Kind::Binary:
      if (isComparison(e.name)) {
        const auto& collation = collationFor(*e.args[0], *e.args[1], operationName(e.name));
        return binaryOp(e.name, eval(*e.args[0]), eval(*e.args[1]), e.line, &collation);
      }
      return binaryOp(e.name, eval(*e.args[0]), eval(*e.args[1]), e.line);
    case Expr::Kind::Collate:
      return eval(*e.args[0]);
    case Expr::Kind::Unary: {
      const TypedValue v = eval(*e.args[0]);
      if (e.name == "NOT") {
        if (isNull(v.value)) return boolean(std::nullopt);
        return boolean(!truthy(v));
      }
      if (e.name == "+") return v;
      if (isNull(v.value)) return v;
      if (const auto* i = std::get_if<std::int64_t>(&v.value)) return {v.type, e.name == "~" ? ~*i : -*i};
      if (const auto* d = std::get_if<double>(&v.value)) return {v.type, -*d};
      throw SqlError(8117, 16, "Operand data type " + typeWord(v.type) + " is invalid for minus operator.",
                     e.line);
    }
    case Expr::Kind::IsNull: {
      const bool n = isNull(eval(*e.args[0]).value);
      return boolean(e.negated ? !n : n);
    }
    case Expr::Kind::Like: {
      const TypedValue v = eval(*e.args[0]);
      const TypedValue p = eval(*e.args[1]);
      if (isNull(v.value) || isNull(p.value)) return boolean(std::nullopt);
      const std::string text = std::get<std::string>(convert(v, SqlType::nvarchar(-1), -1, e.line).value);
      const std::string pattern = std::get<std::string>(convert(p, SqlType::nvarchar(-1), -1, e.line).value);
      std::string escape;
      if (e.args.size() > 2) {
        const TypedValue x = eval(*e.args[2]);
        if (isNull(x.value)) return boolean(std::nullopt);
        escape = std::get<std::string>(convert(x, SqlType::nvarchar(-1), -1, e.line).value);
        checkLikeEscape(escape, e.line);
      }
      const bool m = base::likeIn(collationFor(*e.args[0], *e.args[1], "like"), text, pattern, escape);
      return boolean(e.negated ? !m : m);
    }
    case Expr::Kind::In: {
      const TypedValue v = eval(*e.args[0]);
      bool found = false;
      bool sawNull = isNull(v.value);
      const auto& collation = collationFor(*e.args[0], *e.args.back(), "equal to");
      auto consider = [&](const TypedValue& candidate) {
        const auto c = compareValues(v, candidate, e.line, collation);
        if (!c)
          sawNull = true;
        else if (*c == 0)
          found = true;
      };
      if (!e.query.empty()) {
        const ResultSet rows = environment_.subquery(e);
        singleColumn(rows, e.line);
        for (std::size_t i = 0; i < rows.rows.size() && !found; ++i)
          consider(TypedValue{rows.columns[0].type, rows.rows[i][0]});
      }
      for (std::size_t i = 1; i < e.args.size() && !found; ++i) consider(eval(*e.args[i]));
      if (found) return boolean(!e.negated);
      if (sawNull) return boolean(std::nullopt);
      return boolean(e.negated);
    }
    case Expr::Kind::Between: {
      const TypedValue v = eval(*e.args[0]);
      const auto& collation = collationFor(*e.args[0], *e.args[1], "greater than or equal to");
      const auto lo = compareValues(v, eval(*e.args[1]), e.line, collation);
      const auto hi = compareValues(v, eval(*e.args[2]), e.line, collation);
      if (!lo || !hi) return boolean(std::nullopt);
      const bool in = *lo >= 0 && *hi <= 0;
      return boolean(e.negated ? !in : in);
    }
    case Expr::Kind::Case: {
      std::size_t i = 0;
      std::optional<TypedValue> operand;
      if (e.caseHasOperand) operand = eval(*e.args[i++]);
      const std::size_t pairsEnd = e.args.size() - (e.caseHasElse ? 1 : 0);
      const std::size_t firstThen = i + 1;
      for (; i + 1 < pairsEnd; i += 2) {
        bool hit = false;
        if (operand) {
          const auto c = compareValues(*operand, eval(*e.args[i]), e.line,
                                       collationFor(*e.args[0], *e.args[i], "equal to"));
          hit = c && *c == 0;
        } else {
          hit = truthy(eval(*e.args[i]));
        }
        if (hit) return eval(*e.args[i + 1]);
      }
      if (e.caseHasElse) return eval(*e.args.back());
      const SqlType resultType = eval(*e.args[firstThen]).type;
      return {resultType, std::monostate{}};
    }
    case Expr::Kind::Subquery: {
      const ResultSet rows = environment_.subquery(e);
      singleColumn(rows, e.line);
      if (rows.rows.size() > 1)
        throw SqlError(
            512, 16,
            "Subquery returned more than 1 value. This is not permitted when the subquery follows =, "
            "!=, <, <= , >, >= or when the subquery is used as an expression.",
            e.line);
      if (rows.rows.empty()) return {rows.columns[0].type, std::monostate{}};
      return {rows.columns[0].type, rows.rows[0][0]};
    }
    case Expr::Kind::Exists:
      return boolean(!environment_.subquery(e).rows.empty());
  }
  return {SqlType::integer(), std::monostate{}};
}

const base::Collation& Evaluator::collationFor(const Expr& a, const Expr& b, const std::string& operation) {
  auto named = [&](std::string name) -> std::string {
    return name == "DATABASE_DEFAULT" ? std::string(environment_.defaultCollation().name) : name;
  };
  const std::string x = named(explicitCollation(a));
  const std::string y = named(explicitCollation(b));
  if (!x.empty() && !y.empty() && !equalsIgnoreCase(x, y)) collationConflict(x, y, operation, a.line);
  const std::string& chosen = x.empty() ? y : x;
  if (chosen.empty()) return environment_.defaultCollation();
  const auto* c = base::findCollation(chosen);
  return c ? *c : environment_.defaultCollation();
}

void Evaluator::requireArguments(const Expr& e, std::size_t lo, std::size_t hi) const {
  checkArgumentCount(e.name, e.args.size(), lo, hi, e.line);
}

std::optional<std::string> Evaluator::textArgument(const Expr& e, std::size_t i) {
  const TypedValue v = eval(*e.args[i]);
  if (isNull(v.value)) return std::nullopt;
  return std::get<std::string>(convert(v, SqlType::nvarchar(-1), -1, e.line).value);
}

std::optional<std::int64_t> Evaluator::integerArgument(const Expr& e, std::size_t i) {
  const TypedValue v = eval(*e.args[i]);
  if (isNull(v.value)) return std::nullopt;
  return std::get<std::int64_t>(convert(v, SqlType::bigint(), -1, e.line).value);
}

TypedValue Evaluator::callFunction(const Expr& e) {
  if (auto v = environment_.sessionFunction(e, *this)) return *v;
  // ISNULL, COALESCE and NULLIF look at their arguments one at a time, as CASE does.
  if (e.name == "ISNULL") {
    requireArguments(e, 2, 2);
    const TypedValue a = eval(*e.args[0]);
    if (!isNull(a.value)) return a;
    // A bare NULL has no type of its own: the replacement keeps its type.
    if (e.args[0]->kind == Expr::Kind::Literal) return eval(*e.args[1]);
    return convert(eval(*e.args[1]), a.type, -1, e.line);
  }
  if (e.name == "COALESCE") {
    if (e.args.empty()) requireArguments(e, 1, 1);
    TypedValue last{SqlType::integer(), std::monostate{}};
    for (const auto& a : e.args) {
      last = eval(*a);
      if (!isNull(last.value)) return last;
    }
    return last;
  }
  if (e.name == "NULLIF") {
    requireArguments(e, 2, 2);
    const TypedValue a = eval(*e.args[0]);
    const auto c =
        compareValues(a, eval(*e.args[1]), e.line, collationFor(*e.args[0], *e.args[1], "equal to"));
    if (c && *c == 0) return {a.type, std::monostate{}};
    return a;
  }
  const BuiltinFunction* f = findBuiltinFunction(e.name);
  if (!f) throw SqlError(195, 15, "'" + e.name + "' is not a recognized built-in function name.", e.line);
  requireArguments(e, f->minArguments, f->maxArguments);
  std::vector<TypedValue> arguments;
  for (const auto& a : e.args) arguments.push_back(eval(*a));
  return f->call(arguments, e.line);
}

}  // namespace standin::sql
