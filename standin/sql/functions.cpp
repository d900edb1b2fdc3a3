#include "standin/sql/functions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

#include "standin/base/text.h"

namespace standin::sql {

using base::serverCodePageLength;
using base::toLowerAscii;
using base::toUpperAscii;
using base::utf16Length;
using base::utf16leToUtf8;
using base::utf8ToUtf16le;
using K = SqlType::Kind;
using Arguments = std::vector<TypedValue>;

std::string trimBlanks(std::string_view s, bool left, bool right) {
  std::size_t b = 0, e = s.size();
  if (left)
    while (b < e && s[b] == ' ') ++b;
  if (right)
    while (e > b && s[e - 1] == ' ') --e;
  return std::string(s.substr(b, e - b));
}

void checkArgumentCount(std::string_view name, std::size_t count, std::size_t lo, std::size_t hi, int line) {
  if (count < lo || count > hi)
    throw SqlError(174, 15,
                   "The " + toLowerAscii(name) + " function requires " + std::to_string(lo) + " argument(s).",
                   line);
}

namespace {

// ---- arguments ----

std::optional<std::string> text(const TypedValue& v, int line) {
  if (isNull(v.value)) return std::nullopt;
  return std::get<std::string>(convert(v, SqlType::nvarchar(-1), -1, line).value);
}

std::optional<std::int64_t> integer(const TypedValue& v, int line) {
  if (isNull(v.value)) return std::nullopt;
  return std::get<std::int64_t>(convert(v, SqlType::bigint(), -1, line).value);
}

// The type of a string function's result: nvarchar for an nvarchar argument, else varchar.
// The type of a string function's result over `v`: a max type stays one, as T-SQL keeps it.
SqlType stringTypeOf(const TypedValue& v) {
  const bool max = v.type.isString() && v.type.length < 0;
  return v.type.kind == K::NVarChar ? SqlType::nvarchar(max ? -1 : 4000) : SqlType::varchar(max ? -1 : 8000);
}

// The characters (code points) of a text, the unit LEN, SUBSTRING, LEFT and RIGHT count in.
std::vector<std::string> characters(const std::string& utf8) {
  std::vector<std::string> out;
  const std::string u16 = utf8ToUtf16le(utf8);
  for (std::size_t i = 0; i + 1 < u16.size(); i += 2) {
    const auto hi = static_cast<unsigned char>(u16[i + 1]);
    std::size_t len = 2;
    if (hi >= 0xD8 && hi <= 0xDB && i + 3 < u16.size()) len = 4;
    out.push_back(utf16leToUtf8(std::string_view(u16).substr(i, len)));
    i += len - 2;
  }
  return out;
}

std::string joinCharacters(const std::vector<std::string>& u, std::size_t from, std::size_t count) {
  std::string out;
  for (std::size_t i = from; i < u.size() && i < from + count; ++i) out += u[i];
  return out;
}

TypedValue intResult(std::optional<std::int64_t> v) {
  if (!v) return {SqlType::integer(), std::monostate{}};
  return {SqlType::integer(), *v};
}

// ---- strings ----

TypedValue replaceFunction(const Arguments& a, int line) {
  const bool unicode =
      a[0].type.kind == K::NVarChar || a[1].type.kind == K::NVarChar || a[2].type.kind == K::NVarChar;
  SqlType t = unicode ? SqlType::nvarchar(4000) : SqlType::varchar(8000);
  if (a[0].type.length < 0) t.length = -1;
  const auto s = text(a[0], line), find = text(a[1], line), repl = text(a[2], line);
  if (!s || !find || !repl) return {t, std::monostate{}};
  if (find->empty()) return convert({SqlType::nvarchar(-1), *s}, t, -1, line);
  // The collation is case-insensitive, and so is REPLACE under it.
  const std::string hay = toUpperAscii(*s);
  const std::string needle = toUpperAscii(*find);
  std::string out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t hit = hay.find(needle, pos);
    if (hit == std::string::npos) break;
    out.append(*s, pos, hit - pos);
    out += *repl;
    pos = hit + find->size();
  }
  out.append(*s, pos, std::string::npos);
  return convert({SqlType::nvarchar(-1), out}, t, -1, line);
}

template <int Which>  // 0 UPPER, 1 LOWER, 2 LTRIM, 3 RTRIM, 4 TRIM
TypedValue caseOrTrim(const Arguments& a, int line) {
  const SqlType t = a[0].type.isString() ? a[0].type : SqlType::varchar(30);
  const auto s = text(a[0], line);
  if (!s) return {t, std::monostate{}};
  switch (Which) {
    case 0:
      return {t, toUpperAscii(*s)};
    case 1:
      return {t, toLowerAscii(*s)};
    default:
      return {t, trimBlanks(*s, Which != 3, Which != 2)};
  }
}

TypedValue lenFunction(const Arguments& a, int line) {
  const auto s = text(a[0], line);
  if (!s) return intResult(std::nullopt);
  return intResult(static_cast<std::int64_t>(characters(trimBlanks(*s, false, true)).size()));
}

TypedValue datalengthFunction(const Arguments& a, int) {
  const TypedValue& v = a[0];
  if (isNull(v.value)) return intResult(std::nullopt);
  if (const auto* s = std::get_if<std::string>(&v.value))
    return intResult(static_cast<std::int64_t>(v.type.kind == K::NVarChar ? utf16Length(*s) * 2
                                                                          : serverCodePageLength(*s)));
  if (const auto* b = std::get_if<Binary>(&v.value))
    return intResult(static_cast<std::int64_t>(b->bytes.size()));
  if (v.type.kind == K::BigInt || v.type.kind == K::Float || v.type.kind == K::DateTime)
    return intResult(std::int64_t{8});
  return intResult(std::int64_t{4});
}

TypedValue substringFunction(const Arguments& a, int line) {
  const SqlType t = stringTypeOf(a[0]);
  const auto s = text(a[0], line);
  if (!s) return {t, std::monostate{}};
  const auto start = integer(a[1], line);
  const auto len = integer(a[2], line);
  if (!start || !len) return {t, std::monostate{}};
  if (*len < 0) throw SqlError(537, 16, "Invalid length parameter passed to the substring function.", line);
  std::int64_t from = *start - 1;
  std::int64_t count = *len;
  if (from < 0) {
    count += from;
    from = 0;
  }
  if (count <= 0) return {t, std::string()};
  return {t, joinCharacters(characters(*s), static_cast<std::size_t>(from), static_cast<std::size_t>(count))};
}

template <bool Left>
TypedValue leftOrRight(const Arguments& a, int line) {
  const SqlType t = stringTypeOf(a[0]);
  const auto s = text(a[0], line);
  if (!s) return {t, std::monostate{}};
  const auto k = integer(a[1], line);
  if (!k) return {t, std::monostate{}};
  if (*k < 0)
    throw SqlError(
        536, 16,
        std::string("Invalid length parameter passed to the ") + (Left ? "left" : "right") + " function.",
        line);
  const auto u = characters(*s);
  const auto count = std::min<std::size_t>(static_cast<std::size_t>(*k), u.size());
  if (Left) return {t, joinCharacters(u, 0, count)};
  return {t, joinCharacters(u, u.size() - count, count)};
}

TypedValue charindexFunction(const Arguments& a, int line) {
  const auto find = text(a[0], line);
  const auto s = text(a[1], line);
  if (!find || !s) return intResult(std::nullopt);
  std::int64_t start = 1;
  if (a.size() == 3) start = integer(a[2], line).value_or(1);
  if (start < 1) start = 1;
  const auto hay = characters(toUpperAscii(*s));
  const auto needle = characters(toUpperAscii(*find));
  if (needle.empty()) return intResult(std::int64_t{0});
  for (std::size_t i = static_cast<std::size_t>(start - 1); i + needle.size() <= hay.size(); ++i) {
    if (std::equal(needle.begin(), needle.end(), hay.begin() + static_cast<std::ptrdiff_t>(i)))
      return intResult(static_cast<std::int64_t>(i + 1));
  }
  return intResult(std::int64_t{0});
}

TypedValue reverseFunction(const Arguments& a, int line) {
  const SqlType t = stringTypeOf(a[0]);
  const auto s = text(a[0], line);
  if (!s) return {t, std::monostate{}};
  auto u = characters(*s);
  std::reverse(u.begin(), u.end());
  return {t, joinCharacters(u, 0, u.size())};
}

// QUOTENAME(name [, quote]): the name delimited by [] (or ' or "), its closing delimiter doubled;
// NULL for a name over 128 characters or another delimiter.
TypedValue quotenameFunction(const Arguments& a, int line) {
  const SqlType t = SqlType::nvarchar(258);
  const auto s = text(a[0], line);
  const auto quote = a.size() > 1 ? text(a[1], line) : std::optional<std::string>("[");
  if (!s || !quote || characters(*s).size() > 128) return {t, std::monostate{}};
  std::string open = quote->empty() ? "[" : quote->substr(0, 1);
  if (open == "]") open = "[";
  if (open == ")") open = "(";
  if (open == ">") open = "<";
  if (open == "}") open = "{";
  const std::string close = open == "["   ? "]"
                            : open == "(" ? ")"
                            : open == "<" ? ">"
                            : open == "{" ? "}"
                                          : open;
  if (open != "[" && open != "'" && open != "\"" && open != "(" && open != "<" && open != "{" && open != "`")
    return {t, std::monostate{}};
  std::string out = open;
  for (const char ch : *s) {
    out += ch;
    if (std::string(1, ch) == close) out += ch;
  }
  return {t, out + close};
}

template <bool Space>
TypedValue repeatFunction(const Arguments& a, int line) {
  const std::string unit = Space ? std::string(" ") : text(a[0], line).value_or("");
  const auto count = integer(a[Space ? 0 : 1], line);
  const SqlType t = Space ? SqlType::varchar(8000) : stringTypeOf(a[0]);
  if (!count || *count < 0) return {t, std::monostate{}};
  // Of a max type the result may be as long as the type holds (2 GB there; a gigabyte here);
  // otherwise it stops at 8000 bytes.
  const std::size_t cap = t.length < 0 ? std::size_t{1} << 30 : 8000;
  std::string out;
  for (std::int64_t i = 0; i < *count && out.size() < cap; ++i) out += unit;
  return convert({SqlType::nvarchar(-1), out}, t, -1, line);
}

TypedValue strFunction(const Arguments& a, int line) {
  if (isNull(a[0].value)) return {SqlType::varchar(10), std::monostate{}};
  const double d = std::get<double>(convert(a[0], SqlType{K::Float, 0}, -1, line).value);
  const int width = a.size() > 1 ? static_cast<int>(integer(a[1], line).value_or(10)) : 10;
  const int decimals = a.size() > 2 ? static_cast<int>(integer(a[2], line).value_or(0)) : 0;
  char buf[128];
  std::snprintf(buf, sizeof buf, "%*.*f", width, decimals, d);
  std::string s(buf);
  if (static_cast<int>(s.size()) > width) s = std::string(static_cast<std::size_t>(width), '*');
  return {SqlType::varchar(width), s};
}

// ---- dates ----

template <int Part>  // 0 YEAR, 1 MONTH, 2 DAY
TypedValue datePart(const Arguments& a, int line) {
  const TypedValue d = convert(a[0], SqlType{K::DateTime, 0}, -1, line);
  if (isNull(d.value)) return intResult(std::nullopt);
  int y, mo, day, h, mi, s, ms;
  std::get<DateTime>(d.value).toParts(y, mo, day, h, mi, s, ms);
  return intResult(std::int64_t{Part == 0 ? y : Part == 1 ? mo : day});
}

// DATEADD(part, number, date) for the parts of years down to seconds.
TypedValue dateaddFunction(const Arguments& a, int line) {
  const auto part = text(a[0], line);
  const auto n = convert(a[1], SqlType::bigint(), -1, line);
  const TypedValue d = convert(a[2], SqlType{K::DateTime, 0}, -1, line);
  const TypedValue null{SqlType{K::DateTime, 0}, std::monostate{}};
  if (!part || isNull(n.value) || isNull(d.value)) return null;
  const std::string p = base::toLowerAscii(*part);
  const std::int64_t count = std::get<std::int64_t>(n.value);
  const DateTime date = std::get<DateTime>(d.value);
  const auto seconds = [&](std::int64_t each) { return TypedValue{d.type, date.plusSeconds(count * each)}; };
  if (p == "second" || p == "ss" || p == "s") return seconds(1);
  if (p == "minute" || p == "mi" || p == "n") return seconds(60);
  if (p == "hour" || p == "hh") return seconds(3600);
  if (p == "day" || p == "dd" || p == "d" || p == "dayofyear" || p == "dy" || p == "y") return seconds(86400);
  if (p == "week" || p == "wk" || p == "ww") return seconds(7 * 86400);
  const bool months = p == "month" || p == "mm" || p == "m";
  const bool years = p == "year" || p == "yy" || p == "yyyy";
  if (!months && !years) throw SqlError(155, 15, "'" + *part + "' is not a recognized dateadd option.");
  int y, mo, day, h, mi, sec, ms;
  date.toParts(y, mo, day, h, mi, sec, ms);
  const std::int64_t total = std::int64_t{y} * 12 + (mo - 1) + (years ? count * 12 : count);
  const int ny = static_cast<int>(total / 12);
  const int nmo = static_cast<int>(total % 12) + 1;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (ny % 4 == 0 && ny % 100 != 0) || ny % 400 == 0;
  const int last = kDays[nmo - 1] + (nmo == 2 && leap ? 1 : 0);
  return TypedValue{d.type, DateTime::fromParts(ny, nmo, std::min(day, last), h, mi, sec, ms)};
}

// DATEDIFF(part, start, end): how many boundaries of the part lie between the two, as SQL Server
// counts them (DATEDIFF(minute, '10:00:59', '10:01:00') is 1), for years down to seconds.
TypedValue datediffFunction(const Arguments& a, int line) {
  const auto part = text(a[0], line);
  const TypedValue from = convert(a[1], SqlType{K::DateTime, 0}, -1, line);
  const TypedValue to = convert(a[2], SqlType{K::DateTime, 0}, -1, line);
  if (!part || isNull(from.value) || isNull(to.value)) return intResult(std::nullopt);
  const std::string p = base::toLowerAscii(*part);
  const DateTime start = std::get<DateTime>(from.value);
  const DateTime end = std::get<DateTime>(to.value);
  // Whole seconds since 1900-01-01 (ticks are 1/300 s).
  const auto secondsOf = [](const DateTime& d) { return std::int64_t{d.days} * 86400 + d.ticks / 300; };
  const auto floorDiv = [](std::int64_t n, std::int64_t d) { return n / d - (n % d != 0 && (n < 0) != (d < 0)); };
  const auto boundaries = [&](std::int64_t each) {
    return intResult(floorDiv(secondsOf(end), each) - floorDiv(secondsOf(start), each));
  };
  if (p == "second" || p == "ss" || p == "s") return boundaries(1);
  if (p == "minute" || p == "mi" || p == "n") return boundaries(60);
  if (p == "hour" || p == "hh") return boundaries(3600);
  if (p == "day" || p == "dd" || p == "d" || p == "dayofyear" || p == "dy" || p == "y") return boundaries(86400);
  int y1, mo1, d1, h1, mi1, s1, ms1, y2, mo2, d2, h2, mi2, s2, ms2;
  start.toParts(y1, mo1, d1, h1, mi1, s1, ms1);
  end.toParts(y2, mo2, d2, h2, mi2, s2, ms2);
  if (p == "month" || p == "mm" || p == "m") return intResult(std::int64_t{y2 * 12 + mo2} - (y1 * 12 + mo1));
  if (p == "year" || p == "yy" || p == "yyyy") return intResult(std::int64_t{y2} - y1);
  throw SqlError(155, 15, "'" + *part + "' is not a recognized datediff option.");
}

TypedValue isdateFunction(const Arguments& a, int line) {
  const auto s = text(a[0], line);
  return intResult(std::int64_t{s && DateTime::fromText(*s, dateOrder()) ? 1 : 0});
}

// ---- others ----

TypedValue userNameFunction(const Arguments&, int) { return {SqlType::nvarchar(128), std::string("dbo")}; }

TypedValue absFunction(const Arguments& a, int) {
  const TypedValue& v = a[0];
  if (const auto* i = std::get_if<std::int64_t>(&v.value)) return {v.type, *i < 0 ? -*i : *i};
  if (const auto* d = std::get_if<double>(&v.value)) return {v.type, std::fabs(*d)};
  return v;
}

TypedValue newidFunction(const Arguments&, int) {
  std::random_device rd;
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%04X-%04X%08X", rd(), rd() & 0xFFFF,
                (rd() & 0x0FFF) | 0x4000, (rd() & 0x3FFF) | 0x8000, rd() & 0xFFFF, rd());
  return {SqlType::nvarchar(36), std::string(buf)};
}

