// Local wall-clock times of the task scheduler: the SYSTEMTIME of the .JOB file and the API, the
// proleptic Gregorian calendar, and LocalMinute, the minute-resolution value the next-run engine
// computes with.
//
// Everything here is local civil time without a zone: a task's times mean "this wall-clock
// reading", as Task Scheduler 1.0 stores them. Daylight-saving gaps and repeated hours are not
// seen at this level; whoever maps wall-clock minutes onto the real clock (the executor) decides
// what a start inside a gap or a repeated hour means.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>

namespace bv::tasks {

// SYSTEMTIME, field by field. All zero means "no time" (never ran, no next run).
struct SystemTime {
  std::uint16_t year = 0;
  std::uint16_t month = 0;
  std::uint16_t dayOfWeek = 0;  // 0 = Sunday
  std::uint16_t day = 0;
  std::uint16_t hour = 0;
  std::uint16_t minute = 0;
  std::uint16_t second = 0;
  std::uint16_t milliseconds = 0;

  bool isZero() const;
  friend bool operator==(const SystemTime&, const SystemTime&) = default;
};

struct CivilDate {
  int year = 1970;
  int month = 1;
  int day = 1;

  friend auto operator<=>(const CivilDate&, const CivilDate&) = default;
};

bool isLeapYear(int year);
// 28..31; 0 for a month outside 1..12.
int daysInMonth(int year, int month);
// A real day of the proleptic Gregorian calendar with a year of at least 1.
bool isValidDate(int year, int month, int day);

// Days since 1970-01-01 (negative before it). The date need not be valid for the arithmetic, but
// only valid dates round-trip through civilFromDays.
std::int64_t daysFromCivil(int year, int month, int day);
std::int64_t daysFromCivil(const CivilDate& date);
CivilDate civilFromDays(std::int64_t days);
// 0 = Sunday ... 6 = Saturday, as SYSTEMTIME's wDayOfWeek and the TASK_SUNDAY.. bits count.
int weekdayOfDays(std::int64_t days);
int weekdayOf(const CivilDate& date);
CivilDate addDays(const CivilDate& date, std::int64_t days);

// A local wall-clock minute, counted from 1970-01-01 00:00. Ordered, cheap to copy.
class LocalMinute {
 public:
  static constexpr int kMinutesPerDay = 24 * 60;

  constexpr LocalMinute() = default;
  static constexpr LocalMinute fromMinutes(std::int64_t minutesSinceEpoch) {
    LocalMinute value;
    value.minutes_ = minutesSinceEpoch;
    return value;
  }
  // Throws std::invalid_argument unless the date is valid, hour is 0..23 and minute 0..59.
  static LocalMinute at(int year, int month, int day, int hour, int minute);
  static LocalMinute at(const CivilDate& date, int hour, int minute);
  // The minute of the time (seconds and milliseconds dropped, the day of the week ignored);
  // nothing when the date or the time of day is not a real one.
  static std::optional<LocalMinute> fromSystemTime(const SystemTime& time);

  std::int64_t minutesSinceEpoch() const { return minutes_; }
  std::int64_t daysSinceEpoch() const;
  int minuteOfDay() const;
  CivilDate date() const;
  int hour() const { return minuteOfDay() / 60; }
  int minute() const { return minuteOfDay() % 60; }
  int weekday() const { return weekdayOfDays(daysSinceEpoch()); }

  // Seconds and milliseconds zero, the day of the week filled in. The year must fit 16 bits.
  SystemTime toSystemTime() const;
  // "2026-12-08 02:00", for logs and test output.
  std::string toString() const;

  LocalMinute plusMinutes(std::int64_t minutes) const { return fromMinutes(minutes_ + minutes); }
  LocalMinute plusDays(std::int64_t days) const { return fromMinutes(minutes_ + days * kMinutesPerDay); }

  friend auto operator<=>(const LocalMinute&, const LocalMinute&) = default;

 private:
  std::int64_t minutes_ = 0;
};

}  // namespace bv::tasks
