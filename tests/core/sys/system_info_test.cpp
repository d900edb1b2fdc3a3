// The system facts on every platform: the one version rule, and the computer name's shape.
#include "core/sys/system_info.h"

#include <gtest/gtest.h>

namespace bv::sys {
namespace {

TEST(IsWindowsVista, IsExactlyVersionSixPointZero) {
  EXPECT_TRUE(isWindowsVista({6, 0}));
  for (const OsVersion other :
       {OsVersion{6, 1}, OsVersion{6, 2}, OsVersion{6, 3}, OsVersion{5, 0}, OsVersion{5, 1}, OsVersion{5, 2},
        OsVersion{10, 0}, OsVersion{0, 0}, OsVersion{7, 0}, OsVersion{0, 6}, OsVersion{60, 0}}) {
    EXPECT_FALSE(isWindowsVista(other)) << other.major << "." << other.minor;
  }
}

TEST(ComputerName, IsUpperCaseAndAtMostFifteenCharacters) {
  const std::string name = computerName();
  ASSERT_FALSE(name.empty());
  EXPECT_LE(name.size(), 15u);
  for (const char c : name) EXPECT_FALSE(c >= 'a' && c <= 'z') << name;
  ASSERT_FALSE(localHostNames().empty());
  EXPECT_EQ(localHostNames().front(), name);
}

TEST(UserName, IsKnown) { EXPECT_FALSE(userName().empty()); }

}  // namespace
}  // namespace bv::sys

namespace bv::sys {
namespace {

TEST(ExecutableFolder, IsTheFolderThatHoldsTheRunningProgram) {
  const std::filesystem::path folder = executableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.is_absolute());
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    found = found || name.rfind("core_sys_tests", 0) == 0;
  }
  EXPECT_TRUE(found) << folder;
}

}  // namespace
}  // namespace bv::sys
