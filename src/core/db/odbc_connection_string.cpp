#include "core/db/odbc_connection_string.h"

#include <algorithm>
#include <cstdlib>

#include "core/sys/system_info.h"
#include "core/text/ascii.h"

namespace bv::db {

OdbcTarget defaultOdbcTarget() {
  OdbcTarget target;
  const char* driver = std::getenv("BRACKENVALE_ODBC_DRIVER");
  target.driver = (driver != nullptr && *driver != '\0') ? driver : sys::defaultOdbcDriver();
  target.braceRule =
      target.driver.find("FreeTDS") != std::string::npos || target.driver.find("tdsodbc") != std::string::npos
          ? BraceRule::FirstCloseBeforeSemicolon
          : BraceRule::DoubledClose;
  if (target.braceRule == BraceRule::FirstCloseBeforeSemicolon) target.defaultInstancePort = 1433;
  target.localNames = {"(local)", ".", "localhost"};
  for (const auto& name : sys::localHostNames()) target.localNames.push_back(name);
  return target;
}

std::string mapServerForDriver(std::string_view server, const OdbcTarget& target) {
  const std::size_t split = std::min(server.find_first_of("\\,"), server.size());
  const std::string_view host = server.substr(0, split);
  const bool local = std::any_of(
      target.localNames.begin(), target.localNames.end(),
      [&](const std::string& name) { return !name.empty() && text::equalsIgnoringAsciiCase(host, name); });
  std::string mapped = local ? "127.0.0.1" + std::string(server.substr(split)) : std::string(server);
  if (target.defaultInstancePort > 0 && !host.empty() && split == server.size()) {
    mapped += "," + std::to_string(target.defaultInstancePort);
  }
  return mapped;
}

namespace {

std::string renderOdbcValue(std::string_view key, std::string_view value, BraceRule rule) {
  const bool needsBraces =
      value.find(';') != std::string_view::npos || (!value.empty() && value.front() == '{');
  if (value.find('\0') != std::string_view::npos) {
    throw ConnectionStringError("the value of " + std::string(key) +
                                " holds a zero character, which cannot be passed to the driver");
  }
  if (!needsBraces) return std::string(value);
  if (rule == BraceRule::DoubledClose) {
    std::string out = "{";
    for (char c : value) {
      out.push_back(c);
      if (c == '}') out.push_back('}');
    }
    out.push_back('}');
    return out;
  }
  if (value.find("};") != std::string_view::npos) {
    throw ConnectionStringError("the value of " + std::string(key) +
                                " holds \"};\", which this ODBC driver cannot accept");
  }
  return "{" + std::string(value) + "}";
}

}  // namespace

std::string renderOdbcConnectionString(const ConnectionSettings& settings, const OdbcTarget& target) {
  struct Mapping {
    std::string_view oleDbKey;
    std::string_view odbcKey;
  };
  static constexpr Mapping kMappings[] = {
      {"Data Source", "Server"},
      {"Server", "Server"},
      {"User ID", "UID"},
      {"UID", "UID"},
      {"Password", "PWD"},
      {"PWD", "PWD"},
      {"Trusted_Connection", "Trusted_Connection"},
      {"Integrated Security", "Trusted_Connection"},
      {"Initial Catalog", "Database"},
      {"Database", "Database"},
  };
  ConnectionSettings odbc;
  const auto put = [&](std::string_view key, std::string value) { odbc.set(key, std::move(value)); };
  for (const auto& [key, value] : settings.pairs()) {
    for (const auto& mapping : kMappings) {
      if (!text::equalsIgnoringAsciiCase(key, mapping.oleDbKey)) continue;
      if (mapping.odbcKey == "Server") {
        put(mapping.odbcKey, mapServerForDriver(value, target));
      } else if (mapping.odbcKey == "Trusted_Connection") {
        const bool yes = text::equalsIgnoringAsciiCase(value, "yes") ||
                         text::equalsIgnoringAsciiCase(value, "true") ||
                         text::equalsIgnoringAsciiCase(value, "sspi");
        put(mapping.odbcKey, yes ? "yes" : "no");
      } else {
        put(mapping.odbcKey, value);
      }
      break;
    }
  }
  std::string out = "Driver=" + renderOdbcValue("Driver", target.driver, BraceRule::DoubledClose);
  out.push_back(';');
  for (const auto& [key, value] : odbc.pairs()) {
    out += key + "=" + renderOdbcValue(key, value, target.braceRule) + ";";
  }
  return out;
}

}  // namespace bv::db
