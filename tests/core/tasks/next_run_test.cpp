#include "core/tasks/next_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <ostream>
#include <random>
#include <vector>

#include "core/tasks/task_flags.h"

namespace bv::tasks {

void PrintTo(const LocalMinute& minute, std::ostream* out) { *out << minute.toString(); }

void PrintTo(const SystemTime& time, std::ostream* out) {
  char text[64];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u weekday %u", time.year, time.month,
                time.day, time.hour, time.minute, time.second, time.milliseconds, time.dayOfWeek);
  *out << text;
}

void PrintTo(const NextRun& run, std::ostream* out) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X ", run.code);
  *out << code;
  PrintTo(run.time, out);
}

namespace {

constexpr std::uint16_t kSunday = 0x01;
constexpr std::uint16_t kMonday = 0x02;
constexpr std::uint16_t kTuesday = 0x04;
constexpr std::uint16_t kThursday = 0x10;
constexpr std::uint16_t kFriday = 0x20;

LocalMinute at(int year, int month, int day, int hour, int minute) {
  return LocalMinute::at(year, month, day, hour, minute);
}

// The moment the Wine probe measured at: 2026-12-08 01:41, a Tuesday.
const LocalMinute kProbeNow = at(2026, 12, 8, 1, 41);

TaskTrigger timeTrigger(TriggerType type, CivilDate begin, int hour, int minute) {
  TaskTrigger trigger;
  trigger.beginYear = static_cast<std::uint16_t>(begin.year);
  trigger.beginMonth = static_cast<std::uint16_t>(begin.month);
  trigger.beginDay = static_cast<std::uint16_t>(begin.day);
  trigger.startHour = static_cast<std::uint16_t>(hour);
  trigger.startMinute = static_cast<std::uint16_t>(minute);
  trigger.type = type;
  return trigger;
}

TaskTrigger once(CivilDate day, int hour, int minute) {
  return timeTrigger(TriggerType::Once, day, hour, minute);
}

TaskTrigger daily(CivilDate begin, int hour, int minute, std::uint16_t every = 1) {
  TaskTrigger trigger = timeTrigger(TriggerType::Daily, begin, hour, minute);
  trigger.daysInterval = every;
  return trigger;
}

TaskTrigger weekly(CivilDate begin, int hour, int minute, std::uint16_t every, std::uint16_t weekdays) {
  TaskTrigger trigger = timeTrigger(TriggerType::Weekly, begin, hour, minute);
  trigger.weeksInterval = every;
  trigger.daysOfTheWeek = weekdays;
  return trigger;
}

TaskTrigger monthlyDate(CivilDate begin, int hour, int minute, std::uint32_t days,
                        std::uint16_t months = kAllMonths) {
  TaskTrigger trigger = timeTrigger(TriggerType::MonthlyDate, begin, hour, minute);
  trigger.monthDays = days;
  trigger.months = months;
  return trigger;
}

TaskTrigger monthlyDow(CivilDate begin, int hour, int minute, std::uint16_t whichWeek, std::uint16_t weekdays,
                       std::uint16_t months = kAllMonths) {
  TaskTrigger trigger = timeTrigger(TriggerType::MonthlyDow, begin, hour, minute);
  trigger.whichWeek = whichWeek;
  trigger.daysOfTheWeek = weekdays;
  trigger.months = months;
  return trigger;
}

TaskTrigger event(TriggerType type) { return timeTrigger(type, {2026, 12, 8}, 0, 0); }

constexpr std::uint32_t dayBit(int day) { return 1u << (day - 1); }

TaskTrigger until(TaskTrigger trigger, CivilDate end) {
  trigger.flags |= kTriggerFlagHasEndDate;
  trigger.endYear = static_cast<std::uint16_t>(end.year);
  trigger.endMonth = static_cast<std::uint16_t>(end.month);
  trigger.endDay = static_cast<std::uint16_t>(end.day);
  return trigger;
}

TaskTrigger repeating(TaskTrigger trigger, std::uint32_t everyMinutes, std::uint32_t forMinutes) {
  trigger.minutesInterval = everyMinutes;
  trigger.minutesDuration = forMinutes;
  return trigger;
}

TaskTrigger disabled(TaskTrigger trigger) {
  trigger.flags |= kTriggerFlagDisabled;
  return trigger;
}

NextRun next(const std::vector<TaskTrigger>& triggers, LocalMinute now = kProbeNow,
             std::uint32_t taskFlags = 0) {
  return nextRunTime(taskFlags, triggers, now);
}

// An expected answer, its weekday written out (0 = Sunday).
NextRun runAt(int year, int month, int day, int hour, int minute, int weekday) {
  return {kOk, SystemTime{static_cast<std::uint16_t>(year), static_cast<std::uint16_t>(month),
                          static_cast<std::uint16_t>(weekday), static_cast<std::uint16_t>(day),
                          static_cast<std::uint16_t>(hour), static_cast<std::uint16_t>(minute), 0, 0}};
}

NextRun none(HResult code) { return {code, {}}; }

// --- The measured cases: the answers anchored on the begin date.

TEST(NextRunTime, WineProbeCasesAnchoredOnTheBeginDate) {
  EXPECT_EQ(next({once({2026, 12, 9}, 3, 0)}), runAt(2026, 12, 9, 3, 0, 3));
  EXPECT_EQ(next({once({2026, 12, 1}, 3, 0)}), none(kSchedTaskNoMoreRuns));
  EXPECT_EQ(next({daily({2026, 12, 1}, 3, 0, 3)}), runAt(2026, 12, 10, 3, 0, 4));
  EXPECT_EQ(next({until(daily({2026, 12, 1}, 3, 0), {2026, 12, 8})}), runAt(2026, 12, 8, 3, 0, 2));
  EXPECT_EQ(next({weekly({2026, 11, 30}, 3, 0, 2, kTuesday)}), runAt(2026, 12, 15, 3, 0, 2));
  EXPECT_EQ(next({repeating(daily({2026, 12, 8}, 0, 0), 60, 24 * 60)}), runAt(2026, 12, 8, 2, 0, 2));
  EXPECT_EQ(next({daily({2026, 12, 8}, 2, 0)}), runAt(2026, 12, 8, 2, 0, 2));
  EXPECT_EQ(next({weekly({2026, 12, 8}, 2, 30, 2, kMonday | kFriday)}), runAt(2026, 12, 11, 2, 30, 5));
  EXPECT_EQ(next({monthlyDate({2026, 12, 8}, 2, 0, dayBit(31))}), runAt(2026, 12, 31, 2, 0, 4));
  EXPECT_EQ(next({monthlyDate({2026, 12, 8}, 2, 0, dayBit(31)), event(TriggerType::AtLogon)}),
            runAt(2026, 12, 31, 2, 0, 4));
  EXPECT_EQ(next({daily({2026, 12, 8}, 2, 0)}, kProbeNow, kTaskFlagDisabled), none(kSchedTaskDisabled));
}

// --- Which answer when there is no time.

TEST(NextRunTime, DisabledTaskAnswersDisabledWhateverItsTriggers) {
  EXPECT_EQ(next({}, kProbeNow, kTaskFlagDisabled), none(kSchedTaskDisabled));
  EXPECT_EQ(next({event(TriggerType::AtLogon)}, kProbeNow, kTaskFlagDisabled | kTaskFlagHidden),
            none(kSchedTaskDisabled));
}

TEST(NextRunTime, NoEnabledTriggerAnswersNoValidTriggers) {
  EXPECT_EQ(next({}), none(kSchedTaskNoValidTriggers));
  EXPECT_EQ(next({defaultTrigger(kProbeNow.toSystemTime())}), none(kSchedTaskNoValidTriggers));
  EXPECT_EQ(next({disabled(daily({2026, 12, 8}, 2, 0)), disabled(event(TriggerType::OnIdle))}),
            none(kSchedTaskNoValidTriggers));
}

TEST(NextRunTime, DisabledTriggersAreSkipped) {
  EXPECT_EQ(next({disabled(once({2026, 12, 8}, 1, 50)), daily({2026, 12, 8}, 2, 0)}),
            runAt(2026, 12, 8, 2, 0, 2));
  EXPECT_EQ(next({disabled(once({2026, 12, 8}, 1, 50)), once({2026, 12, 1}, 2, 0)}),
            none(kSchedTaskNoMoreRuns));
}

TEST(NextRunTime, EventTriggers) {
  EXPECT_EQ(next({event(TriggerType::AtLogon)}), none(kSchedEventTrigger));
  EXPECT_EQ(next({event(TriggerType::OnIdle), event(TriggerType::AtSystemStart)}), none(kSchedEventTrigger));
  // An event may still start a task whose time triggers are spent.
  EXPECT_EQ(next({once({2026, 12, 1}, 3, 0), event(TriggerType::AtSystemStart)}), none(kSchedEventTrigger));
  EXPECT_EQ(next({once({2026, 12, 1}, 3, 0), disabled(event(TriggerType::AtSystemStart))}),
            none(kSchedTaskNoMoreRuns));
  EXPECT_EQ(next({event(TriggerType::AtLogon), once({2026, 12, 9}, 3, 0)}), runAt(2026, 12, 9, 3, 0, 3));
}

TEST(NextRunTime, EarliestStartOverAllTriggers) {
  EXPECT_EQ(next({daily({2026, 12, 1}, 3, 0), once({2026, 12, 8}, 2, 59),
                  weekly({2026, 12, 1}, 1, 0, 1, kTuesday | kThursday)}),
            runAt(2026, 12, 8, 2, 59, 2));
}

// --- Once.

TEST(NextRunTime, OnceInThePastNowOrFuture) {
  const TaskTrigger trigger = once({2026, 12, 8}, 2, 0);
  EXPECT_EQ(next({trigger}, at(2026, 12, 8, 1, 59)), runAt(2026, 12, 8, 2, 0, 2));
  EXPECT_EQ(next({trigger}, at(2026, 12, 8, 2, 0)), runAt(2026, 12, 8, 2, 0, 2));
  EXPECT_EQ(next({trigger}, at(2026, 12, 8, 2, 1)), none(kSchedTaskNoMoreRuns));
  // Seconds do not count: at 02:00:59 the 02:00 start is still due.
  const auto withSeconds = LocalMinute::fromSystemTime(SystemTime{2026, 12, 2, 8, 2, 0, 59, 999});
  ASSERT_TRUE(withSeconds);
  EXPECT_EQ(next({trigger}, *withSeconds), runAt(2026, 12, 8, 2, 0, 2));
}

TEST(NextRunTime, BeginDateFarAhead) {
  EXPECT_EQ(next({once({2200, 1, 1}, 0, 0)}), runAt(2200, 1, 1, 0, 0, 3));
  EXPECT_EQ(next({daily({2200, 1, 1}, 0, 0, 7)}), runAt(2200, 1, 1, 0, 0, 3));
}

// --- Daily.

TEST(NextRunTime, DailyIntervalsCountFromTheBeginDate) {
  const TaskTrigger everyThird = daily({2026, 12, 1}, 3, 0, 3);
  EXPECT_EQ(next({everyThird}, at(2026, 12, 7, 3, 0)), runAt(2026, 12, 7, 3, 0, 1));
  EXPECT_EQ(next({everyThird}, at(2026, 12, 7, 3, 1)), runAt(2026, 12, 10, 3, 0, 4));
  EXPECT_EQ(next({everyThird}, at(2026, 11, 1, 0, 0)), runAt(2026, 12, 1, 3, 0, 2));
  // Every other day across the end of January: 01-30, 02-01.
  EXPECT_EQ(next({daily({2027, 1, 30}, 8, 0, 2)}, at(2027, 1, 30, 12, 0)), runAt(2027, 2, 1, 8, 0, 1));
  // 365 days after 2027-03-01 is the leap day.
  EXPECT_EQ(next({daily({2027, 3, 1}, 8, 0, 365)}, at(2027, 3, 2, 0, 0)), runAt(2028, 2, 29, 8, 0, 2));
}

// --- Weekly.

TEST(NextRunTime, WeeklyWeeksStartOnSundayAndCountFromTheBeginDatesWeek) {
  // Every third week on Sunday from Saturday 2026-12-12: that week's Sunday (12-06) lies before
  // the begin date, so the first run is three weeks on.
  EXPECT_EQ(next({weekly({2026, 12, 12}, 9, 0, 3, kSunday)}), runAt(2026, 12, 27, 9, 0, 0));
  // Mondays and Thursdays from Thursday 2026-12-10.
  const TaskTrigger mondayThursday = weekly({2026, 12, 10}, 3, 0, 1, kMonday | kThursday);
  EXPECT_EQ(next({mondayThursday}), runAt(2026, 12, 10, 3, 0, 4));
  EXPECT_EQ(next({mondayThursday}, at(2026, 12, 10, 3, 1)), runAt(2026, 12, 14, 3, 0, 1));
  // Every second week, Tuesday, from Monday 2026-11-30: 12-01, 12-15, 12-29.
  const TaskTrigger everyOther = weekly({2026, 11, 30}, 3, 0, 2, kTuesday);
  EXPECT_EQ(next({everyOther}, at(2026, 11, 30, 0, 0)), runAt(2026, 12, 1, 3, 0, 2));
  EXPECT_EQ(next({everyOther}, at(2026, 12, 15, 3, 1)), runAt(2026, 12, 29, 3, 0, 2));
  EXPECT_EQ(next({weekly({2026, 12, 8}, 3, 0, 1, 0)}), none(kSchedTaskNoMoreRuns));
}

// --- Monthly by date.

TEST(NextRunTime, MonthlyDateSkipsDaysAMonthLacks) {
  const TaskTrigger the31st = monthlyDate({2026, 12, 8}, 2, 0, dayBit(31));
  EXPECT_EQ(next({the31st}, at(2027, 1, 31, 2, 1)), runAt(2027, 3, 31, 2, 0, 3));
  const TaskTrigger the30th = monthlyDate({2026, 12, 8}, 2, 0, dayBit(30));
  EXPECT_EQ(next({the30th}, at(2027, 1, 31, 0, 0)), runAt(2027, 3, 30, 2, 0, 2));
  const TaskTrigger the29th = monthlyDate({2026, 12, 8}, 2, 0, dayBit(29));
  EXPECT_EQ(next({the29th}, at(2027, 1, 29, 5, 0)), runAt(2027, 3, 29, 2, 0, 1));
  // Several days, only some months: 1st and 15th of January and July.
  const TaskTrigger someMonths = monthlyDate({2026, 12, 8}, 2, 0, dayBit(1) | dayBit(15), 0x001 | 0x040);
  EXPECT_EQ(next({someMonths}), runAt(2027, 1, 1, 2, 0, 5));
  EXPECT_EQ(next({someMonths}, at(2027, 1, 15, 2, 1)), runAt(2027, 7, 1, 2, 0, 4));
}

TEST(NextRunTime, LeapDays) {
  const TaskTrigger leapDay = monthlyDate({2026, 12, 8}, 2, 0, dayBit(29), 0x002);
  EXPECT_EQ(next({leapDay}, at(2027, 3, 1, 0, 0)), runAt(2028, 2, 29, 2, 0, 2));
  EXPECT_EQ(next({leapDay}, at(2028, 2, 29, 2, 1)), runAt(2032, 2, 29, 2, 0, 0));
  // The 29th to 31st of February only: once every four years.
  const TaskTrigger lateFebruary =
      monthlyDate({2026, 12, 8}, 2, 0, dayBit(29) | dayBit(30) | dayBit(31), 0x002);
  EXPECT_EQ(next({lateFebruary}, at(2029, 3, 1, 0, 0)), runAt(2032, 2, 29, 2, 0, 0));
  EXPECT_EQ(next({once({2028, 2, 29}, 6, 0)}, at(2028, 2, 28, 6, 0)), runAt(2028, 2, 29, 6, 0, 2));
  // The last Tuesday of February 2028 is the 29th.
  EXPECT_EQ(next({monthlyDow({2026, 12, 8}, 2, 0, kLastWeek, kTuesday, 0x002)}, at(2028, 1, 1, 0, 0)),
            runAt(2028, 2, 29, 2, 0, 2));
}

TEST(NextRunTime, MasksThatNeverMatchEndTheSearch) {
  // The 31st of February, April, June, September and November.
  EXPECT_EQ(next({monthlyDate({2026, 12, 8}, 2, 0, dayBit(31), 0x002 | 0x008 | 0x020 | 0x100 | 0x400)}),
            none(kSchedTaskNoMoreRuns));
  EXPECT_EQ(next({monthlyDate({2026, 12, 8}, 2, 0, dayBit(30), 0x002)}), none(kSchedTaskNoMoreRuns));
  EXPECT_EQ(next({monthlyDate({2026, 12, 8}, 2, 0, 0)}), none(kSchedTaskNoMoreRuns));
  EXPECT_EQ(next({monthlyDate({2026, 12, 8}, 2, 0, dayBit(1), 0)}), none(kSchedTaskNoMoreRuns));
  EXPECT_EQ(next({monthlyDow({2026, 12, 8}, 2, 0, 1, 0)}), none(kSchedTaskNoMoreRuns));
  // With repetition, too.
  EXPECT_EQ(next({repeating(monthlyDate({2026, 12, 8}, 2, 0, dayBit(31), 0x002), 1, 10000)}),
            none(kSchedTaskNoMoreRuns));
}

// --- Monthly by weekday.

TEST(NextRunTime, MonthlyNthAndLastWeekday) {
  EXPECT_EQ(next({monthlyDow({2026, 12, 8}, 2, 0, 1, kMonday)}), runAt(2027, 1, 4, 2, 0, 1));
  EXPECT_EQ(next({monthlyDow({2026, 12, 8}, 2, 0, 1, kTuesday)}), runAt(2027, 1, 5, 2, 0, 2));
  EXPECT_EQ(next({monthlyDow({2026, 12, 8}, 2, 0, kLastWeek, kFriday)}), runAt(2026, 12, 25, 2, 0, 5));
  // December 2026 has five Thursdays: the fourth is the 24th, the last the 31st.
  EXPECT_EQ(next({monthlyDow({2026, 12, 8}, 2, 0, 4, kThursday)}), runAt(2026, 12, 24, 2, 0, 4));
  EXPECT_EQ(next({monthlyDow({2026, 12, 8}, 2, 0, kLastWeek, kThursday)}), runAt(2026, 12, 31, 2, 0, 4));
  // The second Tuesday of January and July.
  EXPECT_EQ(next({monthlyDow({2026, 12, 8}, 2, 0, 2, kTuesday, 0x001 | 0x040)}), runAt(2027, 1, 12, 2, 0, 2));
  // February 2027 begins on a Monday: its first Sunday is the 7th.
  EXPECT_EQ(next({monthlyDow({2026, 12, 8}, 2, 0, 1, kSunday, 0x002)}), runAt(2027, 2, 7, 2, 0, 0));
  // The last Sunday of February 2027 is the 28th.
  EXPECT_EQ(next({monthlyDow({2026, 12, 8}, 2, 0, kLastWeek, kSunday, 0x002)}), runAt(2027, 2, 28, 2, 0, 0));
}

// --- Repetition.

TEST(NextRunTime, RepetitionWindowEndIsExclusive) {
  const TaskTrigger twoHours = repeating(daily({2026, 12, 8}, 10, 0), 60, 120);
  EXPECT_EQ(next({twoHours}, at(2026, 12, 8, 10, 1)), runAt(2026, 12, 8, 11, 0, 2));
  EXPECT_EQ(next({twoHours}, at(2026, 12, 8, 11, 1)), runAt(2026, 12, 9, 10, 0, 3));
  const TaskTrigger oneMinuteMore = repeating(daily({2026, 12, 8}, 10, 0), 60, 121);
  EXPECT_EQ(next({oneMinuteMore}, at(2026, 12, 8, 11, 1)), runAt(2026, 12, 8, 12, 0, 2));
  // 25 minutes within an hour: 10:00, 10:25, 10:50.
  const TaskTrigger uneven = repeating(daily({2026, 12, 8}, 10, 0), 25, 60);
  EXPECT_EQ(next({uneven}, at(2026, 12, 8, 10, 26)), runAt(2026, 12, 8, 10, 50, 2));
  EXPECT_EQ(next({uneven}, at(2026, 12, 8, 10, 51)), runAt(2026, 12, 9, 10, 0, 3));
}

TEST(NextRunTime, RepetitionWindowsCrossMidnight) {
  const TaskTrigger lateEvening = repeating(daily({2026, 12, 8}, 23, 0), 30, 120);
  EXPECT_EQ(next({lateEvening}, at(2026, 12, 9, 0, 10)), runAt(2026, 12, 9, 0, 30, 3));
  EXPECT_EQ(next({lateEvening}, at(2026, 12, 9, 0, 31)), runAt(2026, 12, 9, 23, 0, 3));
  // The window of the end date's base time runs on past that date.
  const TaskTrigger ending = until(repeating(daily({2026, 12, 1}, 23, 0), 30, 120), {2026, 12, 8});
  EXPECT_EQ(next({ending}, at(2026, 12, 9, 0, 10)), runAt(2026, 12, 9, 0, 30, 3));
  EXPECT_EQ(next({ending}, at(2026, 12, 9, 0, 31)), none(kSchedTaskNoMoreRuns));
}

TEST(NextRunTime, OverlappingAndLongWindows) {
  // 48-hour windows every day: at 08:30 on the 10th both the 9th's and the 10th's window are open.
  const TaskTrigger twoDays = repeating(daily({2026, 12, 8}, 8, 0), 60, 48 * 60);
  EXPECT_EQ(next({twoDays}, at(2026, 12, 10, 8, 30)), runAt(2026, 12, 10, 9, 0, 4));
  // Every 7 minutes for 30 days from 2026-12-01 00:00: a week and 105 minutes later is 01:45.
  const TaskTrigger month = repeating(once({2026, 12, 1}, 0, 0), 7, 30 * 24 * 60);
  EXPECT_EQ(next({month}), runAt(2026, 12, 8, 1, 45, 2));
  EXPECT_EQ(next({month}, at(2026, 12, 31, 0, 0)), none(kSchedTaskNoMoreRuns));
  // No start before the begin date, however long the window.
  EXPECT_EQ(next({repeating(daily({2026, 12, 10}, 0, 0), 5, 7 * 24 * 60)}), runAt(2026, 12, 10, 0, 0, 4));
}

// --- End dates.

TEST(NextRunTime, EndDates) {
  EXPECT_EQ(next({until(daily({2026, 12, 1}, 3, 0), {2026, 12, 7})}), none(kSchedTaskNoMoreRuns));
  EXPECT_EQ(next({until(daily({2026, 12, 1}, 1, 0), {2026, 12, 8})}), none(kSchedTaskNoMoreRuns));
  // Before the begin date: never.
  EXPECT_EQ(next({until(daily({2026, 12, 10}, 3, 0), {2026, 12, 9})}), none(kSchedTaskNoMoreRuns));
  // Without the flag the end date is not looked at, even when it is no date.
  TaskTrigger loose = daily({2026, 12, 1}, 3, 0);
  loose.endYear = 2026;
  loose.endMonth = 200;
  EXPECT_EQ(next({loose}), runAt(2026, 12, 8, 3, 0, 2));
  EXPECT_EQ(next({until(monthlyDow({2026, 12, 1}, 2, 0, kLastWeek, kFriday), {2026, 12, 25})},
                 at(2026, 12, 25, 2, 0)),
            runAt(2026, 12, 25, 2, 0, 5));
}

// Triggers from a damaged file that SetTrigger would have refused never start the task.
TEST(NextRunTime, InvalidTriggersNeverStart) {
  EXPECT_EQ(next({daily({2026, 12, 1}, 3, 0, 0)}), none(kSchedTaskNoMoreRuns));
  EXPECT_EQ(next({daily({2026, 2, 30}, 3, 0)}), none(kSchedTaskNoMoreRuns));
  EXPECT_EQ(next({weekly({2026, 12, 1}, 3, 0, 0, kTuesday)}), none(kSchedTaskNoMoreRuns));
  EXPECT_EQ(next({repeating(daily({2026, 12, 1}, 3, 0), 60, 60)}), none(kSchedTaskNoMoreRuns));
  EXPECT_EQ(next({daily({2026, 12, 1}, 3, 0, 0), daily({2026, 12, 1}, 4, 0)}), runAt(2026, 12, 8, 4, 0, 2));
}

TEST(FirstStartOf, IgnoresTheTriggersDisabledFlag) {
  EXPECT_EQ(firstStartOf(disabled(daily({2026, 12, 8}, 2, 0)), kProbeNow), at(2026, 12, 8, 2, 0));
  EXPECT_EQ(firstStartOf(event(TriggerType::AtLogon), kProbeNow), std::nullopt);
}

// --- Starts in a window, for the executor.

TEST(StartsBetween, OneMinuteWindows) {
  const std::vector<TaskTrigger> triggers = {daily({2026, 12, 8}, 2, 0)};
  EXPECT_EQ(startsBetween(0, triggers, at(2026, 12, 8, 1, 59), at(2026, 12, 8, 2, 0)),
            std::vector<LocalMinute>{at(2026, 12, 8, 2, 0)});
  EXPECT_TRUE(startsBetween(0, triggers, at(2026, 12, 8, 2, 0), at(2026, 12, 8, 2, 1)).empty());
  EXPECT_TRUE(startsBetween(0, triggers, at(2026, 12, 8, 1, 58), at(2026, 12, 8, 1, 59)).empty());
}

TEST(StartsBetween, WindowAfterAGap) {
  const std::vector<TaskTrigger> triggers = {daily({2026, 12, 8}, 2, 0)};
  EXPECT_EQ(startsBetween(0, triggers, at(2026, 12, 8, 1, 0), at(2026, 12, 11, 3, 0)),
            (std::vector<LocalMinute>{at(2026, 12, 8, 2, 0), at(2026, 12, 9, 2, 0), at(2026, 12, 10, 2, 0),
                                      at(2026, 12, 11, 2, 0)}));
}

TEST(StartsBetween, SeveralRepetitionsInOneWindow) {
  const std::vector<TaskTrigger> triggers = {repeating(daily({2026, 12, 8}, 10, 0), 15, 60)};
  EXPECT_EQ(startsBetween(0, triggers, at(2026, 12, 8, 9, 59), at(2026, 12, 8, 11, 0)),
            (std::vector<LocalMinute>{at(2026, 12, 8, 10, 0), at(2026, 12, 8, 10, 15),
                                      at(2026, 12, 8, 10, 30), at(2026, 12, 8, 10, 45)}));
  EXPECT_EQ(startsBetween(0, triggers, at(2026, 12, 8, 10, 15), at(2026, 12, 8, 10, 30)),
            std::vector<LocalMinute>{at(2026, 12, 8, 10, 30)});
}

TEST(StartsBetween, EqualStartsAppearOnce) {
  const std::vector<TaskTrigger> triggers = {daily({2026, 12, 8}, 2, 0), once({2026, 12, 8}, 2, 0)};
  EXPECT_EQ(startsBetween(0, triggers, kProbeNow, at(2026, 12, 8, 2, 0)),
            std::vector<LocalMinute>{at(2026, 12, 8, 2, 0)});
  const auto scheduled = scheduledStartsBetween(0, triggers, kProbeNow, at(2026, 12, 8, 2, 0));
  ASSERT_EQ(scheduled.size(), 2u);
  EXPECT_EQ(scheduled[0].triggerIndex, 0u);
  EXPECT_EQ(scheduled[1].triggerIndex, 1u);

  // Two open windows of one trigger.
  const std::vector<TaskTrigger> twoDays = {repeating(daily({2026, 12, 8}, 8, 0), 60, 48 * 60)};
  EXPECT_EQ(startsBetween(0, twoDays, at(2026, 12, 10, 8, 59), at(2026, 12, 10, 9, 0)),
            std::vector<LocalMinute>{at(2026, 12, 10, 9, 0)});
  const auto both = scheduledStartsBetween(0, twoDays, at(2026, 12, 10, 8, 59), at(2026, 12, 10, 9, 0));
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0].base, at(2026, 12, 9, 8, 0));
  EXPECT_EQ(both[1].base, at(2026, 12, 10, 8, 0));
}

