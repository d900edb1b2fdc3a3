#include "standin/features/context.h"

#include "standin/base/text.h"

namespace standin::features {

std::string Server::serverName() const {
  if (instanceName.empty() || base::equalsIgnoreCase(instanceName, "MSSQLSERVER")) return computerName;
  return computerName + "\\" + instanceName;
}

}  // namespace standin::features
