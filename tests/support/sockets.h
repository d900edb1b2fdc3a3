// What the machine's socket tables say, for tests that must show a connection was let go or
// must name what holds a port they need.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bvtest {

// TCP sockets of this process, IPv4 and IPv6, whose far end is `remotePort` and that are still
// open on this side: established, or closed by the far end and not yet by us (a handle leaked
// after the server hung up). One line each, "local -> remote state", for messages. Another test
// process's sockets never count: one of its clients may have been given that port number as its
// own, and the server's side of that connection then has it as its far end.
std::vector<std::string> openClientSockets(std::uint16_t remotePort);

// Names whoever holds the local UDP (`udp`) or TCP (`tcp`) port: "pid 1234 (standin --port 0
// ...)" for every process that has the socket open, or why it cannot be told. Empty when no
// socket is bound to the port.
std::string whoHoldsPort(const std::string& protocol, std::uint16_t port);

}  // namespace bvtest
