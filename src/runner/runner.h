// Brackenrun, the command-line runner that scheduled tasks start: it reads the task's seven
// arguments, connects with the program's own data-access layer and runs the backup batch that
// the main window's builder makes. Everything but main() lives here, so tests can run it
// in-process. Qt-free.
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/db/connection_settings.h"
#include "core/maintenance/operations.h"
#include "core/tasks/run_history.h"
#include "core/tasks/task_argument.h"

namespace bv::runner {

// The exit statuses, as `Brackenrun --help` lists them (the executor reads them too).
using ExitStatus = tasks::RunnerExit;

// A command line that is not one of the accepted forms (unknown option, no arguments).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Action { Run, Print, Help, Version };

// The command line split into its options and the task's arguments, before the arguments are
// read.
struct CommandLine {
  Action action = Action::Run;
  std::vector<std::string> arguments;
  // The word "-": the parameter string comes on standard input (see readParameterString).
  bool fromStandardInput = false;
};

// The largest standard input the "-" form reads: 64 KiB.
inline constexpr std::size_t kMaxParameterInput = 64 * 1024;

// The "-" form's parameter string: standard input up to its first line feed (or its end), a
// trailing CR LF removed, the string's own trailing blank kept. Throws UsageError for empty
// input, input over kMaxParameterInput bytes, or a second line that is not empty.
std::string readParameterString(std::istream& in);

// Words beginning with "-" are options: --help (or -h), --print, --version, and "-" alone, which
// takes the parameter string from standard input; the task's arguments never begin with "-".
// The other words are either the seven arguments, one word each, or one word holding the
// parameter string as the task stores it, split at single blanks. Throws UsageError for an
// unknown option, and for "-" together with arguments. With --help or --version the arguments
// are not looked at.
CommandLine splitCommandLine(const std::vector<std::string>& words);

struct Invocation {
  Action action = Action::Run;
  maintenance::BackupRequest backup;  // for Run and Print
};

// splitCommandLine, then the arguments read by scheduling::decodeTaskParameters. Throws
// UsageError or tasks::TaskArgumentError.
Invocation parseCommandLine(const std::vector<std::string>& words);

// What --help prints; names the log file when one is known.
std::string usageText(const std::optional<std::filesystem::path>& logFile);

// Runs Brackenrun on the words after the program name: the parameter string from `in` for the
// "-" form, messages on out and err, one line appended to the log file when one is given (not
// for --help, --version and --print).
ExitStatus run(const std::vector<std::string>& words, std::istream& in, std::ostream& out, std::ostream& err,
               const std::optional<std::filesystem::path>& logFile);

}  // namespace bv::runner
