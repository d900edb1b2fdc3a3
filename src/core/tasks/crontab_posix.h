// The once-a-minute entry that makes stored tasks run on POSIX: one managed block at the top of
// the user's crontab that starts the tick program, installed when the user's first task is saved
// and removed when the store is empty. Every other line of the crontab stays byte for byte. The
// crontab command and the probe for a running cron daemon are seams. Qt-free.
#pragma once

#include <filesystem>
#include <cstddef>
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
// output through pipes). A crontab longer than `maxBytes` (0: 16 MiB) is never taken as read:
// reading it answers kCrontabTooLarge, so nothing is installed over it.
std::unique_ptr<CrontabCommand> systemCrontab(std::size_t maxBytes = 0);

// The block: the tick each minute, and the tick for start-up tasks at the system's start
// (@reboot), for the store in that folder, both paths quoted for the shell and every "%" escaped
// for cron.
std::string tickBlock(const std::filesystem::path& tickProgram, const std::filesystem::path& storeFolder);

// The crontab with the block at its top and any earlier block taken out; nothing for a BEGIN
// marker without its END. A crontab that does not end in a line feed gets one.
std::optional<std::string> withTickBlock(std::string_view crontab, const std::filesystem::path& tickProgram,
                                         const std::filesystem::path& storeFolder);
// The crontab without the block; nothing for a BEGIN marker without its END.
std::optional<std::string> withoutTickBlock(std::string_view crontab);

// Reads the crontab and installs it with the block, only when that changes it, then writes the
// logon entry. kOk, the command's failure, kCrontabTooLarge, kUnspecifiedFailure for a crontab
// whose block has no END (nothing is installed then), or kAccessDenied when the logon entry
// cannot be written.
HResult installTickEntry(CrontabCommand& crontab, const std::filesystem::path& tickProgram,
                         const std::filesystem::path& storeFolder);
// Likewise, taking the block and the logon entry out when they are the ones for this store; a
// block for another store stays.
HResult removeTickEntry(CrontabCommand& crontab, const std::filesystem::path& storeFolder);

// The logon tasks' start: an XDG autostart entry (the desktop starts it when the user logs on)
// that runs the tick for logon tasks. Written and removed with the crontab block.
inline constexpr std::string_view kLogonEntryName = "brackenvale-tick.desktop";
// $XDG_CONFIG_HOME/autostart/brackenvale-tick.desktop, or ~/.config/autostart/...; empty when
// no home is known.
std::filesystem::path logonEntryFile();
std::string logonEntry(const std::filesystem::path& tickProgram, const std::filesystem::path& storeFolder);
HResult writeLogonEntry(const std::filesystem::path& tickProgram, const std::filesystem::path& storeFolder);
void removeLogonEntry(const std::filesystem::path& storeFolder);

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
