// The TDS listener: accepts clients on 127.0.0.1 (and ::1), one thread per connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "standin/engine/engine.h"
#include "standin/wire/faults.h"

namespace standin::wire {

// What clients may cost the server: a thread each while connected, memory for what they send.
struct ConnectionLimits {
  // Client connections open at once; one more is closed as soon as it is accepted. Those not
  // logged in yet count against a quarter of it (at least one) as well: beyond that, the oldest
  // of them is closed for each new one, so silent sockets cannot lock every login out.
  int maxConnections = 128;
  int maxConnectionsNotLoggedIn() const { return maxConnections / 4 > 1 ? maxConnections / 4 : 1; }
  // From the connection to a completed login; a client still not logged in is disconnected.
  std::chrono::milliseconds loginTimeout{60000};
  // The largest PRELOGIN or LOGIN7 message (all its packets) a client may send.
  std::size_t maxLoginMessageBytes = 64 * 1024;
  // When accepting fails (no descriptors or memory left), the wait before the next try.
  std::chrono::milliseconds acceptPause{100};
};

struct TdsServerConfig {
  std::uint16_t port = 1433;  // 0 = an ephemeral port
  bool ipv6 = true;           // also listen on ::1 when the machine has it
  // Each received batch and procedure call is appended to this file; empty = no trace.
  std::filesystem::path traceFile;
  ConnectionLimits limits;
  // Faults on demand, for tests (faults.h).
  std::vector<Fault> faults;
};

class TdsServer {
 public:
  TdsServer(engine::Engine& engine, TdsServerConfig config);
  ~TdsServer();  // stops the server
  TdsServer(const TdsServer&) = delete;
  TdsServer& operator=(const TdsServer&) = delete;

  // Binds and starts accepting; throws std::runtime_error when the port cannot be used.
  void start();
  // Closes the listeners and every client connection, then waits for their threads.
  void stop();
  std::uint16_t port() const;
  bool listensOnIpv6() const;
  int openConnections() const;
  std::uint64_t acceptedConnections() const;  // since the start, also those closed at once

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace standin::wire
