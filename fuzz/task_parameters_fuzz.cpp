// The runner's reading of a scheduled task's parameter string: standard input of the "-" form
// (readParameterString), the split at single blanks, the seven arguments and the code page 932
// decoding of each (splitTaskParameters, readTaskParameters, decodeTaskArgument); and
// Brackenrun's own road through them, "Brackenrun --print -", which connects to nothing.
//
// What must hold: a parameter string the runner cannot read is refused with its usage or
// argument error and never crashes it; what it reads, written again by buildTaskParameters (as
// the main window writes it), reads back the same; every argument that decodes encodes again
// to an argument that decodes to the same text; the log line stays one line.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/tasks/task_argument.h"
#include "fuzz_check.h"
#include "runner/run_log.h"
#include "runner/runner.h"

namespace {

using bv::tasks::TaskArgumentError;
using bv::tasks::TaskBackup;

bool sameBackup(const TaskBackup& a, const TaskBackup& b) {
  return a.useSqlAuth == b.useSqlAuth && a.userName == b.userName && a.password == b.password &&
         a.server == b.server && a.database == b.database && a.backupFile == b.backupFile &&
         a.verify == b.verify;
}

void checkArgument(const std::string& argument) {
  std::string text;
  try {
    text = bv::tasks::decodeTaskArgument(argument);
  } catch (const TaskArgumentError&) {
    return;
  }
  // Code page 932 has more than one code for some characters, so the argument itself may come
  // out in another spelling; the text may not.
  FUZZ_CHECK(bv::tasks::decodeTaskArgument(bv::tasks::EncodeTaskArgument(text)) == text);
}

void checkLogLine(const TaskBackup& backup) {
  bv::runner::LogEntry entry;
  entry.server = backup.server;
  entry.database = backup.database;
  entry.backupFile = backup.backupFile;
  entry.login = backup.useSqlAuth ? "sql:" + backup.userName : "windows";
  const std::string line = bv::runner::formatLogLine(entry);
  FUZZ_CHECK(!line.empty() && line.find('\n') == line.size() - 1);
  FUZZ_CHECK(line.find('\r') == std::string::npos);
}

// The seven arguments of a parameter string: what must hold of them whether they read or not.
void checkParameters(std::string_view parameters) {
  const std::vector<std::string> arguments = bv::tasks::splitTaskParameters(parameters);
  for (const std::string& argument : arguments) {
    FUZZ_CHECK(argument.find(' ') == std::string::npos);
    checkArgument(argument);
  }
  TaskBackup backup;
  try {
    backup = bv::tasks::readTaskParameters(arguments);
  } catch (const TaskArgumentError&) {
    return;
  }
  FUZZ_CHECK(!backup.server.empty() && !backup.database.empty() && !backup.backupFile.empty());
  const std::string written = bv::tasks::buildTaskParameters(backup);
  const TaskBackup reread = bv::tasks::readTaskParameters(bv::tasks::splitTaskParameters(written));
  FUZZ_CHECK(sameBackup(reread, backup));
  FUZZ_CHECK(bv::tasks::buildTaskParameters(reread) == written);
  checkLogLine(backup);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // The "-" form's standard input.
  std::string parameters;
  bool readable = true;
  try {
    std::istringstream in(input);
    parameters = bv::runner::readParameterString(in);
  } catch (const bv::runner::UsageError&) {
    readable = false;
  }
  if (readable) {
    FUZZ_CHECK(!parameters.empty() && parameters.size() <= bv::runner::kMaxParameterInput);
    FUZZ_CHECK(parameters.find('\n') == std::string::npos);
    FUZZ_CHECK(input.starts_with(parameters));
    checkParameters(parameters);
  }
  // The same text as the one word of a command line that holds the whole string.
  checkParameters(input);

  // Brackenrun itself: --print reads, decodes and prints the batch without connecting.
  std::istringstream in(input);
  std::ostringstream out;
  std::ostringstream err;
  const auto status = bv::runner::run({"--print", "-"}, in, out, err, std::nullopt);
  FUZZ_CHECK(status == bv::runner::ExitStatus::Success || status == bv::runner::ExitStatus::BadArguments);
  FUZZ_CHECK((status == bv::runner::ExitStatus::Success) == (readable && !out.str().empty()));
  return 0;
}
