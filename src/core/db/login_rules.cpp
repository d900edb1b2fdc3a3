#include "core/db/login_rules.h"

#include "core/text/ascii.h"

namespace bv::db {

bool isLocalServer(std::string_view server, std::string_view computerName) {
  if (server.empty()) return false;
  const std::string upper = text::asciiUpper(server);
  if (upper == computerName || upper == "(LOCAL)") return true;
  const std::string_view host = server.substr(0, server.find('\\'));
  return host == computerName;
}

}  // namespace bv::db
