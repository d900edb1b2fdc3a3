// The runner's reading of a scheduled task's parameter string: standard input of the "-" form
// (readParameterString), the split at single blanks, the seven arguments and the code page 932
// decoding of each (splitTaskParameters, scheduling::decodeTaskParameters, decodeTaskArgument); and
// Brackenrun's own road through them, "Brackenrun --print -", which connects to nothing.
//
// What must hold: a parameter string the runner cannot read is refused with its usage or
// argument error and never crashes it; what it reads, written again by scheduling::encodeTaskParameters
// (as the main window writes it), reads back the same; every argument that decodes encodes again
// to an argument that decodes to the same text; the log line stays one line.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/scheduling/task_parameters.h"
#include "core/tasks/task_argument.h"
#include "fuzz_check.h"
#include "runner/run_log.h"
#include "runner/runner.h"

namespace {

using bv::maintenance::BackupRequest;
using bv::tasks::TaskArgumentError;

bool sameBackup(const BackupRequest& a, const BackupRequest& b) {
  return a.login.useSqlAuth == b.login.useSqlAuth && a.login.userName == b.login.userName &&
         a.login.password == b.login.password && a.login.server == b.login.server && a.database == b.database &&
         a.backupFile == b.backupFile && a.verify == b.verify && a.generations == b.generations &&
         a.testRestore == b.testRestore && a.kind == b.kind && a.checksum == b.checksum;
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

void checkLogLine(const BackupRequest& backup) {
  bv::runner::LogEntry entry;
  entry.server = backup.login.server;
  entry.database = backup.database;
  entry.backupFile = backup.backupFile;
  entry.login = backup.login.useSqlAuth ? "sql:" + backup.login.userName : "windows";
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
  BackupRequest backup;
  try {
    backup = bv::scheduling::decodeTaskParameters(arguments);
  } catch (const TaskArgumentError&) {
    return;
  }
  FUZZ_CHECK(!backup.login.server.empty() && !backup.database.empty() && !backup.backupFile.empty());
  const std::string written = bv::scheduling::encodeTaskParameters(backup);
  const BackupRequest reread = bv::scheduling::decodeTaskParameters(bv::tasks::splitTaskParameters(written));
  FUZZ_CHECK(sameBackup(reread, backup));
  FUZZ_CHECK(bv::scheduling::encodeTaskParameters(reread) == written);
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
