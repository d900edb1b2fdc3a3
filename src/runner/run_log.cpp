#include "runner/run_log.h"

#include <exception>
#include <fstream>
#include <string>

#include "runner/platform.h"

namespace bv::runner {
namespace {

std::string oneLine(std::string_view value) {
  std::string out(value);
  for (char& c : out) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

}  // namespace

std::string formatLogLine(const LogEntry& entry) {
  std::string line = oneLine(entry.time);
  const auto field = [&](std::string_view key, std::string_view value) {
    line += '\t';
    line += key;
    line += '=';
    line += oneLine(value);
  };
  field("status", entry.started ? std::string("-") : std::to_string(entry.status));
  field("outcome", entry.started ? std::string("started") : entry.outcome);
  field("server", entry.server);
  field("database", entry.database);
  field("file", entry.backupFile);
  field("login", entry.login);
  field("verify", entry.verify);
  field("detail", entry.detail);
  if (!entry.mail.empty()) field("mail", entry.mail);
  if (!entry.unreported.empty()) field("unreported", entry.unreported);
  line += '\n';
  return line;
}

std::optional<std::filesystem::path> logFileFromEnvironment() {
  if (auto file = platform::environmentPath(kLogFileVariable)) return file;
  return platform::defaultLogFile();
}

namespace {

std::string fieldOf(const std::string& line, std::string_view key) {
  const std::string marker = "\t" + std::string(key) + "=";
  const std::size_t at = line.find(marker);
  if (at == std::string::npos) return {};
  const std::size_t start = at + marker.size();
  return line.substr(start, line.find('\t', start) - start);
}

// The last line of a finished run of the same backup (server, database and file).
std::optional<std::string> lastFinishedLine(const std::filesystem::path& file, const LogEntry& entry) {
  std::ifstream in(file, std::ios::binary);
  std::optional<std::string> last;
  for (std::string line; std::getline(in, line);) {
    if (fieldOf(line, "server") != oneLine(entry.server) || fieldOf(line, "database") != oneLine(entry.database) ||
        fieldOf(line, "file") != oneLine(entry.backupFile)) {
      continue;
    }
    const std::string status = fieldOf(line, "status");
    if (status.empty() || status == "-") continue;  // a start line
    last = std::move(line);
  }
  return last;
}

}  // namespace

std::optional<bool> lastOutcomeOf(const std::filesystem::path& file, const LogEntry& entry) {
  const std::optional<std::string> line = lastFinishedLine(file, entry);
  if (!line) return std::nullopt;
  return fieldOf(*line, "status") == "0";
}

std::optional<UnreportedRun> unreportedFailureOf(const std::filesystem::path& file, const LogEntry& entry) {
  const std::optional<std::string> line = lastFinishedLine(file, entry);
  if (!line) return std::nullopt;
  const std::string value = fieldOf(*line, "unreported");
  const std::size_t blank = value.rfind(' ');
  if (blank == std::string::npos || blank == 0) return std::nullopt;
  try {
    return UnreportedRun{value.substr(0, blank), std::stoi(value.substr(blank + 1))};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string pathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::optional<std::string> appendLogLine(const std::filesystem::path& file, const LogEntry& entry) {
  // One write of the whole line in append mode, so that runs that end together do not mix
  // their lines.
  return platform::appendPrivately(file, formatLogLine(entry));
}

}  // namespace bv::runner
