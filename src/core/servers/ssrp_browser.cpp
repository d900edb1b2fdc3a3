#include "core/servers/ssrp_browser.h"

#include <utility>

#include "core/servers/ssrp_reply.h"
#include "core/servers/ssrp_socket.h"

namespace bv::servers {

std::vector<std::string> browseSqlServers(const SsrpTarget& target) {
  using Clock = std::chrono::steady_clock;
  std::vector<std::string> names;
  try {
    UdpSocket socket;
    socket.enableBroadcast();
    socket.bind("0.0.0.0", 0);
    socket.sendTo(clntBcastExRequest(), {target.address, target.port});
    const auto deadline = Clock::now() + target.collectTime;
    while (true) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) break;
      const auto datagram = socket.receive(left, kMaxSvrRespSize);
      if (!datagram) break;
      if (datagram->truncated) continue;
      for (const SsrpInstance& instance : parseSvrResp(datagram->bytes)) {
        names.push_back(serverDisplayName(instance));
      }
    }
  } catch (const SocketError& error) {
    throw EnumerationError(error.what());
  } catch (const std::invalid_argument& error) {
    throw EnumerationError(error.what());
  }
  return names;
}

SsrpEnumerator::SsrpEnumerator(SsrpTarget target) : target_(std::move(target)) {}

std::unique_ptr<ServerNameList> SsrpEnumerator::ListAvailableSQLServers() {
  return std::make_unique<FixedNameList>(browseSqlServers(target_));
}

}  // namespace bv::servers
