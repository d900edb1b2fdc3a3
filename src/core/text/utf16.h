// UTF-8 <-> UTF-16 conversion for the ODBC wide entry points. Qt-free.
#pragma once

#include <string>
#include <string_view>

namespace bv::text {

// Malformed UTF-8 sequences become U+FFFD; nothing is dropped silently.
std::u16string utf8ToUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(std::u16string_view utf16);

}  // namespace bv::text
