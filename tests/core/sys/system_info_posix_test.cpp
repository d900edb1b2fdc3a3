// The system facts on POSIX: the host name, the password file, uname, FreeTDS.
#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <cstdio>

#include "core/db/odbc_connection_string.h"
#include "core/sys/system_info.h"
#include "environment.h"

namespace bv::sys {
namespace {

std::string hostName() {
  std::array<char, 256> buffer{};
  if (::gethostname(buffer.data(), buffer.size() - 1) != 0) return {};
  return buffer.data();
}

TEST(ComputerName, IsTheHostNamesFirstLabelInUpperCaseCutAtFifteen) {
  std::string expected = hostName().substr(0, hostName().find('.')).substr(0, 15);
  for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(computerName(), expected);
  const auto names = localHostNames();
  if (hostName() != computerName()) {
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[1], hostName());
  }
}

TEST(UserName, IsTheEffectiveUsersAccount) {
  const passwd* entry = ::getpwuid(::geteuid());
  if (entry == nullptr) GTEST_SKIP() << "this user has no password file entry";
  EXPECT_EQ(userName(), entry->pw_name);
}

TEST(OsVersion, IsTheKernelReleaseAndNeverWindowsVista) {
  utsname info{};
  ASSERT_EQ(::uname(&info), 0);
  unsigned long major = 0;
  std::sscanf(info.release, "%lu", &major);
  const OsVersion version = osVersion();
  EXPECT_EQ(version.major, major);
  EXPECT_FALSE(isWindowsVista(version));
}

TEST(DefaultOdbcDriver, IsFreeTds) {
  EXPECT_EQ(defaultOdbcDriver(), "FreeTDS");
  const bvtest::ScopedEnvironment none("BRACKENVALE_ODBC_DRIVER", nullptr);
  const db::OdbcTarget target = db::defaultOdbcTarget();
  EXPECT_EQ(target.driver, "FreeTDS");
  EXPECT_EQ(target.braceRule, db::BraceRule::FirstCloseBeforeSemicolon);
  EXPECT_EQ(target.defaultInstancePort, 1433);
}

}  // namespace
}  // namespace bv::sys
