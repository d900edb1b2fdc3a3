// An IPv4 UDP socket for the SSRP browser (and for the responders its tests run), closed by
// its destructor. One header; ssrp_socket_posix.cpp and ssrp_socket_win32.cpp implement it.
// Qt-free.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace bv::servers {

// A failed socket call: what() names the call and carries the system's own text.
class SocketError : public std::runtime_error {
 public:
  SocketError(const std::string& what, int code) : std::runtime_error(what), code_(code) {}
  int code() const noexcept { return code_; }

 private:
  int code_;
};

struct UdpEndpoint {
  std::string address;  // dotted IPv4
  std::uint16_t port = 0;
};

struct UdpDatagram {
  std::vector<std::uint8_t> bytes;
  // The datagram was longer than the largest one asked for; `bytes` holds its start only.
  bool truncated = false;
  UdpEndpoint from;
};

class UdpSocket {
 public:
  // Opens the socket; throws SocketError.
  UdpSocket();
  ~UdpSocket();
  UdpSocket(UdpSocket&&) noexcept;
  UdpSocket& operator=(UdpSocket&&) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  // Allows sending to a broadcast address (SO_BROADCAST).
  void enableBroadcast();
  // Binds to a local address ("0.0.0.0" for any) and port (0 for an ephemeral one).
  void bind(const std::string& address, std::uint16_t port);
  // The bound local port.
  std::uint16_t localPort() const;
  // Sends one datagram. An address that is not dotted IPv4 is refused with
  // std::invalid_argument.
  void sendTo(std::span<const std::uint8_t> bytes, const UdpEndpoint& to);
  // Waits up to `timeout` for one datagram of at most `maxSize` bytes; nothing when the time
  // passes first.
  std::optional<UdpDatagram> receive(std::chrono::milliseconds timeout, std::size_t maxSize);

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

}  // namespace bv::servers
