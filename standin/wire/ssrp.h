// SQL Server Resolution Protocol responder ([MC-SQLR]) on UDP, loopback only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace standin::wire {

struct SsrpInstance {
  std::string name;  // e.g. MSSQLSERVER, SQLEXPRESS
  std::uint16_t tcpPort = 1433;
  std::string version;  // digits and dots, e.g. 9.00.5000.00
};

// "ServerName;HOST;InstanceName;NAME;IsClustered;No;Version;V;tcp;PORT;;" ([MC-SQLR] 2.2.5)
std::string ssrpInstanceText(const std::string& serverName, const SsrpInstance& instance);

// The reply datagram to one request, or empty when the request gets no answer
// (unknown instance, unknown request type). Handles CLNT_BCAST_EX (0x02), CLNT_UCAST_EX (0x03)
// and CLNT_UCAST_INST (0x04 name NUL).
std::string ssrpAnswer(std::string_view request, const std::string& serverName,
                       const std::vector<SsrpInstance>& instances);

class SsrpResponder {
 public:
  // port 0 picks an ephemeral port (tests); the standard port is 1434.
  SsrpResponder(std::string serverName, std::vector<SsrpInstance> instances, std::uint16_t port);
  ~SsrpResponder();
  SsrpResponder(const SsrpResponder&) = delete;
  SsrpResponder& operator=(const SsrpResponder&) = delete;

  // Binds 127.0.0.1:port; throws std::runtime_error when the port is taken.
  void start();
  void stop();
  std::uint16_t port() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace standin::wire
