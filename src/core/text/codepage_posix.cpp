// Code page 932 through iconv. glibc names it "CP932" (Microsoft's table, with the NEC and IBM
// extensions and the user-defined area), not "SHIFT_JIS", which maps 0x5C to the yen sign and
// lacks the extensions.
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "core/text/codepage.h"

namespace bv::text {
namespace {

// One conversion descriptor, closed on every path.
class Converter {
 public:
  Converter(const char* to, const char* from) : handle_(::iconv_open(to, from)) {
    if (handle_ == invalid()) {
      throw CodePageUnavailable(std::string("iconv cannot convert from ") + from + " to " + to);
    }
  }
  ~Converter() { ::iconv_close(handle_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // The whole input converted, or nothing when iconv refuses any of it.
  std::optional<std::string> convert(std::string_view input) {
    std::string output;
    std::vector<char> in(input.begin(), input.end());
    char* inPointer = in.data();
    std::size_t inLeft = in.size();
    char buffer[256];
    for (;;) {
      char* outPointer = buffer;
      std::size_t outLeft = sizeof buffer;
      // The last round (inPointer null) flushes the shift state and reports a sequence cut off
      // at the end of the input.
      const bool flushing = inLeft == 0;
      const std::size_t result = flushing ? ::iconv(handle_, nullptr, nullptr, &outPointer, &outLeft)
                                          : ::iconv(handle_, &inPointer, &inLeft, &outPointer, &outLeft);
      output.append(buffer, sizeof buffer - outLeft);
      if (result != static_cast<std::size_t>(-1)) {
        if (flushing) return output;
        continue;
      }
      // EILSEQ for a sequence that is no character; EINVAL for one cut off at the end, such as a
      // lead byte without its trail byte.
      if (errno != E2BIG) return std::nullopt;
    }
  }

 private:
  static iconv_t invalid() { return reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)); }
  iconv_t handle_;
};

constexpr const char* kCodePage = "CP932";
constexpr const char* kUtf8 = "UTF-8";

}  // namespace

std::optional<std::string> utf8ToCp932(std::string_view utf8) {
  return Converter(kCodePage, kUtf8).convert(utf8);
}

std::optional<std::string> cp932ToUtf8(std::string_view bytes) {
  return Converter(kUtf8, kCodePage).convert(bytes);
}

}  // namespace bv::text
