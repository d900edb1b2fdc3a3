#include "standin/wire/faults.h"

namespace standin::wire {

std::optional<std::chrono::milliseconds> parseDuration(std::string_view text) {
  std::size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 9) return std::nullopt;
  long long n = 0;
  for (std::size_t i = 0; i < digits; ++i) n = n * 10 + (text[i] - '0');
  const std::string_view unit = text.substr(digits);
  if (unit == "ms") return std::chrono::milliseconds(n);
  if (unit == "s" || unit.empty()) return std::chrono::milliseconds(n * 1000);
  return std::nullopt;
}

}  // namespace standin::wire
