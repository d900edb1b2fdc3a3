// When the stand-in's SQL Server Agent runs a schedule: the Agent's packed dates (yyyymmdd)
// and times (hhmmss), and the next run of a schedule from a given moment.
#pragma once

#include <compare>
#include <optional>

#include "standin/sql/value.h"

namespace standin::agent {

// Agent freq_type values.
inline constexpr int kOnce = 1;
inline constexpr int kDaily = 4;
inline constexpr int kWeekly = 8;
inline constexpr int kMonthly = 16;
inline constexpr int kMonthlyRelative = 32;
inline constexpr int kAgentStart = 64;
inline constexpr int kIdle = 128;

// A moment as the Agent plans by: a day (days since 1900-01-01) and a second of that day.
struct Moment {
  int days = 0;
  int seconds = 0;
  auto operator<=>(const Moment&) const = default;

  static Moment of(const sql::DateTime& t);  // milliseconds dropped
  // nullopt when the date or the time names no real day or time of day.
  static std::optional<Moment> fromPacked(int date, int time);
  int packedDate() const;  // yyyymmdd
  int packedTime() const;  // hhmmss
  sql::DateTime dateTime() const;
  Moment plusSeconds(int n) const;
};

// Whether a packed value names a real day (1753-01-01 .. 9999-12-31) / time of day.
bool isPackedDate(int date);
bool isPackedTime(int time);

// One schedule as msdb keeps it.
struct Schedule {
  int freqType = kOnce;
  int freqInterval = 0;
  int freqSubdayType = 1;  // 1 at the start time, 2 every n seconds, 4 minutes, 8 hours
  int freqSubdayInterval = 0;
  int freqRelativeInterval = 0;  // monthly relative: 1 first, 2 second, 4 third, 8 fourth, 16 last
  int freqRecurrenceFactor = 0;  // weeks / months between runs (0 counts as 1)
  int activeStartDate = 0;
  int activeEndDate = 99991231;
  int activeStartTime = 0;
  int activeEndTime = 235959;
};

// The first run of the schedule at or after `from`; nullopt when it never runs again, or for
// the kinds that have no time of their own (64 at the Agent's start, 128 when idle).
std::optional<Moment> nextRun(const Schedule& schedule, const Moment& from);

}  // namespace standin::agent
