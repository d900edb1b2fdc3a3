#include <pwd.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "runner/platform.h"

namespace bv::runner::platform {

void protectProcess() {
  const rlimit none{0, 0};
  ::setrlimit(RLIMIT_CORE, &none);
}

std::vector<std::string> programArguments(int argc, char** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    words.emplace_back(argv[i]);
    explicit_bzero(argv[i], words.back().size());
  }
  return words;
}

std::optional<std::filesystem::path> environmentPath(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::filesystem::path(value);
}

namespace {

std::optional<std::filesystem::path> homeFolder() {
  if (auto home = environmentPath("HOME")) return home;
  // No HOME (cron and some service managers start programs without it): the password file.
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr || *found->pw_dir == '\0') {
    return std::nullopt;
  }
  return std::filesystem::path(found->pw_dir);
}

}  // namespace

std::optional<std::filesystem::path> defaultLogFile() {
  std::optional<std::filesystem::path> state = environmentPath("XDG_STATE_HOME");
  if (state && !state->is_absolute()) state.reset();  // the XDG rule: relative paths are ignored
  if (!state) {
    const auto home = homeFolder();
    if (!home) return std::nullopt;
    state = *home / ".local" / "state";
  }
  return *state / "brackenvale" / "brackenrun.log";
}

std::string localTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::array<char, 64> buffer{};
  const std::size_t length = std::strftime(buffer.data(), buffer.size(), "%Y-%m-%dT%H:%M:%S%z", &local);
  return std::string(buffer.data(), length);
}

}  // namespace bv::runner::platform
