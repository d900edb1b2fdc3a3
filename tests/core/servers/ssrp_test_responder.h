// A scripted SSRP peer on 127.0.0.1 for the server browser's tests: it records each request
// that reaches it and answers the n-th one with the n-th entry of its script (a list of
// datagrams sent back to the requester, in order; an empty entry answers nothing). It stops
// after the script or when destroyed, and never waits more than a few seconds in all.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/servers/server_enumerator.h"
#include "core/servers/ssrp_reply.h"
#include "core/servers/ssrp_socket.h"

namespace bvtest {

using Datagram = std::vector<std::uint8_t>;

// RESP_DATA of one instance record, as SQL Server Browser writes it.
inline std::string ssrpRecord(const std::string& server, const std::string& instance,
                              const std::string& tail = "tcp;1433") {
  return "ServerName;" + server + ";InstanceName;" + instance + ";IsClustered;No;Version;9.00.1399.06;" +
         tail + ";;";
}

inline Datagram ssrpReply(const std::string& respData) { return bv::servers::makeSvrResp(respData); }

// The n-th request is answered with the n-th list of datagrams.
using SsrpScript = std::vector<std::vector<Datagram>>;

// A script that hears one request and answers nothing.
inline SsrpScript silentOnce() { return SsrpScript(1); }

class SsrpTestResponder {
 public:
  explicit SsrpTestResponder(SsrpScript script) : script_(std::move(script)) {
    socket_.bind("127.0.0.1", 0);
    port_ = socket_.localPort();
    thread_ = std::thread([this] { run(); });
  }
  ~SsrpTestResponder() {
    stop_ = true;
    thread_.join();
  }
  SsrpTestResponder(const SsrpTestResponder&) = delete;
  SsrpTestResponder& operator=(const SsrpTestResponder&) = delete;

  std::uint16_t port() const { return port_; }

  // Where the browser should ask, listening for `collect`.
  bv::servers::SsrpTarget target(std::chrono::milliseconds collect) const {
    return {"127.0.0.1", port_, collect};
  }

  std::vector<Datagram> requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  void run() {
    using Clock = std::chrono::steady_clock;
    const auto giveUp = Clock::now() + std::chrono::seconds(20);
    std::size_t answered = 0;
    while (!stop_ && answered < script_.size() && Clock::now() < giveUp) {
      try {
        auto request = socket_.receive(std::chrono::milliseconds(50), 4096);
        if (!request) continue;
        {
          const std::lock_guard lock(mutex_);
          requests_.push_back(request->bytes);
        }
        for (const Datagram& datagram : script_[answered]) socket_.sendTo(datagram, request->from);
        ++answered;
      } catch (const std::exception&) {
        return;  // the test sees the missing answers
      }
    }
  }

  bv::servers::UdpSocket socket_;
  std::uint16_t port_ = 0;
  SsrpScript script_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<Datagram> requests_;
  std::thread thread_;
};

}  // namespace bvtest
