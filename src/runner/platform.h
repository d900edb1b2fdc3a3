// What the runner takes from the operating system, one file per platform: its arguments, the
// environment, where the user's state files go, and the local time. Qt-free.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/mail/mail_message.h"
#include "core/mail/run_notification.h"

namespace bv::runner::platform {

// Keeps what the process holds from leaving it: no core dump (RLIMIT_CORE 0 on POSIX, rather than
// making the process non-dumpable, which would also stop tools that read its memory from the
// inside, the leak checker among them). Nothing to do on Windows, which writes no dump unless
// told to.
void protectProcess();

// The program's arguments after its own name, as UTF-8 words. On POSIX these are argv as the
// starter passed them, empty words included. On Windows they come from the raw command line,
// because the C runtime's splitting merges blanks and so drops the empty arguments of a
// task's parameter string: leading words that begin with "-" are the options, and everything
// after them is one word, the parameter string exactly as the task stores it.
// On POSIX the words are wiped from the process's argument area once copied, so that the
// parameter string (the encoded password among it) no longer shows in /proc/PID/cmdline.
std::vector<std::string> programArguments(int argc, char** argv);

// An environment variable holding a path; nothing when it is unset or empty.
std::optional<std::filesystem::path> environmentPath(const char* name);

// The run log in the user's state folder: $XDG_STATE_HOME/brackenvale/brackenrun.log, with
// ~/.local/state when XDG_STATE_HOME is unset or not absolute (POSIX);
// %LOCALAPPDATA%\Brackenvale\brackenrun.log (Windows). Nothing when no home folder is known.
std::optional<std::filesystem::path> defaultLogFile();

// Appends `bytes` in one write to a file only its user may read: a folder the call creates is
// made for the user alone, a folder that exists is left as it is (it may be a shared one); the
// file is created 0600 and brought back to 0600, never through a link (POSIX). A problem text
// naming the path that failed, or nothing.
std::optional<std::string> appendPrivately(const std::filesystem::path& file, std::string_view bytes);

// On Windows the scheduler starts Brackenrun as the task's account, so the runner mails the
// report itself with that account's settings (%APPDATA%\Brackenvale\mail.conf); what became of
// it (its logText for the log, empty when no mail is set up). On POSIX the tick mails after it has recorded
// the run, and this does nothing.
bool mailsAfterRun();

// Whether standard output is a terminal (someone watching), not a file or a pipe.
bool outputIsTerminal();
mail::RunNotification mailAfterRun(const mail::RunReport& report, mail::RunOutcome previous);

// The current local time as ISO 8601 with the offset from UTC: 2008-01-01T02:00:00+0900.
std::string localTimestamp();

}  // namespace bv::runner::platform
