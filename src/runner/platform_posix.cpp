#include <fcntl.h>
#include <pwd.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
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

std::optional<std::string> appendPrivately(const std::filesystem::path& file, std::string_view bytes) {
  namespace fs = std::filesystem;
  const auto text = [](const fs::path& path) {
    const std::u8string name = path.u8string();
    return std::string(name.begin(), name.end());
  };
  // The folders that are missing, made one by one from the outermost, each for the user alone;
  // the ones that exist keep their modes.
  std::vector<fs::path> missing;
  for (fs::path folder = file.parent_path(); !folder.empty() && folder != folder.root_path();
       folder = folder.parent_path()) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) == 0) break;
    missing.push_back(folder);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (::mkdir(it->c_str(), 0700) != 0 && errno != EEXIST) return text(*it) + ": " + std::strerror(errno);
  }
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return text(file) + ": 追記用に開けません";
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return text(file) + ": 追記用に開けません";
  }
  if ((info.st_mode & 07777) != 0600 && info.st_uid == ::geteuid()) ::fchmod(fd, 0600);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const bool closed = ::close(fd) == 0;
  if (done != bytes.size() || !closed) return text(file) + ": 書き込めません";
  return std::nullopt;
}

bool mailsAfterRun() { return false; }

bool outputIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

mail::RunNotification mailAfterRun(const mail::RunReport&, mail::RunOutcome) { return {}; }

std::string localTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  std::array<char, 64> buffer{};
  const std::size_t length = std::strftime(buffer.data(), buffer.size(), "%Y-%m-%dT%H:%M:%S%z", &local);
  return std::string(buffer.data(), length);
}

}  // namespace bv::runner::platform
