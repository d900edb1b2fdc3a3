// The SSRP server browser: one CLNT_BCAST_EX request to the target, every SVR_RESP reply that
// arrives within the collect time, each instance named the way users type it. Qt-free.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/servers/server_enumerator.h"

namespace bv::servers {

// Sends the request and collects the replies for target.collectTime. The names in the order
// the replies arrived and, within a reply, in its order; nothing sorted, nothing removed.
// Replies that cannot be read are ignored. Throws EnumerationError when the request cannot
// be sent (an address that is not IPv4, no route, no socket).
std::vector<std::string> browseSqlServers(const SsrpTarget& target);

// The enumerator over browseSqlServers: each ListAvailableSQLServers asks the network afresh.
class SsrpEnumerator final : public ServerEnumerator {
 public:
  explicit SsrpEnumerator(SsrpTarget target);
  std::unique_ptr<ServerNameList> ListAvailableSQLServers() override;
  const SsrpTarget& target() const noexcept { return target_; }

 private:
  SsrpTarget target_;
};

}  // namespace bv::servers