const std::vector<BuiltinFunction> kFunctions = {
    // strings
    {"REPLACE", 3, 3, &replaceFunction},
    {"UPPER", 1, 1, &caseOrTrim<0>},
    {"LOWER", 1, 1, &caseOrTrim<1>},
    {"LTRIM", 1, 1, &caseOrTrim<2>},
    {"RTRIM", 1, 1, &caseOrTrim<3>},
    {"TRIM", 1, 1, &caseOrTrim<4>},
    {"LEN", 1, 1, &lenFunction},
    {"DATALENGTH", 1, 1, &datalengthFunction},
    {"SUBSTRING", 3, 3, &substringFunction},
    {"LEFT", 2, 2, &leftOrRight<true>},
    {"RIGHT", 2, 2, &leftOrRight<false>},
    {"CHARINDEX", 2, 3, &charindexFunction},
    {"REVERSE", 1, 1, &reverseFunction},
    {"SPACE", 1, 1, &repeatFunction<true>},
    {"REPLICATE", 2, 2, &repeatFunction<false>},
    {"STR", 1, 3, &strFunction},
    {"QUOTENAME", 1, 2, &quotenameFunction},
    // dates
    {"YEAR", 1, 1, &datePart<0>},
    {"MONTH", 1, 1, &datePart<1>},
    {"DAY", 1, 1, &datePart<2>},
    {"ISDATE", 1, 1, &isdateFunction},
    {"DATEADD", 3, 3, &dateaddFunction},
    {"DATEDIFF", 3, 3, &datediffFunction},
    // others
    {"USER_NAME", 0, 1, &userNameFunction},
    {"CURRENT_USER", 0, 1, &userNameFunction},
    {"USER", 0, 1, &userNameFunction},
    {"SESSION_USER", 0, 1, &userNameFunction},
    {"ABS", 1, 1, &absFunction},
    {"NEWID", 0, 0, &newidFunction, false},
};

}  // namespace

const std::vector<BuiltinFunction>& builtinFunctions() { return kFunctions; }

const BuiltinFunction* findBuiltinFunction(std::string_view name) {
  for (const auto& f : kFunctions)
    if (f.name == name) return &f;
  return nullptr;
}

}  // namespace standin::sql
