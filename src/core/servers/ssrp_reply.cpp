#include "core/servers/ssrp_reply.h"

#include <optional>
#include <stdexcept>
#include <string_view>

namespace bv::servers {
namespace {

constexpr std::uint8_t kSvrResp = 0x05;
constexpr std::uint8_t kClntBcastEx = 0x02;
constexpr std::size_t kMaxNameBytes = 255;
constexpr std::size_t kMaxVersionBytes = 16;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Valid UTF-8 (no overlong forms, no surrogates) with no control characters.
bool isCleanUtf8(std::string_view text) {
  std::size_t i = 0;
  const auto byte = [&text](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  while (i < text.size()) {
    const unsigned char lead = byte(i);
    if (lead < 0x80) {
      if (lead < 0x20 || lead == 0x7F) return false;
      ++i;
      continue;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (text.size() - i < length) return false;
    const unsigned char second = byte(i + 1);
    if (second < low || second > high) return false;
    for (std::size_t k = 2; k < length; ++k) {
      const unsigned char next = byte(i + k);
      if (next < 0x80 || next > 0xBF) return false;
    }
    i += length;
  }
  return true;
}

bool isName(std::string_view text) {
  return !text.empty() && text.size() <= kMaxNameBytes && text.find('\\') == std::string_view::npos;
}

bool isVersion(std::string_view text) {
  if (text.empty() || text.size() > kMaxVersionBytes) return false;
  for (const char c : text) {
    if ((c < '0' || c > '9') && c != '.') return false;
  }
  return true;
}

bool isTcpPort(std::string_view text) {
  if (text.empty() || text.size() > 5) return false;
  unsigned long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value <= 65535;
}

// The protocol parts after the version [MC-SQLR] 2.2.5: np;PIPENAME, tcp;TCPPORT,
// via;NETBIOS,..., rpc;COMPUTERNAME, spx;SERVICENAME, adsp;OBJECTNAME and
// bv;ITEM;GROUP;ITEM;GROUP;ORG. Their values are not needed for the list, but they must be
// whole: a record that runs on into the next one would otherwise pass as protocol parts.
bool areProtocolParts(std::span<const std::string_view> tokens) {
  std::size_t at = 0;
  while (at < tokens.size()) {
    const std::string_view keyword = tokens[at];
    std::size_t values = 1;
    if (equalsIgnoringCase(keyword, "bv")) {
      values = 5;
    } else if (!equalsIgnoringCase(keyword, "np") && !equalsIgnoringCase(keyword, "tcp") &&
               !equalsIgnoringCase(keyword, "via") && !equalsIgnoringCase(keyword, "rpc") &&
               !equalsIgnoringCase(keyword, "spx") && !equalsIgnoringCase(keyword, "adsp")) {
      return false;
    }
    if (tokens.size() - at - 1 < values) return false;
    if (equalsIgnoringCase(keyword, "tcp") && !isTcpPort(tokens[at + 1])) return false;
    at += 1 + values;
  }
  return true;
}

// One instance record, without its closing ";;":
// ServerName;S;InstanceName;I;IsClustered;Yes|No;Version;V[;protocol;value...]
std::optional<SsrpInstance> parseRecord(std::string_view record) {
  std::vector<std::string_view> tokens;
  std::size_t start = 0;
  while (true) {
    const std::size_t semicolon = record.find(';', start);
    const std::string_view token = record.substr(
        start, semicolon == std::string_view::npos ? std::string_view::npos : semicolon - start);
    if (token.empty()) return std::nullopt;
    tokens.push_back(token);
    if (semicolon == std::string_view::npos) break;
    start = semicolon + 1;
  }
  if (tokens.size() < 8) return std::nullopt;
  if (!equalsIgnoringCase(tokens[0], "ServerName") || !equalsIgnoringCase(tokens[2], "InstanceName") ||
      !equalsIgnoringCase(tokens[4], "IsClustered") || !equalsIgnoringCase(tokens[6], "Version")) {
    return std::nullopt;
  }
  if (!areProtocolParts(std::span(tokens).subspan(8))) return std::nullopt;
  SsrpInstance instance;
  if (!isName(tokens[1]) || !isName(tokens[3]) || !isVersion(tokens[7])) return std::nullopt;
  if (equalsIgnoringCase(tokens[5], "Yes")) {
    instance.clustered = true;
  } else if (!equalsIgnoringCase(tokens[5], "No")) {
    return std::nullopt;
  }
  instance.serverName = std::string(tokens[1]);
  instance.instanceName = std::string(tokens[3]);
  instance.version = std::string(tokens[7]);
  return instance;
}

}  // namespace

std::vector<std::uint8_t> clntBcastExRequest() { return {kClntBcastEx}; }

std::vector<SsrpInstance> parseSvrResp(std::span<const std::uint8_t> datagram) {
  if (datagram.size() < 3 || datagram[0] != kSvrResp) return {};
  const std::size_t respSize =
      static_cast<std::size_t>(datagram[1]) | (static_cast<std::size_t>(datagram[2]) << 8);
  if (datagram.size() - 3 != respSize || respSize == 0) return {};
  const std::string_view data(reinterpret_cast<const char*>(datagram.data() + 3), respSize);
  if (!isCleanUtf8(data)) return {};

  std::vector<SsrpInstance> instances;
  std::size_t position = 0;
  while (position < data.size()) {
    const std::size_t end = data.find(";;", position);
    if (end == std::string_view::npos) return {};  // the last record lost its end
    auto instance = parseRecord(data.substr(position, end - position));
    if (!instance) return {};
    instances.push_back(std::move(*instance));
    position = end + 2;
  }
  return instances;
}

std::string serverDisplayName(const SsrpInstance& instance) {
  if (equalsIgnoringCase(instance.instanceName, "MSSQLSERVER")) return instance.serverName;
  return instance.serverName + "\\" + instance.instanceName;
}

std::vector<std::uint8_t> makeSvrResp(const std::string& respData) {
  if (respData.size() > 0xFFFF) throw std::length_error("RESP_DATA longer than 65,535 bytes");
  std::vector<std::uint8_t> datagram;
  datagram.reserve(3 + respData.size());
  datagram.push_back(kSvrResp);
  datagram.push_back(static_cast<std::uint8_t>(respData.size() & 0xFF));
  datagram.push_back(static_cast<std::uint8_t>(respData.size() >> 8));
  datagram.insert(datagram.end(), respData.begin(), respData.end());
  return datagram;
}

}  // namespace bv::servers
