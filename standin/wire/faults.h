// Faults on demand, for tests: the TDS server can drop a session in the middle of a request or
// hold a reply for a while, as a server that fails or stalls would. Also the spelling of
// durations that the command line and these faults share.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace standin::wire {

// "500ms", "2s", or a bare number of seconds ("30"); nullopt for anything else.
std::optional<std::chrono::milliseconds> parseDuration(std::string_view text);

}  // namespace standin::wire
