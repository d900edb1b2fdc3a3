#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "core/mail/mail_message.h"
#include "core/mail/mail_platform.h"
#include "core/mail/mail_settings.h"

namespace bv::mail {

std::filesystem::path defaultMailSettingsFile() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/')
    return std::filesystem::path(config) / "brackenvale" / "mail.conf";
  const char* home = std::getenv("HOME");
  std::filesystem::path homeFolder;
  if (home != nullptr && home[0] == '/') {
    homeFolder = home;
  } else {
    // cron and su may leave HOME unset; the account's entry still names it.
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/') {
      homeFolder = found->pw_dir;
    }
  }
  if (homeFolder.empty()) return {};
  return homeFolder / ".config" / "brackenvale" / "mail.conf";
}

LocalTime localTimeOf(std::chrono::system_clock::time_point instant) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(instant);
  const std::time_t time = std::chrono::system_clock::to_time_t(seconds);
  std::tm local{};
  ::localtime_r(&time, &local);
  return LocalTime{std::chrono::sys_seconds(seconds.time_since_epoch()),
                   static_cast<int>(local.tm_gmtoff / 60)};
}

namespace platform {

std::string makePrivateFolders(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> missing;
  for (std::filesystem::path at = folder; !at.empty(); at = at.parent_path()) {
    std::error_code error;
    if (std::filesystem::exists(at, error) || error) break;
    missing.push_back(at);
    if (at == at.parent_path()) break;
  }
  for (auto at = missing.rbegin(); at != missing.rend(); ++at) {
    if (::mkdir(at->c_str(), 0700) == 0) {
      // The umask may have taken bits away; a folder made here is exactly private.
      ::chmod(at->c_str(), 0700);
    } else if (errno != EEXIST) {
      return pathText(*at) + ": " + std::strerror(errno);
    }
  }
  return {};
}

}  // namespace platform
}  // namespace bv::mail
