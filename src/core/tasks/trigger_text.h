// The scheduler's own wording of a trigger (ITaskTrigger::GetTriggerString), in Japanese:
// dates yyyy/MM/dd, times H:mm, weekdays 日 月 火 水 木 金 土.
#pragma once

#include <string>

#include "core/tasks/task_trigger.h"

namespace bv::tasks {

// For example "毎日 2:00 に開始、開始日: 2026/12/08",
// "2 週ごと 月, 金 曜日 2:00 に開始、開始日: 2026/12/08",
// "毎月 最終 金曜日 2:00 に開始、開始日: 2026/12/08", "2026/12/08 2:00 に 1 回だけ開始",
// "毎日 21:32 から 24 時間、1 時間ごとに開始、開始日: 2026/12/08", "ログオン時に実行".
// One weekday is joined to 曜日 ("月曜日"), several are listed before it ("月, 金 曜日").
// A repetition ("から <duration>、<interval>ごとに開始") replaces "に開始" and is always
// given as a duration. An end date adds "、終了日: yyyy/MM/dd" to time triggers. The event
// triggers name their event and no dates. A disabled trigger reads the same.
std::string triggerText(const TaskTrigger& trigger);

}  // namespace bv::tasks
