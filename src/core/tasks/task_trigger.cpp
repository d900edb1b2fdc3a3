#include "core/tasks/task_trigger.h"

namespace bv::tasks {
namespace {

// SYSTEMTIME (through FILETIME) covers the years 1601 to 30827.
bool isSystemTimeDate(int year, int month, int day) {
  return year >= 1601 && year <= 30827 && isValidDate(year, month, day);
}

bool typeSpecificFieldsValid(const TaskTrigger& trigger) {
  switch (trigger.type) {
    case TriggerType::Once:
    case TriggerType::OnIdle:
    case TriggerType::AtSystemStart:
    case TriggerType::AtLogon:
      return true;
    case TriggerType::Daily:
      return trigger.daysInterval != 0;
    case TriggerType::Weekly:
      return trigger.weeksInterval != 0 && (trigger.daysOfTheWeek & ~kAllWeekdays) == 0;
    case TriggerType::MonthlyDate:
      return (trigger.monthDays & ~kAllMonthDays) == 0 && (trigger.months & ~kAllMonths) == 0;
    case TriggerType::MonthlyDow:
      return trigger.whichWeek >= 1 && trigger.whichWeek <= kLastWeek &&
             (trigger.daysOfTheWeek & ~kAllWeekdays) == 0 && (trigger.months & ~kAllMonths) == 0;
  }
  return false;  // a value outside the enumeration
}

}  // namespace

HResult validateTrigger(const TaskTrigger& trigger) {
  if (!isSystemTimeDate(trigger.beginYear, trigger.beginMonth, trigger.beginDay)) {
    return kInvalidArgument;
  }
  if (trigger.startHour > 23 || trigger.startMinute > 59) return kInvalidArgument;
  if (trigger.hasEndDate() && !isSystemTimeDate(trigger.endYear, trigger.endMonth, trigger.endDay)) {
    return kInvalidArgument;
  }
  if (trigger.minutesInterval != 0 && trigger.minutesInterval >= trigger.minutesDuration) {
    return kInvalidArgument;
  }
  if (!typeSpecificFieldsValid(trigger)) return kInvalidArgument;
  return kOk;
}

TaskTrigger defaultTrigger(const SystemTime& now) {
  TaskTrigger trigger;
  trigger.beginYear = now.year;
  trigger.beginMonth = now.month;
  trigger.beginDay = now.day;
  trigger.startHour = now.hour;
  trigger.startMinute = now.minute;
  trigger.flags = kTriggerFlagDisabled;
  trigger.type = TriggerType::Daily;
  trigger.daysInterval = 1;
  return trigger;
}

}  // namespace bv::tasks
