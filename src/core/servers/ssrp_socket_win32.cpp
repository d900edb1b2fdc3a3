// Winsock 2 implementation of UdpSocket. Each socket holds its own WSAStartup/WSACleanup pair
// (Winsock counts them), so no global start-up step is needed.
// The Windows headers build on one another: their order matters.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
// clang-format on

#include "core/servers/ssrp_socket.h"

namespace bv::servers {
namespace {

std::string systemText(int code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text;
  if (length != 0 && buffer != nullptr) {
    DWORD used = length;
    while (used > 0 && (buffer[used - 1] == L'\r' || buffer[used - 1] == L'\n')) --used;
    const int bytes =
        ::WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(used), nullptr, 0, nullptr, nullptr);
    if (bytes > 0) {
      text.resize(static_cast<std::size_t>(bytes));
      ::WideCharToMultiByte(CP_UTF8, 0, buffer, static_cast<int>(used), text.data(), bytes, nullptr, nullptr);
    }
  }
  if (buffer != nullptr) ::LocalFree(buffer);
  if (text.empty()) text = "error " + std::to_string(code);
  return text;
}

[[noreturn]] void failWith(const char* call, int code) {
  throw SocketError(std::string(call) + ": " + systemText(code), code);
}

[[noreturn]] void fail(const char* call) { failWith(call, ::WSAGetLastError()); }

sockaddr_in ipv4(const UdpEndpoint& endpoint) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(endpoint.port);
  if (::inet_pton(AF_INET, endpoint.address.c_str(), &address.sin_addr) != 1) {
    throw std::invalid_argument("not an IPv4 address: " + endpoint.address);
  }
  return address;
}

UdpEndpoint endpointOf(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return {text, ::ntohs(address.sin_port)};
}

}  // namespace

struct UdpSocket::Handle {
  bool started = false;
  SOCKET socket = INVALID_SOCKET;
  ~Handle() {
    if (socket != INVALID_SOCKET) ::closesocket(socket);
    if (started) ::WSACleanup();
  }
};

UdpSocket::UdpSocket() : handle_(std::make_unique<Handle>()) {
  WSADATA data{};
  const int started = ::WSAStartup(MAKEWORD(2, 2), &data);
  if (started != 0) failWith("WSAStartup", started);
  handle_->started = true;
  handle_->socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (handle_->socket == INVALID_SOCKET) fail("socket");
}

UdpSocket::~UdpSocket() = default;
UdpSocket::UdpSocket(UdpSocket&&) noexcept = default;
UdpSocket& UdpSocket::operator=(UdpSocket&&) noexcept = default;

void UdpSocket::enableBroadcast() {
  const BOOL on = TRUE;
  if (::setsockopt(handle_->socket, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on),
                   sizeof on) != 0) {
    fail("setsockopt(SO_BROADCAST)");
  }
}

void UdpSocket::bind(const std::string& address, std::uint16_t port) {
  const sockaddr_in local = ipv4({address, port});
  if (::bind(handle_->socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
    fail("bind");
  }
}

std::uint16_t UdpSocket::localPort() const {
  sockaddr_in local{};
  int length = sizeof local;
  if (::getsockname(handle_->socket, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    fail("getsockname");
  }
  return ::ntohs(local.sin_port);
}

void UdpSocket::sendTo(std::span<const std::uint8_t> bytes, const UdpEndpoint& to) {
  const sockaddr_in remote = ipv4(to);
  const int sent =
      ::sendto(handle_->socket, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()),
               0, reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
  if (sent == SOCKET_ERROR) fail("sendto");
}

std::optional<UdpDatagram> UdpSocket::receive(std::chrono::milliseconds timeout, std::size_t maxSize) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + timeout;
  while (true) {
    const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() < 0) return std::nullopt;
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(handle_->socket, &readable);
    timeval wait{};
    wait.tv_sec = static_cast<long>(left.count() / 1000000);
    wait.tv_usec = static_cast<long>(left.count() % 1000000);
    const int ready = ::select(0, &readable, nullptr, nullptr, &wait);
    if (ready == SOCKET_ERROR) fail("select");
    if (ready == 0) return std::nullopt;

    // One byte more than asked for tells a datagram that did not fit.
    UdpDatagram datagram;
    datagram.bytes.resize(maxSize + 1);
    sockaddr_in from{};
    int length = sizeof from;
    const int received =
        ::recvfrom(handle_->socket, reinterpret_cast<char*>(datagram.bytes.data()),
                   static_cast<int>(datagram.bytes.size()), 0, reinterpret_cast<sockaddr*>(&from), &length);
    std::size_t size = 0;
    if (received == SOCKET_ERROR) {
      const int code = ::WSAGetLastError();
      // An ICMP "port unreachable" for an earlier send surfaces here on Windows: keep waiting.
      if (code == WSAECONNRESET || code == WSAEWOULDBLOCK || code == WSAEINTR) continue;
      if (code != WSAEMSGSIZE) failWith("recvfrom", code);
      size = datagram.bytes.size();  // the buffer holds the start of a longer datagram
    } else {
      size = static_cast<std::size_t>(received);
    }
    datagram.truncated = size > maxSize;
    datagram.bytes.resize(datagram.truncated ? maxSize : size);
    datagram.from = endpointOf(from);
    return datagram;
  }
}

}  // namespace bv::servers
