#include "core/tasks/trigger_text.h"

#include <gtest/gtest.h>

namespace bv::tasks {
namespace {

TaskTrigger from20261208(TriggerType type, std::uint16_t hour = 2, std::uint16_t minute = 0) {
  TaskTrigger trigger;
  trigger.beginYear = 2026;
  trigger.beginMonth = 12;
  trigger.beginDay = 8;
  trigger.startHour = hour;
  trigger.startMinute = minute;
  trigger.type = type;
  return trigger;
}

TEST(TriggerText, DailyEveryDayAndEveryNDays) {
  TaskTrigger trigger = from20261208(TriggerType::Daily);
  trigger.daysInterval = 1;
  EXPECT_EQ(triggerText(trigger), "毎日 2:00 に開始、開始日: 2026/12/08");
  trigger.daysInterval = 3;
  EXPECT_EQ(triggerText(trigger), "3 日ごと 2:00 に開始、開始日: 2026/12/08");
}

TEST(TriggerText, TimeHasNoLeadingZeroOnTheHour) {
  TaskTrigger trigger = from20261208(TriggerType::Daily, 0, 5);
  trigger.daysInterval = 1;
  EXPECT_EQ(triggerText(trigger), "毎日 0:05 に開始、開始日: 2026/12/08");
  trigger.startHour = 23;
  trigger.startMinute = 59;
  trigger.beginYear = 2027;
  trigger.beginMonth = 1;
  trigger.beginDay = 3;
  EXPECT_EQ(triggerText(trigger), "毎日 23:59 に開始、開始日: 2027/01/03");
}

TEST(TriggerText, WeeklyEveryWeekAndEveryNWeeks) {
  TaskTrigger trigger = from20261208(TriggerType::Weekly);
  trigger.weeksInterval = 1;
  trigger.daysOfTheWeek = 0x02 | 0x08 | 0x20;
  EXPECT_EQ(triggerText(trigger), "毎週 月, 水, 金 曜日 2:00 に開始、開始日: 2026/12/08");
  trigger.weeksInterval = 2;
  trigger.daysOfTheWeek = 0x02 | 0x20;
  EXPECT_EQ(triggerText(trigger), "2 週ごと 月, 金 曜日 2:00 に開始、開始日: 2026/12/08");
  trigger.weeksInterval = 1;
  trigger.daysOfTheWeek = 0x01;
  EXPECT_EQ(triggerText(trigger), "毎週 日曜日 2:00 に開始、開始日: 2026/12/08");
  trigger.daysOfTheWeek = 0x7F;
  EXPECT_EQ(triggerText(trigger), "毎週 日, 月, 火, 水, 木, 金, 土 曜日 2:00 に開始、開始日: 2026/12/08");
}

TEST(TriggerText, MonthlyByDate) {
  TaskTrigger trigger = from20261208(TriggerType::MonthlyDate);
  trigger.monthDays = (1u << 0) | (1u << 14);
  trigger.months = 0xFFF;
  EXPECT_EQ(triggerText(trigger), "毎月 1, 15 日 2:00 に開始、開始日: 2026/12/08");
  trigger.monthDays = 1u << 0;
  trigger.months = 0x001 | 0x008 | 0x040 | 0x200;
  EXPECT_EQ(triggerText(trigger), "1, 4, 7, 10 月の 1 日 2:00 に開始、開始日: 2026/12/08");
  trigger.monthDays = 1u << 30;
  trigger.months = 0x800;
  EXPECT_EQ(triggerText(trigger), "12 月の 31 日 2:00 に開始、開始日: 2026/12/08");
}

TEST(TriggerText, MonthlyByWeekday) {
  TaskTrigger trigger = from20261208(TriggerType::MonthlyDow);
  trigger.whichWeek = 1;
  trigger.daysOfTheWeek = 0x02;
  trigger.months = 0xFFF;
  EXPECT_EQ(triggerText(trigger), "毎月 第 1 月曜日 2:00 に開始、開始日: 2026/12/08");
  trigger.whichWeek = kLastWeek;
  trigger.daysOfTheWeek = 0x20;
  EXPECT_EQ(triggerText(trigger), "毎月 最終 金曜日 2:00 に開始、開始日: 2026/12/08");
  trigger.whichWeek = 2;
  trigger.daysOfTheWeek = 0x04;
  trigger.months = 0x001 | 0x040;
  EXPECT_EQ(triggerText(trigger), "1, 7 月の 第 2 火曜日 2:00 に開始、開始日: 2026/12/08");
}

TEST(TriggerText, Once) {
  EXPECT_EQ(triggerText(from20261208(TriggerType::Once)), "2026/12/08 2:00 に 1 回だけ開始");
}

TEST(TriggerText, Repetition) {
  TaskTrigger trigger = from20261208(TriggerType::Daily, 21, 32);
  trigger.daysInterval = 1;
  trigger.minutesInterval = 60;
  trigger.minutesDuration = 24 * 60;
  EXPECT_EQ(triggerText(trigger), "毎日 21:32 から 24 時間、1 時間ごとに開始、開始日: 2026/12/08");
  trigger.minutesInterval = 15;
  trigger.minutesDuration = 90;
  EXPECT_EQ(triggerText(trigger), "毎日 21:32 から 1 時間 30 分、15 分ごとに開始、開始日: 2026/12/08");
  trigger.minutesDuration = 45;
  EXPECT_EQ(triggerText(trigger), "毎日 21:32 から 45 分、15 分ごとに開始、開始日: 2026/12/08");
  // A duration without an interval repeats nothing.
  trigger.minutesInterval = 0;
  EXPECT_EQ(triggerText(trigger), "毎日 21:32 に開始、開始日: 2026/12/08");

  TaskTrigger once = from20261208(TriggerType::Once, 21, 32);
  once.minutesInterval = 120;
  once.minutesDuration = 600;
  EXPECT_EQ(triggerText(once), "2026/12/08 21:32 から 10 時間、2 時間ごとに開始");
}

TEST(TriggerText, EndDate) {
  TaskTrigger trigger = from20261208(TriggerType::Daily);
  trigger.daysInterval = 1;
  trigger.endYear = 2027;
  trigger.endMonth = 1;
  trigger.endDay = 31;
  EXPECT_EQ(triggerText(trigger), "毎日 2:00 に開始、開始日: 2026/12/08");
  trigger.flags = kTriggerFlagHasEndDate;
  EXPECT_EQ(triggerText(trigger), "毎日 2:00 に開始、開始日: 2026/12/08、終了日: 2027/01/31");
  trigger.minutesInterval = 60;
  trigger.minutesDuration = 24 * 60;
  EXPECT_EQ(triggerText(trigger),
            "毎日 2:00 から 24 時間、1 時間ごとに開始、開始日: 2026/12/08、終了日: 2027/01/31");
}

TEST(TriggerText, EventTriggers) {
  EXPECT_EQ(triggerText(from20261208(TriggerType::AtSystemStart)), "システム起動時に実行");
  EXPECT_EQ(triggerText(from20261208(TriggerType::AtLogon)), "ログオン時に実行");
  EXPECT_EQ(triggerText(from20261208(TriggerType::OnIdle)), "アイドル時に実行");
}

TEST(TriggerText, DisabledTriggerReadsTheSame) {
  TaskTrigger trigger = from20261208(TriggerType::Daily);
  trigger.daysInterval = 1;
  const std::string enabled = triggerText(trigger);
  trigger.flags = kTriggerFlagDisabled;
  EXPECT_EQ(triggerText(trigger), enabled);
  EXPECT_EQ(triggerText(defaultTrigger(SystemTime{2026, 12, 2, 8, 2, 0, 0, 0})), enabled);
}

}  // namespace
}  // namespace bv::tasks
