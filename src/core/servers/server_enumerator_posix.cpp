// Without SQL-DMO the SSRP browser is the enumerator.
#include "core/servers/server_enumerator.h"
#include "core/servers/ssrp_browser.h"

namespace bv::servers {

std::unique_ptr<ServerEnumerator> createServerEnumerator(const SsrpTarget& fallback) {
  return std::make_unique<SsrpEnumerator>(fallback);
}

}  // namespace bv::servers
