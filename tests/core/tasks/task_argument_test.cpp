#include "core/tasks/task_argument.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace bv::tasks {
namespace {

// The argument for raw code-page bytes, written out here by the rule itself: two upper-case
// hexadecimal digits a byte, the whole reversed.
std::string argumentFor(const std::vector<unsigned char>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 0x0F]);
  }
  std::reverse(hex.begin(), hex.end());
  return hex;
}

std::string utf8Of(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
  return out;
}

// The message of the TaskArgumentError that decoding the argument raises; empty when none.
std::string decodeFailure(const std::string& argument) {
  try {
    decodeTaskArgument(argument);
  } catch (const TaskArgumentError& error) {
    return error.what();
  }
  return {};
}

std::string encodeFailure(std::string_view text) {
  try {
    EncodeTaskArgument(text);
  } catch (const TaskArgumentError& error) {
    return error.what();
  }
  return {};
}

bool isLead(int b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool isTrail(int t) { return (t >= 0x40 && t <= 0x7E) || (t >= 0x80 && t <= 0xFC); }

TEST(EncodeTaskArgument, AbcBecomesHexReversed) {
  EXPECT_EQ(EncodeTaskArgument("abc"), "362616");
  EXPECT_EQ(decodeTaskArgument("362616"), "abc");
}

TEST(EncodeTaskArgument, EmptyTextIsAnEmptyArgumentAndBack) {
  EXPECT_EQ(EncodeTaskArgument(""), "");
  EXPECT_EQ(decodeTaskArgument(""), "");
}

TEST(EncodeTaskArgument, StopsAtTheFirstZeroCharacter) {
  EXPECT_EQ(EncodeTaskArgument(std::string_view("ab\0cd", 5)), EncodeTaskArgument("ab"));
  EXPECT_EQ(EncodeTaskArgument(std::string_view("\0x", 2)), "");
}

TEST(EncodeTaskArgument, JapaneseTextTravelsAsCodePage932Bytes) {
  // 日 93FA, 本 967B, 語 8CEA in code page 932; a backslash stays 5C (not a yen sign).
  EXPECT_EQ(EncodeTaskArgument("日本語"), argumentFor({0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA}));
  EXPECT_EQ(EncodeTaskArgument("C:\\"), argumentFor({0x43, 0x3A, 0x5C}));
  // Half-width katakana are single bytes.
  EXPECT_EQ(EncodeTaskArgument("ｱ"), argumentFor({0xB1}));

  const std::string path = "D:\\バックアップ\\売上 ﾃﾞｰﾀ_%date%.bak";
  const std::string argument = EncodeTaskArgument(path);
  EXPECT_EQ(argument.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_EQ(decodeTaskArgument(argument), path);
}

TEST(EncodeTaskArgument, RefusesTextCodePage932CannotCarryUnchanged) {
  EXPECT_NE(encodeFailure("caf\xC3\xA9").find("U+00E9"), std::string::npos);  // é: no code
  EXPECT_NE(encodeFailure("\xF0\x9F\x98\x80").find("U+1F600"), std::string::npos);
  // ¥ has a look-alike mapping to 5C, which reads back as a backslash.
  const std::string yen = encodeFailure(
      "C:\xC2\xA5"
      "bk");
  EXPECT_NE(yen.find("U+00A5"), std::string::npos) << yen;
  EXPECT_NE(yen.find("3 文字目"), std::string::npos) << yen;
  // The wave dash would come back as the full-width tilde.
  EXPECT_NE(encodeFailure("a\u301C").find("U+301C"), std::string::npos);
  EXPECT_EQ(decodeTaskArgument(EncodeTaskArgument("a\uFF5E")), "a\uFF5E");
  // Not UTF-8 at all: a stray continuation byte, a cut-off sequence, an encoded surrogate.
  EXPECT_NE(encodeFailure("ab\x80").find("3 バイト目"), std::string::npos);
  EXPECT_FALSE(encodeFailure("\xE6\x97").empty());
  EXPECT_FALSE(encodeFailure("\xED\xA0\x80").empty());
}

TEST(EncodeTaskArgument, AFailureNeverRepeatsTheText) {
  const std::string message = encodeFailure("hunter2\xC3\xA9");
  ASSERT_FALSE(message.empty());
  EXPECT_EQ(message.find("hunter2"), std::string::npos) << message;
}

TEST(DecodeTaskArgument, EverySingleByteCharacterRoundTrips) {
  int count = 0;
  for (int b = 0x01; b <= 0xFF; ++b) {
    if (!(b < 0x80 || (b >= 0xA1 && b <= 0xDF))) continue;
    const std::string argument = argumentFor({static_cast<unsigned char>(b)});
    const std::string text = decodeTaskArgument(argument);
    // ASCII stays ASCII (0x5C a backslash, 0x7E a tilde); A1-DF are the half-width katakana.
    const char32_t expected = b < 0x80 ? static_cast<char32_t>(b) : 0xFF61 + (b - 0xA1);
    EXPECT_EQ(text, utf8Of(expected)) << std::hex << b;
    EXPECT_EQ(EncodeTaskArgument(text), argument) << std::hex << b;
    ++count;
  }
  EXPECT_EQ(count, 127 + 63);
}

TEST(DecodeTaskArgument, EveryDoubleByteCharacterRoundTrips) {
  int assigned = 0;
  std::vector<int> assignedInRow(256, 0);
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!isLead(lead)) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (!isTrail(trail)) continue;
      const std::string argument =
          argumentFor({static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)});
      std::string text;
      try {
        text = decodeTaskArgument(argument);
      } catch (const TaskArgumentError&) {
        continue;  // a code without a character
      }
      ++assigned;
      ++assignedInRow[static_cast<std::size_t>(lead)];
      ASSERT_FALSE(text.empty());
      const std::string again = EncodeTaskArgument(text);
      if (again == argument) continue;
      // Characters with two codes (the NEC row 13 symbols, the NEC-selected IBM extensions and
      // IBM's own) come back as the code Windows writes for them, never as the NEC-selected one,
      // and that code reads as the same character.
      SCOPED_TRACE(argument);
      EXPECT_TRUE(lead == 0x87 || lead == 0xED || lead == 0xEE || lead == 0xFA);
      EXPECT_EQ(decodeTaskArgument(again), text);
      const std::string hex(again.rbegin(), again.rend());
      EXPECT_NE(hex.substr(0, 2), "ED");
      EXPECT_NE(hex.substr(0, 2), "EE");
    }
  }
  // JIS X 0208 (6879), NEC row 13 (83), the NEC-selected IBM extensions (374), IBM's own (388)
  // and the user-defined area (1880).
  EXPECT_EQ(assigned, 6879 + 83 + 374 + 388 + 1880);
  // Rows that are full: the kanji rows, the user-defined area, the first extension rows.
  for (int lead : {0x89, 0x90, 0x97, 0x99, 0x9F, 0xE0, 0xE9, 0xED, 0xF0, 0xF9, 0xFA, 0xFB}) {
    EXPECT_EQ(assignedInRow[static_cast<std::size_t>(lead)], 188) << std::hex << lead;
  }
  // Rows with no character at all.
  for (int lead : {0x85, 0x86, 0xEB, 0xEC, 0xEF}) {
    EXPECT_EQ(assignedInRow[static_cast<std::size_t>(lead)], 0) << std::hex << lead;
  }
}