TEST(StartsBetween, ReportsTheBaseOfEachStart) {
  const std::vector<TaskTrigger> triggers = {repeating(daily({2026, 12, 8}, 23, 0), 30, 120)};
  const auto starts = scheduledStartsBetween(0, triggers, at(2026, 12, 9, 0, 0), at(2026, 12, 9, 0, 30));
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].time, at(2026, 12, 9, 0, 30));
  EXPECT_EQ(starts[0].base, at(2026, 12, 8, 23, 0));
}

TEST(StartsBetween, NothingForDisabledTasksTriggersEventsOrEmptyWindows) {
  const std::vector<TaskTrigger> triggers = {daily({2026, 12, 8}, 2, 0)};
  EXPECT_TRUE(startsBetween(kTaskFlagDisabled, triggers, kProbeNow, at(2026, 12, 9, 0, 0)).empty());
  const std::vector<TaskTrigger> off = {disabled(daily({2026, 12, 8}, 2, 0)),
                                        event(TriggerType::AtSystemStart)};
  EXPECT_TRUE(startsBetween(0, off, kProbeNow, at(2026, 12, 9, 0, 0)).empty());
  EXPECT_TRUE(startsBetween(0, triggers, at(2026, 12, 8, 2, 0), at(2026, 12, 8, 2, 0)).empty());
  EXPECT_TRUE(startsBetween(0, triggers, at(2026, 12, 8, 3, 0), at(2026, 12, 8, 1, 0)).empty());
}

