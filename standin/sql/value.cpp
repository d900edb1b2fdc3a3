#include <sys/time.h>

#include <cstdio>
#include <ctime>

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

void DateTime::toParts(int& year, int& month, int& day, int& hour, int& minute, int& second,
                       int& millisecond) const {
  civilFromDays(static_cast<std::int64_t>(days) - kDays1900To1970, year, month, day);
  const std::int64_t ms = (static_cast<std::int64_t>(ticks) * 1000 + 150) / 300;
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  millisecond = static_cast<int>(ms % 1000);
}

std::optional<DateTime> DateTime::parse(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  char tail = 0;
  if (text.size() == 8 && std::sscanf(text.c_str(), "%4d%2d%2d%c", &y, &mo, &d, &tail) == 3) {
    // yyyymmdd
  } else {
    const int n = std::sscanf(text.c_str(), "%d-%d-%d%*[ T]%d:%d:%d.%d", &y, &mo, &d, &h, &mi, &s, &ms);
    if (n < 3 && std::sscanf(text.c_str(), "%d/%d/%d", &y, &mo, &d) != 3) return std::nullopt;
    if (n == 7) {
      // the fraction is milliseconds as written; normalise "5" -> 500, "05" -> 50
      const auto dot = text.find('.');
      const std::size_t digits = text.size() - dot - 1;
      if (digits == 1) ms *= 100;
      if (digits == 2) ms *= 10;
      if (digits > 3) {
        for (std::size_t k = 3; k < digits; ++k) ms /= 10;
      }
    }
  }
  if (y < 1753 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
    return std::nullopt;
  return fromParts(y, mo, d, h, mi, s, ms);
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
