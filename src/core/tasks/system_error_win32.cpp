// The system's texts for result codes: FormatMessageW from the system's message table, in the
// system's language, and a generic sentence with the code where the system has none.
#include <windows.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "core/tasks/system_error.h"
#include "core/text/utf16.h"

namespace bv::tasks {
namespace {

struct LocalFreeDeleter {
  void operator()(wchar_t* buffer) const { ::LocalFree(buffer); }
};

// The system's text for one message number without its closing line break; empty when the
// system has none.
std::string systemMessage(DWORD number) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      number, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
  const std::unique_ptr<wchar_t, LocalFreeDeleter> owned(buffer);
  if (length == 0 || buffer == nullptr) return {};
  std::u16string text(buffer, buffer + length);
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n')) text.pop_back();
  return text::utf16ToUtf8(text);
}

}  // namespace

std::string systemErrorText(HResult code) {
  std::string text = systemMessage(code);
  // A Win32 error in HRESULT form (HRESULT_FROM_WIN32): the table may know only the plain number.
  constexpr HResult kWin32Facility = 0x80070000;
  if (text.empty() && (code & 0xFFFF0000u) == kWin32Facility) text = systemMessage(code & 0xFFFFu);
  if (!text.empty()) return text;
  std::array<char, 64> generic{};
  std::snprintf(generic.data(), generic.size(), "エラー 0x%08X が発生しました。",
                static_cast<unsigned>(code));
  return generic.data();
}

}  // namespace bv::tasks
