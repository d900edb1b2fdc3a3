#include <sys/time.h>

#include <cstdio>
#include <ctime>
#include <string_view>

#include "standin/base/text.h"
#include "standin/sql/results.h"
#include "standin/sql/value.h"

namespace standin::sql {

using base::equalsIgnoreCase;

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp + (mp < 10 ? 3 : -9);
  year = static_cast<int>(y + (m <= 2));
  month = static_cast<int>(m);
  day = static_cast<int>(d);
}

constexpr std::int64_t kDays1900To1970 = 25567;
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

}  // namespace

DateTime DateTime::fromParts(int year, int month, int day, int hour, int minute, int second,
                             int millisecond) {
  DateTime dt;
  dt.days = static_cast<std::int32_t>(
      daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) + kDays1900To1970);
  const std::int64_t ms = ((hour * 60LL + minute) * 60LL + second) * 1000LL + millisecond;
  dt.ticks = static_cast<std::uint32_t>((ms * 300 + 500) / 1000);
  return dt;
}

DateTime DateTime::now() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm tm{};
  const std::time_t secs = tv.tv_sec;
  localtime_r(&secs, &tm);
  return fromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                   static_cast<int>(tv.tv_usec / 1000));
}

DateTime DateTime::utcNow() {
  timeval tv{};
  gettimeofday(&tv, nullptr);
  std::tm tm{};
  const std::time_t secs = tv.tv_sec;
  gmtime_r(&secs, &tm);
  return fromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                   static_cast<int>(tv.tv_usec / 1000));
}

DateTime DateTime::plusSeconds(std::int64_t seconds) const {
  constexpr std::int64_t kTicksPerDay = 300LL * 86400;
  const std::int64_t total = days * kTicksPerDay + ticks + seconds * 300;
  std::int64_t d = total / kTicksPerDay;
  std::int64_t t = total % kTicksPerDay;
  if (t < 0) {
    t += kTicksPerDay;
    --d;
  }
  DateTime out;
  out.days = static_cast<std::int32_t>(d);
  out.ticks = static_cast<std::uint32_t>(t);
  return out;
}

void DateTime::toParts(int& year, int& month, int& day, int& hour, int& minute, int& second,
                       int& millisecond) const {
  civilFromDays(static_cast<std::int64_t>(days) - kDays1900To1970, year, month, day);
  const std::int64_t ms = (static_cast<std::int64_t>(ticks) * 1000 + 150) / 300;
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  millisecond = static_cast<int>(ms % 1000);
}

namespace {

thread_local DateOrder tDateOrder = DateOrder::Mdy;

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : kDays[m - 1];
}

bool validDate(int y, int m, int d) {
  return y >= 1753 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= daysInMonth(y, m);
}

