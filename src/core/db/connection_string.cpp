#include "core/db/connection_string.h"

#include <algorithm>
#include <cstdlib>

#include "core/sys/system_info.h"

namespace bv::db {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto lower = [](char c) {
             return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
           };
           return lower(x) == lower(y);
         });
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string doubled(std::string_view value, char quote) {
  std::string out;
  out.push_back(quote);
  for (char c : value) {
    out.push_back(c);
    if (c == quote) out.push_back(quote);
  }
  out.push_back(quote);
  return out;
}

std::string quoteKey(std::string_view key) {
  std::string out;
  for (char c : key) {
    out.push_back(c);
    if (c == '=') out.push_back('=');
  }
  return out;
}

}  // namespace

std::string quoteOleDbValue(std::string_view value) {
  const bool needsQuotes =
      value.find(';') != std::string_view::npos ||
      (!value.empty() && (isBlank(value.front()) || isBlank(value.back()) ||
                          value.front() == '"' || value.front() == '\'' || value.front() == '='));
  if (!needsQuotes) return std::string(value);
  const bool hasDouble = value.find('"') != std::string_view::npos;
  const bool hasSingle = value.find('\'') != std::string_view::npos;
  return doubled(value, hasDouble && !hasSingle ? '\'' : '"');
}

std::string renderOleDbConnectionString(const KeyValuePairs& pairs) {
  std::string out;
  for (const auto& [key, value] : pairs) {
    if (!out.empty()) out.push_back(';');
    out += quoteKey(key);
    out.push_back('=');
    out += quoteOleDbValue(value);
  }
  return out;
}

std::string buildConnectionString(const LoginSettings& login) {
  KeyValuePairs pairs{{"Provider", "SQLOLEDB.1"}, {"Persist Security Info", "False"}};
  if (login.useSqlAuth) {
    pairs.insert(pairs.end(), {{"Pooling", "false"},
                               {"User ID", login.userName},
                               {"Password", login.password}});
  } else {
    pairs.insert(pairs.end(), {{"Trusted_Connection", "yes"}, {"Pooling", "false"}});
  }
  pairs.emplace_back("Data Source", login.server);
  return renderOleDbConnectionString(pairs);
}

std::string buildConnectionString(const LoginSettings& login, std::string_view initialCatalog) {
  return buildConnectionString(login) + ";" +
         renderOleDbConnectionString({{"Initial Catalog", std::string(initialCatalog)}});
}

KeyValuePairs parseOleDbConnectionString(std::string_view text) {
  KeyValuePairs pairs;
  std::size_t i = 0;
  const auto at = [&](std::size_t k) { return k < text.size() ? text[k] : '\0'; };
  while (i < text.size()) {
    // Key: up to a single "="; "==" stands for "=" inside the key.
    std::string key;
    while (i < text.size()) {
      if (text[i] == '=') {
        if (at(i + 1) == '=') {
          key.push_back('=');
          i += 2;
          continue;
        }
        break;
      }
      if (text[i] == ';') break;
      key.push_back(text[i++]);
    }
    const std::string trimmedKey(trim(key));
    if (i >= text.size() || text[i] == ';') {
      if (!trimmedKey.empty()) {
        throw ConnectionStringError("connection string: key '" + trimmedKey + "' has no value");
      }
      ++i;  // an empty pair, as in ";;"
      continue;
    }
    ++i;  // past '='
    while (i < text.size() && isBlank(text[i])) ++i;
    std::string value;
    if (at(i) == '"' || at(i) == '\'') {
      const char quote = text[i++];
      bool closed = false;
      while (i < text.size()) {
        if (text[i] == quote) {
          if (at(i + 1) == quote) {
            value.push_back(quote);
            i += 2;
            continue;
          }
          ++i;
          closed = true;
          break;
        }
        value.push_back(text[i++]);
      }
      if (!closed) throw ConnectionStringError("connection string: unterminated quoted value");
      while (i < text.size() && isBlank(text[i])) ++i;
      if (i < text.size() && text[i] != ';') {
        throw ConnectionStringError("connection string: text after a quoted value");
      }
    } else {
      const std::size_t end = std::min(text.find(';', i), text.size());
      value = std::string(trim(text.substr(i, end - i)));
      i = end;
    }
    ++i;  // past ';' (or the end)
    if (trimmedKey.empty()) throw ConnectionStringError("connection string: empty key");
    const auto existing = std::find_if(pairs.begin(), pairs.end(), [&](const auto& pair) {
      return equalsIgnoringCase(pair.first, trimmedKey);
    });
    if (existing != pairs.end()) {
      existing->second = std::move(value);
    } else {
      pairs.emplace_back(trimmedKey, std::move(value));
    }
  }
  return pairs;
}

