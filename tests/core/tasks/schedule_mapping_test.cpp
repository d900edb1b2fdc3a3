#include "core/tasks/schedule_mapping.h"

#include <gtest/gtest.h>

#include <vector>

namespace bv::tasks {
namespace {

// 2026-12-08 is a Tuesday.
TaskTrigger from20261208(TriggerType type, std::uint16_t hour = 2, std::uint16_t minute = 0) {
  TaskTrigger trigger;
  trigger.beginYear = 2026;
  trigger.beginMonth = 12;
  trigger.beginDay = 8;
  trigger.startHour = hour;
  trigger.startMinute = minute;
  trigger.type = type;
  return trigger;
}

TaskTrigger daily(std::uint16_t every) {
  TaskTrigger trigger = from20261208(TriggerType::Daily);
  trigger.daysInterval = every;
  return trigger;
}

Schedule dailySchedule() { return scheduleFromTrigger(daily(1)); }

std::string messageOf(const Schedule& schedule) {
  const auto found = validateSchedule(schedule);
  return found ? found->message : std::string("(accepted)");
}

std::optional<ScheduleInput> inputOf(const Schedule& schedule) {
  const auto found = validateSchedule(schedule);
  return found ? std::optional<ScheduleInput>(found->input) : std::nullopt;
}

// --- Each kind, both ways ---------------------------------------------------------------------

TEST(ScheduleMapping, DailyEveryNDays) {
  const Schedule schedule = scheduleFromTrigger(daily(3));
  EXPECT_EQ(schedule.kind, ScheduleKind::Daily);
  EXPECT_EQ(schedule.everyDays, 3);
  EXPECT_EQ(schedule.startHour, 2);
  EXPECT_EQ(schedule.startMinute, 0);
  EXPECT_EQ(schedule.startDate, (CivilDate{2026, 12, 8}));
  EXPECT_FALSE(schedule.hasEndDate);
  EXPECT_FALSE(schedule.repeat);
  EXPECT_TRUE(schedule.enabled);

  Schedule edited = schedule;
  edited.everyDays = 7;
  edited.startHour = 23;
  edited.startMinute = 45;
  edited.startDate = {2027, 1, 31};
  TaskTrigger expected = daily(7);
  expected.startHour = 23;
  expected.startMinute = 45;
  expected.beginYear = 2027;
  expected.beginMonth = 1;
  expected.beginDay = 31;
  EXPECT_EQ(triggerFromSchedule(edited), expected);
}

TEST(ScheduleMapping, WeeklyEveryNWeeksOnTheCheckedDays) {
  TaskTrigger trigger = from20261208(TriggerType::Weekly, 2, 30);
  trigger.weeksInterval = 2;
  trigger.daysOfTheWeek = 0x02 | 0x20;  // Monday, Friday
  const Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_EQ(schedule.kind, ScheduleKind::Weekly);
  EXPECT_EQ(schedule.everyWeeks, 2);
  EXPECT_EQ(schedule.weekdays, 0x22);

  Schedule edited = schedule;
  edited.weekdays = 0x01 | 0x40;  // Sunday, Saturday: the two ends of the mask
  edited.everyWeeks = 1;
  TaskTrigger expected = trigger;
  expected.weeksInterval = 1;
  expected.daysOfTheWeek = 0x41;
  EXPECT_EQ(triggerFromSchedule(edited), expected);
}

TEST(ScheduleMapping, MonthlyOnDayNOfTheSelectedMonths) {
  TaskTrigger trigger = from20261208(TriggerType::MonthlyDate);
  trigger.monthDays = 1u << 14;                    // day 15
  trigger.months = 0x001 | 0x008 | 0x040 | 0x200;  // January, April, July, October
  const Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_EQ(schedule.kind, ScheduleKind::Monthly);
  EXPECT_EQ(schedule.monthlyMode, MonthlyMode::DayOfMonth);
  EXPECT_EQ(schedule.monthDay, 15);
  EXPECT_EQ(schedule.months, 0x249);
  EXPECT_EQ(triggerFromSchedule(schedule), trigger);

  Schedule edited = schedule;
  edited.monthDay = 31;
  edited.months = kAllMonths;
  TaskTrigger expected = trigger;
  expected.monthDays = 1u << 30;
  expected.months = 0xFFF;
  EXPECT_EQ(triggerFromSchedule(edited), expected);
  edited.monthDay = 1;
  edited.months = 0x800;  // December only
  expected.monthDays = 1;
  expected.months = 0x800;
  EXPECT_EQ(triggerFromSchedule(edited), expected);
}

TEST(ScheduleMapping, MonthlyOnTheNthAndTheLastWeekday) {
  TaskTrigger trigger = from20261208(TriggerType::MonthlyDow);
  trigger.whichWeek = 2;
  trigger.daysOfTheWeek = 0x04;  // Tuesday
  trigger.months = 0x001 | 0x040;
  const Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_EQ(schedule.kind, ScheduleKind::Monthly);
  EXPECT_EQ(schedule.monthlyMode, MonthlyMode::WeekdayOfMonth);
  EXPECT_EQ(schedule.whichWeek, 2);
  EXPECT_EQ(schedule.weekday, 2);
  EXPECT_EQ(schedule.months, 0x041);
  EXPECT_EQ(triggerFromSchedule(schedule), trigger);

  Schedule last = schedule;
  last.whichWeek = kLastWeek;
  last.weekday = 5;  // Friday
  last.months = kAllMonths;
  TaskTrigger expected = trigger;
  expected.whichWeek = 5;
  expected.daysOfTheWeek = 0x20;
  expected.months = 0xFFF;
  EXPECT_EQ(triggerFromSchedule(last), expected);

  Schedule sunday = schedule;
  sunday.whichWeek = 4;
  sunday.weekday = 0;
  expected = trigger;
  expected.whichWeek = 4;
  expected.daysOfTheWeek = 0x01;
  EXPECT_EQ(triggerFromSchedule(sunday), expected);
}

TEST(ScheduleMapping, SwitchingMonthlyModeChangesTheTriggerType) {
  Schedule schedule = dailySchedule();
  schedule.kind = ScheduleKind::Monthly;
  schedule.monthlyMode = MonthlyMode::DayOfMonth;
  schedule.monthDay = 8;
  EXPECT_EQ(triggerFromSchedule(schedule).type, TriggerType::MonthlyDate);
  EXPECT_EQ(triggerFromSchedule(schedule).whichWeek, 0) << "the other type's members stay zero";
  schedule.monthlyMode = MonthlyMode::WeekdayOfMonth;
  const TaskTrigger byWeekday = triggerFromSchedule(schedule);
  EXPECT_EQ(byWeekday.type, TriggerType::MonthlyDow);
  EXPECT_EQ(byWeekday.monthDays, 0u);
}

TEST(ScheduleMapping, OnceRunsOnItsDate) {
  TaskTrigger trigger = from20261208(TriggerType::Once, 9, 15);
  const Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_EQ(schedule.kind, ScheduleKind::Once);
  EXPECT_EQ(schedule.startDate, (CivilDate{2026, 12, 8}));
  EXPECT_EQ(triggerFromSchedule(schedule), trigger);

  Schedule edited = schedule;
  edited.startDate = {2028, 2, 29};
  trigger.beginYear = 2028;
  trigger.beginMonth = 2;
  trigger.beginDay = 29;
  EXPECT_EQ(triggerFromSchedule(edited), trigger);
}

TEST(ScheduleMapping, EventKindsKeepTheirHiddenDateAndTime) {
  const std::pair<TriggerType, ScheduleKind> kinds[] = {
      {TriggerType::AtSystemStart, ScheduleKind::AtSystemStart},
      {TriggerType::AtLogon, ScheduleKind::AtLogon},
      {TriggerType::OnIdle, ScheduleKind::WhenIdle},
  };
  for (const auto& [type, kind] : kinds) {
    const TaskTrigger trigger = from20261208(type, 13, 7);
    const Schedule schedule = scheduleFromTrigger(trigger);
    EXPECT_EQ(schedule.kind, kind);
    EXPECT_EQ(triggerFromSchedule(schedule), trigger);

    Schedule fromDaily = dailySchedule();
    fromDaily.kind = kind;
    fromDaily.startHour = 13;
    fromDaily.startMinute = 7;
    EXPECT_EQ(triggerFromSchedule(fromDaily), trigger) << "no union member, no repetition";
  }
}

TEST(ScheduleMapping, EventKindsTakeNoEndDateNorRepetition) {
  Schedule schedule = dailySchedule();
  schedule.hasEndDate = true;
  schedule.endDate = {2027, 1, 31};
  schedule.repeat = true;
  schedule.repeatEnd = RepeatEnd::AfterDuration;
  schedule.durationHours = 2;
  schedule.stopAtEnd = true;
  for (ScheduleKind kind : {ScheduleKind::AtSystemStart, ScheduleKind::AtLogon, ScheduleKind::WhenIdle}) {
    schedule.kind = kind;
    const TaskTrigger trigger = triggerFromSchedule(schedule);
    EXPECT_EQ(trigger.flags, 0u);
    EXPECT_EQ(trigger.minutesInterval, 0u);
    EXPECT_EQ(trigger.minutesDuration, 0u);
  }
  schedule.kind = ScheduleKind::Once;
  const TaskTrigger once = triggerFromSchedule(schedule);
  EXPECT_FALSE(once.hasEndDate()) << "Once runs on one day; an end date means nothing to it";
  EXPECT_EQ(once.minutesInterval, 10u) << "but it may repeat within its day";
  EXPECT_EQ(once.minutesDuration, 120u);
  EXPECT_EQ(once.flags, kTriggerFlagKillAtDurationEnd);
}

TEST(ScheduleMapping, TheIdleMinutesAreNotATriggerField) {
  Schedule schedule = scheduleFromTrigger(from20261208(TriggerType::OnIdle));
  EXPECT_EQ(schedule.idleMinutes, kDefaultIdleMinutes);
  const TaskTrigger before = triggerFromSchedule(schedule);
  schedule.idleMinutes = 45;
  EXPECT_EQ(triggerFromSchedule(schedule), before);
}

// --- Advanced options -------------------------------------------------------------------------

TEST(ScheduleMapping, EndDateSetsItsFlag) {
  TaskTrigger trigger = daily(1);
  trigger.flags = kTriggerFlagHasEndDate;
  trigger.endYear = 2027;
  trigger.endMonth = 1;
  trigger.endDay = 31;
  Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_TRUE(schedule.hasEndDate);
  EXPECT_EQ(schedule.endDate, (CivilDate{2027, 1, 31}));
  EXPECT_EQ(triggerFromSchedule(schedule), trigger);

  schedule.hasEndDate = false;
  const TaskTrigger without = triggerFromSchedule(schedule);
  EXPECT_FALSE(without.hasEndDate());
  EXPECT_EQ(without.endDate(), (CivilDate{2027, 1, 31})) << "kept, unread, as the trigger keeps it";
}

TEST(ScheduleMapping, AnUnflaggedEndDateIsKeptAsTheTriggerHasIt) {
  TaskTrigger trigger = daily(1);
  trigger.endYear = 2027;
  trigger.endMonth = 200;  // not looked at without the flag
  trigger.endDay = 1;
  EXPECT_EQ(triggerFromSchedule(scheduleFromTrigger(trigger)), trigger);
}

TEST(ScheduleMapping, RepetitionInMinutes) {
  TaskTrigger trigger = from20261208(TriggerType::Daily, 21, 32);
  trigger.daysInterval = 1;
  trigger.minutesInterval = 15;
  trigger.minutesDuration = 150;
  const Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_TRUE(schedule.repeat);
  EXPECT_EQ(schedule.repeatUnit, RepeatUnit::Minutes);
  EXPECT_EQ(schedule.repeatEvery, 15);
  EXPECT_EQ(schedule.repeatEnd, RepeatEnd::AfterDuration);
  EXPECT_EQ(schedule.durationHours, 2);
  EXPECT_EQ(schedule.durationMinutes, 30);
  EXPECT_EQ(schedule.untilHour, 0) << "21:32 + 2:30 reaches 0:02 the next day";
  EXPECT_EQ(schedule.untilMinute, 2);
  EXPECT_FALSE(schedule.stopAtEnd);
  EXPECT_EQ(triggerFromSchedule(schedule), trigger);

  Schedule ninety = schedule;
  ninety.repeatEvery = 90;
  EXPECT_EQ(triggerFromSchedule(ninety).minutesInterval, 90u);
}

TEST(ScheduleMapping, RepetitionInHours) {
  TaskTrigger trigger = from20261208(TriggerType::Daily, 0, 0);
  trigger.daysInterval = 1;
  trigger.minutesInterval = 60;
  trigger.minutesDuration = 24 * 60;
  const Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_EQ(schedule.repeatUnit, RepeatUnit::Hours);
  EXPECT_EQ(schedule.repeatEvery, 1);
  EXPECT_EQ(schedule.durationHours, 24);
  EXPECT_EQ(schedule.durationMinutes, 0);
  EXPECT_EQ(triggerFromSchedule(schedule), trigger);

  Schedule everyThree = schedule;
  everyThree.repeatEvery = 3;
  EXPECT_EQ(triggerFromSchedule(everyThree).minutesInterval, 180u);
  EXPECT_EQ(repeatIntervalMinutes(everyThree), 180u);
}

TEST(ScheduleMapping, RepetitionUntilATimeOfTheSameOrTheNextDay) {
  Schedule schedule = dailySchedule();  // starts at 2:00
  schedule.repeat = true;
  schedule.repeatEvery = 10;
  schedule.repeatUnit = RepeatUnit::Minutes;
  schedule.repeatEnd = RepeatEnd::AtTime;

  schedule.untilHour = 5;
  schedule.untilMinute = 30;
  EXPECT_EQ(triggerFromSchedule(schedule).minutesDuration, 210u);

  schedule.startHour = 22;
  schedule.untilHour = 2;
  schedule.untilMinute = 0;
  EXPECT_EQ(triggerFromSchedule(schedule).minutesDuration, 240u) << "until 2:00 the next day";

  schedule.untilHour = 22;
  EXPECT_EQ(triggerFromSchedule(schedule).minutesDuration, 1440u) << "the start time itself: a whole day";

  schedule.startMinute = 30;
  schedule.untilMinute = 29;
  EXPECT_EQ(triggerFromSchedule(schedule).minutesDuration, 1439u);
}

TEST(ScheduleMapping, RepetitionForADuration) {
  Schedule schedule = dailySchedule();
  schedule.repeat = true;
  schedule.repeatEvery = 2;
  schedule.repeatUnit = RepeatUnit::Hours;
  schedule.repeatEnd = RepeatEnd::AfterDuration;
  schedule.durationHours = 36;
  schedule.durationMinutes = 15;
  const TaskTrigger trigger = triggerFromSchedule(schedule);
  EXPECT_EQ(trigger.minutesInterval, 120u);
  EXPECT_EQ(trigger.minutesDuration, 36u * 60 + 15);
  EXPECT_EQ(trigger.flags, 0u);
}

TEST(ScheduleMapping, StopAtTheEndOfTheWindow) {
  TaskTrigger trigger = daily(1);
  trigger.minutesInterval = 30;
  trigger.minutesDuration = 240;
  trigger.flags = kTriggerFlagKillAtDurationEnd;
  Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_TRUE(schedule.stopAtEnd);
  EXPECT_EQ(triggerFromSchedule(schedule), trigger);

  schedule.repeat = false;
  const TaskTrigger plain = triggerFromSchedule(schedule);
  EXPECT_EQ(plain.flags, 0u) << "the stop belongs to the repetition";
  EXPECT_EQ(plain.minutesInterval, 0u);
  EXPECT_EQ(plain.minutesDuration, 0u);
}

TEST(ScheduleMapping, ADisabledTriggerStaysDisabled) {
  TaskTrigger trigger = daily(2);
  trigger.flags = kTriggerFlagDisabled;
  Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_FALSE(schedule.enabled);
  schedule.everyDays = 4;
  EXPECT_FALSE(triggerFromSchedule(schedule).isEnabled());
}

// --- The inputs of the other kinds start from the begin date -----------------------------------

TEST(ScheduleMapping, OtherKindsStartFromTheBeginDate) {
  const Schedule schedule = scheduleFromTrigger(daily(1));  // Tuesday 2026-12-08
  EXPECT_EQ(schedule.weekdays, 0x04);
  EXPECT_EQ(schedule.monthDay, 8);
  EXPECT_EQ(schedule.whichWeek, 2);
  EXPECT_EQ(schedule.weekday, 2);
  EXPECT_EQ(schedule.months, kAllMonths);
  EXPECT_EQ(schedule.everyWeeks, 1);

  TaskTrigger late = daily(1);
  late.beginDay = 29;  // Tuesday 2026-12-29, in the last seven days
  EXPECT_EQ(scheduleFromTrigger(late).whichWeek, kLastWeek);
  late.beginDay = 28;
  EXPECT_EQ(scheduleFromTrigger(late).whichWeek, 4);
  late.beginDay = 1;
  EXPECT_EQ(scheduleFromTrigger(late).whichWeek, 1);
}

// --- What the page cannot express ------------------------------------------------------------

TEST(ScheduleMapping, SeveralMonthDaysShowTheFirst) {
  TaskTrigger trigger = from20261208(TriggerType::MonthlyDate);
  trigger.monthDays = (1u << 0) | (1u << 14);
  trigger.months = kAllMonths;
  const Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_EQ(schedule.monthDay, 1);
  EXPECT_EQ(triggerFromSchedule(schedule).monthDays, 1u);
  EXPECT_EQ(updatedTrigger(trigger, schedule), trigger) << "unchanged, the trigger goes back whole";

  Schedule edited = schedule;
  edited.startHour = 4;
  TaskTrigger expected = trigger;
  expected.monthDays = 1u;
  expected.startHour = 4;
  EXPECT_EQ(updatedTrigger(trigger, edited), expected);

  trigger.monthDays = 0;
  EXPECT_EQ(scheduleFromTrigger(trigger).monthDay, 8) << "no day set: the begin date's";
}

TEST(ScheduleMapping, SeveralWeekdaysOfTheMonthShowTheFirst) {
  TaskTrigger trigger = from20261208(TriggerType::MonthlyDow);
  trigger.whichWeek = 1;
  trigger.daysOfTheWeek = 0x02 | 0x10;
  trigger.months = kAllMonths;
  EXPECT_EQ(scheduleFromTrigger(trigger).weekday, 1);
  EXPECT_EQ(triggerFromSchedule(scheduleFromTrigger(trigger)).daysOfTheWeek, 0x02);
  trigger.daysOfTheWeek = 0;
  EXPECT_EQ(scheduleFromTrigger(trigger).weekday, 2) << "none set: the begin date's (Tuesday)";
}

TEST(ScheduleMapping, ADurationWithoutRepetitionIsNotShown) {
  TaskTrigger trigger = daily(1);
  trigger.minutesDuration = 60;
  trigger.flags = kTriggerFlagKillAtDurationEnd;
  const Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_FALSE(schedule.repeat);
  EXPECT_EQ(triggerFromSchedule(schedule), daily(1));
  EXPECT_EQ(updatedTrigger(trigger, schedule), trigger);
}

TEST(ScheduleMapping, UpdatedTriggerFollowsEveryChange) {
  const TaskTrigger trigger = daily(1);
  Schedule schedule = scheduleFromTrigger(trigger);
  EXPECT_TRUE(showsTrigger(schedule, trigger));
  EXPECT_EQ(updatedTrigger(trigger, schedule), trigger);
  schedule.kind = ScheduleKind::Weekly;
  EXPECT_FALSE(showsTrigger(schedule, trigger));
  EXPECT_EQ(updatedTrigger(trigger, schedule).type, TriggerType::Weekly);
  schedule.kind = ScheduleKind::Daily;
  EXPECT_TRUE(showsTrigger(schedule, trigger));
  EXPECT_EQ(updatedTrigger(trigger, schedule), trigger) << "changed back: as it was";
  schedule.idleMinutes = 30;
  EXPECT_FALSE(showsTrigger(schedule, trigger)) << "any input counts, even one the trigger lacks";
}

// --- Default schedule ------------------------------------------------------------------------

TEST(ScheduleMapping, DefaultScheduleIsDailyFromNowAndEnabled) {
  SystemTime now;
  now.year = 2026;
  now.month = 12;
  now.dayOfWeek = 2;
  now.day = 8;
  now.hour = 1;
  now.minute = 41;
  now.second = 33;
  const Schedule schedule = defaultSchedule(now);
  EXPECT_EQ(schedule.kind, ScheduleKind::Daily);
  EXPECT_EQ(schedule.everyDays, 1);
  EXPECT_EQ(schedule.startHour, 1);
  EXPECT_EQ(schedule.startMinute, 41);
  EXPECT_EQ(schedule.startDate, (CivilDate{2026, 12, 8}));
  EXPECT_TRUE(schedule.enabled);
  EXPECT_EQ(validateSchedule(schedule), std::nullopt);

  TaskTrigger expected = defaultTrigger(now);
  expected.flags = 0;
  EXPECT_EQ(triggerFromSchedule(schedule), expected);
  EXPECT_TRUE(triggerFromSchedule(schedule).isEnabled());
  EXPECT_EQ(validateTrigger(triggerFromSchedule(schedule)), kOk);
}

// --- Checks -----------------------------------------------------------------------------------

TEST(ScheduleChecks, WeeklyNeedsAWeekday) {
  Schedule schedule = dailySchedule();
  schedule.kind = ScheduleKind::Weekly;
  schedule.weekdays = 0;
  EXPECT_EQ(messageOf(schedule), "曜日を 1 つ以上選択してください。");
  EXPECT_EQ(inputOf(schedule), ScheduleInput::Weekdays);
  schedule.weekdays = 0x80;  // outside the mask: no day either
  EXPECT_EQ(inputOf(schedule), ScheduleInput::Weekdays);
  schedule.weekdays = 0x40;
  EXPECT_EQ(messageOf(schedule), "(accepted)");
  schedule.kind = ScheduleKind::Daily;
  schedule.weekdays = 0;
  EXPECT_EQ(messageOf(schedule), "(accepted)") << "only the weekly schedule looks at the days";
}

TEST(ScheduleChecks, MonthlyNeedsAMonth) {
  Schedule schedule = dailySchedule();
  schedule.kind = ScheduleKind::Monthly;
  schedule.months = 0;
  EXPECT_EQ(messageOf(schedule), "月を 1 つ以上選択してください。");
  EXPECT_EQ(inputOf(schedule), ScheduleInput::Months);
  schedule.monthlyMode = MonthlyMode::WeekdayOfMonth;
  EXPECT_EQ(inputOf(schedule), ScheduleInput::Months);
  schedule.months = 0x800;
  EXPECT_EQ(messageOf(schedule), "(accepted)");
}

TEST(ScheduleChecks, TheDayMustExistInASelectedMonth) {
  Schedule schedule = dailySchedule();
  schedule.kind = ScheduleKind::Monthly;
  schedule.monthDay = 30;
  schedule.months = 0x002;  // February
  EXPECT_EQ(messageOf(schedule), "選択した月には 30 日がありません。");
  EXPECT_EQ(inputOf(schedule), ScheduleInput::MonthDay);
  schedule.monthDay = 29;
  EXPECT_EQ(messageOf(schedule), "(accepted)") << "29 February comes in leap years";
  schedule.monthDay = 31;
  schedule.months = 0x002 | 0x008 | 0x020 | 0x100 | 0x400;  // the months without a 31st
  EXPECT_EQ(messageOf(schedule), "選択した月には 31 日がありません。");
  schedule.months |= 0x800;
  EXPECT_EQ(messageOf(schedule), "(accepted)");
  schedule.months = 0x002;
  schedule.monthlyMode = MonthlyMode::WeekdayOfMonth;
  EXPECT_EQ(messageOf(schedule), "(accepted)") << "the day counts only for the day of the month";
}

TEST(ScheduleChecks, NumberRangesOfTheKinds) {
  Schedule schedule = dailySchedule();
  schedule.everyDays = 0;
  EXPECT_EQ(messageOf(schedule), "日数には 1 から 999 までの値を指定してください。");
  schedule.everyDays = kMaxEveryDays + 1;
  EXPECT_EQ(inputOf(schedule), ScheduleInput::EveryDays);
  schedule.everyDays = kMaxEveryDays;
  EXPECT_EQ(messageOf(schedule), "(accepted)");

  schedule.kind = ScheduleKind::Weekly;
  schedule.everyWeeks = 0;
  EXPECT_EQ(messageOf(schedule), "週数には 1 から 99 までの値を指定してください。");
  schedule.everyWeeks = kMaxEveryWeeks + 1;
  EXPECT_EQ(inputOf(schedule), ScheduleInput::EveryWeeks);
  schedule.everyWeeks = kMaxEveryWeeks;
  EXPECT_EQ(messageOf(schedule), "(accepted)");

  schedule.kind = ScheduleKind::Monthly;
  schedule.monthDay = 0;
  EXPECT_EQ(messageOf(schedule), "日には 1 から 31 までの値を指定してください。");
  schedule.monthDay = 32;
  EXPECT_EQ(inputOf(schedule), ScheduleInput::MonthDay);
  schedule.monthDay = 31;
  schedule.monthlyMode = MonthlyMode::WeekdayOfMonth;
  schedule.whichWeek = 0;
  EXPECT_EQ(messageOf(schedule), "週と曜日の指定が正しくありません。");
  schedule.whichWeek = 6;
  EXPECT_EQ(inputOf(schedule), ScheduleInput::WeekOfMonth);
  schedule.whichWeek = kLastWeek;
  schedule.weekday = 7;
  EXPECT_EQ(inputOf(schedule), ScheduleInput::WeekOfMonth);
  schedule.weekday = 6;
  EXPECT_EQ(messageOf(schedule), "(accepted)");

  schedule.kind = ScheduleKind::WhenIdle;
  schedule.idleMinutes = 0;
  EXPECT_EQ(messageOf(schedule), "アイドル時間には 1 から 999 までの値を指定してください。");
  schedule.idleMinutes = kMaxIdleMinutes + 1;
  EXPECT_EQ(inputOf(schedule), ScheduleInput::IdleMinutes);
  schedule.idleMinutes = kMaxIdleMinutes;
  EXPECT_EQ(messageOf(schedule), "(accepted)");
}

TEST(ScheduleChecks, StartTimeAndDates) {
  Schedule schedule = dailySchedule();
  schedule.startHour = 24;
  EXPECT_EQ(messageOf(schedule), "開始時刻が正しくありません。");
  EXPECT_EQ(inputOf(schedule), ScheduleInput::StartTime);
  schedule.startHour = 23;
  schedule.startMinute = 60;
  EXPECT_EQ(inputOf(schedule), ScheduleInput::StartTime);
  schedule.startMinute = 59;

  schedule.startDate = {2026, 2, 29};
  EXPECT_EQ(messageOf(schedule), "開始日が正しくありません。");
  EXPECT_EQ(inputOf(schedule), ScheduleInput::StartDate);
  schedule.startDate = {1600, 12, 31};
  EXPECT_EQ(inputOf(schedule), ScheduleInput::StartDate);
  schedule.kind = ScheduleKind::Once;
  EXPECT_EQ(messageOf(schedule), "実行日が正しくありません。");
  EXPECT_EQ(inputOf(schedule), ScheduleInput::RunOn);
  schedule.startDate = {1601, 1, 1};
  EXPECT_EQ(messageOf(schedule), "(accepted)");
}

TEST(ScheduleChecks, EndDateNotBeforeTheStartDate) {
  Schedule schedule = dailySchedule();  // from 2026-12-08
  schedule.hasEndDate = true;
  schedule.endDate = {2026, 12, 7};
  EXPECT_EQ(messageOf(schedule), "終了日には開始日以降の日付を指定してください。");
  EXPECT_EQ(inputOf(schedule), ScheduleInput::EndDate);
  EXPECT_EQ(validateAdvancedOptions(schedule)->message, "終了日には開始日以降の日付を指定してください。");
  schedule.endDate = {2026, 12, 8};
  EXPECT_EQ(messageOf(schedule), "(accepted)") << "the end day itself still runs";
  schedule.endDate = {2026, 11, 31};
  EXPECT_EQ(messageOf(schedule), "終了日が正しくありません。");
  schedule.hasEndDate = false;
  EXPECT_EQ(messageOf(schedule), "(accepted)") << "an end date that is off is not looked at";
  schedule.hasEndDate = true;
  schedule.endDate = {2020, 1, 1};
  schedule.kind = ScheduleKind::Once;
  EXPECT_EQ(messageOf(schedule), "(accepted)") << "Once takes no end date";
  schedule.kind = ScheduleKind::AtLogon;
  EXPECT_EQ(messageOf(schedule), "(accepted)");
}

TEST(ScheduleChecks, RepetitionWindowLongerThanItsInterval) {
  Schedule schedule = dailySchedule();  // 2:00
  schedule.repeat = true;
  schedule.repeatEvery = 30;
  schedule.repeatUnit = RepeatUnit::Minutes;
  schedule.repeatEnd = RepeatEnd::AfterDuration;
  schedule.durationHours = 0;
  schedule.durationMinutes = 30;
  EXPECT_EQ(messageOf(schedule), "継続時間には繰り返しの間隔より長い時間を指定してください。");
  EXPECT_EQ(inputOf(schedule), ScheduleInput::RepeatUntil);
  schedule.durationMinutes = 31;
  EXPECT_EQ(messageOf(schedule), "(accepted)");
  schedule.durationMinutes = 0;
  EXPECT_EQ(inputOf(schedule), ScheduleInput::RepeatUntil) << "a window of nothing";

  schedule.repeatUnit = RepeatUnit::Hours;
  schedule.repeatEvery = 2;
  schedule.durationHours = 2;
  EXPECT_EQ(messageOf(schedule), "継続時間には繰り返しの間隔より長い時間を指定してください。");
  schedule.durationMinutes = 1;
  EXPECT_EQ(messageOf(schedule), "(accepted)");

  schedule.repeatEnd = RepeatEnd::AtTime;
  schedule.untilHour = 3;  // an hour after the start, every two hours
  schedule.untilMinute = 0;
  EXPECT_EQ(messageOf(schedule), "継続時間には繰り返しの間隔より長い時間を指定してください。");
  schedule.untilHour = 1;  // 23 hours, into the next day
  EXPECT_EQ(messageOf(schedule), "(accepted)");

  schedule.repeat = false;
  schedule.untilHour = 3;
  EXPECT_EQ(messageOf(schedule), "(accepted)") << "no repetition, nothing to compare";
}

TEST(ScheduleChecks, RepetitionRanges) {
  Schedule schedule = dailySchedule();
  schedule.repeat = true;
  schedule.repeatEnd = RepeatEnd::AfterDuration;
  schedule.durationHours = kMaxDurationHours;
  schedule.repeatEvery = 0;
  EXPECT_EQ(messageOf(schedule), "繰り返しの間隔には 1 から 9999 までの値を指定してください。");
  EXPECT_EQ(inputOf(schedule), ScheduleInput::RepeatEvery);
  schedule.repeatEvery = kMaxRepeatEvery + 1;
  EXPECT_EQ(inputOf(schedule), ScheduleInput::RepeatEvery);
  schedule.repeatEvery = kMaxRepeatEvery;
  EXPECT_EQ(messageOf(schedule), "(accepted)");
  schedule.durationHours = kMaxDurationHours + 1;
  EXPECT_EQ(messageOf(schedule), "繰り返しの終了時刻または継続時間が正しくありません。");
  schedule.durationHours = 1;
  schedule.durationMinutes = 60;
  EXPECT_EQ(inputOf(schedule), ScheduleInput::RepeatUntil);
  schedule.repeatEnd = RepeatEnd::AtTime;
  schedule.repeatEvery = 10;
  schedule.untilHour = 24;
  EXPECT_EQ(messageOf(schedule), "繰り返しの終了時刻または継続時間が正しくありません。");
  schedule.kind = ScheduleKind::AtLogon;
  EXPECT_EQ(messageOf(schedule), "(accepted)") << "the event kinds do not repeat";
}

TEST(ScheduleChecks, FirstProblemInPageOrder) {
  Schedule schedule = dailySchedule();
  schedule.kind = ScheduleKind::Weekly;
  schedule.weekdays = 0;
  schedule.hasEndDate = true;
  schedule.endDate = {2020, 1, 1};
  EXPECT_EQ(inputOf(schedule), ScheduleInput::Weekdays) << "the page before its advanced options";
  EXPECT_EQ(validateAdvancedOptions(schedule)->input, ScheduleInput::EndDate)
      << "the advanced options dialog sees only its own";
  EXPECT_TRUE(isAdvancedInput(ScheduleInput::EndDate));
  EXPECT_FALSE(isAdvancedInput(ScheduleInput::Weekdays));
}

// --- Round trips ------------------------------------------------------------------------------

// Every trigger the page expresses, over the kinds, the types' inputs and the advanced options.
std::vector<TaskTrigger> expressibleTriggers() {
  std::vector<TaskTrigger> kinds;
  for (std::uint16_t every : {1, 2, 999}) kinds.push_back(daily(every));
  for (std::uint16_t weeks : {1, 3, 99}) {
    for (std::uint16_t days : {0x01, 0x22, 0x40, 0x7F}) {
      TaskTrigger trigger = from20261208(TriggerType::Weekly);
      trigger.weeksInterval = weeks;
      trigger.daysOfTheWeek = days;
      kinds.push_back(trigger);
    }
  }
  for (int day : {1, 15, 29, 31}) {
    for (std::uint16_t months : {0x001, 0x249, 0x800, 0xFFF}) {
      TaskTrigger trigger = from20261208(TriggerType::MonthlyDate);
      trigger.monthDays = 1u << (day - 1);
      trigger.months = months;
      kinds.push_back(trigger);
    }
  }
  for (std::uint16_t week = 1; week <= 5; ++week) {
    for (int weekday = 0; weekday < 7; ++weekday) {
      TaskTrigger trigger = from20261208(TriggerType::MonthlyDow);
      trigger.whichWeek = week;
      trigger.daysOfTheWeek = static_cast<std::uint16_t>(1u << weekday);
      trigger.months = week == 5 ? 0x041 : 0xFFF;
      kinds.push_back(trigger);
    }
  }
  kinds.push_back(from20261208(TriggerType::Once, 23, 59));
  std::vector<TaskTrigger> out;
  for (const TaskTrigger& kind : kinds) {
    for (int variant = 0; variant < 8; ++variant) {
      TaskTrigger trigger = kind;
      if (variant & 1) {
        trigger.startHour = 0;
        trigger.startMinute = 5;
      }
      if ((variant & 2) && trigger.type != TriggerType::Once) {
        trigger.flags |= kTriggerFlagHasEndDate;
        trigger.endYear = 2027;
        trigger.endMonth = 3;
        trigger.endDay = 31;
      }
      if (variant & 4) {
        trigger.minutesInterval = (variant & 1) ? 45 : 120;
        trigger.minutesDuration = (variant & 1) ? 61 : 1440;
        if (variant & 2) trigger.flags |= kTriggerFlagKillAtDurationEnd;
      }
      out.push_back(trigger);
      TaskTrigger disabled = trigger;
      disabled.flags |= kTriggerFlagDisabled;
      out.push_back(disabled);
    }
  }
  for (TriggerType event : {TriggerType::AtSystemStart, TriggerType::AtLogon, TriggerType::OnIdle}) {
    out.push_back(from20261208(event, 0, 0));
    TaskTrigger disabled = from20261208(event, 17, 3);
    disabled.flags = kTriggerFlagDisabled;
    out.push_back(disabled);
  }
  return out;
}

TEST(ScheduleRoundTrip, EveryExpressibleTriggerComesBackTheSame) {
  const std::vector<TaskTrigger> triggers = expressibleTriggers();
  ASSERT_GT(triggers.size(), 900u);
  for (const TaskTrigger& trigger : triggers) {
    ASSERT_EQ(validateTrigger(trigger), kOk);
    const Schedule schedule = scheduleFromTrigger(trigger);
    EXPECT_EQ(validateSchedule(schedule), std::nullopt) << static_cast<int>(trigger.type);
    const TaskTrigger back = triggerFromSchedule(schedule);
    EXPECT_EQ(back, trigger) << "type " << static_cast<int>(trigger.type) << " flags " << trigger.flags
                             << " interval " << trigger.minutesInterval;
    EXPECT_EQ(scheduleFromTrigger(back), schedule);
  }
}

TEST(ScheduleRoundTrip, EveryAcceptedScheduleGivesATriggerSetTriggerAccepts) {
  for (TaskTrigger trigger : expressibleTriggers()) {
    Schedule schedule = scheduleFromTrigger(trigger);
    for (int kind = 0; kind < kScheduleKindCount; ++kind) {
      schedule.kind = static_cast<ScheduleKind>(kind);
      for (MonthlyMode mode : {MonthlyMode::DayOfMonth, MonthlyMode::WeekdayOfMonth}) {
        schedule.monthlyMode = mode;
        if (validateSchedule(schedule)) continue;
        EXPECT_EQ(validateTrigger(triggerFromSchedule(schedule)), kOk) << kind;
      }
    }
  }
}

}  // namespace
}  // namespace bv::tasks
