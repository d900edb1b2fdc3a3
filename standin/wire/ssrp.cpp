#include "standin/wire/ssrp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "standin/base/text.h"
#include "standin/base/unique_fd.h"

namespace standin::wire {

using base::equalsIgnoreCase;
using base::UniqueFd;

std::string ssrpInstanceText(const std::string& serverName, const SsrpInstance& instance) {
  return "ServerName;" + serverName + ";InstanceName;" + instance.name + ";IsClustered;No;Version;" +
         instance.version + ";tcp;" + std::to_string(instance.tcpPort) + ";;";
}

namespace {

std::string frame(const std::string& data) {
  std::string out;
  out.push_back(0x05);
  out.push_back(static_cast<char>(data.size() & 0xFF));
  out.push_back(static_cast<char>((data.size() >> 8) & 0xFF));
  return out + data;
}

}  // namespace

std::string ssrpAnswer(std::string_view request, const std::string& serverName,
                       const std::vector<SsrpInstance>& instances) {
  if (request.empty() || instances.empty()) return {};
  const auto kind = static_cast<unsigned char>(request[0]);
  if (kind == 0x02 || kind == 0x03) {
    std::string data;
    for (const auto& inst : instances) {
      const std::string one = ssrpInstanceText(serverName, inst);
      if (data.size() + one.size() > 65535 - 3) break;
      data += one;
    }
    return frame(data);
  }
  if (kind == 0x04) {
    std::string_view name = request.substr(1);
    if (const auto nul = name.find('\0'); nul != std::string_view::npos) name = name.substr(0, nul);
    if (name.size() > 32) return {};
    for (const auto& inst : instances)
      if (equalsIgnoreCase(inst.name, name)) return frame(ssrpInstanceText(serverName, inst));
    return {};
  }
  return {};
}

struct SsrpResponder::Impl {
  std::string serverName;
  std::vector<SsrpInstance> instances;
  std::uint16_t requestedPort = 1434;
  std::uint16_t port = 0;
  UniqueFd sock, wakeRead, wakeWrite;
  std::thread thread;
  bool running = false;

  void loop() {
    char buf[2048];
    while (true) {
      pollfd fds[2] = {{wakeRead.get(), POLLIN, 0}, {sock.get(), POLLIN, 0}};
      if (::poll(fds, 2, 1000) < 0 && errno != EINTR) return;
      if (fds[0].revents) return;
      if (!(fds[1].revents & POLLIN)) continue;
      sockaddr_storage from{};
      socklen_t fromLen = sizeof from;
      const ssize_t n =
          ::recvfrom(sock.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen);
      if (n <= 0) continue;
      const std::string reply =
          ssrpAnswer(std::string_view(buf, static_cast<std::size_t>(n)), serverName, instances);
      if (!reply.empty())
        ::sendto(sock.get(), reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLen);
    }
  }
};

SsrpResponder::SsrpResponder(std::string serverName, std::vector<SsrpInstance> instances, std::uint16_t port)
    : impl_(std::make_unique<Impl>()) {
  impl_->serverName = std::move(serverName);
  impl_->instances = std::move(instances);
  impl_->requestedPort = port;
}

SsrpResponder::~SsrpResponder() { stop(); }

void SsrpResponder::start() {
  if (impl_->running) return;
  impl_->sock = UniqueFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (!impl_->sock.valid()) throw std::runtime_error("cannot create a UDP socket");
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(impl_->requestedPort);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(impl_->sock.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    throw std::runtime_error("cannot listen on UDP 127.0.0.1:" + std::to_string(impl_->requestedPort) + ": " +
                             std::strerror(errno));
  socklen_t len = sizeof a;
  ::getsockname(impl_->sock.get(), reinterpret_cast<sockaddr*>(&a), &len);
  impl_->port = ntohs(a.sin_port);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("cannot create a pipe");
  impl_->wakeRead = UniqueFd(fds[0]);
  impl_->wakeWrite = UniqueFd(fds[1]);
  impl_->running = true;
  impl_->thread = std::thread([this] { impl_->loop(); });
}

void SsrpResponder::stop() {
  if (!impl_->running) return;
  impl_->running = false;
  const char byte = 1;
  [[maybe_unused]] const auto ignored = ::write(impl_->wakeWrite.get(), &byte, 1);
  impl_->thread.join();
  impl_->sock.reset();
}

std::uint16_t SsrpResponder::port() const { return impl_->port; }

}  // namespace standin::wire
