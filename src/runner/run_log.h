// The run log: one line appended per run of Brackenrun, because a scheduled run has nobody
// watching its output. The password never goes into it. Qt-free.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace bv::runner {

// The environment variable that names another log file (tests, or a user who wants one).
inline constexpr const char* kLogFileVariable = "BRACKENRUN_LOG";

// What one run did, as the log line records it.
struct LogEntry {
  std::string time;
  int status = 0;        // the exit status; not written for a start line
  bool started = false;  // a start line: written before the connection is made
  std::string outcome;   // succeeded, bad-arguments, connect-failed, backup-failed, runner-error
  std::string server;
  std::string database;
  std::string backupFile;  // as given, %date% unresolved
  std::string login;       // "windows", or "sql:" + login name
  std::string verify;      // "1", "0", or empty when unknown
  std::string detail;      // the server's or the runner's messages, joined by " / "
  std::string mail;        // what became of the mail report (Windows, mail set up); else empty
  // The first failure of this backup whose mail could not be sent, carried from line to line
  // until a mail names it: its line's time and exit status, "2008-01-01T02:00:00+0900 4".
  std::string unreported;
};

// One line, tab-separated, ending in a line feed:
//   time  status=N  outcome=WORD  server=...  database=...  file=...  login=...  verify=...
//   detail=...  [mail=...]  [unreported=...]
// A start line has "status=-" and "outcome=started", so a run that never ends (killed at its
// time limit) still leaves a trace.
// Tabs, carriage returns and line feeds inside a value become blanks.
std::string formatLogLine(const LogEntry& entry);

// The log file: BRACKENRUN_LOG when it is set and not empty, otherwise the platform's default
// in the user's state folder; nothing when neither is known.
std::optional<std::filesystem::path> logFileFromEnvironment();

// How the last finished run of the same backup (server, database and file) ended, read from
// the log: true for a success, false for a failure, nothing when the log holds none.
std::optional<bool> lastOutcomeOf(const std::filesystem::path& file, const LogEntry& entry);

// The first failure of the same backup whose mail could not be sent, as the last finished run's
// line carries it; nothing when every failure was reported.
struct UnreportedRun {
  std::string time;  // its line's time, as localTimestamp writes it
  int status = 0;
};
std::optional<UnreportedRun> unreportedFailureOf(const std::filesystem::path& file, const LogEntry& entry);

// A path as UTF-8 text, the program's own text on every platform (the narrow form of a path is
// the ANSI code page's on Windows).
std::string pathText(const std::filesystem::path& path);

// Appends the entry's line to the file, creating its folder when missing; the folder is kept
// private to the user (0700) and the file too (0600). Returns why it failed, or nothing on
// success.
std::optional<std::string> appendLogLine(const std::filesystem::path& file, const LogEntry& entry);

}  // namespace bv::runner
