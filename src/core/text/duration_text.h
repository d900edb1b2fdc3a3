// How the program writes a length of time for a person: "5秒", "2分05秒", "1時間00分05秒" (the
// run history, the mail report). Qt-free.
#pragma once

#include <cstdint>
#include <string>

namespace bv::text {

std::string durationText(std::int64_t seconds);

}  // namespace bv::text
