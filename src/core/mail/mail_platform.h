// What the mail library takes from the operating system, one file per platform
// (mail_platform_posix.cpp, mail_platform_win32.cpp). Those files also implement
// defaultMailSettingsFile (mail_settings.h) and localTimeOf (mail_message.h). Internal to
// core/mail. Qt-free.
#pragma once

#include <filesystem>
#include <string>

namespace bv::mail::platform {

// A path as UTF-8 text, for messages (std::filesystem::path::string() may throw on Windows).
inline std::string pathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}
// A path from UTF-8 text (a std::string is read in the ANSI code page on Windows).
inline std::filesystem::path pathFromUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

// Makes `folder` and every missing folder above it, each private to the user (0700 on POSIX;
// on Windows they take their parent's permissions). Folders that exist are left as they are.
// Empty on success, else the failing folder and the system's reason.
std::string makePrivateFolders(const std::filesystem::path& folder);

}  // namespace bv::mail::platform
