// Code page 932 through the system's own tables. Both directions go through UTF-16 and refuse
// what they cannot convert exactly: MB_ERR_INVALID_CHARS for bytes that are no character,
// WC_NO_BEST_FIT_CHARS and the default-character flag for text the code page cannot hold.
#include <windows.h>

#include <climits>
#include <string>

#include "core/text/codepage.h"

namespace bv::text {
namespace {

constexpr UINT kCodePage = 932;

std::optional<std::wstring> toWide(UINT codePage, std::string_view bytes) {
  if (bytes.empty()) return std::wstring();
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int inLength = static_cast<int>(bytes.size());
  const int length =
      ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), inLength, nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), inLength, wide.data(), length) !=
      length) {
    return std::nullopt;
  }
  return wide;
}

std::optional<std::string> fromWide(UINT codePage, const std::wstring& wide) {
  if (wide.empty()) return std::string();
  if (wide.size() > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  const int inLength = static_cast<int>(wide.size());
  // UTF-8 takes neither flag nor default-character report; code page 932 takes both.
  const bool utf8 = codePage == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL usedDefault = FALSE;
  BOOL* usedDefaultPointer = utf8 ? nullptr : &usedDefault;
  const int length =
      ::WideCharToMultiByte(codePage, flags, wide.data(), inLength, nullptr, 0, nullptr, usedDefaultPointer);
  if (length <= 0 || usedDefault) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(length), '\0');
  if (::WideCharToMultiByte(codePage, flags, wide.data(), inLength, bytes.data(), length, nullptr,
                            usedDefaultPointer) != length ||
      usedDefault) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace

std::optional<std::string> utf8ToCp932(std::string_view utf8) {
  const auto wide = toWide(CP_UTF8, utf8);
  if (!wide) return std::nullopt;
  return fromWide(kCodePage, *wide);
}

std::optional<std::string> cp932ToUtf8(std::string_view bytes) {
  const auto wide = toWide(kCodePage, bytes);
  if (!wide) return std::nullopt;
  return fromWide(CP_UTF8, *wide);
}

}  // namespace bv::text
