#include "core/tasks/task_trigger.h"

namespace bv::tasks {
namespace {

// SYSTEMTIME (through FILETIME) covers the years 1601 to 30827.
bool isSystemTimeDate(int year, int month, int day) {
  return year >= 1601 && year <= 30827 && isValidDate(year, month, day);
}

constexpr bool inValueOrder() {
  for (std::size_t i = 0; i < kTriggerKinds.size(); ++i) {
    if (static_cast<std::size_t>(kTriggerKinds[i].type) != i) return false;
  }
  return true;
}
static_assert(inValueOrder(), "findTriggerKind indexes kTriggerKinds by the type's value");

// The ranges of the members the type uses; an unknown type is refused.
bool unionMembersValid(const TaskTrigger& trigger) {
  const TriggerKind* kind = findTriggerKind(trigger.type);
  if (kind == nullptr) return false;
  return (!kind->uses(kDaysIntervalField) || trigger.daysInterval != 0) &&
         (!kind->uses(kWeeksIntervalField) || trigger.weeksInterval != 0) &&
         (!kind->uses(kDaysOfTheWeekField) || (trigger.daysOfTheWeek & ~kAllWeekdays) == 0) &&
         (!kind->uses(kMonthDaysField) || (trigger.monthDays & ~kAllMonthDays) == 0) &&
         (!kind->uses(kMonthsField) || (trigger.months & ~kAllMonths) == 0) &&
         (!kind->uses(kWhichWeekField) || (trigger.whichWeek >= 1 && trigger.whichWeek <= kLastWeek));
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
  if (!unionMembersValid(trigger)) return kInvalidArgument;
  return kOk;
}

// Each member has the same words in every type that uses it.
TriggerUnionWords unionWords(const TaskTrigger& trigger) {
  TriggerUnionWords words{};
  const TriggerKind* kind = findTriggerKind(trigger.type);
  if (kind == nullptr) return words;
  if (kind->uses(kDaysIntervalField)) words[0] = trigger.daysInterval;
  if (kind->uses(kWeeksIntervalField)) words[0] = trigger.weeksInterval;
  if (kind->uses(kWhichWeekField)) words[0] = trigger.whichWeek;
  if (kind->uses(kMonthDaysField)) {
    words[0] = static_cast<std::uint16_t>(trigger.monthDays & 0xFFFF);
    words[1] = static_cast<std::uint16_t>(trigger.monthDays >> 16);
  }
  if (kind->uses(kDaysOfTheWeekField)) words[1] = trigger.daysOfTheWeek;
  if (kind->uses(kMonthsField)) words[2] = trigger.months;
  return words;
}

void setUnionWords(TaskTrigger& trigger, const TriggerUnionWords& words) {
  const TriggerKind* kind = findTriggerKind(trigger.type);
  if (kind == nullptr) return;
  if (kind->uses(kDaysIntervalField)) trigger.daysInterval = words[0];
  if (kind->uses(kWeeksIntervalField)) trigger.weeksInterval = words[0];
  if (kind->uses(kWhichWeekField)) trigger.whichWeek = words[0];
  if (kind->uses(kMonthDaysField)) {
    trigger.monthDays = static_cast<std::uint32_t>(words[0]) | (static_cast<std::uint32_t>(words[1]) << 16);
  }
  if (kind->uses(kDaysOfTheWeekField)) trigger.daysOfTheWeek = words[1];
  if (kind->uses(kMonthsField)) trigger.months = words[2];
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