TEST(HasRunsAfter, TimeAndEventTriggers) {
  const std::vector<TaskTrigger> onceOnly = {once({2026, 12, 8}, 2, 0)};
  EXPECT_TRUE(hasRunsAfter(onceOnly, at(2026, 12, 8, 1, 59)));
  EXPECT_FALSE(hasRunsAfter(onceOnly, at(2026, 12, 8, 2, 0)));
  const std::vector<TaskTrigger> withEvent = {once({2026, 12, 8}, 2, 0), event(TriggerType::AtLogon)};
  EXPECT_TRUE(hasRunsAfter(withEvent, at(2026, 12, 8, 2, 0)));
  const std::vector<TaskTrigger> disabledOnly = {disabled(daily({2026, 12, 8}, 2, 0))};
  EXPECT_FALSE(hasRunsAfter(disabledOnly, kProbeNow));
  const std::vector<TaskTrigger> repeats = {repeating(once({2026, 12, 8}, 2, 0), 10, 30)};
  EXPECT_TRUE(hasRunsAfter(repeats, at(2026, 12, 8, 2, 19)));
  EXPECT_FALSE(hasRunsAfter(repeats, at(2026, 12, 8, 2, 20)));
}

// --- Against a plain model of the rules: every calendar day tested one at a time.

