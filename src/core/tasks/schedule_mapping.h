// The schedule page's inputs for one schedule, and how they map onto a trigger: what the page
// shows for a trigger (scheduleFromTrigger), the trigger its inputs give (triggerFromSchedule),
// the checks the page makes before it lets the user leave with OK, and the schedule a task
// without triggers opens on. Qt-free, so that the mapping is tested without widgets.
//
// The page expresses a trigger exactly, and a round trip through it gives the same trigger,
// when all of these hold:
// - the members of the trigger's union that its type does not use are zero (as the .JOB file,
//   SetTrigger's callers and CreateTrigger leave them);
// - MonthlyDate names exactly one day, MonthlyDow exactly one weekday;
// - without repetition (minutesInterval 0) minutesDuration is 0 and
//   kTriggerFlagKillAtDurationEnd is clear;
// - Once and the event triggers have no kTriggerFlagHasEndDate, and the event triggers no
//   repetition and no kill flag (the page offers neither for them);
// - every number is within the page's range below.
// What the page shows for another trigger, and so writes back once the user changed that
// schedule: the lowest of several month days or weekdays (the begin date's when none is set), no
// duration or kill flag without repetition, no end date for Once and the event triggers, no
// repetition for the event triggers. A schedule the user did not change gives its trigger back
// as it was (updatedTrigger), so merely opening the page loses nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/tasks/system_time.h"
#include "core/tasks/task_trigger.h"

namespace bv::tasks {

// The page's kinds (ScheduleKind, MonthlyMode) are the trigger kinds' own (kTriggerKinds).
constexpr bool isEventKind(ScheduleKind kind) {
  for (const TriggerKind& trigger : kTriggerKinds) {
    if (trigger.pageKind == kind) return trigger.isEvent();
  }
  return false;
}
// The kinds whose trigger may carry an end date: Once runs on its one day anyway.
constexpr bool takesEndDate(ScheduleKind kind) {
  return kind == ScheduleKind::Daily || kind == ScheduleKind::Weekly || kind == ScheduleKind::Monthly;
}

enum class RepeatUnit { Minutes, Hours };
// Repetition ends at a time of day (the next day when it is not after the start time) or after
// a duration; the trigger keeps only the duration.
enum class RepeatEnd { AtTime, AfterDuration };

// The ranges of the page's number boxes.
inline constexpr int kMaxEveryDays = 999;
inline constexpr int kMaxEveryWeeks = 99;
inline constexpr int kMaxIdleMinutes = 999;
inline constexpr int kMaxRepeatEvery = 9999;  // minutes or hours
inline constexpr int kMaxDurationHours = 9999;
// The Idle Wait of a new task ([MS-TSCH] 2.4.1): minutes the computer must be idle.
inline constexpr int kDefaultIdleMinutes = 10;

struct Schedule {
  ScheduleKind kind = ScheduleKind::Daily;
  int startHour = 0;
  int startMinute = 0;

  int everyDays = 1;           // Daily
  int everyWeeks = 1;          // Weekly
  std::uint16_t weekdays = 0;  // Weekly: bit n is weekday n, Sunday = 0 (rgfDaysOfTheWeek)
  MonthlyMode monthlyMode = MonthlyMode::DayOfMonth;
  int monthDay = 1;                   // Monthly by day: 1..31
  int whichWeek = 1;                  // Monthly by weekday: 1..4, kLastWeek
  int weekday = 1;                    // Monthly by weekday: 0 = Sunday ... 6 = Saturday
  std::uint16_t months = kAllMonths;  // Monthly: bit 0 is January (rgfMonths)
  // WhenIdle: the task's Idle Wait. A task field, not a trigger field: the trigger does not
  // carry it, so the mappings below leave it at the default.
  int idleMinutes = kDefaultIdleMinutes;

  // The advanced options.
  CivilDate startDate;  // the begin date; for Once the "run on" date
  bool hasEndDate = false;
  // Kept as the trigger has it while hasEndDate is off (the trigger keeps it unread).
  CivilDate endDate{0, 0, 0};
  bool repeat = false;
  int repeatEvery = 10;
  RepeatUnit repeatUnit = RepeatUnit::Minutes;
  RepeatEnd repeatEnd = RepeatEnd::AtTime;
  int untilHour = 0;
  int untilMinute = 0;
  int durationHours = 1;
  int durationMinutes = 0;
  bool stopAtEnd = false;  // kTriggerFlagKillAtDurationEnd

  // The page has no control for it; a trigger's disabled flag passes through unchanged.
  bool enabled = true;

