// The system views a query may read, made from the server's state when a statement names one:
// sys.databases, sys.master_files and sys.database_files (2005 on), and the compatibility views
// sysdatabases and sysaltfiles (every release; 2000 has them in master only), each in the
// columns of the emulated release. The engine puts their rows where SQLite can read them.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "standin/base/volumes.h"
#include "standin/server/context.h"
#include "standin/sql/results.h"

namespace standin::system {

// Where a statement names a system object.
struct SystemObjectName {
  std::string database;  // the database part of a three-part name; empty: none given
  std::string schema;    // "sys", "dbo", or empty
  std::string name;      // as written
};

enum class SystemObjectLookup {
  Found,
  NotSystem,    // no system object of that name: a table of the database's own
  Missing,      // a system object the release does not have (the statement fails with 208)
  Unsupported,  // one SQL Server has that the stand-in does not (50000)
};

// What the name names in the emulated release, read in `currentDatabase`.
SystemObjectLookup lookUpSystemObject(const server::Server& server, const SystemObjectName& object,
                                      const std::string& currentDatabase);

// The object's rows now, in the release's columns. `database` is the database whose view it is
// (sys.database_files), the current one or the one the name gives.
sql::ResultSet systemObjectRows(server::Server& server, const SystemObjectName& object,
                                const std::string& database);

// sys.dm_os_volume_stats(database_id, file_id): the volume of that file (no row for a file or
// database that is not there, or a NULL argument). The engine evaluates the arguments.
sql::ResultSet volumeStats(server::Server& server, std::optional<std::int64_t> databaseId,
                           std::optional<std::int64_t> fileId);

// DATABASEPROPERTYEX(database, property); nullopt for NULL (no such database or property).
std::optional<sql::TypedValue> databaseProperty(const server::Server& server, const std::string& database,
                                                const std::string& property);

}  // namespace standin::system
