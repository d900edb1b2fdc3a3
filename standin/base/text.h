// Text helpers shared by the engine and the TDS layer: UTF-8 <-> UTF-16LE, case folding of
// ASCII letters (the server's collation is case-insensitive), and the server code page.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace standin::base {

// UTF-8 to UTF-16LE bytes (two bytes per code unit, surrogate pairs for astral characters).
// Invalid UTF-8 bytes become U+FFFD.
std::string utf8ToUtf16le(std::string_view utf8);
// UTF-16LE bytes to UTF-8; an odd trailing byte is dropped, lone surrogates become U+FFFD.
std::string utf16leToUtf8(std::string_view utf16le);
// Number of UTF-16 code units of a UTF-8 text.
std::size_t utf16Length(std::string_view utf8);

std::string toUpperAscii(std::string_view s);
std::string toLowerAscii(std::string_view s);
bool equalsIgnoreCase(std::string_view a, std::string_view b);
// Three-way comparison ignoring ASCII case (the collation's CI rule for the letters a-z).
int compareIgnoreCase(std::string_view a, std::string_view b);

// The server's non-Unicode code page (CP932, the code page of Japanese_CI_AS).
// Converts a UTF-8 text to what a varchar value can hold: characters the code page lacks
// become '?'. When maxBytes is given, the result is cut to at most that many code-page
// bytes without splitting a double-byte character. Returns UTF-8.
std::string toServerCodePage(std::string_view utf8, std::size_t maxBytes = SIZE_MAX);
// Byte length of a UTF-8 text in the server code page (unmappable characters count as 1).
std::size_t serverCodePageLength(std::string_view utf8);
// UTF-8 to code-page bytes (for BIGVARCHAR values on the wire).
std::string utf8ToServerCodePageBytes(std::string_view utf8);

// Code-page bytes (BIGVARCHAR values from clients) to UTF-8; undecodable bytes become '?'.
std::string serverCodePageBytesToUtf8(std::string_view bytes);

// SQL LIKE as the server's case-insensitive collation matches: % any run of characters, _ one
// character, [abc] or [a-f] one of a set, [^...] one not in it, and the `escape` character (a
// single character, when given) making the next one stand for itself. Case is ignored for ASCII
// letters, unless `ignoreCase` is false (a case-sensitive or binary collation).
bool likeMatch(std::string_view text, std::string_view pattern, std::string_view escape = {},
               bool ignoreCase = true);

}  // namespace standin::base
