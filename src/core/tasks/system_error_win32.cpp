// The system's texts for result codes: FormatMessageW from the system's message table, in the
// system's language, and a generic sentence with the code where the system has none.
#include <array>
#include <cstdio>
#include <string>

#include "core/sys/com_win32.h"
#include "core/tasks/system_error.h"

namespace bv::tasks {

std::string systemErrorText(HResult code) {
  std::string text = sys::systemMessage(code);
  // A Win32 error in HRESULT form (HRESULT_FROM_WIN32): the table may know only the plain number.
  constexpr HResult kWin32Facility = 0x80070000;
  if (text.empty() && (code & 0xFFFF0000u) == kWin32Facility) text = sys::systemMessage(code & 0xFFFFu);
  if (!text.empty()) return text;
  std::array<char, 64> generic{};
  std::snprintf(generic.data(), generic.size(), "エラー 0x%08X が発生しました。",
                static_cast<unsigned>(code));
  return generic.data();
}

}  // namespace bv::tasks
