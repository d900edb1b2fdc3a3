// Dates and times as SQL Server Agent keeps them: packed integers yyyymmdd and hhmmss in msdb,
// and the program's own value for them, where the zero value stands for "none". Qt-free.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace bv::agent {

// A calendar day (the local date where the program asks for "today").
struct AgentDate {
  int year = 0;
  int month = 0;
  int day = 0;
  friend bool operator==(const AgentDate&, const AgentDate&) = default;
};

// Raised for a packed value that names no real day or time of day.
class AgentTimeError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A date and time of day to the second. A value without a date (year, month and day 0) is a
// time of day only; the all-zero value means "none" (no run yet, next run unknown).
struct AgentDateTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;

  bool isNone() const noexcept { return *this == AgentDateTime{}; }
  bool hasDate() const noexcept { return year != 0 || month != 0 || day != 0; }
  AgentDate date() const noexcept { return {year, month, day}; }

  // A day at midnight; throws AgentTimeError for a day that does not exist.
  static AgentDateTime fromDate(const AgentDate& date);
  // A time of day on no date; throws AgentTimeError outside 00:00:00 to 23:59:59.
  static AgentDateTime fromTimeOfDay(int hour, int minute, int second);
  // msdb's packed forms: yyyymmdd gives year = v div 10000, month = (v mod 10000) div 100,
  // day = v mod 100; hhmmss likewise for hour, minute and second. Invalid values throw.
  static AgentDateTime fromPackedDate(std::int64_t packedDate);
  static AgentDateTime fromPackedTime(std::int64_t packedTime);
  static AgentDateTime fromPacked(std::int64_t packedDate, std::int64_t packedTime);

  // The value written with a pattern: "yyyy" the year in four digits, "mm" the month, "dd" the
  // day, "hh" the hour (24-hour), "nn" the minute, "ss" the second, each two digits with the
  // leading zero; every other character stands as it is. "yyyy/mm/dd hh:nn:ss", "hhnnss", ...
  std::string format(std::string_view pattern) const;

  friend bool operator==(const AgentDateTime&, const AgentDateTime&) = default;
};

int daysInMonth(int year, int month) noexcept;

}  // namespace bv::agent