TEST(DecodeTaskArgument, RefusesBytesThatAreNoTextOfTheCodePage) {
  // Bytes that neither stand alone nor lead a pair.
  for (unsigned char b : {0x80, 0xA0, 0xFD, 0xFE, 0xFF}) {
    EXPECT_NE(decodeFailure(argumentFor({0x41, b})).find("2 バイト目"), std::string::npos)
        << std::hex << int{b};
  }
  // Every lead byte at the very end, without its trail byte.
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!isLead(lead)) continue;
    EXPECT_FALSE(decodeFailure(argumentFor({0x41, static_cast<unsigned char>(lead)})).empty())
        << std::hex << lead;
  }
  // Every lead byte with every byte that cannot follow it.
  for (int lead = 0x81; lead <= 0xFC; ++lead) {
    if (!isLead(lead)) continue;
    for (int trail = 0x01; trail <= 0xFF; ++trail) {
      if (isTrail(trail)) continue;
      const std::string message =
          decodeFailure(argumentFor({static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)}));
      EXPECT_NE(message.find("2 バイト目"), std::string::npos) << std::hex << lead << ' ' << trail;
    }
  }
  // A well-formed code without a character, after two good characters.
  EXPECT_NE(decodeFailure(argumentFor({0x41, 0x42, 0x85, 0x40})).find("3 バイト目"), std::string::npos);
  // A zero byte never comes from the encoder.
  EXPECT_NE(decodeFailure(argumentFor({0x41, 0x00})).find("ゼロ"), std::string::npos);
}

TEST(DecodeTaskArgument, RefusesMalformedHexadecimal) {
  EXPECT_NE(decodeFailure("36261").find("奇数"), std::string::npos);
  EXPECT_NE(decodeFailure("0").find("奇数"), std::string::npos);
  // Only upper-case digits: the encoder writes no other.
  EXPECT_NE(decodeFailure("3626f6").find("5 文字目"), std::string::npos);
  EXPECT_NE(decodeFailure("3G2616").find("2 文字目"), std::string::npos);
  EXPECT_FALSE(decodeFailure("36 616").empty());
  EXPECT_FALSE(decodeFailure("-36261").empty());
  EXPECT_FALSE(decodeFailure("\"362616\"").empty());
}

}  // namespace
}  // namespace bv::tasks
