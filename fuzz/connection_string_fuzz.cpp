// The connection-string parser (ConnectionSettings::parse, for strings that come from outside
// the program) and the ODBC string the data-access layer renders from what it read.
//
// Input: byte 0 chooses the target driver's brace rule (bit 0) and whether it has a default
// port (bit 1); the rest is the OLE DB-form connection string.
//
// What must hold: text that cannot be read is refused with ConnectionStringError, never a crash;
// what was read, written out by text(), reads back the same; the ODBC string is refused with
// ConnectionStringError or read by the driver's own brace rule into exactly the keys rendered,
// each once, with the values the settings gave them: a value can never add a key.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/db/connection_settings.h"
#include "core/db/odbc_connection_string.h"
#include "core/text/ascii.h"
#include "fuzz_check.h"

namespace {

using bv::db::BraceRule;
using bv::db::ConnectionSettings;
using bv::db::ConnectionStringError;
using bv::db::OdbcTarget;
using bv::text::equalsIgnoringAsciiCase;

using Pairs = std::vector<std::pair<std::string, std::string>>;

// An ODBC connection string read the way the target driver reads it: "key=value;" pairs, a value
// that starts with "{" braced. FreeTDS 1.3 ends a braced value at the first "}" followed by ";"
// (or by the end); the ODBC rule ends it at a single "}", "}}" standing for "}".
std::optional<Pairs> readOdbcString(std::string_view text, BraceRule rule) {
  Pairs pairs;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t equals = text.find('=', at);
    if (equals == std::string_view::npos) return std::nullopt;
    std::string key(text.substr(at, equals - at));
    at = equals + 1;
    std::string value;
    if (at < text.size() && text[at] == '{') {
      ++at;
      bool closed = false;
      while (at < text.size()) {
        if (text[at] == '}') {
          if (rule == BraceRule::DoubledClose && at + 1 < text.size() && text[at + 1] == '}') {
            value.push_back('}');
            at += 2;
            continue;
          }
          if (rule == BraceRule::DoubledClose || at + 1 == text.size() || text[at + 1] == ';') {
            ++at;
            closed = true;
            break;
          }
        }
        value.push_back(text[at++]);
      }
      if (!closed) return std::nullopt;
      if (at < text.size() && text[at] != ';') return std::nullopt;
    } else {
      const std::size_t end = std::min(text.find(';', at), text.size());
      value = std::string(text.substr(at, end - at));
      at = end;
    }
    ++at;  // past ";"
    pairs.emplace_back(std::move(key), std::move(value));
  }
  return pairs;
}

// The value the rendering must carry for an ODBC key: the last of the settings' keys that map
// to it, converted as the data-access layer converts it.
std::optional<std::string> expectedValue(const ConnectionSettings& settings, const OdbcTarget& target,
                                         std::string_view odbcKey) {
  struct Alias {
    std::string_view oleDbKey;
    std::string_view odbcKey;
  };
  static constexpr Alias kAliases[] = {
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
  std::optional<std::string> found;
  for (const auto& [key, value] : settings.pairs()) {
    for (const Alias& alias : kAliases) {
      if (alias.odbcKey == odbcKey && equalsIgnoringAsciiCase(key, alias.oleDbKey)) found = value;
    }
  }
  if (!found) return std::nullopt;
  if (odbcKey == "Server") return bv::db::mapServerForDriver(*found, target);
  if (odbcKey == "Trusted_Connection") {
    const bool yes = equalsIgnoringAsciiCase(*found, "yes") || equalsIgnoringAsciiCase(*found, "true") ||
                     equalsIgnoringAsciiCase(*found, "sspi");
    return std::string(yes ? "yes" : "no");
  }
  return found;
}

void checkRendering(const ConnectionSettings& settings, const OdbcTarget& target) {
  std::string rendered;
  try {
    rendered = bv::db::renderOdbcConnectionString(settings, target);
  } catch (const ConnectionStringError&) {
    return;  // a value the driver cannot carry
  }
  FUZZ_CHECK(!rendered.empty() && rendered.back() == ';');
  const std::optional<Pairs> read = readOdbcString(rendered, target.braceRule);
  FUZZ_CHECK(read.has_value());
  FUZZ_CHECK(!read->empty() && read->front().first == "Driver" && read->front().second == target.driver);
  std::size_t expectedKeys = 1;
  for (const std::string_view key : {"Server", "UID", "PWD", "Trusted_Connection", "Database"}) {
    const std::optional<std::string> expected = expectedValue(settings, target, key);
    std::size_t seen = 0;
    for (const auto& [readKey, readValue] : *read) {
      if (readKey != key) continue;
      ++seen;
      FUZZ_CHECK(expected.has_value() && readValue == *expected);
    }
    FUZZ_CHECK(seen == (expected ? 1u : 0u));
    expectedKeys += seen;
  }
  FUZZ_CHECK(read->size() == expectedKeys);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  ConnectionSettings settings;
  try {
    settings = ConnectionSettings::parse(text);
  } catch (const ConnectionStringError&) {
    return 0;
  }
  for (const auto& [key, value] : settings.pairs()) FUZZ_CHECK(!key.empty());
  FUZZ_CHECK(ConnectionSettings::parse(settings.text()) == settings);

  OdbcTarget target;
  target.braceRule = (data[0] & 1) != 0 ? BraceRule::DoubledClose : BraceRule::FirstCloseBeforeSemicolon;
  target.driver = target.braceRule == BraceRule::DoubledClose ? "SQL Server" : "FreeTDS";
  target.defaultInstancePort = (data[0] & 2) != 0 ? 1433 : 0;
  target.localNames = {"(local)", ".", "localhost", "BRACKENHOST"};
  checkRendering(settings, target);
  return 0;
}
