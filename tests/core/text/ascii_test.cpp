#include "core/text/ascii.h"

#include <gtest/gtest.h>

namespace bv::text {
namespace {

// Only A-Z and a-z change. "É" and "é" (C3 89, C3 A9) differ in their second byte exactly as
// "I" and "i" do, and a Latin-1 locale's tolower would fold 0xC9; "ｱ" in code page 932 is 0xB1.
TEST(Ascii, OnlyAsciiLettersChangeCase) {
  EXPECT_EQ(asciiLower("AbZ@[`{09 %DATE% É日本\xB1"), "abz@[`{09 %date% É日本\xB1");
  EXPECT_EQ(asciiUpper("aBz@[`{09 %date% é日本\xB1"), "ABZ@[`{09 %DATE% é日本\xB1");
  EXPECT_EQ(asciiUpper("abcé日本z"), "ABCé日本Z");
}

TEST(Ascii, EqualsIgnoringAsciiCase) {
  struct Case {
    std::string_view a, b;
    bool equal;
  };
  const Case cases[] = {
      {"Password", "PASSWORD", true},
      {"pwd", "PWD", true},
      {"", "", true},
      {"MSSQLSERVER", "mssqlserver", true},
      {"É", "é", false},
      {"key", "keys", false},
      {"@", "`", false},
      {"[", "{", false},
      {"tcp", "udp", false},
  };
  for (const Case& c : cases) EXPECT_EQ(equalsIgnoringAsciiCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
}

TEST(Ascii, Classes) {
  EXPECT_TRUE(isAsciiLetter('a') && isAsciiLetter('Z') && !isAsciiLetter('@') && !isAsciiLetter('['));
  EXPECT_TRUE(isAsciiDigit('0') && isAsciiDigit('9') && !isAsciiDigit('/') && !isAsciiDigit(':'));
  EXPECT_FALSE(isAsciiLetter('\xE9') || isAsciiDigit('\xB2'));
}

}  // namespace
}  // namespace bv::text
