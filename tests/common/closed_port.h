// A loopback TCP port on which nothing listens, for refused-connection tests.
// loopback_posix.cpp and loopback_win32.cpp implement it (with silent_listener.h).
#pragma once

#include <cstdint>

namespace bvtest {

std::uint16_t closedLoopbackPort();

}  // namespace bvtest
