// Facts about this computer and its user from Win32: GetComputerNameA, GetUserNameA and
// GetVersionExA.
#include <windows.h>

#include <array>
#include <cstring>

#include "core/sys/system_info.h"

namespace bv::sys {
namespace {

// The text of a buffer up to its first zero (or its end).
std::string upToZero(const char* buffer, std::size_t size) {
  return std::string(buffer, ::strnlen(buffer, size));
}

}  // namespace

std::string computerName() {
  // A NetBIOS computer name has at most 15 characters; the buffer holds 17.
  std::array<char, 17> buffer{};
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!::GetComputerNameA(buffer.data(), &size)) return {};
  return upToZero(buffer.data(), buffer.size());
}

std::vector<std::string> localHostNames() { return {computerName()}; }

std::filesystem::path executableFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      return std::filesystem::path(path).parent_path();
    }
    path.resize(path.size() * 2);
  }
}

std::filesystem::path runnerProgram(const std::filesystem::path& folder) { return folder / "Brackenrun.exe"; }

std::string userName() {
  std::array<char, 257> buffer{};  // UNLEN + 1
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!::GetUserNameA(buffer.data(), &size)) return {};
  return upToZero(buffer.data(), buffer.size());
}

OsVersion osVersion() {
  static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record's size field must read 148");
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  if (!::GetVersionExA(&info)) return {};
  return {info.dwMajorVersion, info.dwMinorVersion};
}

std::string defaultOdbcDriver() { return "SQL Server"; }

}  // namespace bv::sys
