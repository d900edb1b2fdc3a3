#include "core/mail/header_encoding.h"

#include <algorithm>

#include "core/text/utf16.h"

namespace bv::mail {
namespace {

constexpr char kBase64Letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
constexpr std::string_view kWordStart = "=?UTF-8?B?";
constexpr std::string_view kWordEnd = "?=";
constexpr std::size_t kMaximumLine = 76;  // RFC 2047 5: a line holding encoded-words
constexpr std::size_t kMaximumWord = 75;  // RFC 2047 2
constexpr std::size_t kLongestCharacter = 4;

bool isPrintableAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// The most bytes of text one encoded-word holds when it may be `room` characters long.
std::size_t bytesFitting(std::size_t room) {
  const std::size_t overhead = kWordStart.size() + kWordEnd.size();
  const std::size_t letters = room > overhead ? room - overhead : 0;
  return std::max(letters / 4 * 3, kLongestCharacter);
}

}  // namespace

std::string base64Encode(std::string_view bytes, std::size_t lineLength) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4 + (lineLength > 0 ? bytes.size() / lineLength * 2 + 2 : 0));
  std::size_t column = 0;
  const auto put = [&](char letter) {
    if (lineLength > 0 && column == lineLength) {
      out += "\r\n";
      column = 0;
    }
    out.push_back(letter);
    ++column;
  };
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const auto byte = [&](std::size_t k) {
      return i + k < bytes.size() ? static_cast<unsigned>(static_cast<unsigned char>(bytes[i + k])) : 0u;
    };
    const unsigned group = (byte(0) << 16) | (byte(1) << 8) | byte(2);
    put(kBase64Letters[(group >> 18) & 0x3F]);
    put(kBase64Letters[(group >> 12) & 0x3F]);
    put(i + 1 < bytes.size() ? kBase64Letters[(group >> 6) & 0x3F] : '=');
    put(i + 2 < bytes.size() ? kBase64Letters[group & 0x3F] : '=');
  }
  if (lineLength > 0 && !out.empty()) out += "\r\n";
  return out;
}

std::string singleLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const text::Utf8Character character = text::decodeUtf8(text, i);
    if (character.length == 0) {
      out += kReplacement;
      ++i;
      continue;
    }
    const char32_t c = character.codePoint;
    if (c == U'\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out.push_back(' ');
      i += 2;
      continue;
    }
    // C0 controls, DEL, and the C1 controls (U+0085 is a line break to some readers).
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0)) {
      out.push_back(' ');
    } else {
      out.append(text.substr(i, character.length));
    }
    i += character.length;
  }
  return out;
}

std::string encodeHeaderText(std::string_view text, std::size_t firstLineUsed) {
  const std::string clean = singleLine(text);
  if (isPrintableAscii(clean) && clean.find("=?") == std::string::npos &&
      firstLineUsed + clean.size() <= kMaximumLine) {
    return clean;
  }
  std::string out;
  std::size_t room = kMaximumLine > firstLineUsed ? std::min(kMaximumLine - firstLineUsed, kMaximumWord) : 0;
  for (std::size_t start = 0; start < clean.size();) {
    // As many whole characters as the word can hold (clean holds no malformed sequence).
    const std::size_t limit = bytesFitting(room);
    std::size_t end = start;
    while (end < clean.size()) {
      const std::size_t length = std::max<std::size_t>(text::decodeUtf8(clean, end).length, 1);
      if (end + length - start > limit) break;
      end += length;
    }
    if (!out.empty()) out += "\r\n ";
    out += kWordStart;
    out += base64Encode(std::string_view(clean).substr(start, end - start));
    out += kWordEnd;
    start = end;
    room = std::min(kMaximumLine - 1, kMaximumWord);  // a continuation line starts with a blank
  }
  return out;
}

}  // namespace bv::mail
