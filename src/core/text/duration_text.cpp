#include "core/text/duration_text.h"

#include <algorithm>
#include <cstdio>

namespace bv::text {

std::string durationText(std::int64_t seconds) {
  const long long total = std::max<long long>(seconds, 0);
  const long long hours = total / 3600;
  const long long minutes = total / 60 % 60;
  const long long rest = total % 60;
  char text[64];
  if (hours > 0) {
    std::snprintf(text, sizeof text, "%lld時間%02lld分%02lld秒", hours, minutes, rest);
  } else if (minutes > 0) {
    std::snprintf(text, sizeof text, "%lld分%02lld秒", minutes, rest);
  } else {
    std::snprintf(text, sizeof text, "%lld秒", rest);
  }
  return text;
}

}  // namespace bv::text