bool modelIsBaseDay(const TaskTrigger& t, const CivilDate& date) {
  if (date < t.beginDate()) return false;
  if (t.hasEndDate() && date > t.endDate()) return false;
  const int weekday = weekdayOf(date);
  const bool monthSelected = (t.months >> (date.month - 1)) & 1u;
  const bool weekdaySelected = (t.daysOfTheWeek >> weekday) & 1u;
  switch (t.type) {
    case TriggerType::Once:
      return date == t.beginDate();
    case TriggerType::Daily:
      return (daysFromCivil(date) - daysFromCivil(t.beginDate())) % t.daysInterval == 0;
    case TriggerType::Weekly: {
      const auto sundayBefore = [](const CivilDate& d) { return daysFromCivil(d) - weekdayOf(d); };
      const auto weeks = (sundayBefore(date) - sundayBefore(t.beginDate())) / 7;
      return weekdaySelected && weeks % t.weeksInterval == 0;
    }
    case TriggerType::MonthlyDate:
      return monthSelected && ((t.monthDays >> (date.day - 1)) & 1u);
    case TriggerType::MonthlyDow: {
      int occurrence = 0;
      for (int day = date.day; day >= 1; day -= 7) ++occurrence;
      const bool last = !isValidDate(date.year, date.month, date.day + 7);
      return monthSelected && weekdaySelected &&
             (t.whichWeek == kLastWeek ? last : occurrence == t.whichWeek);
    }
    default:
      return false;
  }
}

