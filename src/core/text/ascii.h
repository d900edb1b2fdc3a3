// Letter case and classes of ASCII characters only. Keys, key words, service and column names
// and the %date% marker are ASCII by definition: every other byte, a byte of a multi-byte
// character included, stays as it is, and the locale is never asked (its tolower would fold
// bytes of other characters too).
#pragma once

#include <string>
#include <string_view>

namespace bv::text {

constexpr bool isAsciiUpper(char c) noexcept { return c >= 'A' && c <= 'Z'; }
constexpr bool isAsciiLower(char c) noexcept { return c >= 'a' && c <= 'z'; }
constexpr bool isAsciiLetter(char c) noexcept { return isAsciiUpper(c) || isAsciiLower(c); }
constexpr bool isAsciiDigit(char c) noexcept { return c >= '0' && c <= '9'; }

constexpr char asciiLower(char c) noexcept { return isAsciiUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
constexpr char asciiUpper(char c) noexcept { return isAsciiLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }

// The text with only A to Z (asciiLower) or a to z (asciiUpper) changed.
std::string asciiLower(std::string_view text);
std::string asciiUpper(std::string_view text);

// Equal but for the case of ASCII letters.
constexpr bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace bv::text
