#include "core/db/login_rules.h"

#include <gtest/gtest.h>

#include "core/sys/system_info.h"
#include "core/text/ascii.h"

namespace bv::db {
namespace {

TEST(IsLocalServer, ComputerNameOrLocalInAnyLetterCase) {
  EXPECT_TRUE(isLocalServer("MYBOX", "MYBOX"));
  EXPECT_TRUE(isLocalServer("mybox", "MYBOX"));
  EXPECT_TRUE(isLocalServer("MyBox", "MYBOX"));
  EXPECT_TRUE(isLocalServer("(local)", "MYBOX"));
  EXPECT_TRUE(isLocalServer("(Local)", "MYBOX"));
}

TEST(IsLocalServer, AnInstanceCountsOnlyWithTheNameTypedAsTheSystemReportsIt) {
  EXPECT_TRUE(isLocalServer("MYBOX\\SQLEXPRESS", "MYBOX"));
  EXPECT_FALSE(isLocalServer("mybox\\SQLEXPRESS", "MYBOX"));
  EXPECT_FALSE(isLocalServer("(local)\\SQLEXPRESS", "MYBOX"));
}

TEST(IsLocalServer, EverythingElseIsRemote) {
  EXPECT_FALSE(isLocalServer("", "MYBOX"));
  EXPECT_FALSE(isLocalServer("", ""));
  EXPECT_FALSE(isLocalServer(".", "MYBOX"));
  EXPECT_FALSE(isLocalServer("localhost", "MYBOX"));
  EXPECT_FALSE(isLocalServer("MYBOX2", "MYBOX"));
  EXPECT_FALSE(isLocalServer("MYBOX,1433", "MYBOX"));
}

TEST(IsLocalServer, OnlyAsciiLettersChangeCase) {
  // A full-width letter is not folded, so it never equals the ASCII computer name.
  EXPECT_FALSE(isLocalServer("ｍｙｂｏｘ", "MYBOX"));
  EXPECT_EQ(text::asciiUpper("abcé日本z"), "ABCé日本Z");
}

TEST(IsLocalServer, TheComputerNameOfThisMachineIsLocal) {
  const std::string name = sys::computerName();
  ASSERT_FALSE(name.empty());
  EXPECT_LE(name.size(), 15u);
  EXPECT_EQ(name, text::asciiUpper(name));
  EXPECT_TRUE(isLocalServer(name, name));
}

}  // namespace
}  // namespace bv::db
