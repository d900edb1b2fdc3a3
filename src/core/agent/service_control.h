// The SQL Server Agent service as the scheduling button sees it: four small operations on a
// service named by text, over the platform's service control manager (advapi32 on Windows,
// systemd elsewhere). No handle, state or answer lives on between calls: each operation opens
// the manager and the service, makes its one request, and closes both again. Qt-free.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace bv::agent {

// The Agent's service name, the same for every server, named instances included.
inline constexpr std::string_view kAgentServiceName = "SQLSERVERAGENT";

// Service states as the service control manager reports them; 0 is "could not be read".
inline constexpr std::uint32_t kServiceStopped = 1;
inline constexpr std::uint32_t kServiceStartPending = 2;
inline constexpr std::uint32_t kServiceStopPending = 3;
inline constexpr std::uint32_t kServiceRunning = 4;
inline constexpr std::uint32_t kServicePaused = 7;

// Start types; 0 is "could not be read".
inline constexpr std::uint32_t kServiceAutoStart = 2;
inline constexpr std::uint32_t kServiceDemandStart = 3;
inline constexpr std::uint32_t kServiceDisabled = 4;

// One service, opened with full access on the local computer's manager. Destroying it closes
// the service and then the manager.
class ServiceSession {
 public:
  virtual ~ServiceSession() = default;
  // The current state; nothing when the query fails.
  virtual std::optional<std::uint32_t> queryState() = 0;
  // The configured start type; nothing when the configuration cannot be read.
  virtual std::optional<std::uint32_t> queryStartType() = 0;
  // Sets the start type to automatic and changes nothing else; false when refused.
  virtual bool changeStartTypeToAutomatic() = 0;
  // Asks the manager to start the service, without arguments and without waiting for it to
  // run; false when refused.
  virtual bool requestStart() = 0;
};

// The service control manager of the local computer.
class ServiceManager {
 public:
  virtual ~ServiceManager() = default;
  // Opens the manager and the named service with full access; nothing when either cannot be
  // opened (no such service, no right to change it, no manager on this computer).
  virtual std::unique_ptr<ServiceSession> openService(std::string_view name) = 0;
};

// This platform's manager (the one built for it).
ServiceManager& systemServiceManager();

// The manager in force: the platform's unless a ServiceManagerOverride is alive.
ServiceManager& serviceManager();

// Installs another manager for its lifetime (tests); restores the previous one after.
class ServiceManagerOverride {
 public:
  explicit ServiceManagerOverride(ServiceManager& replacement);
  ~ServiceManagerOverride();
  ServiceManagerOverride(const ServiceManagerOverride&) = delete;
  ServiceManagerOverride& operator=(const ServiceManagerOverride&) = delete;

 private:
  ServiceManager* previous_;
};

// The current state (kServiceRunning = 4, ...); 0 when the manager or the service cannot be
// opened or the query fails.
std::uint32_t GetServiceState(ServiceManager& manager, std::string_view serviceName);
// The configured start type (kServiceAutoStart = 2, ...); 0 on any failure.
std::uint32_t GetServiceStartType(ServiceManager& manager, std::string_view serviceName);
// Sets automatic start; true when the change was accepted, false when an open or the change
// failed.
bool SetServiceAutoStart(ServiceManager& manager, std::string_view serviceName);
// True at once when GetServiceState gives running; otherwise asks for a start and is true when
// the request was accepted, false when an open or the start failed.
bool StartServiceIfNotRunning(ServiceManager& manager, std::string_view serviceName);

}  // namespace bv::agent
