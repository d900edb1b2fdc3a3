#include "core/tasks/next_run.h"

#include <algorithm>
#include <limits>

#include "core/tasks/task_flags.h"

namespace bv::tasks {
namespace {

constexpr std::int64_t kMinutesPerDay = LocalMinute::kMinutesPerDay;

constexpr std::int64_t floorDiv(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

constexpr std::int64_t ceilDiv(std::int64_t value, std::int64_t divisor) {
  return -floorDiv(-value, divisor);
}

// A valid time trigger, in days and minutes since 1970.
class Schedule {
 public:
  explicit Schedule(const TaskTrigger& trigger)
      : trigger_(trigger),
        beginDay_(daysFromCivil(trigger.beginDate())),
        lastDay_(trigger.hasEndDate() ? daysFromCivil(trigger.endDate())
                                      : std::numeric_limits<std::int64_t>::max()),
        startMinute_(trigger.startHour * 60 + trigger.startMinute),
        interval_(trigger.minutesInterval),
        // The last repetition's distance from its base time; the window end is exclusive.
        lastOffset_(trigger.minutesInterval == 0 ? 0
                                                 : (static_cast<std::int64_t>(trigger.minutesDuration) - 1) /
                                                       trigger.minutesInterval * trigger.minutesInterval) {}

  std::int64_t beginDay() const { return beginDay_; }
  std::int64_t baseTime(std::int64_t day) const { return day * kMinutesPerDay + startMinute_; }
  std::int64_t interval() const { return interval_; }
  std::int64_t lastOffset() const { return lastOffset_; }

  // The earliest day whose base time's window may still hold a start at or after `minute`,
  // looking back no further than the horizon.
  std::int64_t firstWindowDay(std::int64_t minute) const {
    const std::int64_t day = ceilDiv(minute - lastOffset_ - startMinute_, kMinutesPerDay);
    return std::max(day, floorDiv(minute, kMinutesPerDay) - kSearchHorizonDays);
  }

  // The first day in [from, last] that carries a base time.
  std::optional<std::int64_t> firstBaseDay(std::int64_t from, std::int64_t last) const {
    from = std::max(from, beginDay_);
    last = std::min(last, lastDay_);
    if (from > last) return std::nullopt;
    switch (trigger_.type) {
      case TriggerType::Once:
        return from == beginDay_ ? std::optional(beginDay_) : std::nullopt;
      case TriggerType::Daily: {
        const std::int64_t every = trigger_.daysInterval;
        const std::int64_t day = beginDay_ + ceilDiv(from - beginDay_, every) * every;
        return day <= last ? std::optional(day) : std::nullopt;
      }
      case TriggerType::Weekly:
        return firstWeeklyDay(from, last);
      case TriggerType::MonthlyDate:
      case TriggerType::MonthlyDow:
        return firstMonthlyDay(from, last);
      default:  // an event trigger has no days
        return std::nullopt;
    }
  }

 private:
  std::optional<std::int64_t> firstWeeklyDay(std::int64_t from, std::int64_t last) const {
    const unsigned days = trigger_.daysOfTheWeek & kAllWeekdays;
    if (days == 0) return std::nullopt;
    const std::int64_t every = trigger_.weeksInterval;
    const std::int64_t firstSunday = beginDay_ - weekdayOfDays(beginDay_);
    std::int64_t day = from;
    while (day <= last) {
      std::int64_t week = floorDiv(day - firstSunday, 7);
      if (week % every != 0) {
        week += every - week % every;
        day = firstSunday + 7 * week;
        continue;
      }
      const std::int64_t saturday = firstSunday + 7 * week + 6;
      for (; day <= saturday && day <= last; ++day) {
        if (days & (1u << weekdayOfDays(day))) return day;
      }
      day = firstSunday + 7 * (week + every);
    }
    return std::nullopt;
  }

  bool isMonthlyBaseDay(int dayOfMonth, int weekday, int monthLength) const {
    if (trigger_.type == TriggerType::MonthlyDate) {
      return (trigger_.monthDays >> (dayOfMonth - 1)) & 1u;
    }
    if (((trigger_.daysOfTheWeek >> weekday) & 1u) == 0) return false;
    if (trigger_.whichWeek == kLastWeek) return dayOfMonth + 7 > monthLength;
    return (dayOfMonth - 1) / 7 + 1 == trigger_.whichWeek;
  }

  std::optional<std::int64_t> firstMonthlyDay(std::int64_t from, std::int64_t last) const {
    const bool anyDay = trigger_.type == TriggerType::MonthlyDate
                            ? (trigger_.monthDays & kAllMonthDays) != 0
                            : (trigger_.daysOfTheWeek & kAllWeekdays) != 0;
    if (!anyDay || (trigger_.months & kAllMonths) == 0) return std::nullopt;
    std::int64_t day = from;
    while (day <= last) {
      const CivilDate date = civilFromDays(day);
      const int monthLength = daysInMonth(date.year, date.month);
      const std::int64_t nextMonth = day + (monthLength - date.day) + 1;
      if ((trigger_.months >> (date.month - 1)) & 1u) {
        int weekday = weekdayOfDays(day);
        for (int dayOfMonth = date.day; dayOfMonth <= monthLength && day <= last;
             ++dayOfMonth, ++day, weekday = (weekday + 1) % 7) {
          if (isMonthlyBaseDay(dayOfMonth, weekday, monthLength)) return day;
        }
      }
      day = nextMonth;
    }
    return std::nullopt;
  }

  const TaskTrigger& trigger_;
  std::int64_t beginDay_;
  std::int64_t lastDay_;
  std::int64_t startMinute_;
  std::int64_t interval_;
  std::int64_t lastOffset_;
};

bool isTimeTrigger(const TaskTrigger& trigger) {
  return !isEventTrigger(trigger.type) && validateTrigger(trigger) == kOk;
}

std::optional<std::int64_t> firstStart(const Schedule& schedule, std::int64_t from) {
  std::int64_t limitDay = std::max(floorDiv(from, kMinutesPerDay), schedule.beginDay()) + kSearchHorizonDays;
  std::optional<std::int64_t> best;
  for (auto day = schedule.firstBaseDay(schedule.firstWindowDay(from), limitDay); day;
       day = schedule.firstBaseDay(*day + 1, limitDay)) {
    const std::int64_t base = schedule.baseTime(*day);
    if (base >= from) {
      // Later base times start later still.
      if (!best || base < *best) best = base;
      break;
    }
    if (schedule.interval() == 0) continue;
    // A window opened before `from`: its first repetition at or after it, if the window lasts.
    const std::int64_t offset = ceilDiv(from - base, schedule.interval()) * schedule.interval();
    if (offset <= schedule.lastOffset() && (!best || base + offset < *best)) {
      best = base + offset;
      limitDay = std::min(limitDay, floorDiv(*best, kMinutesPerDay));
    }
  }
  return best;
}

}  // namespace

std::optional<LocalMinute> firstStartOf(const TaskTrigger& trigger, LocalMinute from) {
  if (!isTimeTrigger(trigger)) return std::nullopt;
  const auto start = firstStart(Schedule(trigger), from.minutesSinceEpoch());
  if (!start) return std::nullopt;
  return LocalMinute::fromMinutes(*start);
}

NextRun nextRunTime(std::uint32_t taskFlags, std::span<const TaskTrigger> triggers, LocalMinute now) {
  if (taskFlags & kTaskFlagDisabled) return {kSchedTaskDisabled, {}};
  bool anyEnabled = false;
  bool anyEvent = false;
  std::optional<LocalMinute> best;
  for (const TaskTrigger& trigger : triggers) {
    if (!trigger.isEnabled()) continue;
    anyEnabled = true;
    if (isEventTrigger(trigger.type)) {
      anyEvent = true;
      continue;
    }
    const auto start = firstStartOf(trigger, now);
    if (start && (!best || *start < *best)) best = start;
  }
  if (!anyEnabled) return {kSchedTaskNoValidTriggers, {}};
  if (best) return {kOk, best->toSystemTime()};
  return {anyEvent ? kSchedEventTrigger : kSchedTaskNoMoreRuns, {}};
}

std::vector<ScheduledStart> scheduledStartsBetween(std::uint32_t taskFlags,
                                                   std::span<const TaskTrigger> triggers, LocalMinute after,
                                                   LocalMinute upTo) {
  std::vector<ScheduledStart> starts;
  if ((taskFlags & kTaskFlagDisabled) || upTo <= after) return starts;
  const std::int64_t first = after.minutesSinceEpoch() + 1;
  const std::int64_t last = upTo.minutesSinceEpoch();
  for (std::size_t index = 0; index < triggers.size(); ++index) {
    const TaskTrigger& trigger = triggers[index];
    if (!trigger.isEnabled() || !isTimeTrigger(trigger)) continue;
    const Schedule schedule(trigger);
    const std::int64_t lastDay = floorDiv(last, kMinutesPerDay);
    for (auto day = schedule.firstBaseDay(schedule.firstWindowDay(first), lastDay); day;
         day = schedule.firstBaseDay(*day + 1, lastDay)) {
      const std::int64_t base = schedule.baseTime(*day);
      std::int64_t offset = 0;
      if (base < first) {
        if (schedule.interval() == 0) continue;
        offset = ceilDiv(first - base, schedule.interval()) * schedule.interval();
      }
      for (; offset <= schedule.lastOffset() && base + offset <= last;
           offset += std::max<std::int64_t>(schedule.interval(), 1)) {
        starts.push_back({LocalMinute::fromMinutes(base + offset), LocalMinute::fromMinutes(base), index});
        if (schedule.interval() == 0) break;
      }
    }
  }
  std::sort(starts.begin(), starts.end());
  return starts;
}

std::optional<ScheduledStart> latestStartBetween(std::uint32_t taskFlags,
                                                 std::span<const TaskTrigger> triggers, LocalMinute after,
                                                 LocalMinute upTo,
                                                 const std::function<bool(const ScheduledStart&)>& accept) {
  const bool anyTimeTrigger = std::any_of(triggers.begin(), triggers.end(), [](const TaskTrigger& trigger) {
    return trigger.isEnabled() && isTimeTrigger(trigger);
  });
  if ((taskFlags & kTaskFlagDisabled) || !anyTimeTrigger) return std::nullopt;
  for (LocalMinute end = upTo; end > after;) {
    const LocalMinute begin = std::max(after, end.plusDays(-1));
    const std::vector<ScheduledStart> starts = scheduledStartsBetween(taskFlags, triggers, begin, end);
    for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
      if (accept(*it)) return *it;
    }
    end = begin;
  }
  return std::nullopt;
}

std::vector<LocalMinute> startsBetween(std::uint32_t taskFlags, std::span<const TaskTrigger> triggers,
                                       LocalMinute after, LocalMinute upTo) {
  std::vector<LocalMinute> times;
  for (const ScheduledStart& start : scheduledStartsBetween(taskFlags, triggers, after, upTo)) {
    if (times.empty() || times.back() != start.time) times.push_back(start.time);
  }
  return times;
}

bool hasRunsAfter(std::span<const TaskTrigger> triggers, LocalMinute after) {
  for (const TaskTrigger& trigger : triggers) {
    if (!trigger.isEnabled()) continue;
    if (isEventTrigger(trigger.type)) return true;
    if (firstStartOf(trigger, after.plusMinutes(1))) return true;
  }
  return false;
}

}  // namespace bv::tasks
