#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "core/servers/ssrp_socket.h"
#include "core/sys/unique_fd.h"

namespace bv::servers {
namespace {

[[noreturn]] void fail(const char* call) {
  const int code = errno;
  throw SocketError(std::string(call) + ": " + std::system_category().message(code), code);
}

sockaddr_in ipv4(const UdpEndpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(endpoint.port);
  if (::inet_pton(AF_INET, endpoint.address.c_str(), &address.sin_addr) != 1) {
    throw std::invalid_argument("not an IPv4 address: " + endpoint.address);
  }
  return address;
}

UdpEndpoint endpointOf(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return {text, ntohs(address.sin_port)};
}

}  // namespace

struct UdpSocket::Handle {
  sys::UniqueFd socket;
};

UdpSocket::UdpSocket() : handle_(std::make_unique<Handle>()) {
  handle_->socket.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!handle_->socket) fail("socket");
}

UdpSocket::~UdpSocket() = default;
UdpSocket::UdpSocket(UdpSocket&&) noexcept = default;
UdpSocket& UdpSocket::operator=(UdpSocket&&) noexcept = default;

void UdpSocket::enableBroadcast() {
  const int on = 1;
  if (::setsockopt(handle_->socket.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
    fail("setsockopt(SO_BROADCAST)");
  }
}

void UdpSocket::bind(const std::string& address, std::uint16_t port) {
  const sockaddr_in local = ipv4({address, port});
  if (::bind(handle_->socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    fail("bind");
  }
}

std::uint16_t UdpSocket::localPort() const {
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (::getsockname(handle_->socket.get(), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    fail("getsockname");
  }
  return ntohs(local.sin_port);
}

void UdpSocket::sendTo(std::span<const std::uint8_t> bytes, const UdpEndpoint& to) {
  const sockaddr_in remote = ipv4(to);
  ssize_t sent = -1;
  do {
    sent = ::sendto(handle_->socket.get(), bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&remote),
                    sizeof remote);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) fail("sendto");
}

std::optional<UdpDatagram> UdpSocket::receive(std::chrono::milliseconds timeout, std::size_t maxSize) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  while (true) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() < 0) return std::nullopt;
    pollfd watch{handle_->socket.get(), POLLIN, 0};
    const int ready = ::poll(&watch, 1, static_cast<int>(left.count()));
    if (ready < 0) {
      if (errno == EINTR) continue;
      fail("poll");
    }
    if (ready == 0) return std::nullopt;

    // One byte more than asked for tells a datagram that did not fit.
    UdpDatagram datagram;
    datagram.bytes.resize(maxSize + 1);
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t received = ::recvfrom(handle_->socket.get(), datagram.bytes.data(), datagram.bytes.size(), 0,
                                        reinterpret_cast<sockaddr*>(&from), &length);
    if (received < 0) {
      // Interrupted, spurious wake-up, or an ICMP error left by an earlier send: keep waiting.
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNREFUSED) {
        continue;
      }
      fail("recvfrom");
    }
    const auto size = static_cast<std::size_t>(received);
    datagram.truncated = size > maxSize;
    datagram.bytes.resize(datagram.truncated ? maxSize : size);
    datagram.from = endpointOf(from);
    return datagram;
  }
}

}  // namespace bv::servers
