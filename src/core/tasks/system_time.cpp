#include "core/tasks/system_time.h"

#include <cstdio>
#include <stdexcept>

namespace bv::tasks {
namespace {

// Division rounding towards minus infinity, for days and minutes before 1970.
constexpr std::int64_t floorDiv(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

constexpr std::int64_t kDaysPer400Years = 146097;
// Days from 0000-03-01 to 1970-01-01 in the calendar below.
constexpr std::int64_t kEpochShift = 719468;

}  // namespace

bool SystemTime::isZero() const { return *this == SystemTime{}; }

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  if (month == 2 && isLeapYear(year)) return 29;
  return kDays[month - 1];
}

bool isValidDate(int year, int month, int day) {
  return year >= 1 && day >= 1 && day <= daysInMonth(year, month);
}

// The year is counted from March, so that the leap day falls at the end of it; then a 400-year
// era holds exactly kDaysPer400Years days and a day of the year follows from the month by a
// linear formula (153 days per five months from March).
std::int64_t daysFromCivil(int year, int month, int day) {
  const std::int64_t y = static_cast<std::int64_t>(year) - (month <= 2 ? 1 : 0);
  const std::int64_t era = floorDiv(y, 400);
  const std::int64_t yearOfEra = y - era * 400;
  const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;
  const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * kDaysPer400Years + dayOfEra - kEpochShift;
}

std::int64_t daysFromCivil(const CivilDate& date) { return daysFromCivil(date.year, date.month, date.day); }

CivilDate civilFromDays(std::int64_t days) {
  const std::int64_t shifted = days + kEpochShift;
  const std::int64_t era = floorDiv(shifted, kDaysPer400Years);
  const std::int64_t dayOfEra = shifted - era * kDaysPer400Years;
  const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const std::int64_t day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
  const std::int64_t month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
  const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  return {static_cast<int>(year), static_cast<int>(month), static_cast<int>(day)};
}

int weekdayOfDays(std::int64_t days) {
  // 1970-01-01 was a Thursday.
  const std::int64_t weekday = (days + 4) % 7;
  return static_cast<int>(weekday < 0 ? weekday + 7 : weekday);
}

int weekdayOf(const CivilDate& date) { return weekdayOfDays(daysFromCivil(date)); }

CivilDate addDays(const CivilDate& date, std::int64_t days) {
  return civilFromDays(daysFromCivil(date) + days);
}

LocalMinute LocalMinute::at(int year, int month, int day, int hour, int minute) {
  if (!isValidDate(year, month, day) || hour < 0 || hour > 23 || minute < 0 || minute > 59) {
    throw std::invalid_argument("not a local date and time");
  }
  return fromMinutes(daysFromCivil(year, month, day) * kMinutesPerDay + hour * 60 + minute);
}

LocalMinute LocalMinute::at(const CivilDate& date, int hour, int minute) {
  return at(date.year, date.month, date.day, hour, minute);
}

std::optional<LocalMinute> LocalMinute::fromSystemTime(const SystemTime& time) {
  if (!isValidDate(time.year, time.month, time.day) || time.hour > 23 || time.minute > 59) {
    return std::nullopt;
  }
  return at(time.year, time.month, time.day, time.hour, time.minute);
}

std::int64_t LocalMinute::daysSinceEpoch() const { return floorDiv(minutes_, kMinutesPerDay); }

int LocalMinute::minuteOfDay() const {
  return static_cast<int>(minutes_ - daysSinceEpoch() * kMinutesPerDay);
}

CivilDate LocalMinute::date() const { return civilFromDays(daysSinceEpoch()); }

SystemTime LocalMinute::toSystemTime() const {
  const CivilDate civil = date();
  SystemTime time;
  time.year = static_cast<std::uint16_t>(civil.year);
  time.month = static_cast<std::uint16_t>(civil.month);
  time.dayOfWeek = static_cast<std::uint16_t>(weekday());
  time.day = static_cast<std::uint16_t>(civil.day);
  time.hour = static_cast<std::uint16_t>(hour());
  time.minute = static_cast<std::uint16_t>(minute());
  return time;
}

std::string LocalMinute::toString() const {
  const CivilDate civil = date();
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", civil.year, civil.month, civil.day, hour(),
                minute());
  return text;
}

}  // namespace bv::tasks
