#include "core/text/codepage.h"

namespace bv::text {

std::optional<std::string> utf8ToCp932Exact(std::string_view utf8) {
  auto bytes = utf8ToCp932(utf8);
  const auto back = bytes ? cp932ToUtf8(*bytes) : std::nullopt;
  if (!back || *back != utf8) return std::nullopt;
  return bytes;
}

}  // namespace bv::text
