#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "closed_port.h"
#include "silent_listener.h"

namespace bvtest {
namespace {

// A socket closed on every path.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

sockaddr_in loopbackAddress() {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  return address;
}

// Binds to an ephemeral loopback port and returns it.
std::uint16_t bindEphemeral(const Fd& socket) {
  sockaddr_in address = loopbackAddress();
  socklen_t length = sizeof address;
  if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("bind");
  }
  return ntohs(address.sin_port);
}

}  // namespace

std::uint16_t closedLoopbackPort() {
  const Fd socket(::socket(AF_INET, SOCK_STREAM, 0));
  if (socket.get() < 0) throw std::runtime_error("socket");
  // Bound but never listening, and released on return: connections are refused.
  return bindEphemeral(socket);
}

struct SilentListener::Socket {
  Fd fd{::socket(AF_INET, SOCK_STREAM, 0)};
};

SilentListener::SilentListener() : socket_(std::make_unique<Socket>()) {
  if (socket_->fd.get() < 0) throw std::runtime_error("socket");
  port_ = bindEphemeral(socket_->fd);
  if (::listen(socket_->fd.get(), 8) != 0) throw std::runtime_error("listen");
  ::fcntl(socket_->fd.get(), F_SETFL, O_NONBLOCK);
}

SilentListener::~SilentListener() = default;

bool SilentListener::anybodyConnected() const {
  const Fd client(::accept(socket_->fd.get(), nullptr, nullptr));
  return client.get() >= 0;
}

}  // namespace bvtest
