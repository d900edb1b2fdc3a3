#include "core/db/login_rules.h"

namespace bv::db {

std::string upperAsciiLetters(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool isLocalServer(std::string_view server, std::string_view computerName) {
  if (server.empty()) return false;
  const std::string upper = upperAsciiLetters(server);
  if (upper == computerName || upper == "(LOCAL)") return true;
  const std::string_view host = server.substr(0, server.find('\\'));
  return host == computerName;
}

}  // namespace bv::db
