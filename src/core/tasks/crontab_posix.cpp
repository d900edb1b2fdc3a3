#include "core/tasks/crontab_posix.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "core/sys/atomic_file.h"
#include "core/sys/process_posix.h"

namespace bv::tasks {
namespace {

constexpr int kCrontabTimeoutMs = 15000;
// Far above any crontab a person keeps; a longer one is refused whole, never cut.
constexpr std::size_t kMaxCrontabBytes = 16 * 1024 * 1024;

std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start + 1));  // with its line feed
    start = end + 1;
  }
  return lines;
}

bool isMarker(std::string_view line, std::string_view marker) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line == marker;
}

bool isBeginMarker(std::string_view line) {
  // Any line that opens a block of ours, whatever comment follows the name.
  return line.rfind("# BEGIN brackenvale-tick", 0) == 0;
}

// The crontab's lines outside every block of ours; nothing when a block never ends.
std::optional<std::string> outsideBlocks(std::string_view crontab) {
  std::string out;
  bool inside = false;
  for (const std::string_view line : linesOf(crontab)) {
    if (!inside && isBeginMarker(line)) {
      inside = true;
    } else if (inside && isMarker(line, kTickBlockEnd)) {
      inside = false;
    } else if (!inside) {
      out += line;
    }
  }
  if (inside) return std::nullopt;
  return out;
}

std::string shellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else if (c == '%') {
      out += "\\%";  // cron would turn a bare % into a line break
    } else {
      out.push_back(c);
    }
  }
  out.push_back('\'');
  return out;
}

// One argument of a desktop entry's Exec key: in double quotes, with '"', '`', '$' and '\\'
// escaped by a backslash (the quoting rule), every backslash then doubled (the key file's string
// rule), and '%' doubled (field codes).
std::string desktopExecQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted.push_back(c);
  }
  quoted += '"';
  std::string out;
  for (const char c : quoted) {
    if (c == '\\') out += '\\';
    out.push_back(c);
  }
  return out;
}

// Whether a path can go into the crontab line and the autostart entry as it is. A line break (or
// any other control character) would start a line of its own in both; a backslash just before a
// "%" takes the escaping backslash written for cron, leaving that "%" bare, where cron cuts the
// command (crontab(5)). Such a path is refused rather than written otherwise.
bool linesCanHold(const std::string& path) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    const auto byte = static_cast<unsigned char>(path[i]);
    if (byte < 0x20 || byte == 0x7F) return false;
    if (path[i] == '\\' && i + 1 < path.size() && path[i + 1] == '%') return false;
  }
  return true;
}

class SystemCrontab final : public CrontabCommand {
 public:
  explicit SystemCrontab(std::size_t maxBytes) : maxBytes_(maxBytes) {}

  HResult read(std::string& text, std::string& message) override {
    const sys::ProgramOutcome listed = sys::runProgram("crontab", {"-l"}, {}, kCrontabTimeoutMs, maxBytes_);
    if (!listed.started) return kSchedServiceNotInstalled;
    if (listed.outputCut) return kCrontabTooLarge;
    if (listed.exitCode == 0) {
      text = listed.output;
      return kOk;
    }
    // "no crontab for USER" is an empty crontab; anything else is a failure.
    if (listed.errors.rfind("no crontab for ", 0) == 0) {
      text.clear();
      return kOk;
    }
    message = listed.errors;
    return kAccessDenied;
  }

  HResult install(const std::string& text, std::string& message) override {
    const sys::ProgramOutcome installed = sys::runProgram("crontab", {"-"}, text, kCrontabTimeoutMs);
    if (!installed.started) return kSchedServiceNotInstalled;
    if (installed.exitCode == 0) return kOk;
    message = installed.errors;
    return kAccessDenied;
  }

 private:
  std::size_t maxBytes_;
};

std::function<bool()>& probeOverride() {
  static std::function<bool()> probe;
  return probe;
}

HResult rewrite(CrontabCommand& crontab,
                const std::function<std::optional<std::string>(std::string_view)>& change) {
  std::string current;
  std::string message;
  if (const HResult read = crontab.read(current, message); read != kOk) return read;
  const std::optional<std::string> next = change(current);
  if (!next) return kUnspecifiedFailure;  // a block without its end: the user's lines are left alone
  if (*next == current) return kOk;
  return crontab.install(*next, message);
}

}  // namespace

std::unique_ptr<CrontabCommand> systemCrontab(std::size_t maxBytes) {
  return std::make_unique<SystemCrontab>(maxBytes == 0 ? kMaxCrontabBytes : maxBytes);
}

