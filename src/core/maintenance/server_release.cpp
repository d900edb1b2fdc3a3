#include "core/maintenance/server_release.h"

#include <array>
#include <cstdlib>
#include <string>
#include <utility>

namespace bv::maintenance {

bool ServerRelease::tellsFreeSpace() const {
  if (major != 10) return major > 10;
  return minor > 50 || (minor == 50 && build >= 2500);
}

std::optional<ServerRelease> parseRelease(std::string_view productVersion) {
  ServerRelease release;
  const std::string text(productVersion);
  char* end = nullptr;
  release.major = static_cast<int>(std::strtol(text.c_str(), &end, 10));
  if (end == text.c_str() || release.major <= 0) return std::nullopt;
  if (*end == '.') release.minor = static_cast<int>(std::strtol(end + 1, &end, 10));
  if (*end == '.') release.build = static_cast<int>(std::strtol(end + 1, &end, 10));
  return release;
}

std::string releaseSelectList() {
  return "CONVERT(nvarchar(128), SERVERPROPERTY('ProductVersion')) AS version, "
         "CONVERT(nvarchar(128), SERVERPROPERTY('Edition')) AS edition, "
         "CONVERT(int, SERVERPROPERTY('EngineEdition')) AS engine_edition";
}

ServerRelease releaseOf(const db::Query& row) {
  ServerRelease release = parseRelease(row.fieldIsNull("version") ? "" : row.fieldAsText("version")).value_or(ServerRelease{});
  if (!row.fieldIsNull("edition")) release.edition = row.fieldAsText("edition");
  if (!row.fieldIsNull("engine_edition")) release.engineEdition = static_cast<int>(row.fieldAsInteger("engine_edition"));
  return release;
}

std::optional<ServerRelease> readServerRelease(const db::ConnectionSettings& settings) {
  try {
    db::Connection connection(settings);
    connection.open();
    connection.forgetPassword();
    db::Query query(connection);
    query.addLine("SELECT " + releaseSelectList());
    query.open();
    if (query.eof()) return std::nullopt;
    return releaseOf(query);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

int majorVersionOfYear(int year) {
  if (year <= 0) return 0;
  static constexpr std::array<std::pair<int, int>, 8> kYears = {
      {{2022, 16}, {2019, 15}, {2017, 14}, {2016, 13}, {2014, 12}, {2012, 11}, {2008, 10}, {2005, 9}}};
  for (const auto& [first, major] : kYears) {
    if (year >= first) return major;
  }
  return 8;
}

}  // namespace bv::maintenance
