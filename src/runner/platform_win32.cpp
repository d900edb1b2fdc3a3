#include <windows.h>

#include <array>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <system_error>
#include <vector>

#include "core/mail/run_notification.h"
#include "runner/platform.h"

namespace bv::runner::platform {
namespace {

std::string toUtf8(std::wstring_view wide) {
  if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int inLength = static_cast<int>(wide.size());
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string text(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, text.data(), length, nullptr, nullptr);
  return text;
}

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

}  // namespace

void protectProcess() {}

bool mailsAfterRun() { return true; }

bool outputIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

mail::RunNotification mailAfterRun(const mail::RunReport& report, mail::RunOutcome previous) {
  return mail::notifyAfterRun(report, previous);
}

std::optional<std::string> appendPrivately(const std::filesystem::path& file, std::string_view bytes) {
  namespace fs = std::filesystem;
  const auto text = [](const fs::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
  };
  // The folder takes the user's profile permissions (the default log lies in LOCALAPPDATA).
  std::error_code error;
  if (file.has_parent_path()) {
    fs::create_directories(file.parent_path(), error);
    if (error) return text(file.parent_path()) + ": " + error.message();
  }
  std::ofstream out(file, std::ios::binary | std::ios::app);
  if (!out) return text(file) + ": 追記用に開けません";
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.flush();
  if (!out) return text(file) + ": 書き込めません";
  return std::nullopt;
}

std::vector<std::string> programArguments(int, char**) {
  std::wstring_view line = ::GetCommandLineW();
  // The program's own name: quoted, or up to the first blank.
  std::size_t i = 0;
  if (!line.empty() && line[0] == L'"') {
    const std::size_t close = line.find(L'"', 1);
    i = close == std::wstring_view::npos ? line.size() : close + 1;
  } else {
    while (i < line.size() && !isBlank(line[i])) ++i;
  }
  while (i < line.size() && isBlank(line[i])) ++i;

  std::vector<std::string> words;
  // Options first: words beginning with "-", each ended by one blank.
  while (i < line.size() && line[i] == L'-') {
    std::size_t end = i;
    while (end < line.size() && !isBlank(line[end])) ++end;
    words.push_back(toUtf8(line.substr(i, end - i)));
    i = end < line.size() ? end + 1 : end;
  }
  // The rest, untouched: the task's parameter string.
  if (i < line.size()) words.push_back(toUtf8(line.substr(i)));
  return words;
}

std::optional<std::filesystem::path> environmentPath(const char* name) {
  std::wstring wideName(name, name + std::char_traits<char>::length(name));
  const wchar_t* value = ::_wgetenv(wideName.c_str());
  if (value == nullptr || *value == L'\0') return std::nullopt;
  return std::filesystem::path(value);
}

std::optional<std::filesystem::path> defaultLogFile() {
  const auto local = environmentPath("LOCALAPPDATA");
  if (!local) return std::nullopt;
  return *local / "Brackenvale" / "brackenrun.log";
}

std::string localTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_s(&local, &now);
  std::tm copy = local;
  // The offset from UTC: the local fields read as if they were UTC, less the real instant.
  const long offsetMinutes = static_cast<long>(::_mkgmtime(&copy) - now) / 60;
  std::array<char, 64> buffer{};
  std::size_t length = std::strftime(buffer.data(), buffer.size(), "%Y-%m-%dT%H:%M:%S", &local);
  const long magnitude = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  length +=
      static_cast<std::size_t>(std::snprintf(buffer.data() + length, buffer.size() - length, "%c%02ld%02ld",
                                             offsetMinutes < 0 ? '-' : '+', magnitude / 60, magnitude % 60));
  return std::string(buffer.data(), length);
}

}  // namespace bv::runner::platform