std::vector<LocalMinute> modelStartsOfDay(const TaskTrigger& t, const CivilDate& date) {
  std::vector<LocalMinute> starts;
  if (!modelIsBaseDay(t, date)) return starts;
  const LocalMinute base = LocalMinute::at(date, t.startHour, t.startMinute);
  starts.push_back(base);
  for (std::uint32_t offset = t.minutesInterval; t.minutesInterval != 0 && offset < t.minutesDuration;
       offset += t.minutesInterval) {
    starts.push_back(base.plusMinutes(offset));
  }
  return starts;
}

CivilDate firstDayThatCanReach(const TaskTrigger& t, LocalMinute minute) {
  return addDays(minute.date(), -static_cast<std::int64_t>(t.minutesDuration / (24 * 60) + 2));
}

std::vector<LocalMinute> modelStartsBetween(const std::vector<TaskTrigger>& triggers, LocalMinute after,
                                            LocalMinute upTo) {
  std::vector<LocalMinute> starts;
  for (const TaskTrigger& t : triggers) {
    if (!t.isEnabled()) continue;
    for (CivilDate day = firstDayThatCanReach(t, after); day <= upTo.date(); day = addDays(day, 1)) {
      for (LocalMinute start : modelStartsOfDay(t, day)) {
        if (start > after && start <= upTo) starts.push_back(start);
      }
    }
  }
  std::sort(starts.begin(), starts.end());
  starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
  return starts;
}

