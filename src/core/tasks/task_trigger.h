// One trigger of a task: TASK_TRIGGER ([MS-TSCH] 2.4.2.11) field by field, with the members of
// its type-dependent union as plain members. The structure's size and reserved words are not
// kept: the file and the API fix them (48 and zeros). What the types share lives in one table,
// kTriggerKinds: the members of the union each uses, how the schedule page shows it, the words
// of an event trigger.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "core/tasks/system_time.h"
#include "core/tasks/task_codes.h"

namespace bv::tasks {

enum class TriggerType : std::uint32_t {
  Once = 0,
  Daily = 1,
  Weekly = 2,
  MonthlyDate = 3,
  MonthlyDow = 4,
  OnIdle = 5,
  AtSystemStart = 6,
  AtLogon = 7,
};

// TASK_TRIGGER_FLAG_* (mstask.h has them as macros).
inline constexpr std::uint32_t kTriggerFlagHasEndDate = 0x1;
inline constexpr std::uint32_t kTriggerFlagKillAtDurationEnd = 0x2;
inline constexpr std::uint32_t kTriggerFlagDisabled = 0x4;

// rgfDaysOfTheWeek: bit n is weekday n, Sunday = 0 (TASK_SUNDAY 0x01 ... TASK_SATURDAY 0x40).
inline constexpr std::uint16_t kAllWeekdays = 0x7F;
// rgfMonths: bit 0 is January (TASK_JANUARY 0x001 ... TASK_DECEMBER 0x800).
inline constexpr std::uint16_t kAllMonths = 0xFFF;
// rgfDays: bit 0 is day 1 ... bit 30 is day 31.
inline constexpr std::uint32_t kAllMonthDays = 0x7FFFFFFF;
// wWhichWeek: TASK_FIRST_WEEK 1 ... TASK_FOURTH_WEEK 4, TASK_LAST_WEEK 5.
inline constexpr std::uint16_t kLastWeek = 5;

struct TaskTrigger {
  std::uint16_t beginYear = 0;
  std::uint16_t beginMonth = 0;
  std::uint16_t beginDay = 0;
  // Read only when kTriggerFlagHasEndDate is set; kept unchanged otherwise.
  std::uint16_t endYear = 0;
  std::uint16_t endMonth = 0;
  std::uint16_t endDay = 0;
  std::uint16_t startHour = 0;
  std::uint16_t startMinute = 0;
  std::uint32_t minutesDuration = 0;  // the repetition window after each start
  std::uint32_t minutesInterval = 0;  // 0 = no repetition
  std::uint32_t flags = 0;            // kTriggerFlag*
  TriggerType type = TriggerType::Once;

  // The union: each type uses the members its TriggerKind names (kTriggerKinds).
  std::uint16_t daysInterval = 0;
  std::uint16_t weeksInterval = 0;
  std::uint16_t daysOfTheWeek = 0;
  std::uint32_t monthDays = 0;
  std::uint16_t months = 0;
  std::uint16_t whichWeek = 0;

  bool isEnabled() const { return (flags & kTriggerFlagDisabled) == 0; }
  bool hasEndDate() const { return (flags & kTriggerFlagHasEndDate) != 0; }
  CivilDate beginDate() const { return {beginYear, beginMonth, beginDay}; }
  CivilDate endDate() const { return {endYear, endMonth, endDay}; }

  friend bool operator==(const TaskTrigger&, const TaskTrigger&) = default;
};

// The kinds of the schedule page's drop-down, in its order (core/tasks/schedule_mapping.h).
enum class ScheduleKind { Daily, Weekly, Monthly, Once, AtSystemStart, AtLogon, WhenIdle };
inline constexpr int kScheduleKindCount = 7;
// Monthly: day N of the month(s), or the n-th weekday of the month(s).
enum class MonthlyMode { DayOfMonth, WeekdayOfMonth };

// The members of the union, as bits of TriggerKind::fields.
using TriggerFields = std::uint32_t;
inline constexpr TriggerFields kDaysIntervalField = 0x01;
inline constexpr TriggerFields kWeeksIntervalField = 0x02;
inline constexpr TriggerFields kDaysOfTheWeekField = 0x04;
inline constexpr TriggerFields kMonthDaysField = 0x08;
inline constexpr TriggerFields kMonthsField = 0x10;
inline constexpr TriggerFields kWhichWeekField = 0x20;

struct TriggerKind {
  TriggerType type;
  TriggerFields fields = 0;  // the members of the union it uses; the others stay zero
  // What the schedule page shows it as; monthlyMode counts for the Monthly kind only.
  ScheduleKind pageKind;
  MonthlyMode monthlyMode = MonthlyMode::DayOfMonth;
  // An event trigger's whole text (GetTriggerString); empty for a time trigger.
  std::string_view eventText = {};

