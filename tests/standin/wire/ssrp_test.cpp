// SQL Server Resolution Protocol answers, on an ephemeral UDP port (no shared port needed).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "standin/wire/ssrp.h"

namespace {

const std::vector<standin::wire::SsrpInstance> kTwo = {{"MSSQLSERVER", 1433, "9.00.5000.00"},
                                                       {"SQLEXPRESS", 14380, "8.00.2039.00"}};

std::string body(const std::string& reply) {
  EXPECT_GE(reply.size(), 3u);
  EXPECT_EQ(static_cast<unsigned char>(reply[0]), 0x05);
  const std::size_t size = static_cast<unsigned char>(reply[1]) | (static_cast<unsigned char>(reply[2]) << 8);
  EXPECT_EQ(size, reply.size() - 3);  // RESP_SIZE, little-endian
  return reply.substr(3);
}

}  // namespace

TEST(SsrpAnswer, ListsEveryInstanceForBroadcastAndUnicastEnumeration) {
  const std::string expected =
      "ServerName;BOX;InstanceName;MSSQLSERVER;IsClustered;No;Version;9.00.5000.00;tcp;1433;;"
      "ServerName;BOX;InstanceName;SQLEXPRESS;IsClustered;No;Version;8.00.2039.00;tcp;14380;;";
  EXPECT_EQ(body(standin::wire::ssrpAnswer(std::string(1, '\x03'), "BOX", kTwo)), expected);
  EXPECT_EQ(body(standin::wire::ssrpAnswer(std::string(1, '\x02'), "BOX", kTwo)), expected);
}

TEST(SsrpAnswer, NamedInstanceRequestGetsThatInstanceOnly) {
  const std::string request = std::string("\x04", 1) + "sqlexpress" + std::string(1, '\0');
  EXPECT_EQ(body(standin::wire::ssrpAnswer(request, "BOX", kTwo)),
            "ServerName;BOX;InstanceName;SQLEXPRESS;IsClustered;No;Version;8.00.2039.00;tcp;14380;;");
}

TEST(SsrpAnswer, UnknownInstancesAndRequestsGetNoAnswer) {
  EXPECT_TRUE(
      standin::wire::ssrpAnswer(std::string("\x04", 1) + "NOPE" + std::string(1, '\0'), "BOX", kTwo).empty());
  EXPECT_TRUE(standin::wire::ssrpAnswer("", "BOX", kTwo).empty());
  EXPECT_TRUE(standin::wire::ssrpAnswer("\x09junk", "BOX", kTwo).empty());
  EXPECT_TRUE(standin::wire::ssrpAnswer(std::string("\x04", 1) + std::string(40, 'A'), "BOX", kTwo).empty());
  EXPECT_TRUE(standin::wire::ssrpAnswer(std::string(1, '\x03'), "BOX", {}).empty());
}

TEST(SsrpResponder, AnswersOverUdpOnLoopback) {
  standin::wire::SsrpResponder responder("BOX", kTwo, 0);
  responder.start();
  ASSERT_NE(responder.port(), 0);
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  ASSERT_GE(fd, 0);
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(responder.port());
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string request = std::string("\x04", 1) + "MSSQLSERVER" + std::string(1, '\0');
  ASSERT_EQ(::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
            static_cast<ssize_t>(request.size()));
  char buf[2048];
  const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
  ASSERT_GT(n, 3);
  EXPECT_EQ(body(std::string(buf, static_cast<std::size_t>(n))),
            "ServerName;BOX;InstanceName;MSSQLSERVER;IsClustered;No;Version;9.00.5000.00;tcp;1433;;");
  ::close(fd);
  responder.stop();
}
