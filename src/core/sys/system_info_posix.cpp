#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <cstdio>

#include "core/sys/system_info.h"

namespace bv::sys {
namespace {

std::string hostName() {
  std::array<char, 256> buffer{};
  if (gethostname(buffer.data(), buffer.size() - 1) != 0) return {};
  return std::string(buffer.data());
}

}  // namespace

std::string computerName() {
  std::string name = hostName();
  name = name.substr(0, name.find('.'));
  if (name.size() > 15) name.resize(15);
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

std::vector<std::string> localHostNames() {
  std::vector<std::string> names{computerName()};
  const std::string full = hostName();
  if (!full.empty() && full != names.front()) names.push_back(full);
  return names;
}

std::string userName() {
  std::array<char, 1024> buffer{};
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_name != nullptr) {
    return result->pw_name;
  }
  return {};
}

std::filesystem::path executableFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : self.parent_path();
}

std::filesystem::path runnerProgram(const std::filesystem::path& folder) { return folder / "Brackenrun"; }

OsVersion osVersion() {
  utsname info{};
  OsVersion version;
  if (uname(&info) == 0) {
    std::sscanf(info.release, "%lu.%lu", &version.major, &version.minor);
  }
  // The one version the program treats specially is Windows' 6.0; no POSIX system is that one.
  if (version.major == 6 && version.minor == 0) version.minor = 1;
  return version;
}

std::string defaultOdbcDriver() { return "FreeTDS"; }

}  // namespace bv::sys