  friend bool operator==(const Schedule&, const Schedule&) = default;
};

// What the page shows for a trigger. The inputs the trigger's type does not use start from its
// begin date (the weekday, the day of the month and its week), so that switching the kind on
// the page offers the days around the start date.
Schedule scheduleFromTrigger(const TaskTrigger& trigger);

// The trigger of a schedule, with the union members its type does not use zero. The schedule
// should have passed validateSchedule; otherwise the trigger may fail validateTrigger.
TaskTrigger triggerFromSchedule(const Schedule& schedule);

// Whether the schedule is still what the page shows for the trigger (the user changed nothing).
bool showsTrigger(const Schedule& schedule, const TaskTrigger& trigger);

// The trigger to write back for a schedule shown for `original`: `original` itself while the
// schedule still shows it, otherwise triggerFromSchedule.
TaskTrigger updatedTrigger(const TaskTrigger& original, const Schedule& schedule);

// The repetition window in minutes (MinutesDuration): until a time, the minutes from the start
// time to it, a whole day when it is not after the start time; or the duration h·60 + m.
std::uint32_t repeatDurationMinutes(const Schedule& schedule);
// The minutes between repeated starts (MinutesInterval): hours count 60 minutes.
std::uint32_t repeatIntervalMinutes(const Schedule& schedule);

// The schedule a task without triggers opens on: CreateTrigger's trigger (daily, every day,
// from today at the current hour and minute), enabled.
Schedule defaultSchedule(const SystemTime& now);

// The messages of the page's checks.
inline constexpr std::string_view kScheduleStartTimeInvalid = "開始時刻が正しくありません。";
inline constexpr std::string_view kScheduleEveryDaysOutOfRange =
    "日数には 1 から 999 までの値を指定してください。";
inline constexpr std::string_view kScheduleEveryWeeksOutOfRange =
    "週数には 1 から 99 までの値を指定してください。";
inline constexpr std::string_view kScheduleNoWeekday = "曜日を 1 つ以上選択してください。";
inline constexpr std::string_view kScheduleMonthDayOutOfRange =
    "日には 1 から 31 までの値を指定してください。";
inline constexpr std::string_view kScheduleWeekOfMonthInvalid = "週と曜日の指定が正しくありません。";
inline constexpr std::string_view kScheduleNoMonth = "月を 1 つ以上選択してください。";
// "選択した月には 31 日がありません。"
std::string scheduleDayMissingFromMonths(int monthDay);
inline constexpr std::string_view kScheduleRunOnInvalid = "実行日が正しくありません。";
inline constexpr std::string_view kScheduleIdleMinutesOutOfRange =
    "アイドル時間には 1 から 999 までの値を指定してください。";
inline constexpr std::string_view kScheduleStartDateInvalid = "開始日が正しくありません。";
inline constexpr std::string_view kScheduleEndDateInvalid = "終了日が正しくありません。";
inline constexpr std::string_view kScheduleEndBeforeStart = "終了日には開始日以降の日付を指定してください。";
inline constexpr std::string_view kScheduleRepeatEveryOutOfRange =
    "繰り返しの間隔には 1 から 9999 までの値を指定してください。";
inline constexpr std::string_view kScheduleUntilInvalid =
    "繰り返しの終了時刻または継続時間が正しくありません。";
inline constexpr std::string_view kScheduleDurationNotLonger =
    "継続時間には繰り返しの間隔より長い時間を指定してください。";

// Which input a refusal points at (the page focuses it).
enum class ScheduleInput {
  StartTime,
  EveryDays,
  EveryWeeks,
  Weekdays,
  MonthDay,
  WeekOfMonth,
  Months,
  RunOn,
  IdleMinutes,
  // The advanced options.
  StartDate,
  EndDate,
  RepeatEvery,
  RepeatUntil,
};

constexpr bool isAdvancedInput(ScheduleInput input) { return input >= ScheduleInput::StartDate; }

struct ScheduleProblem {
  ScheduleInput input;
  std::string message;
};

// The checks of the advanced options dialog, in its order: the start date is a day of the
// years 1601..30827; an end date (for the kinds that take one) is such a day and not before the
// start date; a repetition (time kinds) repeats every 1..kMaxRepeatEvery units, ends at a real
// time or after 0..kMaxDurationHours hours and 0..59 minutes, and its window is strictly longer
// than its interval (SetTrigger refuses the rest). The first failure, or nothing.
std::optional<ScheduleProblem> validateAdvancedOptions(const Schedule& schedule);

// The checks of the page, in its order: the start time, the inputs of the kind
// (the ranges of the number boxes, at least one weekday for Weekly, at least one month for
// Monthly and a day that one of them has, a real "run on" date for Once), then the advanced
// options. A schedule that passes gives a trigger that passes validateTrigger.
std::optional<ScheduleProblem> validateSchedule(const Schedule& schedule);

}  // namespace bv::tasks
