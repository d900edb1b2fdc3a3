// The TDS listener: accepts clients on 127.0.0.1 (and ::1), one thread per connection.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "standin/engine/engine.h"

namespace standin::wire {

struct TdsServerConfig {
  std::uint16_t port = 1433;  // 0 = an ephemeral port
  bool ipv6 = true;           // also listen on ::1 when the machine has it
  // Each received batch and procedure call is appended to this file; empty = no trace.
  std::filesystem::path traceFile;
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

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace standin::wire
