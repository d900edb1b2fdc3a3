// The SQL Server Resolution Protocol messages the server browser exchanges: the CLNT_BCAST_EX
// request and the SVR_RESP reply ([MC-SQLR] 2.2.1, 2.2.5). Qt-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bv::servers {

// One instance announced in a reply.
struct SsrpInstance {
  std::string serverName;
  std::string instanceName;
  bool clustered = false;
  std::string version;
};

// CLNT_BCAST_EX: the single byte 0x02, "every instance on every host" [MC-SQLR] 2.2.1.
std::vector<std::uint8_t> clntBcastExRequest();

// The largest datagram a valid SVR_RESP can be: header (3 bytes) and RESP_DATA (<= 65,535).
inline constexpr std::size_t kMaxSvrRespSize = 3 + 65535;

// Reads one SVR_RESP datagram [MC-SQLR] 2.2.5: 0x05, RESP_SIZE (16 bits, little-endian, the
// count of bytes that follow), then RESP_DATA, one or more instance records each ending in
// ";;". The instances in the order of the reply; an empty list for a reply that is malformed,
// truncated or longer than its RESP_SIZE says, or whose fields break the protocol's limits
// (server and instance names 1..255 bytes, version 1..16 digits and dots, protocol parts
// known and whole, a TCP port a number up to 65535). A reply is taken whole or not at all.
// Names must be valid UTF-8 without control characters.
std::vector<SsrpInstance> parseSvrResp(std::span<const std::uint8_t> datagram);

// The name as users type it: "HOST" for the default instance (MSSQLSERVER), otherwise
// "HOST\INSTANCE".
std::string serverDisplayName(const SsrpInstance& instance);

// Builds a SVR_RESP datagram around RESP_DATA (for responders and tests); RESP_DATA longer
// than 65,535 bytes is refused with std::length_error.
std::vector<std::uint8_t> makeSvrResp(const std::string& respData);

}  // namespace bv::servers