bool allDigits(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

int number(std::string_view s) {
  int n = 0;
  for (const char c : s) n = n * 10 + (c - '0');
  return n;
}

// A two-digit year: 00-49 is 20xx, 50-99 19xx (the server's two digit year cutoff, 2049).
int fullYear(std::string_view digits) {
  const int y = number(digits);
  if (digits.size() > 2) return y;
  return y < 50 ? 2000 + y : 1900 + y;
}

std::optional<int> monthNamed(std::string_view word) {
  static const char* const kNames[] = {"january", "february", "march",     "april",   "may",      "june",
                                       "july",    "august",   "september", "october", "november", "december"};
  const std::string w = base::toLowerAscii(word);
  for (int m = 0; m < 12; ++m) {
    const std::string_view full = kNames[m];
    if (w == full || (w.size() == 3 && full.substr(0, 3) == w)) return m + 1;
  }
  return std::nullopt;
}

struct TimeOfDay {
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// hh:mm[:ss[.fff | :fff]] with an optional AM / PM (glued or apart), or hh AM / PM.
std::optional<TimeOfDay> timeOfDay(std::string_view text) {
  std::string t = base::toUpperAscii(text);
  std::optional<bool> pm;
  for (const char* marker : {"AM", "PM"}) {
    const auto at = t.rfind(marker);
    if (at != std::string::npos && at + 2 == t.size()) {
      pm = marker[0] == 'P';
      t = t.substr(0, at);
      while (!t.empty() && t.back() == ' ') t.pop_back();
    }
  }
  TimeOfDay out;
  std::vector<std::string> parts;
  std::string fraction;
  std::size_t i = 0;
  std::string cur;
  for (; i < t.size(); ++i) {
    if (t[i] == ':') {
      parts.push_back(cur);
      cur.clear();
    } else if (t[i] == '.') {
      parts.push_back(cur);
      fraction = t.substr(i + 1);
      cur.clear();
      break;
    } else {
      cur.push_back(t[i]);
    }
  }
  if (i == t.size()) parts.push_back(cur);
  if (parts.empty() || parts.size() > 4 || (parts.size() == 1 && !pm)) return std::nullopt;
  for (const auto& p : parts)
    if (!allDigits(p) || p.size() > 2) return std::nullopt;
  if (!fraction.empty() && !allDigits(fraction)) return std::nullopt;
  out.hour = number(parts[0]);
  if (parts.size() > 1) out.minute = number(parts[1]);
  if (parts.size() > 2) out.second = number(parts[2]);
  if (parts.size() > 3) out.millisecond = number(parts[3]);  // hh:mm:ss:mmm
  if (!fraction.empty()) {
    std::string ms = fraction.substr(0, 3);
    while (ms.size() < 3) ms.push_back('0');
    out.millisecond = number(ms);
  }
  if (pm) {
    if (out.hour < 1 || out.hour > 12) return std::nullopt;
    out.hour = *pm ? (out.hour % 12) + 12 : out.hour % 12;
  }
  if (out.hour > 23 || out.minute > 59 || out.second > 59 || out.millisecond > 999) return std::nullopt;
  return out;
}

struct CivilDate {
  int year = 1900, month = 1, day = 1;
};

// The date part: unseparated digits, numbers with separators, or words with a month name.
std::optional<CivilDate> datePart(const std::vector<std::string>& words, DateOrder order) {
  CivilDate d;
  if (words.size() == 1 && allDigits(words[0])) {
    const std::string& w = words[0];
    if (w.size() == 8)
      return CivilDate{number(w.substr(0, 4)), number(w.substr(4, 2)), number(w.substr(6, 2))};
    if (w.size() == 6)
      return CivilDate{fullYear(w.substr(0, 2)), number(w.substr(2, 2)), number(w.substr(4, 2))};
    if (w.size() == 4) return CivilDate{number(w), 1, 1};
    return std::nullopt;
  }
  if (words.size() == 1) {
    // Numbers with one kind of separator.
    const std::string& w = words[0];
    const auto sep = w.find_first_of("/-.");
    if (sep == std::string::npos) return std::nullopt;
    std::vector<std::string> n;
    std::string cur;
    for (const char c : w) {
      if (c == w[sep]) {
        n.push_back(cur);
        cur.clear();
      } else {
        cur.push_back(c);
      }
    }
    n.push_back(cur);
    if (n.size() != 3) return std::nullopt;
    for (const auto& x : n)
      if (!allDigits(x) || x.size() > 4) return std::nullopt;
    if (n[0].size() == 4 || n[0].size() == 3) {
      // A year written first: year-month-day, or year-day-month where days come before months.
      const bool dayFirst = order == DateOrder::Dmy || order == DateOrder::Ydm || order == DateOrder::Dym;
      d.year = number(n[0]);
      d.month = number(dayFirst ? n[2] : n[1]);
      d.day = number(dayFirst ? n[1] : n[2]);
      return d;
    }
    const char* letters = order == DateOrder::Mdy   ? "mdy"
                          : order == DateOrder::Dmy ? "dmy"
                          : order == DateOrder::Ymd ? "ymd"
                          : order == DateOrder::Ydm ? "ydm"
                          : order == DateOrder::Myd ? "myd"
                                                    : "dym";
    for (int k = 0; k < 3; ++k) {
      const auto& x = n[static_cast<std::size_t>(k)];
      if (letters[k] == 'y') {
        d.year = fullYear(x);
      } else if (x.size() > 2) {
        return std::nullopt;
      } else if (letters[k] == 'm') {
        d.month = number(x);
      } else {
        d.day = number(x);
      }
    }
    return d;
  }
  // A month's name with a day and a year: "Jan 2 2008", "2 Jan 2008", "2008 Jan 2", "January 2, 2008".
  std::optional<int> month;
  std::vector<std::string> numbers;
  for (auto w : words) {
    if (!w.empty() && w.back() == ',') w.pop_back();
    if (w.empty()) continue;
    if (auto m = monthNamed(w)) {
      if (month) return std::nullopt;
      month = m;
    } else if (allDigits(w) && w.size() <= 4) {
      numbers.push_back(w);
    } else {
      return std::nullopt;
    }
  }
  if (!month || numbers.empty() || numbers.size() > 2) return std::nullopt;
  d.month = *month;
  if (numbers.size() == 1) {  // "Jan 2008": the first of the month
    if (numbers[0].size() != 4) return std::nullopt;
    d.year = number(numbers[0]);
    return d;
  }
  const bool firstIsYear = numbers[0].size() > 2;
  d.year = fullYear(firstIsYear ? numbers[0] : numbers[1]);
  const auto& day = firstIsYear ? numbers[1] : numbers[0];
  if (day.size() > 2) return std::nullopt;
  d.day = number(day);
  return d;
}

}  // namespace

DateOrder dateOrder() { return tDateOrder; }

std::optional<DateOrder> dateOrderNamed(std::string_view name) {
  const std::string n = base::toLowerAscii(name);
  if (n == "mdy") return DateOrder::Mdy;
  if (n == "dmy") return DateOrder::Dmy;
  if (n == "ymd") return DateOrder::Ymd;
  if (n == "ydm") return DateOrder::Ydm;
  if (n == "myd") return DateOrder::Myd;
  if (n == "dym") return DateOrder::Dym;
  return std::nullopt;
}

DateOrderScope::DateOrderScope(DateOrder order) : saved_(tDateOrder) { tDateOrder = order; }
DateOrderScope::~DateOrderScope() { tDateOrder = saved_; }
void DateOrderScope::set(DateOrder order) { tDateOrder = order; }

std::optional<DateTime> DateTime::parse(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  const std::string_view t = text;
  if (t.size() == 8 && allDigits(t)) {
    y = number(t.substr(0, 4));
    mo = number(t.substr(4, 2));
    d = number(t.substr(6, 2));
  } else {
    if (t.size() < 10 || t[4] != '-' || t[7] != '-' || !allDigits(t.substr(0, 4)) ||
        !allDigits(t.substr(5, 2)) || !allDigits(t.substr(8, 2)))
      return std::nullopt;
    y = number(t.substr(0, 4));
    mo = number(t.substr(5, 2));
    d = number(t.substr(8, 2));
    if (t.size() > 10) {
      if (t[10] != ' ' && t[10] != 'T') return std::nullopt;
      const auto time = timeOfDay(t.substr(11));
      if (!time) return std::nullopt;
      h = time->hour;
      mi = time->minute;
      s = time->second;
      ms = time->millisecond;
    }
  }
  if (!validDate(y, mo, d)) return std::nullopt;
  return fromParts(y, mo, d, h, mi, s, ms);
}

std::optional<DateTime> DateTime::fromText(std::string_view text, DateOrder order) {
  std::string t(text);
  while (!t.empty() && t.front() == ' ') t.erase(0, 1);
  while (!t.empty() && t.back() == ' ') t.pop_back();
  if (t.empty()) return std::nullopt;
  // ISO 8601 with its T: the same under every DATEFORMAT.
  if (t.size() >= 16 && t[10] == 'T') {
    if (t[4] != '-' || t[7] != '-' || !allDigits(std::string_view(t).substr(0, 4))) return std::nullopt;
    return parse(t);
  }
  // Words: the time is the part with a ':' (and the AM / PM after it), the rest the date.
  std::vector<std::string> words;
  std::string cur;
  for (const char c : t) {
    if (c == ' ') {
      if (!cur.empty()) words.push_back(cur);
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  if (!cur.empty()) words.push_back(cur);
  std::vector<std::string> dateWords;
  std::string timeText;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string upper = base::toUpperAscii(words[i]);
    const bool marker = upper == "AM" || upper == "PM";
    const bool clock = words[i].find(':') != std::string::npos ||
                       (i + 1 < words.size() && (base::toUpperAscii(words[i + 1]) == "AM" ||
                                                 base::toUpperAscii(words[i + 1]) == "PM")) ||
                       ((upper.size() > 2 && (upper.ends_with("AM") || upper.ends_with("PM"))) &&
                        allDigits(std::string_view(upper).substr(0, upper.size() - 2)));
    if (marker || clock) {
      if (!timeText.empty() && !marker) return std::nullopt;
      timeText += (timeText.empty() ? "" : " ") + words[i];
    } else {
      if (!timeText.empty()) return std::nullopt;  // the date comes first
      dateWords.push_back(words[i]);
    }
  }
  CivilDate date;
  if (!dateWords.empty()) {
    const auto d = datePart(dateWords, order);
    if (!d) return std::nullopt;
    date = *d;
  }
  TimeOfDay time;
  if (!timeText.empty()) {
    const auto tod = timeOfDay(timeText);
    if (!tod) return std::nullopt;
    time = *tod;
  }
  if (!validDate(date.year, date.month, date.day)) return std::nullopt;
  return fromParts(date.year, date.month, date.day, time.hour, time.minute, time.second, time.millisecond);
}

std::optional<std::string> DateTime::format(int style) const {
  int y, mo, d, h, mi, s, ms;
  toParts(y, mo, d, h, mi, s, ms);
  char buf[64];
  const int yy = y % 100;
  switch (style) {
    case 0:
    case 100: {
      const int h12 = h % 12 == 0 ? 12 : h % 12;
      std::snprintf(buf, sizeof buf, "%s %2d %d %2d:%02d%s", kMonths[mo - 1], d, y, h12, mi,
                    h < 12 ? "AM" : "PM");
      break;
    }
    case 1:
      std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", mo, d, yy);
      break;
    case 101:
      std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", mo, d, y);
      break;
    case 2:
      std::snprintf(buf, sizeof buf, "%02d.%02d.%02d", yy, mo, d);
      break;
    case 102:
      std::snprintf(buf, sizeof buf, "%04d.%02d.%02d", y, mo, d);
      break;
    case 3:
      std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", d, mo, yy);
      break;
    case 103:
      std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", d, mo, y);
      break;
    case 4:
      std::snprintf(buf, sizeof buf, "%02d.%02d.%02d", d, mo, yy);
      break;
    case 104:
      std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d, mo, y);
      break;
    case 5:
      std::snprintf(buf, sizeof buf, "%02d-%02d-%02d", d, mo, yy);
      break;
    case 105:
      std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", d, mo, y);
      break;
    case 106:
      std::snprintf(buf, sizeof buf, "%02d %s %04d", d, kMonths[mo - 1], y);
      break;
    case 107:
      std::snprintf(buf, sizeof buf, "%s %02d, %04d", kMonths[mo - 1], d, y);
      break;
    case 8:
    case 108:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", h, mi, s);
      break;
    case 10:
      std::snprintf(buf, sizeof buf, "%02d-%02d-%02d", mo, d, yy);
      break;
    case 110:
      std::snprintf(buf, sizeof buf, "%02d-%02d-%04d", mo, d, y);
      break;
    case 11:
      std::snprintf(buf, sizeof buf, "%02d/%02d/%02d", yy, mo, d);
      break;
    case 111:
      std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", y, mo, d);
      break;
    case 12:
      std::snprintf(buf, sizeof buf, "%02d%02d%02d", yy, mo, d);
      break;
    case 112:
      std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, mo, d);
      break;
    case 114:
      std::snprintf(buf, sizeof buf, "%02d:%02d:%02d:%03d", h, mi, s, ms);
      break;
    case 20:
    case 120:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
      break;
    case 21:
    case 121:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
      break;
    case 23:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, mo, d);
      break;
    case 126:
      std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", y, mo, d, h, mi, s, ms);
      break;
    default:
      return std::nullopt;
  }
  return std::string(buf);
}

