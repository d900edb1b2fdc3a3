// The service control manager on POSIX: systemd, driven through systemctl. Windows service
// names map to the units that do their work on Linux; a computer not run by systemd, a name
// without a unit, a unit that is not installed, or a systemctl that fails or does not answer in
// time all read as "cannot be opened", so every operation answers 0 or false. Qt-free.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/agent/service_control.h"

namespace bv::agent {

struct SystemdOptions {
  // The systemctl program: looked up on PATH unless it holds a "/".
  std::string systemctl = "systemctl";
  // A folder that exists only while systemd runs the computer.
  std::string bootedMarker = "/run/systemd/system";
  // How long one query (systemctl show) may take, and one change (enable, start).
  int queryTimeoutMs = 10000;
  int changeTimeoutMs = 30000;
};

// The unit for a service name (matched ignoring case): "SQLSERVERAGENT" is run by SQL Server
// on Linux itself, "mssql-server.service". Empty for a name without a unit.
std::string systemdUnitForService(std::string_view serviceName);

// systemd's ActiveState as a service state: active and reloading are running, activating is
// start pending, deactivating stop pending, inactive and failed stopped; nothing otherwise.
std::optional<std::uint32_t> serviceStateFromActiveState(std::string_view activeState);
// systemd's UnitFileState as a start type: enabled is automatic, masked is disabled, disabled,
// static, indirect and the like are started on demand; nothing otherwise.
std::optional<std::uint32_t> startTypeFromUnitFileState(std::string_view unitFileState);

std::unique_ptr<ServiceManager> makeSystemdServiceManager(SystemdOptions options = {});

}  // namespace bv::agent
