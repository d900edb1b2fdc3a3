#include "standin/server/context.h"

#include <algorithm>

#include "standin/base/text.h"

namespace standin::server {

std::string Server::serverName() const {
  if (instanceName.empty() || base::equalsIgnoreCase(instanceName, "MSSQLSERVER")) return computerName;
  return computerName + "\\" + instanceName;
}

std::optional<base::VolumeInfo> Server::databaseVolume(const std::filesystem::path& file) {
  auto volume = base::volumeOf(file);
  if (!volume) return volume;
  if (const auto fault = faults.find(base::StatementFault::Kind::VolumeFree, {file.string()}))
    volume->availableBytes = std::min<std::uint64_t>(volume->availableBytes, fault->amount);
  return volume;
}

}  // namespace standin::server