std::string DateTime::iso() const { return *format(121); }

std::string SqlType::name() const {
  switch (kind) {
    case Kind::Int:
      return "int";
    case Kind::BigInt:
      return "bigint";
    case Kind::SmallInt:
      return "smallint";
    case Kind::TinyInt:
      return "tinyint";
    case Kind::Bit:
      return "bit";
    case Kind::Float:
      return "float";
    case Kind::VarChar:
      return "varchar(" + std::to_string(length) + ")";
    case Kind::NVarChar:
      return "nvarchar(" + std::to_string(length) + ")";
    case Kind::DateTime:
      return "datetime";
    case Kind::VarBinary:
      return "varbinary(" + std::to_string(length) + ")";
  }
  return "?";
}

std::string valueToText(const Value& v) {
  struct Visitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", d);
      return buf;
    }
    std::string operator()(const std::string& s) const { return s; }
    std::string operator()(const DateTime& dt) const { return *dt.format(0); }
    std::string operator()(const Binary& b) const {
      static const char* hex = "0123456789ABCDEF";
      std::string out = "0x";
      for (const char c : b.bytes) {
        const auto u = static_cast<unsigned char>(c);
        out.push_back(hex[u >> 4]);
        out.push_back(hex[u & 15]);
      }
      return out;
    }
  };
  return std::visit(Visitor{}, v);
}

int ResultSet::columnIndex(const std::string& name) const {
  for (std::size_t i = 0; i < columns.size(); ++i)
    if (equalsIgnoreCase(columns[i].name, name)) return static_cast<int>(i);
  return -1;
}

std::vector<Message> BatchResult::messages() const {
  std::vector<Message> out;
  for (const auto& item : items)
    if (const auto* m = std::get_if<Message>(&item)) out.push_back(*m);
  return out;
}

std::vector<Message> BatchResult::errors() const {
  std::vector<Message> out;
  for (const auto& m : messages())
    if (m.isError()) out.push_back(m);
  return out;
}

std::vector<Message> BatchResult::infos() const {
  std::vector<Message> out;
  for (const auto& m : messages())
    if (!m.isError()) out.push_back(m);
  return out;
}

std::vector<ResultSet> BatchResult::resultSets() const {
  std::vector<ResultSet> out;
  for (const auto& item : items)
    if (const auto* r = std::get_if<ResultSet>(&item)) out.push_back(*r);
  return out;
}

bool BatchResult::failed() const { return !errors().empty(); }

bool BatchResult::hasMessage(int number) const {
  for (const auto& m : messages())
    if (m.number == number) return true;
  return false;
}

}  // namespace standin::sql