std::string findValue(const KeyValuePairs& pairs, std::string_view key) {
  for (const auto& [k, v] : pairs) {
    if (equalsIgnoringCase(k, key)) return v;
  }
  return {};
}

OdbcTarget defaultOdbcTarget() {
  OdbcTarget target;
  const char* driver = std::getenv("BRACKENVALE_ODBC_DRIVER");
  target.driver = (driver != nullptr && *driver != '\0') ? driver : sys::defaultOdbcDriver();
  target.braceRule = target.driver.find("FreeTDS") != std::string::npos ||
                             target.driver.find("tdsodbc") != std::string::npos
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
  const bool local = std::any_of(target.localNames.begin(), target.localNames.end(),
                                 [&](const std::string& name) {
                                   return !name.empty() && equalsIgnoringCase(host, name);
                                 });
  std::string mapped = local ? "127.0.0.1" + std::string(server.substr(split)) : std::string(server);
  if (target.defaultInstancePort > 0 && !host.empty() && split == server.size()) {
    mapped += "," + std::to_string(target.defaultInstancePort);
  }
  return mapped;
}

namespace {

std::string renderOdbcValue(std::string_view key, std::string_view value, BraceRule rule) {
  const bool needsBraces = value.find(';') != std::string_view::npos ||
                           (!value.empty() && value.front() == '{');
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

std::string renderOdbcConnectionString(const KeyValuePairs& oleDbPairs, const OdbcTarget& target) {
  struct Mapping {
    std::string_view oleDbKey;
    std::string_view odbcKey;
  };
  static constexpr Mapping kMappings[] = {
      {"Data Source", "Server"},    {"Server", "Server"},
      {"User ID", "UID"},           {"UID", "UID"},
      {"Password", "PWD"},          {"PWD", "PWD"},
      {"Trusted_Connection", "Trusted_Connection"},
      {"Integrated Security", "Trusted_Connection"},
      {"Initial Catalog", "Database"}, {"Database", "Database"},
  };
  KeyValuePairs odbc;
  const auto put = [&](std::string_view key, std::string value) {
    const auto existing = std::find_if(odbc.begin(), odbc.end(),
                                       [&](const auto& pair) { return pair.first == key; });
    if (existing != odbc.end()) {
      existing->second = std::move(value);
    } else {
      odbc.emplace_back(std::string(key), std::move(value));
    }
  };
  for (const auto& [key, value] : oleDbPairs) {
    for (const auto& mapping : kMappings) {
      if (!equalsIgnoringCase(key, mapping.oleDbKey)) continue;
      if (mapping.odbcKey == "Server") {
        put(mapping.odbcKey, mapServerForDriver(value, target));
      } else if (mapping.odbcKey == "Trusted_Connection") {
        const bool yes = equalsIgnoringCase(value, "yes") || equalsIgnoringCase(value, "true") ||
                         equalsIgnoringCase(value, "sspi");
        put(mapping.odbcKey, yes ? "yes" : "no");
      } else {
        put(mapping.odbcKey, value);
      }
      break;
    }
  }
  std::string out = "Driver=" + renderOdbcValue("Driver", target.driver, BraceRule::DoubledClose);
  out.push_back(';');
  for (const auto& [key, value] : odbc) {
    out += key + "=" + renderOdbcValue(key, value, target.braceRule) + ";";
  }
  return out;
}

}  // namespace bv::db
