// The once-a-minute entry that makes stored tasks run on POSIX: one managed block at the top of
// the user's crontab that starts the tick program, installed when the user's first task is saved
// and removed when the store is empty. Every other line of the crontab stays byte for byte. The
// crontab command and the probe for a running cron daemon are seams. Qt-free.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/tasks/task_codes.h"

namespace bv::tasks {

inline constexpr std::string_view kTickBlockBegin =
    "# BEGIN brackenvale-tick (managed by Brackenvale; do not edit)";
inline constexpr std::string_view kTickBlockEnd = "# END brackenvale-tick";
// The tick program's file name, installed beside the program.
inline constexpr std::string_view kTickProgramName = "brackenvale-tick";

// The crontab command of one user.
class CrontabCommand {
 public:
  virtual ~CrontabCommand() = default;
  // The crontab's text, "" when the user has none. kSchedServiceNotInstalled when there is no
  // crontab command at all; another failure with the command's own message.
  virtual HResult read(std::string& text, std::string& message) = 0;
  // Installs the text as the whole crontab.
  virtual HResult install(const std::string& text, std::string& message) = 0;
};

// `crontab -l` and `crontab -` of the running user (a program run without a shell, its input and
// output through pipes).
std::unique_ptr<CrontabCommand> systemCrontab();

// The block's three lines: the tick program at that path, for the store in that folder, both
// paths quoted for the shell and every "%" escaped for cron.
std::string tickBlock(const std::filesystem::path& tickProgram, const std::filesystem::path& storeFolder);

// The crontab with the block at its top and any earlier block taken out; nothing for a BEGIN
// marker without its END. A crontab that does not end in a line feed gets one.
std::optional<std::string> withTickBlock(std::string_view crontab, const std::filesystem::path& tickProgram,
                                         const std::filesystem::path& storeFolder);
// The crontab without the block; nothing for a BEGIN marker without its END.
std::optional<std::string> withoutTickBlock(std::string_view crontab);

// Reads the crontab and installs it with the block, only when that changes it. kOk, the
// command's failure, or kUnspecifiedFailure for a crontab whose block has no END (nothing is
// installed then).
HResult installTickEntry(CrontabCommand& crontab, const std::filesystem::path& tickProgram,
                         const std::filesystem::path& storeFolder);
// Likewise, taking the block out when it is the one for this store; a block for another store
// stays.
HResult removeTickEntry(CrontabCommand& crontab, const std::filesystem::path& storeFolder);

// Whether a cron daemon runs on this computer (a process named cron or crond); tasks saved
// while none runs are stored but never started.
bool cronDaemonRunning();

// Installs another answer for cronDaemonRunning for its lifetime (tests).
class CronProbeOverride {
 public:
  explicit CronProbeOverride(std::function<bool()> probe);
  ~CronProbeOverride();
  CronProbeOverride(const CronProbeOverride&) = delete;
  CronProbeOverride& operator=(const CronProbeOverride&) = delete;

 private:
  std::function<bool()> previous_;
};

}  // namespace bv::tasks
