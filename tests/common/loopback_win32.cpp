#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>

#include "closed_port.h"
#include "silent_listener.h"

namespace bvtest {
namespace {

// Winsock started for the owner's lifetime (Winsock counts the starts).
class Winsock {
 public:
  Winsock() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup");
  }
  ~Winsock() { ::WSACleanup(); }
  Winsock(const Winsock&) = delete;
  Winsock& operator=(const Winsock&) = delete;
};

// One socket, closed on every path.
class OwnedSocket {
 public:
  explicit OwnedSocket(SOCKET socket) : socket_(socket) {}
  ~OwnedSocket() {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
  }
  OwnedSocket(const OwnedSocket&) = delete;
  OwnedSocket& operator=(const OwnedSocket&) = delete;
  SOCKET get() const { return socket_; }
  bool valid() const { return socket_ != INVALID_SOCKET; }

 private:
  SOCKET socket_;
};

// A TCP socket bound to an ephemeral loopback port.
struct BoundSocket {
  Winsock winsock;  // started before the socket is made, cleaned up after it is closed
  OwnedSocket socket{::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
  std::uint16_t port = 0;

  BoundSocket() {
    if (!socket.valid()) throw std::runtime_error("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("bind");
    }
    port = ::ntohs(address.sin_port);
  }
};

}  // namespace

std::uint16_t closedLoopbackPort() {
  // Bound but never listening, and released on return: connections are refused.
  return BoundSocket().port;
}

struct SilentListener::Socket {
  BoundSocket bound;
};

SilentListener::SilentListener() : socket_(std::make_unique<Socket>()) {
  port_ = socket_->bound.port;
  if (::listen(socket_->bound.socket.get(), 8) != 0) throw std::runtime_error("listen");
  u_long nonBlocking = 1;
  ::ioctlsocket(socket_->bound.socket.get(), FIONBIO, &nonBlocking);
}

SilentListener::~SilentListener() = default;

bool SilentListener::anybodyConnected() const {
  const OwnedSocket client(::accept(socket_->bound.socket.get(), nullptr, nullptr));
  return client.valid();
}

}  // namespace bvtest
