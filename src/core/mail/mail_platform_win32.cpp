#include <windows.h>

#include <cstdlib>
#include <ctime>
#include <system_error>
#include <vector>

#include "core/mail/mail_message.h"
#include "core/mail/mail_platform.h"
#include "core/mail/mail_settings.h"

namespace bv::mail {

std::filesystem::path defaultMailSettingsFile() {
  const wchar_t* appData = ::_wgetenv(L"APPDATA");
  if (appData == nullptr || *appData == L'\0') return {};
  return std::filesystem::path(appData) / L"Brackenvale" / L"mail.conf";
}

LocalTime localTimeOf(std::chrono::system_clock::time_point instant) {
  const auto seconds = std::chrono::floor<std::chrono::seconds>(instant);
  const std::time_t time = std::chrono::system_clock::to_time_t(seconds);
  std::tm local{};
  ::localtime_s(&local, &time);
  // The offset from UTC: the local fields read as if they were UTC, less the real instant.
  const long long offsetSeconds = static_cast<long long>(::_mkgmtime(&local)) - static_cast<long long>(time);
  return LocalTime{std::chrono::sys_seconds(seconds.time_since_epoch()),
                   static_cast<int>(offsetSeconds / 60)};
}

namespace platform {

std::string makePrivateFolders(const std::filesystem::path& folder) {
  // %APPDATA% is the user's own; a folder made in it inherits that.
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) return pathText(folder) + ": " + error.message();
  return {};
}

}  // namespace platform
}  // namespace bv::mail
