// The SSRP browser against a scripted peer on 127.0.0.1: what it sends, what it lists, what it
// ignores; and the UDP socket beneath it.
#include "core/servers/ssrp_browser.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/servers/ssrp_socket.h"
#include "ssrp_test_responder.h"

namespace bv::servers {
namespace {

using bvtest::Datagram;
using bvtest::ssrpRecord;
using bvtest::ssrpReply;
using bvtest::SsrpTestResponder;
using Names = std::vector<std::string>;

// Long enough for a loopback answer on a busy machine; every browse waits this long.
constexpr std::chrono::milliseconds kCollect{1000};

const std::string kFailureLead = "サーバの一覧を取得できませんでした。\r\n\r\n";

// A UDP port on 127.0.0.1 where nothing listens.
std::uint16_t unusedUdpPort() {
  UdpSocket probe;
  probe.bind("127.0.0.1", 0);
  return probe.localPort();
}

TEST(UdpSocket, ADatagramLongerThanAskedForIsMarkedTruncated) {
  UdpSocket sender;
  sender.bind("127.0.0.1", 0);
  UdpSocket receiver;
  receiver.bind("127.0.0.1", 0);
  const UdpEndpoint to{"127.0.0.1", receiver.localPort()};
  sender.sendTo(Datagram{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, to);
  sender.sendTo(Datagram{1, 2, 3, 4}, to);

  auto first = receiver.receive(std::chrono::seconds(5), 4);
  ASSERT_TRUE(first.has_value());
  EXPECT_TRUE(first->truncated);
  EXPECT_EQ(first->bytes, (Datagram{1, 2, 3, 4}));
  EXPECT_EQ(first->from.address, "127.0.0.1");
  EXPECT_EQ(first->from.port, sender.localPort());

  auto second = receiver.receive(std::chrono::seconds(5), 4);
  ASSERT_TRUE(second.has_value());
  EXPECT_FALSE(second->truncated);
  EXPECT_EQ(second->bytes, (Datagram{1, 2, 3, 4}));

  EXPECT_FALSE(receiver.receive(std::chrono::milliseconds(50), 4).has_value());
}

TEST(UdpSocket, OnlyDottedIPv4AddressesAreAccepted) {
  UdpSocket socket;
  const Datagram one{0x02};
  EXPECT_THROW(socket.sendTo(one, {"localhost", 1434}), std::invalid_argument);
  EXPECT_THROW(socket.sendTo(one, {"256.0.0.1", 1434}), std::invalid_argument);
  EXPECT_THROW(socket.sendTo(one, {"", 1434}), std::invalid_argument);
  EXPECT_THROW(socket.bind("0.0.0", 0), std::invalid_argument);
}

TEST(SsrpBrowser, SendsOneClntBcastExToTheTarget) {
  SsrpTestResponder responder(bvtest::silentOnce());
  EXPECT_TRUE(browseSqlServers(responder.target(kCollect)).empty());
  EXPECT_EQ(responder.requests(), std::vector<Datagram>{Datagram{0x02}});
}

TEST(SsrpBrowser, ListsEveryInstanceOfEveryReplyInArrivalOrder) {
  SsrpTestResponder responder({{
      ssrpReply(ssrpRecord("ZED", "SQLEXPRESS") + ssrpRecord("ZED", "MSSQLSERVER")),
      ssrpReply(ssrpRecord("ALPHA", "B")),
      ssrpReply(ssrpRecord("ZED", "MSSQLSERVER")),  // heard twice: listed twice
  }});
  EXPECT_EQ(browseSqlServers(responder.target(kCollect)),
            (Names{"ZED\\SQLEXPRESS", "ZED", "ALPHA\\B", "ZED"}));
}

TEST(SsrpBrowser, IgnoresRepliesThatCannotBeRead) {
  Datagram cut = ssrpReply(ssrpRecord("CUT", "X"));
  cut.resize(cut.size() - 5);
  Datagram longer = ssrpReply(ssrpRecord("LONGER", "X"));
  longer.push_back(';');
  SsrpTestResponder responder({{
      Datagram{},
      Datagram{0x05},
      Datagram{'h', 'e', 'l', 'l', 'o'},
      ssrpReply(ssrpRecord("FIRST", "A")),
      cut,
      longer,
      ssrpReply(ssrpRecord(std::string(300, 'S'), "A")),
      ssrpReply(ssrpRecord("GOOD", "B") + "ServerName;BAD;;"),
      ssrpReply(ssrpRecord("SECOND", "MSSQLSERVER")),
  }});
  EXPECT_EQ(browseSqlServers(responder.target(kCollect)), (Names{"FIRST\\A", "SECOND"}));
}

TEST(SsrpBrowser, NoAnswerIsAnEmptyList) {
  // A peer that hears the request and stays silent, and a port where nobody listens.
  SsrpTestResponder silent(bvtest::silentOnce());
  EXPECT_TRUE(browseSqlServers(silent.target(kCollect)).empty());
  EXPECT_EQ(silent.requests().size(), 1u);
  EXPECT_TRUE(browseSqlServers({"127.0.0.1", unusedUdpPort(), kCollect}).empty());
}

TEST(SsrpBrowser, AnUnusableTargetIsAnEnumerationErrorForTheUser) {
  try {
    browseSqlServers({"not an address", 1434, kCollect});
    FAIL() << "no error for an address that is not IPv4";
  } catch (const EnumerationError& error) {
    const std::string message = error.what();
    EXPECT_EQ(message.rfind(kFailureLead, 0), 0u) << message;
    EXPECT_NE(message.find("not an address"), std::string::npos) << message;
  }
}

TEST(SsrpEnumerator, EachListAsksTheNetworkAfresh) {
  SsrpTestResponder responder({
      {ssrpReply(ssrpRecord("HOST", "A"))},
      {ssrpReply(ssrpRecord("HOST", "B") + ssrpRecord("HOST", "MSSQLSERVER"))},
  });
  SsrpEnumerator enumerator(responder.target(kCollect));
  const auto first = enumerator.ListAvailableSQLServers();
  ASSERT_EQ(first->Count(), 1);
  EXPECT_EQ(first->Item(1), "HOST\\A");
  const auto second = enumerator.ListAvailableSQLServers();
  ASSERT_EQ(second->Count(), 2);
  EXPECT_EQ(second->Item(1), "HOST\\B");
  EXPECT_EQ(second->Item(2), "HOST");
  // The first list is not touched by the second.
  EXPECT_EQ(first->Count(), 1);
  EXPECT_EQ(responder.requests().size(), 2u);
}

TEST(FixedNameList, ItemIsOneBasedAndChecked) {
  FixedNameList names({"A", "B\\C", "A"});
  ASSERT_EQ(names.Count(), 3);
  EXPECT_EQ(names.Item(1), "A");
  EXPECT_EQ(names.Item(2), "B\\C");
  EXPECT_EQ(names.Item(3), "A");
  EXPECT_THROW(names.Item(0), EnumerationError);
  EXPECT_THROW(names.Item(4), EnumerationError);
  EXPECT_THROW(names.Item(-1), EnumerationError);
  FixedNameList none({});
  EXPECT_EQ(none.Count(), 0);
  EXPECT_THROW(none.Item(1), EnumerationError);
}

}  // namespace
}  // namespace bv::servers