std::string tickBlock(const std::filesystem::path& tickProgram, const std::filesystem::path& storeFolder) {
  const std::string command =
      shellQuoted(tickProgram.string()) + " --store " + shellQuoted(storeFolder.string());
  return std::string(kTickBlockBegin) + "\n* * * * * " + command + " --quiet >/dev/null 2>&1\n" +
         "@reboot " + command + " --event startup --quiet >/dev/null 2>&1\n" + std::string(kTickBlockEnd) +
         "\n";
}

std::optional<std::string> withTickBlock(std::string_view crontab, const std::filesystem::path& tickProgram,
                                         const std::filesystem::path& storeFolder) {
  std::optional<std::string> rest = outsideBlocks(crontab);
  if (!rest) return std::nullopt;
  if (!rest->empty() && rest->back() != '\n') rest->push_back('\n');
  return tickBlock(tickProgram, storeFolder) + *rest;
}

std::optional<std::string> withoutTickBlock(std::string_view crontab) { return outsideBlocks(crontab); }

HResult installTickEntry(CrontabCommand& crontab, const std::filesystem::path& tickProgram,
                         const std::filesystem::path& storeFolder) {
  if (!linesCanHold(tickProgram.string()) || !linesCanHold(storeFolder.string())) return kCrontabPathRefused;
  const HResult installed = rewrite(
      crontab, [&](std::string_view current) { return withTickBlock(current, tickProgram, storeFolder); });
  if (installed != kOk) return installed;
  return writeLogonEntry(tickProgram, storeFolder);
}

HResult removeTickEntry(CrontabCommand& crontab, const std::filesystem::path& storeFolder) {
  const std::string forThisStore = " --store " + shellQuoted(storeFolder.string()) + " ";
  const HResult removed = rewrite(crontab, [&](std::string_view current) -> std::optional<std::string> {
    if (current.find(forThisStore) == std::string_view::npos) return std::string(current);
    return withoutTickBlock(current);
  });
  if (removed != kOk) return removed;
  removeLogonEntry(storeFolder);
  return kOk;
}

std::filesystem::path logonEntryFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::filesystem::path(config) / "autostart" / kLogonEntryName;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') {
    return std::filesystem::path(home) / ".config" / "autostart" / kLogonEntryName;
  }
  return {};
}

std::string logonEntry(const std::filesystem::path& tickProgram, const std::filesystem::path& storeFolder) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Brackenvale タスク（ログオン時）\n"
         "Comment=ログオン時に実行するよう登録したタスクを開始します\n"
         "Exec=" +
         desktopExecQuoted(tickProgram.string()) + " --store " + desktopExecQuoted(storeFolder.string()) +
         " --event logon --quiet\n"
         "NoDisplay=true\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

HResult writeLogonEntry(const std::filesystem::path& tickProgram, const std::filesystem::path& storeFolder) {
  const std::filesystem::path file = logonEntryFile();
  if (file.empty()) return kOk;  // no home: no desktop to log on to
  const std::string content = logonEntry(tickProgram, storeFolder);
  std::ifstream existing(file, std::ios::binary);
  const std::string current{std::istreambuf_iterator<char>(existing), std::istreambuf_iterator<char>()};
  if (existing && current == content) return kOk;
  std::error_code error;
  std::filesystem::create_directories(file.parent_path(), error);
  if (error) return kAccessDenied;
  return sys::writeFileAtomically(file, content, 0600).ok ? kOk : kAccessDenied;
}

void removeLogonEntry(const std::filesystem::path& storeFolder) {
  const std::filesystem::path file = logonEntryFile();
  if (file.empty()) return;
  std::ifstream existing(file, std::ios::binary);
  const std::string current{std::istreambuf_iterator<char>(existing), std::istreambuf_iterator<char>()};
  // Only the entry for this store: one another store's block wrote stays with that block.
  if (current.find(" --store " + desktopExecQuoted(storeFolder.string()) + " ") == std::string::npos) return;
  existing.close();
  std::error_code ignored;
  std::filesystem::remove(file, ignored);
}

bool cronDaemonRunning() {
  if (probeOverride()) return probeOverride()();
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool running = false;
  while (const dirent* entry = ::readdir(proc)) {
    const std::string name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm("/proc/" + name + "/comm");
    std::string command;
    std::getline(comm, command);
    if (command == "cron" || command == "crond") {
      running = true;
      break;
    }
  }
  ::closedir(proc);
  return running;
}

CronProbeOverride::CronProbeOverride(std::function<bool()> probe)
    : previous_(std::exchange(probeOverride(), std::move(probe))) {}

CronProbeOverride::~CronProbeOverride() { probeOverride() = std::move(previous_); }

}  // namespace bv::tasks
