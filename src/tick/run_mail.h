// The mail after a scheduled run on POSIX: the tick's watcher tells the store owner's mail
// settings what the run came to (also for a run the runner never saw: a start that could not be
// made, a run ended at its time limit), and writes what became of the mail to the task's log and,
// when it could not be sent, to the system log. A mail never changes what the run recorded.
// Qt-free.
#pragma once

#include <filesystem>
#include <optional>

#include "core/tasks/task_store_posix.h"
#include "tick/tick.h"

namespace bv::tick {

// `settingsFile`: none for the running account's own (the store owner's).
void mailAfterRun(const tasks::TaskStore& store, const FinishedRun& run,
                  const std::optional<std::filesystem::path>& settingsFile);

}  // namespace bv::tick
