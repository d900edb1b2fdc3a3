// What a scheduled task's runs came to: the runner's exit statuses and their meaning, one run's
// record as the executor keeps it beside the task (the last 100 runs, newest last), and the text
// that tells a person what happened. Qt-free.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/tasks/system_time.h"
#include "core/tasks/task_codes.h"

namespace bv::tasks {

// Brackenrun's exit statuses, as `Brackenrun --help` lists them.
enum class RunnerExit : int {
  Success = 0,        // the backup (and its verify) ran to the end
  RunnerError = 1,    // the runner itself failed (no code page converter, no memory, ...)
  BadArguments = 2,   // the command line could not be read; nothing was connected
  ConnectFailed = 3,  // the server could not be reached or refused the login
  BackupFailed = 4,   // the batch ran and the server reported an error in it
  ProofFailed = 5,    // the backup succeeded; its test restore or consistency check did not
};

// One run of a task.
struct RunRecord {
  LocalMinute start;          // the minute it was started (the task's last run)
  std::int64_t seconds = 0;   // how long it ran
  std::uint32_t exitCode = 0;
  HResult startError = kOk;   // why it could not be started; kOk when it was
  bool late = false;          // made up after its start was missed
  std::string outcome;        // what happened, in words (runOutcomeText), one line

  bool succeeded() const { return startError == kOk && exitCode == 0; }
  friend bool operator==(const RunRecord&, const RunRecord&) = default;
};

// The runs kept per task.
inline constexpr std::size_t kRunHistoryLength = 100;

// What a run came to, in words: the runner's statuses by their meaning, a program ended at its
// time limit, a program that could not be started (and why), any other program's exit code.
std::string runOutcomeText(std::uint32_t exitCode, HResult startError, bool runner);

// The history file's text: a header line, then one line per run, tab-separated.
std::string formatRunHistory(const std::vector<RunRecord>& runs);
// The runs of a history file; lines that do not read as a run are skipped.
std::vector<RunRecord> parseRunHistory(std::string_view text);
// The history with one more run, keeping the newest kRunHistoryLength.
std::vector<RunRecord> withRun(std::vector<RunRecord> runs, RunRecord run);

// "2026/12/08 02:00:00", as the task list shows a run's start.
std::string runStartText(const RunRecord& run);

}  // namespace bv::tasks
