// The pieces of a mail's text that must survive any relay: base64 (RFC 2045 6.8) for the body,
// RFC 2047 encoded-words for a header's non-ASCII text, and the guard that keeps a line break
// out of a header. Qt-free.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace bv::mail {

// Base64 of the bytes; with `lineLength` > 0 the output is broken into lines of at most that many
// characters, each ended by CR LF (a body's transfer encoding: 76).
std::string base64Encode(std::string_view bytes, std::size_t lineLength = 0);

// One line of header text: CR, LF and every other control character become a blank (CR LF as a
// pair becomes one blank), and a malformed UTF-8 sequence becomes U+FFFD. A task, database or
// server name, or a server's message, goes through this before it reaches a header, so it cannot
// end the header and start another.
std::string singleLine(std::string_view text);

// The header value for `text` (made single-line first): printable ASCII that fits the line as it
// is; anything else as RFC 2047 "B" encoded-words of UTF-8, each at most 75 characters, each
// line of the value at most 76 characters counting the `firstLineUsed` characters before the
// value on its first line ("Subject: " is 9; at most 56, so that one character fits), words
// after the first on lines of their own (CR LF, blank). A UTF-8 sequence is never split between
// two words.
std::string encodeHeaderText(std::string_view text, std::size_t firstLineUsed);

}  // namespace bv::mail
