#include "core/tasks/trigger_text.h"

#include <cstdint>
#include <string_view>

namespace bv::tasks {
namespace {

constexpr std::string_view kWeekdayNames[] = {"日", "月", "火", "水", "木", "金", "土"};

std::string twoDigits(unsigned value) {
  std::string text = std::to_string(value);
  return text.size() < 2 ? "0" + text : text;
}

std::string dateText(unsigned year, unsigned month, unsigned day) {
  std::string year4 = std::to_string(year);
  year4.insert(0, year4.size() < 4 ? 4 - year4.size() : 0, '0');
  return year4 + "/" + twoDigits(month) + "/" + twoDigits(day);
}

std::string timeText(const TaskTrigger& trigger) {
  return std::to_string(trigger.startHour) + ":" + twoDigits(trigger.startMinute);
}

// "1, 4, 7": the numbers (first + bit index) of the set bits, lowest first.
std::string numberList(std::uint32_t mask, int bits, int first) {
  std::string text;
  for (int bit = 0; bit < bits; ++bit) {
    if (((mask >> bit) & 1u) == 0) continue;
    if (!text.empty()) text += ", ";
    text += std::to_string(bit + first);
  }
  return text;
}

// "月曜日" for one day, "月, 水, 金 曜日" for several.
std::string weekdayText(std::uint16_t mask) {
  std::string names;
  int count = 0;
  for (int day = 0; day < 7; ++day) {
    if (((mask >> day) & 1u) == 0) continue;
    if (count++ > 0) names += ", ";
    names += kWeekdayNames[day];
  }
  if (count == 0) return "";
  return count == 1 ? names + "曜日" : names + " 曜日";
}

// "毎月 " or "1, 7 月の ".
std::string monthsText(std::uint16_t months) {
  if ((months & kAllMonths) == kAllMonths) return "毎月 ";
  return numberList(months, 12, 1) + " 月の ";
}

std::string minutesText(std::uint32_t minutes) {
  if (minutes % 60 == 0) return std::to_string(minutes / 60) + " 時間";
  if (minutes < 60) return std::to_string(minutes) + " 分";
  return std::to_string(minutes / 60) + " 時間 " + std::to_string(minutes % 60) + " 分";
}

// The days a time trigger runs on, before its start time.
std::string daysText(const TaskTrigger& trigger) {
  switch (trigger.type) {
    case TriggerType::Daily:
      return trigger.daysInterval == 1 ? "毎日" : std::to_string(trigger.daysInterval) + " 日ごと";
    case TriggerType::Weekly: {
      std::string text =
          trigger.weeksInterval == 1 ? "毎週" : std::to_string(trigger.weeksInterval) + " 週ごと";
      const std::string weekdays = weekdayText(trigger.daysOfTheWeek);
      return weekdays.empty() ? text : text + " " + weekdays;
    }
    case TriggerType::MonthlyDate: {
      const std::string days = numberList(trigger.monthDays, 31, 1);
      return monthsText(trigger.months) + (days.empty() ? "" : days + " 日");
    }
    case TriggerType::MonthlyDow: {
      const std::string week =
          trigger.whichWeek == kLastWeek ? "最終 " : "第 " + std::to_string(trigger.whichWeek) + " ";
      return monthsText(trigger.months) + week + weekdayText(trigger.daysOfTheWeek);
    }
    case TriggerType::Once:
      return dateText(trigger.beginYear, trigger.beginMonth, trigger.beginDay);
    default:
      return "";
  }
}

}  // namespace

std::string triggerText(const TaskTrigger& trigger) {
  const TriggerKind* kind = findTriggerKind(trigger.type);
  if (kind != nullptr && kind->isEvent()) return std::string(kind->eventText);
  std::string text = daysText(trigger) + " " + timeText(trigger);
  const bool repeats = trigger.minutesInterval != 0;
  if (repeats) {
    text += " から " + minutesText(trigger.minutesDuration) + "、" + minutesText(trigger.minutesInterval) +
            "ごとに開始";
  } else if (trigger.type == TriggerType::Once) {
    text += " に 1 回だけ開始";
  } else {
    text += " に開始";
  }
  if (trigger.type != TriggerType::Once) {
    text += "、開始日: " + dateText(trigger.beginYear, trigger.beginMonth, trigger.beginDay);
  }
  if (trigger.hasEndDate()) {
    text += "、終了日: " + dateText(trigger.endYear, trigger.endMonth, trigger.endDay);
  }
  return text;
}

}  // namespace bv::tasks
