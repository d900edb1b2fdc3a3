// The server's facts, read once for a road and passed on: its release, as
// SERVERPROPERTY('ProductVersion') names it (major.minor.build), its edition and engine edition;
// one select list reads them and one parser takes them. And the one place that says what a
// release can do for the program's additions: "too old" has one rule here, whichever road asks.
// The Agent dialog knows a server by the year @@VERSION gives (as specified), so the year maps
// onto the same major versions. Qt-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/db/connection_settings.h"
#include "core/db/database.h"

namespace bv::maintenance {

// SQL Server 2005's major version: before it there is no xp_delete_file (the prune), no TRY/CATCH
// (the Agent's proof step), no catalogue views (sys.databases) and no FileId in RESTORE
// FILELISTONLY.
inline constexpr int kSqlServer2005 = 9;

struct ServerRelease {
  int major = 0;  // 0: not known
  int minor = 0;
  int build = 0;
  std::string edition;    // SERVERPROPERTY('Edition'): "Express Edition (64-bit)", ...
  int engineEdition = 0;  // SERVERPROPERTY('EngineEdition'): 4 Express; 0 not known
  // sys.dm_os_volume_stats: SQL Server 2008 R2 SP1 (10.50.2500) and later.
  bool tellsFreeSpace() const;
  // SERVERPROPERTY('InstanceDefaultDataPath'): SQL Server 2012 and later.
  bool tellsDefaultPaths() const { return major >= 11; }
  bool hasCatalogViews() const { return major >= kSqlServer2005; }
};

// "9.00.5000.00" -> 9, 0, 5000; nothing when the text is no version.
std::optional<ServerRelease> parseRelease(std::string_view productVersion);

// The select list that reads the facts (columns version, edition, engine_edition), for a query of
// the road's own, and the facts from the row it gave.
std::string releaseSelectList();
ServerRelease releaseOf(const db::Query& row);
// The facts on a connection of their own; nothing when they cannot be read.
std::optional<ServerRelease> readServerRelease(const db::ConnectionSettings& settings);

// Whether a server of that major version is older than SQL Server 2005 (0, unknown, is not).
constexpr bool beforeSqlServer2005(int major) { return major > 0 && major < kSqlServer2005; }

// The major version of the release year @@VERSION names (2005 -> 9, 2008 -> 10, ... 2022 -> 16;
// any year before 2005, including the 200 that 2000's text reads as, -> 8); 0 for none (-1).
int majorVersionOfYear(int year);

}  // namespace bv::maintenance
