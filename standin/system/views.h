// The system views and functions a query may read, made from the server's state when a
// statement names one: sys.databases, sys.master_files and sys.database_files (2005 on), the
// compatibility views sysdatabases and sysaltfiles (every release; 2000 has them in master
// only), sys.dm_exec_requests, sys.dm_os_volume_stats (2012 on) and sys.dm_os_host_info (2017
// on), each in the columns of the emulated release. The engine puts their rows where SQLite can
// read them.
#pragma once

#include <optional>
#include <string>

#include "standin/server/context.h"
#include "standin/sql/results.h"

namespace standin::system {

// DATABASEPROPERTYEX(database, property); nullopt for NULL (no such database or property).
std::optional<sql::TypedValue> databaseProperty(const server::Server& server, const std::string& database,
                                                const std::string& property);

}  // namespace standin::system
