// A loopback TCP listener that never answers, for tests that must know whether anybody
// connected. loopback_posix.cpp and loopback_win32.cpp implement it (with closed_port.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace bvtest {

// Listens on 127.0.0.1 at an ephemeral port and never answers; says whether a client came.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;

  std::uint16_t port() const { return port_; }
  std::string serverText() const { return "127.0.0.1," + std::to_string(port_); }
  // True when a connection is waiting in the backlog (one that came and went still counts).
  bool anybodyConnected() const;

 private:
  struct Socket;
  std::unique_ptr<Socket> socket_;
  std::uint16_t port_ = 0;
};

}  // namespace bvtest
