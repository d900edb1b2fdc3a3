#include "core/agent/service_control.h"

namespace bv::agent {
namespace {

ServiceManager* current = nullptr;

}  // namespace

ServiceManager& serviceManager() { return current != nullptr ? *current : systemServiceManager(); }

ServiceManagerOverride::ServiceManagerOverride(ServiceManager& replacement) : previous_(current) {
  current = &replacement;
}

ServiceManagerOverride::~ServiceManagerOverride() { current = previous_; }

std::uint32_t GetServiceState(ServiceManager& manager, std::string_view serviceName) {
  const auto service = manager.openService(serviceName);
  if (!service) return 0;
  return service->queryState().value_or(0);
}

std::uint32_t GetServiceStartType(ServiceManager& manager, std::string_view serviceName) {
  const auto service = manager.openService(serviceName);
  if (!service) return 0;
  return service->queryStartType().value_or(0);
}

bool SetServiceAutoStart(ServiceManager& manager, std::string_view serviceName) {
  const auto service = manager.openService(serviceName);
  return service && service->changeStartTypeToAutomatic();
}

bool StartServiceIfNotRunning(ServiceManager& manager, std::string_view serviceName) {
  if (GetServiceState(manager, serviceName) == kServiceRunning) return true;
  const auto service = manager.openService(serviceName);
  return service && service->requestStart();
}

}  // namespace bv::agent
