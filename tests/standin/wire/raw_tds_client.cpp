#include "raw_tds_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "standin/base/text.h"
#include "standin/base/version.h"
#include "standin/wire/tds_protocol.h"

namespace standintest {

using Clock = std::chrono::steady_clock;

namespace {

void put16(std::string& s, std::size_t at, std::uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}

int remainingMs(Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

std::string login7(const std::string& user, const std::string& password, const std::string& database,
                   std::uint32_t version, std::uint8_t flags2) {
  using standin::base::utf8ToUtf16le;
  std::string fixed(94, '\0');
  for (int i = 0; i < 4; ++i)
    fixed[4 + static_cast<std::size_t>(i)] = static_cast<char>((version >> (8 * i)) & 0xFF);
  fixed[9] = 0x10;  // packet size 4096
  fixed[25] = static_cast<char>(flags2);
  std::string data;
  auto field = [&](std::size_t slot, const std::string& utf8, bool pw) {
    std::string u16 = utf8ToUtf16le(utf8);
    if (pw) u16 = standin::wire::encodePassword(u16);
    put16(fixed, slot, static_cast<std::uint16_t>(94 + data.size()));
    put16(fixed, slot + 2, static_cast<std::uint16_t>(u16.size() / 2));
    data += u16;
  };
  field(36, "client", false);
  field(40, user, false);
  field(44, password, true);
  field(48, "app", false);
  field(52, "127.0.0.1", false);
  field(64, "us_english", false);
  field(68, database, false);
  std::string out = fixed + data;
  const auto len = static_cast<std::uint32_t>(out.size());
  for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<char>((len >> (8 * i)) & 0xFF);
  return out;
}

std::string preloginRequest() {
  // VERSION at offset 6, 6 bytes; the terminator; then the version itself.
  return std::string("\x00\x00\x06\x00\x06\xFF", 6) + std::string("\x09\x00\x00\x00\x00\x00", 6);
}

RawTdsClient::RawTdsClient(std::uint16_t port) {
  standin::base::UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd.valid() && ::connect(fd.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) fd_ = std::move(fd);
}

bool RawTdsClient::sendPacket(std::uint8_t type, std::string_view payload, bool last) {
  std::string packet(8, '\0');
  packet[0] = static_cast<char>(type);
  packet[1] = static_cast<char>(last ? 0x01 : 0x00);
  const std::size_t length = payload.size() + 8;
  packet[2] = static_cast<char>(length >> 8);
  packet[3] = static_cast<char>(length & 0xFF);
  packet[6] = 1;
  packet.append(payload);
  std::string_view rest(packet);
  while (!rest.empty()) {
    const ssize_t n = ::send(fd_.get(), rest.data(), rest.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool RawTdsClient::sendMessage(std::uint8_t type, std::string_view payload) {
  constexpr std::size_t kChunk = 4096 - 8;
  do {
    const std::size_t n = std::min(kChunk, payload.size());
    if (!sendPacket(type, payload.substr(0, n), n == payload.size())) return false;
    payload.remove_prefix(n);
  } while (!payload.empty());
  return true;
}

std::optional<std::string> RawTdsClient::readReply(std::chrono::milliseconds patience) {
  const auto until = Clock::now() + patience;
  std::string message;
  while (true) {
    // Whole packets from what has arrived.
    while (in_.size() >= 8) {
      const std::size_t length =
          (static_cast<unsigned char>(in_[2]) << 8) | static_cast<unsigned char>(in_[3]);
      if (length < 8 || in_.size() < length) break;
      const bool last = (static_cast<unsigned char>(in_[1]) & 0x01) != 0;
      message.append(in_, 8, length - 8);
      in_.erase(0, length);
      if (last) return message;
    }
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, remainingMs(until)) <= 0) return std::nullopt;
    char buf[16384];
    const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::nullopt;
    in_.append(buf, static_cast<std::size_t>(n));
  }
}

RawTdsClient::Rest RawTdsClient::readUntilClosed(std::chrono::milliseconds patience) {
  const auto until = Clock::now() + patience;
  Rest rest;
  rest.bytes = std::move(in_);
  in_.clear();
  while (true) {
    pollfd p{fd_.get(), POLLIN, 0};
    if (::poll(&p, 1, remainingMs(until)) <= 0) return rest;
    char buf[16384];
    const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      rest.closed = true;
      return rest;
    }
    rest.bytes.append(buf, static_cast<std::size_t>(n));
  }
}

bool RawTdsClient::silentFor(std::chrono::milliseconds wait) {
  if (!in_.empty()) return false;
  pollfd p{fd_.get(), POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(wait.count())) == 0;
}

bool RawTdsClient::logIn(const std::string& password) {
  if (!sendMessage(standin::wire::kPrelogin, preloginRequest()) || !readReply()) return false;
  if (!sendMessage(standin::wire::kLogin7, login7("sa", password, "", standin::base::kTds71))) return false;
  const auto reply = readReply();
  return reply && endsWithoutError(*reply);
}

std::optional<std::string> RawTdsClient::batch(const std::string& sql, std::chrono::milliseconds patience) {
  if (!sendMessage(standin::wire::kSqlBatch, standin::base::utf8ToUtf16le(sql))) return std::nullopt;
  return readReply(patience);
}

bool endsWithoutError(const std::string& reply) {
  // DONE in TDS 7.1: token, status (2), command (2), count (4).
  if (reply.size() < 9) return false;
  const std::string done = reply.substr(reply.size() - 9);
  return static_cast<unsigned char>(done[0]) == standin::wire::kTokenDone &&
         (static_cast<unsigned char>(done[1]) & 0x02) == 0;
}

}  // namespace standintest
