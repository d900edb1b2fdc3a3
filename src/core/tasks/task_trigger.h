// One trigger of a task: TASK_TRIGGER ([MS-TSCH] 2.4.2.11) field by field, with the members of
// its type-dependent union as plain members. The structure's size and reserved words are not
// kept: the file and the API fix them (48 and zeros).
#pragma once

#include <cstdint>

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

// The three event kinds have no time of their own.
constexpr bool isEventTrigger(TriggerType type) {
  return type == TriggerType::OnIdle || type == TriggerType::AtSystemStart || type == TriggerType::AtLogon;
}
constexpr bool isKnownTriggerType(std::uint32_t type) { return type <= 7; }

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

  // The union, by type. Daily: daysInterval. Weekly: weeksInterval, daysOfTheWeek.
  // MonthlyDate: monthDays, months. MonthlyDow: whichWeek, daysOfTheWeek, months.
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
