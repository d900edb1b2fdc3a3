#include "core/tasks/system_time.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace bv::tasks {
namespace {

TEST(CivilCalendar, LeapYearsFollowTheGregorianRule) {
  EXPECT_TRUE(isLeapYear(2000));
  EXPECT_TRUE(isLeapYear(2024));
  EXPECT_TRUE(isLeapYear(2028));
  EXPECT_FALSE(isLeapYear(1900));
  EXPECT_FALSE(isLeapYear(2100));
  EXPECT_FALSE(isLeapYear(2026));
  EXPECT_EQ(daysInMonth(2028, 2), 29);
  EXPECT_EQ(daysInMonth(2027, 2), 28);
  EXPECT_EQ(daysInMonth(2100, 2), 28);
  EXPECT_EQ(daysInMonth(2026, 4), 30);
  EXPECT_EQ(daysInMonth(2026, 12), 31);
  EXPECT_EQ(daysInMonth(2026, 0), 0);
  EXPECT_EQ(daysInMonth(2026, 13), 0);
}

TEST(CivilCalendar, ValidDates) {
  EXPECT_TRUE(isValidDate(2028, 2, 29));
  EXPECT_FALSE(isValidDate(2027, 2, 29));
  EXPECT_FALSE(isValidDate(2026, 2, 30));
  EXPECT_FALSE(isValidDate(2026, 4, 31));
  EXPECT_FALSE(isValidDate(2026, 0, 1));
  EXPECT_FALSE(isValidDate(2026, 13, 1));
  EXPECT_FALSE(isValidDate(2026, 1, 0));
  EXPECT_FALSE(isValidDate(2026, 1, 32));
  EXPECT_FALSE(isValidDate(0, 1, 1));
}

TEST(CivilCalendar, KnownDaysAndWeekdays) {
  EXPECT_EQ(daysFromCivil(1970, 1, 1), 0);
  EXPECT_EQ(daysFromCivil(1969, 12, 31), -1);
  EXPECT_EQ(daysFromCivil(2000, 3, 1), 11017);
  EXPECT_EQ(daysFromCivil(1601, 1, 1), -134774);
  EXPECT_EQ(weekdayOf({1970, 1, 1}), 4);   // Thursday
  EXPECT_EQ(weekdayOf({2026, 12, 8}), 2);  // Tuesday
  EXPECT_EQ(weekdayOf({2027, 1, 1}), 5);   // Friday
  EXPECT_EQ(weekdayOf({1601, 1, 1}), 1);   // Monday
  EXPECT_EQ(weekdayOf({2028, 2, 29}), 2);  // Tuesday
  EXPECT_EQ(addDays({2028, 2, 28}, 1), (CivilDate{2028, 2, 29}));
  EXPECT_EQ(addDays({2027, 2, 28}, 1), (CivilDate{2027, 3, 1}));
  EXPECT_EQ(addDays({2026, 12, 31}, 1), (CivilDate{2027, 1, 1}));
  EXPECT_EQ(addDays({2027, 1, 1}, -1), (CivilDate{2026, 12, 31}));
}

// Walks the calendar a day at a time by its plain rule and checks that the day numbers count up
// by one and come back to the same date, across all of SYSTEMTIME's range of years.
TEST(CivilCalendar, DayNumbersAreConsecutiveFrom1601To30827) {
  CivilDate date{1601, 1, 1};
  std::int64_t expected = daysFromCivil(date);
  int weekday = 1;
  while (date.year <= 30827) {
    ASSERT_EQ(daysFromCivil(date), expected) << date.year << "-" << date.month << "-" << date.day;
    ASSERT_EQ(civilFromDays(expected), date);
    ASSERT_EQ(weekdayOfDays(expected), weekday);
    ++expected;
    weekday = (weekday + 1) % 7;
    if (++date.day > daysInMonth(date.year, date.month)) {
      date.day = 1;
      if (++date.month > 12) {
        date.month = 1;
        ++date.year;
      }
    }
  }
}

TEST(SystemTimeValue, ZeroAndEquality) {
  EXPECT_TRUE(SystemTime{}.isZero());
  SystemTime time;
  time.milliseconds = 1;
  EXPECT_FALSE(time.isZero());
  EXPECT_NE(time, SystemTime{});
}

TEST(LocalMinuteValue, FromSystemTimeDropsSecondsAndChecksTheFields) {
  SystemTime time{2026, 12, 0, 8, 2, 0, 59, 999};
  const auto minute = LocalMinute::fromSystemTime(time);
  ASSERT_TRUE(minute.has_value());
  EXPECT_EQ(*minute, LocalMinute::at(2026, 12, 8, 2, 0));

  EXPECT_FALSE(LocalMinute::fromSystemTime(SystemTime{2026, 2, 0, 30, 0, 0, 0, 0}));
  EXPECT_FALSE(LocalMinute::fromSystemTime(SystemTime{2026, 12, 0, 8, 24, 0, 0, 0}));
  EXPECT_FALSE(LocalMinute::fromSystemTime(SystemTime{2026, 12, 0, 8, 0, 60, 0, 0}));
  EXPECT_FALSE(LocalMinute::fromSystemTime(SystemTime{}));
  EXPECT_THROW(LocalMinute::at(2026, 2, 29, 0, 0), std::invalid_argument);
}

TEST(LocalMinuteValue, ToSystemTimeFillsTheWeekdayAndZeroesSeconds) {
  const SystemTime time = LocalMinute::at(2026, 12, 8, 23, 59).toSystemTime();
  EXPECT_EQ(time, (SystemTime{2026, 12, 2, 8, 23, 59, 0, 0}));
  EXPECT_EQ(LocalMinute::at(2026, 12, 8, 23, 59).plusMinutes(1).toSystemTime(),
            (SystemTime{2026, 12, 3, 9, 0, 0, 0, 0}));
}

TEST(LocalMinuteValue, PartsBefore1970) {
  const LocalMinute minute = LocalMinute::at(1969, 12, 31, 23, 30);
  EXPECT_EQ(minute.minutesSinceEpoch(), -30);
  EXPECT_EQ(minute.daysSinceEpoch(), -1);
  EXPECT_EQ(minute.hour(), 23);
  EXPECT_EQ(minute.minute(), 30);
  EXPECT_EQ(minute.date(), (CivilDate{1969, 12, 31}));
  EXPECT_EQ(minute.weekday(), 3);  // Wednesday
  EXPECT_EQ(minute.toString(), "1969-12-31 23:30");
}

TEST(LocalMinuteValue, OrderAndArithmetic) {
  const LocalMinute a = LocalMinute::at(2028, 2, 28, 12, 0);
  EXPECT_LT(a, a.plusMinutes(1));
  EXPECT_EQ(a.plusDays(1), LocalMinute::at(2028, 2, 29, 12, 0));
  EXPECT_EQ(a.plusDays(2), LocalMinute::at(2028, 3, 1, 12, 0));
  EXPECT_EQ(a.plusMinutes(12 * 60), LocalMinute::at(2028, 2, 29, 0, 0));
}

}  // namespace
}  // namespace bv::tasks