std::optional<LocalMinute> modelFirstStart(const TaskTrigger& t, LocalMinute from, CivilDate lastDay) {
  std::optional<LocalMinute> best;
  for (CivilDate day = firstDayThatCanReach(t, from); day <= lastDay; day = addDays(day, 1)) {
    for (LocalMinute start : modelStartsOfDay(t, day)) {
      if (start >= from && (!best || start < *best)) best = start;
    }
    if (best && LocalMinute::at(day, 0, 0) > *best) break;
  }
  return best;
}

class RandomTriggers {
 public:
  explicit RandomTriggers(unsigned seed) : random_(seed) {}

  int number(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool chance(int percent) { return number(1, 100) <= percent; }

  LocalMinute minute(CivilDate from, int days) {
    return LocalMinute::at(addDays(from, number(0, days)), number(0, 23), number(0, 59));
  }

  TaskTrigger trigger() {
    const CivilDate begin = addDays({2026, 1, 1}, number(0, 800));
    TaskTrigger t = timeTrigger(static_cast<TriggerType>(number(0, 4)), begin, number(0, 23), number(0, 59));
    if (chance(50)) {
      t.minutesInterval = static_cast<std::uint32_t>(number(1, 180));
      t.minutesDuration = t.minutesInterval + static_cast<std::uint32_t>(number(1, 3000));
    } else if (chance(30)) {
      t.minutesDuration = static_cast<std::uint32_t>(number(0, 3000));
    }
    if (chance(30)) t = until(t, addDays(begin, number(-10, 400)));
    if (chance(10)) t.flags |= kTriggerFlagDisabled;
    t.daysInterval = static_cast<std::uint16_t>(number(1, 10));
    t.weeksInterval = static_cast<std::uint16_t>(number(1, 4));
    t.daysOfTheWeek = static_cast<std::uint16_t>(chance(10) ? 0 : number(1, 0x7F));
    for (int i = number(0, 3); i > 0; --i) t.monthDays |= dayBit(number(1, 31));
    t.months = static_cast<std::uint16_t>(chance(50) ? kAllMonths : number(0, 0xFFF));
    t.whichWeek = static_cast<std::uint16_t>(number(1, 5));
    return t;
  }

 private:
  std::mt19937 random_;
};

TEST(NextRunModel, StartsBetweenMatchesTheModel) {
  RandomTriggers random(8122026);
  for (int round = 0; round < 10000; ++round) {
    std::vector<TaskTrigger> triggers;
    for (int i = random.number(1, 3); i > 0; --i) triggers.push_back(random.trigger());
    for (const TaskTrigger& t : triggers) ASSERT_EQ(validateTrigger(t), kOk);
    // Mostly near the first trigger's begin date, where its schedule starts.
    const LocalMinute after = random.minute(addDays(triggers[0].beginDate(), -3), 120);
    const LocalMinute upTo = after.plusMinutes(random.number(1, 5000));
    ASSERT_EQ(startsBetween(0, triggers, after, upTo), modelStartsBetween(triggers, after, upTo))
        << "round " << round << " from " << after.toString() << " to " << upTo.toString();
  }
}

TEST(NextRunModel, FirstStartAndNextRunTimeMatchTheModel) {
  RandomTriggers random(20261208);
  for (int round = 0; round < 10000; ++round) {
    const TaskTrigger t = random.trigger();
    const LocalMinute from = random.minute(addDays(t.beginDate(), -5), 400);
    const CivilDate lastDay = addDays(from.date(), 3 * 366);
    const auto expected = modelFirstStart(t, from, lastDay);
    const auto actual = firstStartOf(t, from);
    if (expected) {
      ASSERT_EQ(actual, expected) << "round " << round << " from " << from.toString();
    } else {
      ASSERT_TRUE(!actual || actual->date() > lastDay) << "round " << round;
    }
    const std::vector<TaskTrigger> triggers = {t};
    const NextRun run = nextRunTime(0, triggers, from);
    if (!t.isEnabled()) {
      ASSERT_EQ(run, none(kSchedTaskNoValidTriggers));
    } else if (actual) {
      ASSERT_EQ(run, (NextRun{kOk, actual->toSystemTime()}));
    } else {
      ASSERT_EQ(run, none(kSchedTaskNoMoreRuns));
    }
  }
}

}  // namespace
}  // namespace bv::tasks
