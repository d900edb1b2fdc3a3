// Without SQL-DMO the SSRP browser is the enumerator.
#include "server_enumerator.h"
#include "ssrp_browser.h"

namespace bv::servers {

std::unique_ptr<ServerEnumerator> createServerEnumerator(const SsrpTarget& fallback) {
  return std::make_unique<SsrpEnumerator>(fallback);
}

}  // namespace bv::servers
