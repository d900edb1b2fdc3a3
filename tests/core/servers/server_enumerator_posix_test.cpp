// Without SQL-DMO the platform's enumerator is the SSRP browser, asking where it is told.
#include <gtest/gtest.h>

#include "core/servers/server_enumerator.h"
#include "core/servers/ssrp_browser.h"

namespace bv::servers {
namespace {

TEST(PlatformEnumerator, IsTheSsrpBrowserOnTheGivenTarget) {
  const SsrpTarget defaults;
  EXPECT_EQ(defaults.address, "255.255.255.255");
  EXPECT_EQ(defaults.port, 1434);

  const SsrpTarget loopback{"127.0.0.1", 14340, std::chrono::milliseconds(250)};
  const auto enumerator = createServerEnumerator(loopback);
  const auto* ssrp = dynamic_cast<const SsrpEnumerator*>(enumerator.get());
  ASSERT_NE(ssrp, nullptr);
  EXPECT_EQ(ssrp->target().address, "127.0.0.1");
  EXPECT_EQ(ssrp->target().port, 14340);
  EXPECT_EQ(ssrp->target().collectTime, std::chrono::milliseconds(250));
}

}  // namespace
}  // namespace bv::servers
