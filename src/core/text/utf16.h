// UTF-8, the program's text, and UTF-16, the text of ODBC's wide entry points and of stored
// task files. Qt-free.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace bv::text {

// One character of UTF-8 text: its code point and the length of its byte sequence. The length
// is 0 when the sequence at that place is malformed: a stray continuation byte, an overlong
// form, a surrogate, a value past U+10FFFF, or a tail cut off by the end of the text.
struct Utf8Character {
  char32_t codePoint = 0;
  std::size_t length = 0;
};
Utf8Character decodeUtf8(std::string_view text, std::size_t offset);

// Exact conversions for stored text that must read back as it was written: nothing when the
// input holds a malformed sequence or an unpaired surrogate.
std::optional<std::u16string> utf8ToUtf16Exact(std::string_view utf8);
std::optional<std::string> utf16ToUtf8Exact(std::u16string_view utf16);

// Malformed UTF-8 sequences become U+FFFD; nothing is dropped silently.
std::u16string utf8ToUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);

}  // namespace bv::text
