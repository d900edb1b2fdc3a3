// The system facts on Windows, against what the session says (COMPUTERNAME, USERNAME) and what
// Windows reports; GetVersionExA through a probe program whose version Wine is told.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "child_process_win32.h"
#include "core/db/odbc_connection_string.h"
#include "core/sys/system_info.h"
#include "environment.h"

namespace bv::sys {
namespace {

std::string variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A registry key of the current user, closed on every path.
class RegistryKey {
 public:
  explicit RegistryKey(const std::wstring& path) {
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_,
                          nullptr) != ERROR_SUCCESS) {
      key_ = nullptr;
    }
  }
  ~RegistryKey() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Tells Wine which Windows version to report to one program (by its file name), for the
// owner's lifetime.
class WineVersionForProgram {
 public:
  WineVersionForProgram(const std::wstring& program, const std::wstring& version)
      : path_(L"Software\\Wine\\AppDefaults\\" + program) {
    const RegistryKey key(path_);
    ok_ = key.get() != nullptr &&
          ::RegSetValueExW(key.get(), L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                           static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }
  ~WineVersionForProgram() { ::RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str()); }
  WineVersionForProgram(const WineVersionForProgram&) = delete;
  WineVersionForProgram& operator=(const WineVersionForProgram&) = delete;
  bool ok() const { return ok_; }

 private:
  std::wstring path_;
  bool ok_ = false;
};

TEST(ComputerName, IsTheNameOfTheSession) {
  ASSERT_FALSE(variable("COMPUTERNAME").empty());
  EXPECT_EQ(computerName(), variable("COMPUTERNAME"));
  EXPECT_EQ(localHostNames(), std::vector<std::string>{computerName()});
}

TEST(UserName, IsTheUserOfTheSession) {
  ASSERT_FALSE(variable("USERNAME").empty());
  EXPECT_EQ(userName(), variable("USERNAME"));
}

TEST(OsVersion, IsTheVersionWindowsReports) {
  // GetVersion packs the same numbers into one word: the major version in the low byte, the
  // minor one in the next.
  const DWORD packed = ::GetVersion();
  const OsVersion version = osVersion();
  EXPECT_EQ(version.major, packed & 0xFFu);
  EXPECT_EQ(version.minor, (packed >> 8) & 0xFFu);
  EXPECT_GE(version.major, 5u);
}

TEST(OsVersion, GetVersionExAGivesSixPointZeroForWindowsVistaAndServer2008Only) {
  const auto probe = bvtest::besideThisProgram(L"os_version_probe.exe");
  ASSERT_TRUE(std::filesystem::exists(probe)) << bvtest::utf8(probe);
  struct Case {
    const wchar_t* wineVersion;
    const char* reported;
  };
  for (const Case& c :
       {Case{L"vista", "6.0 1\n"}, Case{L"win2008", "6.0 1\n"}, Case{L"win7", "6.1 0\n"},
        Case{L"win2003", "5.2 0\n"}, Case{L"winxp64", "5.2 0\n"}, Case{L"win2k", "5.0 0\n"}}) {
    const WineVersionForProgram version(L"os_version_probe.exe", c.wineVersion);
    ASSERT_TRUE(version.ok());
    const bvtest::ChildResult result = bvtest::runCommandLine(probe, bvtest::quotedCommandLine(probe, ""));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(bvtest::lineFeeds(result.out), c.reported)
        << bvtest::utf8(std::filesystem::path(c.wineVersion));
  }
}

TEST(DefaultOdbcDriver, IsTheSystemsSqlServerDriver) {
  EXPECT_EQ(defaultOdbcDriver(), "SQL Server");
  const bvtest::ScopedEnvironment none("BRACKENVALE_ODBC_DRIVER", nullptr);
  const db::OdbcTarget target = db::defaultOdbcTarget();
  EXPECT_EQ(target.driver, "SQL Server");
  EXPECT_EQ(target.braceRule, db::BraceRule::DoubledClose);
  // The system's driver finds a default instance by itself: no port is added.
  EXPECT_EQ(target.defaultInstancePort, 0);
  EXPECT_EQ(db::mapServerForDriver("dbhost", target), "dbhost");
}

}  // namespace
}  // namespace bv::sys