  constexpr bool uses(TriggerFields field) const { return (fields & field) != 0; }
  // The three event kinds have no time of their own.
  constexpr bool isEvent() const { return !eventText.empty(); }
};

// Every type, in the order of their values.
inline constexpr std::array<TriggerKind, 8> kTriggerKinds = {{
    {.type = TriggerType::Once, .pageKind = ScheduleKind::Once},
    {.type = TriggerType::Daily, .fields = kDaysIntervalField, .pageKind = ScheduleKind::Daily},
    {.type = TriggerType::Weekly,
     .fields = kWeeksIntervalField | kDaysOfTheWeekField,
     .pageKind = ScheduleKind::Weekly},
    {.type = TriggerType::MonthlyDate,
     .fields = kMonthDaysField | kMonthsField,
     .pageKind = ScheduleKind::Monthly,
     .monthlyMode = MonthlyMode::DayOfMonth},
    {.type = TriggerType::MonthlyDow,
     .fields = kWhichWeekField | kDaysOfTheWeekField | kMonthsField,
     .pageKind = ScheduleKind::Monthly,
     .monthlyMode = MonthlyMode::WeekdayOfMonth},
    {.type = TriggerType::OnIdle, .pageKind = ScheduleKind::WhenIdle, .eventText = "アイドル時に実行"},
    {.type = TriggerType::AtSystemStart,
     .pageKind = ScheduleKind::AtSystemStart,
     .eventText = "システム起動時に実行"},
    {.type = TriggerType::AtLogon, .pageKind = ScheduleKind::AtLogon, .eventText = "ログオン時に実行"},
}};

constexpr bool isKnownTriggerType(std::uint32_t type) { return type < kTriggerKinds.size(); }
// The kind of a type; null for a value outside the enumeration.
constexpr const TriggerKind* findTriggerKind(TriggerType type) {
  const auto value = static_cast<std::uint32_t>(type);
  return isKnownTriggerType(value) ? &kTriggerKinds[value] : nullptr;
}
constexpr bool isEventTrigger(TriggerType type) {
  const TriggerKind* kind = findTriggerKind(type);
  return kind != nullptr && kind->isEvent();
}

// The union as the three 16-bit words the .JOB file stores and TASK_TRIGGER holds in memory:
// Daily {DaysInterval}, Weekly {WeeksInterval, rgfDaysOfTheWeek}, MonthlyDate {rgfDays low,
// rgfDays high, rgfMonths}, MonthlyDOW {wWhichWeek, rgfDaysOfTheWeek, rgfMonths}.
using TriggerUnionWords = std::array<std::uint16_t, 3>;
// The words of the members the trigger's type uses; the other words zero (a type outside the
// enumeration uses none).
TriggerUnionWords unionWords(const TaskTrigger& trigger);
// Sets the members the trigger's type uses from the words and leaves the others alone: writers
// leave the words a type does not use uninitialised.
void setUnionWords(TaskTrigger& trigger, const TriggerUnionWords& words);

// The checks ITaskTrigger::SetTrigger makes: kOk, or kInvalidArgument when
// - the begin date is not a real date of the years 1601..30827 (SYSTEMTIME's range),
// - the start hour is above 23 or the start minute above 59,
// - kTriggerFlagHasEndDate is set and the end date is not a real date of that range (without
//   the flag the end date is not looked at; an end date before the begin date is accepted),
// - minutesInterval is not 0 and not strictly less than minutesDuration,
// - the type is unknown,
// - Daily: daysInterval is 0; Weekly: weeksInterval is 0;
// - a mask has bits outside its range (weekdays above 0x7F, months above 0xFFF, day bit 31),
// - MonthlyDow: whichWeek is not 1..5.
// Empty masks (no weekday, no day, no month) are accepted; such a trigger never fires, and the
// schedule page refuses them before they get here.
HResult validateTrigger(const TaskTrigger& trigger);

// The trigger ITask::CreateTrigger makes: daily, every day, from today at the current hour and
// minute, disabled until the caller clears kTriggerFlagDisabled.
TaskTrigger defaultTrigger(const SystemTime& now);

}  // namespace bv::tasks
