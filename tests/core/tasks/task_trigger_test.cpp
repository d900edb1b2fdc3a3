#include "core/tasks/task_trigger.h"

#include <gtest/gtest.h>

namespace bv::tasks {
namespace {

TaskTrigger validDaily() {
  TaskTrigger trigger;
  trigger.beginYear = 2026;
  trigger.beginMonth = 12;
  trigger.beginDay = 8;
  trigger.startHour = 2;
  trigger.type = TriggerType::Daily;
  trigger.daysInterval = 1;
  return trigger;
}

HResult withDurationAndInterval(std::uint32_t duration, std::uint32_t interval) {
  TaskTrigger trigger = validDaily();
  trigger.minutesDuration = duration;
  trigger.minutesInterval = interval;
  return validateTrigger(trigger);
}

TEST(ValidateTrigger, AFreshDailyTriggerIsValid) { EXPECT_EQ(validateTrigger(validDaily()), kOk); }

// Duration / interval: the interval, when set, must be strictly less than the duration.
TEST(ValidateTrigger, RepetitionIntervalMustBeShorterThanTheDuration) {
  EXPECT_EQ(withDurationAndInterval(5, 5), kInvalidArgument);
  EXPECT_EQ(withDurationAndInterval(5, 6), kInvalidArgument);
  EXPECT_EQ(withDurationAndInterval(0, 6), kInvalidArgument);
  EXPECT_EQ(withDurationAndInterval(5, 0), kOk);
  EXPECT_EQ(withDurationAndInterval(6, 5), kOk);
  EXPECT_EQ(withDurationAndInterval(1440, 60), kOk);
  EXPECT_EQ(withDurationAndInterval(0, 0), kOk);
}

TEST(ValidateTrigger, StartTimeOfDay) {
  TaskTrigger trigger = validDaily();
  trigger.startHour = 23;
  trigger.startMinute = 59;
  EXPECT_EQ(validateTrigger(trigger), kOk);
  trigger.startHour = 24;
  trigger.startMinute = 0;
  EXPECT_EQ(validateTrigger(trigger), kInvalidArgument);
  trigger.startHour = 0;
  trigger.startMinute = 60;
  EXPECT_EQ(validateTrigger(trigger), kInvalidArgument);
}

TEST(ValidateTrigger, BeginDateMustBeARealDay) {
  struct Case {
    std::uint16_t year, month, day;
    HResult expected;
  };
  const Case cases[] = {
      {2026, 2, 30, kInvalidArgument},
      {2026, 2, 29, kInvalidArgument},
      {2028, 2, 29, kOk},
      {2026, 0, 1, kInvalidArgument},
      {2026, 13, 1, kInvalidArgument},
      {2026, 1, 0, kInvalidArgument},
      {2026, 1, 32, kInvalidArgument},
      {2026, 1, 31, kOk},
      {1600, 12, 31, kInvalidArgument},
      {1601, 1, 1, kOk},
      {30827, 12, 31, kOk},
      {30828, 1, 1, kInvalidArgument},
  };
  for (const Case& c : cases) {
    TaskTrigger trigger = validDaily();
    trigger.beginYear = c.year;
    trigger.beginMonth = c.month;
    trigger.beginDay = c.day;
    EXPECT_EQ(validateTrigger(trigger), c.expected) << c.year << "-" << c.month << "-" << c.day;
  }
}

TEST(ValidateTrigger, EndDateCountsOnlyWithItsFlag) {
  TaskTrigger trigger = validDaily();
  trigger.endYear = 2027;
  trigger.endMonth = 200;
  trigger.endDay = 1;
  EXPECT_EQ(validateTrigger(trigger), kOk);
  trigger.flags = kTriggerFlagHasEndDate;
  EXPECT_EQ(validateTrigger(trigger), kInvalidArgument);
  trigger.endMonth = 2;
  trigger.endDay = 30;
  EXPECT_EQ(validateTrigger(trigger), kInvalidArgument);
  trigger.endDay = 28;
  EXPECT_EQ(validateTrigger(trigger), kOk);
  // Before the begin date: accepted (the trigger then never fires).
  trigger.endYear = 2020;
  EXPECT_EQ(validateTrigger(trigger), kOk);
}

TEST(ValidateTrigger, IntervalsOfZeroDaysOrWeeks) {
  TaskTrigger trigger = validDaily();
  trigger.daysInterval = 0;
  EXPECT_EQ(validateTrigger(trigger), kInvalidArgument);
  trigger.daysInterval = 65535;
  EXPECT_EQ(validateTrigger(trigger), kOk);

  trigger.type = TriggerType::Weekly;
  trigger.daysOfTheWeek = 0x02;
  trigger.weeksInterval = 0;
  EXPECT_EQ(validateTrigger(trigger), kInvalidArgument);
  trigger.weeksInterval = 1;
  EXPECT_EQ(validateTrigger(trigger), kOk);
}

TEST(ValidateTrigger, MasksMustStayInTheirRange) {
  TaskTrigger weekly = validDaily();
  weekly.type = TriggerType::Weekly;
  weekly.weeksInterval = 1;
  weekly.daysOfTheWeek = 0x7F;
  EXPECT_EQ(validateTrigger(weekly), kOk);
  weekly.daysOfTheWeek = 0x80;
  EXPECT_EQ(validateTrigger(weekly), kInvalidArgument);
  weekly.daysOfTheWeek = 0;  // no day: accepted, never fires
  EXPECT_EQ(validateTrigger(weekly), kOk);

  TaskTrigger byDate = validDaily();
  byDate.type = TriggerType::MonthlyDate;
  byDate.monthDays = 0x7FFFFFFF;
  byDate.months = 0xFFF;
  EXPECT_EQ(validateTrigger(byDate), kOk);
  byDate.monthDays = 0x80000000;
  EXPECT_EQ(validateTrigger(byDate), kInvalidArgument);
  byDate.monthDays = 1;
  byDate.months = 0x1000;
  EXPECT_EQ(validateTrigger(byDate), kInvalidArgument);
  byDate.months = 0;
  EXPECT_EQ(validateTrigger(byDate), kOk);

  TaskTrigger byWeekday = validDaily();
  byWeekday.type = TriggerType::MonthlyDow;
  byWeekday.daysOfTheWeek = 0x20;
  byWeekday.months = 0xFFF;
  for (std::uint16_t week : {0, 1, 4, 5, 6}) {
    byWeekday.whichWeek = week;
    EXPECT_EQ(validateTrigger(byWeekday), week >= 1 && week <= 5 ? kOk : kInvalidArgument) << week;
  }
  byWeekday.whichWeek = 1;
  byWeekday.daysOfTheWeek = 0x100;
  EXPECT_EQ(validateTrigger(byWeekday), kInvalidArgument);
  byWeekday.daysOfTheWeek = 0x01;
  byWeekday.months = 0xF000;
  EXPECT_EQ(validateTrigger(byWeekday), kInvalidArgument);
}

TEST(ValidateTrigger, EventTriggersAndUnknownTypes) {
  for (TriggerType type :
       {TriggerType::Once, TriggerType::OnIdle, TriggerType::AtSystemStart, TriggerType::AtLogon}) {
    TaskTrigger trigger = validDaily();
    trigger.type = type;
    trigger.daysInterval = 0;  // not used by these types
    EXPECT_EQ(validateTrigger(trigger), kOk) << static_cast<int>(type);
  }
  TaskTrigger unknown = validDaily();
  unknown.type = static_cast<TriggerType>(8);
  EXPECT_EQ(validateTrigger(unknown), kInvalidArgument);
}

// The union's words are TRIGGER_TYPE_UNION's ([MS-TSCH] 2.4.2.11): each type writes and reads
// only its own members, the rest of the union is zero on the way out and left alone on the way in.
TEST(TriggerUnionWords, EachTypeCarriesItsOwnMembersInItsWords) {
  struct Case {
    TriggerType type;
    TriggerUnionWords words;
  };
  const Case cases[] = {
      {TriggerType::Once, {0, 0, 0}},
      {TriggerType::Daily, {0x11, 0, 0}},
      {TriggerType::Weekly, {0x22, 0x33, 0}},
      {TriggerType::MonthlyDate, {0x5544, 0x7766, 0x88}},
      {TriggerType::MonthlyDow, {0x99, 0x33, 0x88}},
      {TriggerType::OnIdle, {0, 0, 0}},
      {TriggerType::AtSystemStart, {0, 0, 0}},
      {TriggerType::AtLogon, {0, 0, 0}},
      {static_cast<TriggerType>(8), {0, 0, 0}},
  };
  for (const Case& c : cases) {
    TaskTrigger full;
    full.type = c.type;
    full.daysInterval = 0x11;
    full.weeksInterval = 0x22;
    full.daysOfTheWeek = 0x33;
    full.monthDays = 0x77665544;
    full.months = 0x88;
    full.whichWeek = 0x99;
    EXPECT_EQ(unionWords(full), c.words) << static_cast<int>(c.type);

    // Reading the words back changes nothing, not even the members the type does not use.
    TaskTrigger read = full;
    setUnionWords(read, c.words);
    EXPECT_EQ(read, full) << static_cast<int>(c.type);
    TaskTrigger written;
    written.type = c.type;
    setUnionWords(written, c.words);
    EXPECT_EQ(unionWords(written), c.words) << static_cast<int>(c.type);
  }
}

TEST(DefaultTrigger, IsADisabledDailyTriggerFromNow) {
  const TaskTrigger trigger = defaultTrigger(SystemTime{2026, 12, 2, 8, 1, 41, 33, 250});
  TaskTrigger expected;
  expected.beginYear = 2026;
  expected.beginMonth = 12;
  expected.beginDay = 8;
  expected.startHour = 1;
  expected.startMinute = 41;
  expected.flags = kTriggerFlagDisabled;
  expected.type = TriggerType::Daily;
  expected.daysInterval = 1;
  EXPECT_EQ(trigger, expected);
  EXPECT_FALSE(trigger.isEnabled());
  EXPECT_EQ(validateTrigger(trigger), kOk);
}

}  // namespace
}  // namespace bv::tasks
