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
  EXPECT_EQ(utf8ToUtf16("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(utf8ToUtf16("\xE3\x81"), u"\uFFFD\uFFFD");     // truncated sequence
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");     // overlong "/"
  EXPECT_EQ(utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // a surrogate
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t{0xD800})), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace bv::text
