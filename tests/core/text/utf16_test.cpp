#include "core/text/utf16.h"

#include <gtest/gtest.h>

namespace bv::text {
namespace {

TEST(Utf16, RoundTripsAsciiJapaneseAndAstralCharacters) {
  for (const std::string text : {"", "abc", "バックアップ中にエラー", "𠮷野家", "é\t\r\n"}) {
    EXPECT_EQ(utf16ToUtf8(utf8ToUtf16(text)), text);
  }
  EXPECT_EQ(utf8ToUtf16("𠮷").size(), 2u);
}

TEST(Utf16, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(utf8ToUtf16("a\xFF"
                        "b"),
            u"a\uFFFDb");
  EXPECT_EQ(utf8ToUtf16("\xE3\x81"), u"\uFFFD\uFFFD");            // truncated sequence
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong "/"
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // a surrogate
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace bv::text

namespace bv::text {
namespace {

TEST(DecodeUtf8, ReadsEachLengthAndRefusesWhatIsNoCharacter) {
  const std::string text = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";  // a é 日 😀
  EXPECT_EQ(decodeUtf8(text, 0).codePoint, U'a');
  EXPECT_EQ(decodeUtf8(text, 1).length, 2u);
  EXPECT_EQ(decodeUtf8(text, 1).codePoint, U'\u00E9');
  EXPECT_EQ(decodeUtf8(text, 3).codePoint, U'\u65E5');
  EXPECT_EQ(decodeUtf8(text, 6).length, 4u);
  EXPECT_EQ(decodeUtf8(text, 6).codePoint, U'\U0001F600');
  for (const std::string& bad :
       {std::string("\x80"), std::string("\xC0\xAF"), std::string("\xED\xA0\x80"),
        std::string("\xF4\x90\x80\x80"), std::string("\xE6\x97"), std::string("\xF8\x88\x80\x80\x80")}) {
    EXPECT_EQ(decodeUtf8(bad, 0).length, 0u);
  }
}

}  // namespace
}  // namespace bv::text
