#include "core/tasks/schedule_mapping.h"

#include <bit>

namespace bv::tasks {
namespace {

constexpr int kMinutesPerDay = 24 * 60;

// SYSTEMTIME (through FILETIME) covers the years 1601 to 30827.
bool isTriggerDate(const CivilDate& date) {
  return date.year >= 1601 && date.year <= 30827 && isValidDate(date.year, date.month, date.day);
}

bool isTimeOfDay(int hour, int minute) { return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59; }

// The lowest set bit's index, or `fallback` when none is set.
int lowestBit(std::uint32_t mask, int fallback) { return mask == 0 ? fallback : std::countr_zero(mask); }

// The trigger type the page writes for its kind: one table (kTriggerKinds) read both ways.
TriggerType typeOf(const Schedule& schedule) {
  for (const TriggerKind& kind : kTriggerKinds) {
    if (kind.pageKind == schedule.kind &&
        (kind.pageKind != ScheduleKind::Monthly || kind.monthlyMode == schedule.monthlyMode)) {
      return kind.type;
    }
  }
  return TriggerType::Daily;  // a value outside the enumeration
}

// The week of the month a day falls in, as the n-th weekday counts it: days 1-7 are the first,
// ... 22-28 the fourth; the days after are in the last seven of any month.
int weekOfMonth(int day) { return day > 28 ? kLastWeek : (day - 1) / 7 + 1; }

// Whether one of the months has the day in some year (29 February in leap years).
bool someMonthHasDay(std::uint16_t months, int day) {
  for (int month = 1; month <= 12; ++month) {
    if ((months >> (month - 1) & 1u) != 0 && day <= daysInMonth(2000, month)) return true;
  }
  return false;
}

// The trigger keeps only the window's length: the page shows it as a duration, with the time it
// reaches as the "until" time to switch to.
void showRepetition(Schedule& schedule, const TaskTrigger& trigger) {
  const int startOfDay = trigger.startHour * 60 + trigger.startMinute;
  if (trigger.minutesInterval != 0) {
    schedule.repeat = true;
    const bool wholeHours = trigger.minutesInterval % 60 == 0;
    schedule.repeatUnit = wholeHours ? RepeatUnit::Hours : RepeatUnit::Minutes;
    schedule.repeatEvery =
        static_cast<int>(wholeHours ? trigger.minutesInterval / 60 : trigger.minutesInterval);
    schedule.repeatEnd = RepeatEnd::AfterDuration;
    schedule.durationHours = static_cast<int>(trigger.minutesDuration / 60);
    schedule.durationMinutes = static_cast<int>(trigger.minutesDuration % 60);
    schedule.stopAtEnd = (trigger.flags & kTriggerFlagKillAtDurationEnd) != 0;
    const int until = static_cast<int>((startOfDay + trigger.minutesDuration) % kMinutesPerDay);
    schedule.untilHour = until / 60;
    schedule.untilMinute = until % 60;
  } else {
    // Repetition off: the dialog offers an hour from the start time when it is turned on.
    const int until = (startOfDay + 60) % kMinutesPerDay;
    schedule.untilHour = until / 60;
    schedule.untilMinute = until % 60;
  }
}

std::optional<ScheduleProblem> problem(ScheduleInput input, std::string_view message) {
  return ScheduleProblem{input, std::string(message)};
}

std::optional<ScheduleProblem> validateKindInputs(const Schedule& schedule) {
  switch (schedule.kind) {
    case ScheduleKind::Daily:
      if (schedule.everyDays < 1 || schedule.everyDays > kMaxEveryDays) {
        return problem(ScheduleInput::EveryDays, kScheduleEveryDaysOutOfRange);
      }
      break;
    case ScheduleKind::Weekly:
      if (schedule.everyWeeks < 1 || schedule.everyWeeks > kMaxEveryWeeks) {
        return problem(ScheduleInput::EveryWeeks, kScheduleEveryWeeksOutOfRange);
      }
      if ((schedule.weekdays & kAllWeekdays) == 0)
        return problem(ScheduleInput::Weekdays, kScheduleNoWeekday);
      break;
    case ScheduleKind::Monthly:
      if (schedule.monthlyMode == MonthlyMode::DayOfMonth) {
        if (schedule.monthDay < 1 || schedule.monthDay > 31) {
          return problem(ScheduleInput::MonthDay, kScheduleMonthDayOutOfRange);
        }
      } else if (schedule.whichWeek < 1 || schedule.whichWeek > kLastWeek || schedule.weekday < 0 ||
                 schedule.weekday > 6) {
        return problem(ScheduleInput::WeekOfMonth, kScheduleWeekOfMonthInvalid);
      }
      if ((schedule.months & kAllMonths) == 0) return problem(ScheduleInput::Months, kScheduleNoMonth);
      // A day no selected month has would never run: Task Scheduler 1.0 does not move it to
      // the month's last day.
      if (schedule.monthlyMode == MonthlyMode::DayOfMonth &&
          !someMonthHasDay(schedule.months & kAllMonths, schedule.monthDay)) {
        return ScheduleProblem{ScheduleInput::MonthDay, scheduleDayMissingFromMonths(schedule.monthDay)};
      }
      break;
    case ScheduleKind::Once:
      if (!isTriggerDate(schedule.startDate)) return problem(ScheduleInput::RunOn, kScheduleRunOnInvalid);
      break;
    case ScheduleKind::WhenIdle:
      if (schedule.idleMinutes < 1 || schedule.idleMinutes > kMaxIdleMinutes) {
        return problem(ScheduleInput::IdleMinutes, kScheduleIdleMinutesOutOfRange);
      }
      break;
    case ScheduleKind::AtSystemStart:
    case ScheduleKind::AtLogon:
      break;
  }
  return std::nullopt;
}

}  // namespace

Schedule scheduleFromTrigger(const TaskTrigger& trigger) {
  Schedule schedule;
  const TriggerKind* kind = findTriggerKind(trigger.type);
  schedule.kind = kind != nullptr ? kind->pageKind : ScheduleKind::Daily;
  if (schedule.kind == ScheduleKind::Monthly) schedule.monthlyMode = kind->monthlyMode;
  schedule.startHour = trigger.startHour;
  schedule.startMinute = trigger.startMinute;
  schedule.startDate = trigger.beginDate();
  schedule.hasEndDate = trigger.hasEndDate();
  schedule.endDate = trigger.endDate();
  schedule.enabled = trigger.isEnabled();

  // The inputs of the other kinds start from the begin date.
  const CivilDate begin = trigger.beginDate();
  const bool realBegin = isValidDate(begin.year, begin.month, begin.day);
  const int beginWeekday = realBegin ? weekdayOf(begin) : 1;
  schedule.weekdays = static_cast<std::uint16_t>(1u << beginWeekday);
  schedule.monthDay = realBegin ? begin.day : 1;
  schedule.whichWeek = realBegin ? weekOfMonth(begin.day) : 1;
  schedule.weekday = beginWeekday;

  switch (trigger.type) {
    case TriggerType::Daily:
      schedule.everyDays = trigger.daysInterval;
      break;
    case TriggerType::Weekly:
      schedule.everyWeeks = trigger.weeksInterval;
      schedule.weekdays = trigger.daysOfTheWeek;
      break;
    case TriggerType::MonthlyDate:
      schedule.monthDay = lowestBit(trigger.monthDays, schedule.monthDay - 1) + 1;
      schedule.months = trigger.months;
      break;
    case TriggerType::MonthlyDow:
      schedule.whichWeek = trigger.whichWeek;
      schedule.weekday = lowestBit(trigger.daysOfTheWeek, schedule.weekday);
      schedule.months = trigger.months;
      break;
    default:  // Once and the event kinds use no member of the union
      break;
  }

  showRepetition(schedule, trigger);
  return schedule;
}

std::uint32_t repeatDurationMinutes(const Schedule& schedule) {
  if (schedule.repeatEnd == RepeatEnd::AfterDuration) {
    return static_cast<std::uint32_t>(schedule.durationHours) * 60u +
           static_cast<std::uint32_t>(schedule.durationMinutes);
  }
  const int start = schedule.startHour * 60 + schedule.startMinute;
  const int until = schedule.untilHour * 60 + schedule.untilMinute;
  const int minutes = ((until - start) % kMinutesPerDay + kMinutesPerDay) % kMinutesPerDay;
  return static_cast<std::uint32_t>(minutes == 0 ? kMinutesPerDay : minutes);
}

std::uint32_t repeatIntervalMinutes(const Schedule& schedule) {
  const auto every = static_cast<std::uint32_t>(schedule.repeatEvery);
  return schedule.repeatUnit == RepeatUnit::Hours ? every * 60u : every;
}

TaskTrigger triggerFromSchedule(const Schedule& schedule) {
  TaskTrigger trigger;
  trigger.type = typeOf(schedule);
  trigger.beginYear = static_cast<std::uint16_t>(schedule.startDate.year);
  trigger.beginMonth = static_cast<std::uint16_t>(schedule.startDate.month);
  trigger.beginDay = static_cast<std::uint16_t>(schedule.startDate.day);
  trigger.endYear = static_cast<std::uint16_t>(schedule.endDate.year);
  trigger.endMonth = static_cast<std::uint16_t>(schedule.endDate.month);
  trigger.endDay = static_cast<std::uint16_t>(schedule.endDate.day);
  trigger.startHour = static_cast<std::uint16_t>(schedule.startHour);
  trigger.startMinute = static_cast<std::uint16_t>(schedule.startMinute);
  if (!schedule.enabled) trigger.flags |= kTriggerFlagDisabled;
  if (schedule.hasEndDate && takesEndDate(schedule.kind)) trigger.flags |= kTriggerFlagHasEndDate;
  if (schedule.repeat && !isEventKind(schedule.kind)) {
    trigger.minutesInterval = repeatIntervalMinutes(schedule);
    trigger.minutesDuration = repeatDurationMinutes(schedule);
    if (schedule.stopAtEnd) trigger.flags |= kTriggerFlagKillAtDurationEnd;
  }

  switch (trigger.type) {
    case TriggerType::Daily:
      trigger.daysInterval = static_cast<std::uint16_t>(schedule.everyDays);
      break;
    case TriggerType::Weekly:
      trigger.weeksInterval = static_cast<std::uint16_t>(schedule.everyWeeks);
      trigger.daysOfTheWeek = schedule.weekdays & kAllWeekdays;
      break;
    case TriggerType::MonthlyDate:
      trigger.monthDays =
          (schedule.monthDay >= 1 && schedule.monthDay <= 31) ? 1u << (schedule.monthDay - 1) : 0u;
      trigger.months = schedule.months & kAllMonths;
      break;
    case TriggerType::MonthlyDow:
      trigger.whichWeek = static_cast<std::uint16_t>(schedule.whichWeek);
      trigger.daysOfTheWeek = (schedule.weekday >= 0 && schedule.weekday <= 6)
                                  ? static_cast<std::uint16_t>(1u << schedule.weekday)
                                  : 0;
      trigger.months = schedule.months & kAllMonths;
      break;
    default:  // Once and the event kinds use no member of the union
      break;
  }
  return trigger;
}

bool showsTrigger(const Schedule& schedule, const TaskTrigger& trigger) {
  return schedule == scheduleFromTrigger(trigger);
}

TaskTrigger updatedTrigger(const TaskTrigger& original, const Schedule& schedule) {
  return showsTrigger(schedule, original) ? original : triggerFromSchedule(schedule);
}

Schedule defaultSchedule(const SystemTime& now) {
  TaskTrigger trigger = defaultTrigger(now);
  trigger.flags &= ~kTriggerFlagDisabled;
  return scheduleFromTrigger(trigger);
}

std::string scheduleDayMissingFromMonths(int monthDay) {
  return "選択した月には " + std::to_string(monthDay) + " 日がありません。";
}

std::optional<ScheduleProblem> validateAdvancedOptions(const Schedule& schedule) {
  if (!isTriggerDate(schedule.startDate)) return problem(ScheduleInput::StartDate, kScheduleStartDateInvalid);
  if (schedule.hasEndDate && takesEndDate(schedule.kind)) {
    if (!isTriggerDate(schedule.endDate)) return problem(ScheduleInput::EndDate, kScheduleEndDateInvalid);
    // SetTrigger accepts an end date before the begin date; such a trigger never runs.
    if (schedule.endDate < schedule.startDate)
      return problem(ScheduleInput::EndDate, kScheduleEndBeforeStart);
  }
  if (schedule.repeat && !isEventKind(schedule.kind)) {
    if (schedule.repeatEvery < 1 || schedule.repeatEvery > kMaxRepeatEvery) {
      return problem(ScheduleInput::RepeatEvery, kScheduleRepeatEveryOutOfRange);
    }
    const bool untilValid = schedule.repeatEnd == RepeatEnd::AtTime
                                ? isTimeOfDay(schedule.untilHour, schedule.untilMinute)
                                : schedule.durationHours >= 0 &&
                                      schedule.durationHours <= kMaxDurationHours &&
                                      schedule.durationMinutes >= 0 && schedule.durationMinutes <= 59;
    if (!untilValid) return problem(ScheduleInput::RepeatUntil, kScheduleUntilInvalid);
    if (repeatDurationMinutes(schedule) <= repeatIntervalMinutes(schedule)) {
      return problem(ScheduleInput::RepeatUntil, kScheduleDurationNotLonger);
    }
  }
  return std::nullopt;
}

std::optional<ScheduleProblem> validateSchedule(const Schedule& schedule) {
  // The event kinds keep their start time hidden; it still has to be one SetTrigger accepts.
  if (!isTimeOfDay(schedule.startHour, schedule.startMinute)) {
    return problem(ScheduleInput::StartTime, kScheduleStartTimeInvalid);
  }
  if (auto found = validateKindInputs(schedule)) return found;
  return validateAdvancedOptions(schedule);
}

}  // namespace bv::tasks
