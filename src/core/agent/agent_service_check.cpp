#include "core/agent/agent_service_check.h"

namespace bv::agent {

bool checkAgentService(bool serverIsLocal, ServiceManager& manager, AgentCheckPrompts& prompts) {
  if (!serverIsLocal) return true;
  if (GetServiceState(manager, kAgentServiceName) == kServiceRunning &&
      GetServiceStartType(manager, kAgentServiceName) == kServiceAutoStart) {
    return true;
  }
  if (!prompts.askYesNo(std::string(kAskAgentAutoStart))) return true;
  if (!SetServiceAutoStart(manager, kAgentServiceName)) {
    prompts.showError(std::string(kAgentAutoStartFailed));
    return false;
  }
  if (!StartServiceIfNotRunning(manager, kAgentServiceName)) {
    prompts.showError(std::string(kAgentStartFailed));
    return false;
  }
  return true;
}

}  // namespace bv::agent
