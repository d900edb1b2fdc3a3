// When a task runs: the answer of GetNextRunTime, and the starts the executor must make in a
// window of time. Pure functions of the task's flags, its triggers and a given "now".
//
// Times are local wall-clock minutes (LocalMinute); the executor maps them onto the real clock.
//
// A time trigger yields base times, each at the trigger's start hour and minute:
// - Once: the begin date.
// - Daily: the begin date and every daysInterval-th day after it.
// - Weekly: weeks run Sunday to Saturday; the week holding the begin date and every
//   weeksInterval-th week after it are active; in them every day whose bit is set, from the
//   begin date on.
// - MonthlyDate: in every month whose bit is set, every day whose bit is set and that the month
//   has (no "last day" stand-in for the 29th to 31st).
// - MonthlyDow: in every selected month, every selected weekday in the selected week: the n-th
//   (days 7n-6 to 7n) or, for week 5, the last seven days of the month.
// Base times lie on or after the begin date and, with an end date, on or before the end date
// (inclusive, by the base time's date). Each base time B starts the task at B, B + I, B + 2I, ...
// while k·I < minutesDuration (I = minutesInterval; only B itself when I is 0), so a window may
// run past midnight and overlap the next base time's window; equal starts are one start.
//
// Triggers that validateTrigger refuses (read from a damaged file, say) never start the task.
// Every search ends kSearchHorizonDays after the later of the time asked about and the begin
// date: a trigger whose masks never meet a real day has no further run instead of searching for
// ever. Repetition windows are looked back into by at most as much.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/tasks/system_time.h"
#include "core/tasks/task_codes.h"
#include "core/tasks/task_trigger.h"

namespace bv::tasks {

// About one hundred years.
inline constexpr std::int64_t kSearchHorizonDays = 36525;

struct NextRun {
  HResult code = kOk;
  SystemTime time;  // all zero unless code is kOk

  friend bool operator==(const NextRun&, const NextRun&) = default;
};

// GetNextRunTime with the clock as a parameter:
// 1. taskFlags has kTaskFlagDisabled: kSchedTaskDisabled.
// 2. No trigger without kTriggerFlagDisabled: kSchedTaskNoValidTriggers.
// 3. The earliest start at or after `now` over the enabled time triggers: kOk with that time
//    (seconds and milliseconds 0, day of the week filled in), even when event triggers exist.
// 4. None, and an enabled event trigger exists: kSchedEventTrigger (an event may still start it).
// 5. None otherwise: kSchedTaskNoMoreRuns.
NextRun nextRunTime(std::uint32_t taskFlags, std::span<const TaskTrigger> triggers, LocalMinute now);

// The earliest start of one trigger at or after `from`, whether the trigger is enabled or not;
// nothing for event triggers, invalid triggers and when no start lies within the horizon.
std::optional<LocalMinute> firstStartOf(const TaskTrigger& trigger, LocalMinute from);

// One start the executor is to make.
struct ScheduledStart {
  LocalMinute time;
  // The base time whose repetition window holds this start; the window (and
  // kTriggerFlagKillAtDurationEnd's deadline) ends at base + minutesDuration.
  LocalMinute base;
  std::size_t triggerIndex = 0;  // into the triggers given

  friend auto operator<=>(const ScheduledStart&, const ScheduledStart&) = default;
};

// Every start of the enabled time triggers in (after, upTo], ordered by time, then base, then
// trigger index; nothing for a disabled task. A start two triggers (or two overlapping windows
// of one trigger) share appears once per trigger and base. Keep the window short: the list holds
// every start in it.
std::vector<ScheduledStart> scheduledStartsBetween(std::uint32_t taskFlags,
                                                   std::span<const TaskTrigger> triggers, LocalMinute after,
                                                   LocalMinute upTo);

// The latest start of scheduledStartsBetween(after, upTo] that `accept` takes, nothing when there
// is none. The window may be long (a computer off for months): it is searched back from `upTo` a
// day at a time, so it costs the days up to the start found, never a list of every start.
std::optional<ScheduledStart> latestStartBetween(std::uint32_t taskFlags, std::span<const TaskTrigger> triggers,
                                                 LocalMinute after, LocalMinute upTo,
                                                 const std::function<bool(const ScheduledStart&)>& accept);

// The instants of scheduledStartsBetween, each once, in order.
std::vector<LocalMinute> startsBetween(std::uint32_t taskFlags, std::span<const TaskTrigger> triggers,
                                       LocalMinute after, LocalMinute upTo);

// Whether the task can still run after `after`: an enabled time trigger has a start later than
// it, or an enabled event trigger exists. The task's own disabled flag is not looked at (a
// disabled task keeps its schedule). TASK_FLAG_DELETE_WHEN_DONE deletes a task once this is false.
bool hasRunsAfter(std::span<const TaskTrigger> triggers, LocalMinute after);

}  // namespace bv::tasks
