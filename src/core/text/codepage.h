// Conversion between UTF-8 (the program's text) and the bytes of the Windows Japanese code page
// (932), the one place where the task argument encoding meets the platform: iconv on POSIX,
// MultiByteToWideChar / WideCharToMultiByte on Windows. Qt-free.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace bv::text {

// Raised when the platform offers no converter for code page 932 at all.
class CodePageUnavailable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The code-page-932 bytes of a UTF-8 text; nothing when the text is not UTF-8 or holds a
// character the code page has no byte sequence for. The platform may map a character to the
// sequence of a look-alike; the caller checks the way back when it needs the exact text.
std::optional<std::string> utf8ToCp932(std::string_view utf8);

// The code-page-932 bytes of a UTF-8 text only when they give back exactly that text: nothing
// for a character the code page cannot carry or would turn into a look-alike ("¥" into "\",
// "〜" into "～").
std::optional<std::string> utf8ToCp932Exact(std::string_view utf8);

// The UTF-8 text of code-page-932 bytes; nothing when a byte sequence is no character of the
// code page (an invalid lead or trail byte, an unassigned code, a lead byte at the end).
std::optional<std::string> cp932ToUtf8(std::string_view bytes);

}  // namespace bv::text
