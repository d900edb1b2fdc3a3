// A service control manager that keeps one service in memory, for the Agent service check:
// no manager can be driven on a test machine. It records every request in order.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/agent/service_control.h"

namespace bvtest {

class FakeServiceManager final : public bv::agent::ServiceManager {
 public:
  // The service as the manager knows it.
  std::string serviceName = "SQLSERVERAGENT";
  bool fullAccess = true;    // false: the user may not change services, so no open succeeds
  bool queriesFail = false;  // opens succeed but the queries are refused
  std::uint32_t state = bv::agent::kServiceStopped;
  std::uint32_t startType = bv::agent::kServiceDemandStart;
  bool refuseChange = false;
  bool refuseStart = false;

  // Every request: "open NAME", "state", "start type", "set automatic", "start", "close".
  std::vector<std::string> calls;
  int openSessions = 0;

  std::unique_ptr<bv::agent::ServiceSession> openService(std::string_view name) override {
    calls.push_back("open " + std::string(name));
    if (!fullAccess || name != serviceName) return nullptr;
    return std::make_unique<Session>(*this);
  }

  // The requests other than opening and closing.
  std::vector<std::string> requests() const {
    std::vector<std::string> out;
    for (const auto& call : calls) {
      if (call.rfind("open ", 0) != 0 && call != "close") out.push_back(call);
    }
    return out;
  }

 private:
  class Session final : public bv::agent::ServiceSession {
   public:
    explicit Session(FakeServiceManager& manager) : manager_(manager) { ++manager_.openSessions; }
    ~Session() override {
      --manager_.openSessions;
      manager_.calls.push_back("close");
    }
    std::optional<std::uint32_t> queryState() override {
      manager_.calls.push_back("state");
      if (manager_.queriesFail) return std::nullopt;
      return manager_.state;
    }
    std::optional<std::uint32_t> queryStartType() override {
      manager_.calls.push_back("start type");
      if (manager_.queriesFail) return std::nullopt;
      return manager_.startType;
    }
    bool changeStartTypeToAutomatic() override {
      manager_.calls.push_back("set automatic");
      if (manager_.refuseChange) return false;
      manager_.startType = bv::agent::kServiceAutoStart;
      return true;
    }
    bool requestStart() override {
      manager_.calls.push_back("start");
      if (manager_.refuseStart) return false;
      manager_.state = bv::agent::kServiceStartPending;
      return true;
    }

   private:
    FakeServiceManager& manager_;
  };
};

}  // namespace bvtest
