#include "standin/agent/schedule.h"

#include <algorithm>
#include <vector>

namespace standin::agent {

using sql::DateTime;

namespace {

struct Civil {
  int year, month, day;
};

Civil civil(int days) {
  DateTime t;
  t.days = days;
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  t.toParts(y, mo, d, h, mi, s, ms);
  return {y, mo, d};
}

int daysOf(int year, int month, int day) { return DateTime::fromParts(year, month, day).days; }

int daysInMonth(int year, int month) {
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : lengths[month - 1];
}

int weekday(int days) { return ((days + 1) % 7 + 7) % 7; }          // Sunday 0 .. Saturday 6
int weekIndex(int days) { return (days + 1 - weekday(days)) / 7; }  // weeks begin on Sunday
int monthIndex(const Civil& c) { return c.year * 12 + c.month - 1; }

int secondsOf(int packedTime) {
  return packedTime / 10000 * 3600 + packedTime / 100 % 100 * 60 + packedTime % 100;
}

// Does a day match the "freq_interval" of a monthly relative schedule (1-7 Sunday..Saturday,
// 8 any day, 9 a weekday, 10 a weekend day)?
bool relativeKindMatches(int kind, int days) {
  const int wd = weekday(days);
  if (kind >= 1 && kind <= 7) return wd == kind - 1;
  if (kind == 8) return true;
  if (kind == 9) return wd >= 1 && wd <= 5;
  if (kind == 10) return wd == 0 || wd == 6;
  return false;
}

bool relativeDayMatches(const Schedule& s, int days, const Civil& c) {
  std::vector<int> matching;
  const int first = daysOf(c.year, c.month, 1);
  const int count = daysInMonth(c.year, c.month);
  for (int k = 0; k < count; ++k)
    if (relativeKindMatches(s.freqInterval, first + k)) matching.push_back(first + k);
  if (matching.empty()) return false;
  int index = 0;
  switch (s.freqRelativeInterval) {
    case 1:
      index = 0;
      break;
    case 2:
      index = 1;
      break;
    case 4:
      index = 2;
      break;
    case 8:
      index = 3;
      break;
    case 16:
      index = static_cast<int>(matching.size()) - 1;
      break;
    default:
      return false;
  }
  return index < static_cast<int>(matching.size()) && matching[static_cast<std::size_t>(index)] == days;
}

bool dayMatches(const Schedule& s, int days, int startDays) {
  const int factor = std::max(1, s.freqRecurrenceFactor);
  switch (s.freqType) {
    case kOnce:
      return days == startDays;
    case kDaily:
      return (days - startDays) % std::max(1, s.freqInterval) == 0;
    case kWeekly:
      return (s.freqInterval & (1 << weekday(days))) != 0 &&
             (weekIndex(days) - weekIndex(startDays)) % factor == 0;
    case kMonthly: {
      const Civil c = civil(days);
      return c.day == s.freqInterval && (monthIndex(c) - monthIndex(civil(startDays))) % factor == 0;
    }
    case kMonthlyRelative: {
      const Civil c = civil(days);
      return (monthIndex(c) - monthIndex(civil(startDays))) % factor == 0 && relativeDayMatches(s, days, c);
    }
    default:
      return false;
  }
}

// The first second of the day's runs at or after `from` (a second of that day); -1 when none.
int firstTimeOfDay(const Schedule& s, int from) {
  const int start = secondsOf(s.activeStartTime);
  if (s.freqType == kOnce || s.freqSubdayType == 1) return start >= from ? start : -1;
  int step = std::max(1, s.freqSubdayInterval);
  if (s.freqSubdayType == 4) step *= 60;
  if (s.freqSubdayType == 8) step *= 3600;
  const int end = secondsOf(s.activeEndTime);
  int t = start;
  if (from > start) t = start + (from - start + step - 1) / step * step;
  return t <= end ? t : -1;
}

}  // namespace

Moment Moment::of(const DateTime& t) {
  Moment m;
  m.days = t.days;
  m.seconds = static_cast<int>(t.ticks / 300);
  if (m.seconds > 86399) m.seconds = 86399;
  return m;
}

bool isPackedDate(int date) {
  const int y = date / 10000, mo = date / 100 % 100, d = date % 100;
  if (y < 1753 || y > 9999 || mo < 1 || mo > 12 || d < 1) return false;
  return d <= daysInMonth(y, mo);
}

bool isPackedTime(int time) {
  return time >= 0 && time / 10000 <= 23 && time / 100 % 100 <= 59 && time % 100 <= 59;
}

std::optional<Moment> Moment::fromPacked(int date, int time) {
  if (!isPackedDate(date) || !isPackedTime(time)) return std::nullopt;
  Moment m;
  m.days = daysOf(date / 10000, date / 100 % 100, date % 100);
  m.seconds = secondsOf(time);
  return m;
}

int Moment::packedDate() const {
  const Civil c = civil(days);
  return c.year * 10000 + c.month * 100 + c.day;
}

int Moment::packedTime() const { return seconds / 3600 * 10000 + seconds / 60 % 60 * 100 + seconds % 60; }

DateTime Moment::dateTime() const {
  DateTime t;
  t.days = days;
  t.ticks = static_cast<std::uint32_t>(seconds) * 300;
  return t;
}

Moment Moment::plusSeconds(int n) const {
  Moment m = *this;
  const long long total = static_cast<long long>(m.seconds) + n;
  long long dayShift = total / 86400;
  long long rest = total % 86400;
  if (rest < 0) {
    rest += 86400;
    --dayShift;
  }
  m.days += static_cast<int>(dayShift);
  m.seconds = static_cast<int>(rest);
  return m;
}

std::optional<Moment> nextRun(const Schedule& s, const Moment& from) {
  if (s.freqType == kAgentStart || s.freqType == kIdle) return std::nullopt;
  const auto start = Moment::fromPacked(s.activeStartDate, 0);
  const auto end = Moment::fromPacked(s.activeEndDate, 0);
  if (!start || !end || !isPackedTime(s.activeStartTime) || !isPackedTime(s.activeEndTime))
    return std::nullopt;
  const int firstDay = std::max(start->days, from.days);
  // Monthly schedules with a long recurrence need the most days to find their next day.
  const int horizon = 366 * std::max(8, std::max(1, s.freqRecurrenceFactor) + 1);
  const int lastDay = std::min(end->days, firstDay + horizon);
  for (int day = firstDay; day <= lastDay; ++day) {
    if (!dayMatches(s, day, start->days)) continue;
    const int t = firstTimeOfDay(s, day == from.days ? from.seconds : 0);
    if (t >= 0) return Moment{day, t};
  }
  return std::nullopt;
}

}  // namespace standin::agent
