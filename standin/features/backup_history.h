// msdb's backup history: backupmediaset, backupmediafamily and backupset in the columns of the
// emulated release, a row of each for every backup the server writes, as SQL Server keeps them
// (older rows stay when a file is written anew).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "standin/features/context.h"
#include "standin/sql/value.h"

namespace standin::features {

// Creates the tables in the release's columns; tables of another release's columns (a data
// folder last used by one) are rebuilt with the rows they had.
void ensureBackupHistoryTables(sqlite3* db, int year);

// One backup set written to a file.
struct BackupRecord {
  std::string databaseName;
  sql::DateTime databaseCreated;
  char type = 'D';          // D database, I differential
  std::string name;         // empty: NULL
  std::string description;  // empty: NULL
  std::string userName;
  sql::DateTime start;
  sql::DateTime finish;
  std::uint32_t position = 1;        // of the set on its media
  std::uint64_t size = 0;            // bytes
  std::uint64_t compressedSize = 0;  // bytes in the file (the size when not compressed)
  bool compressed = false;
  bool copyOnly = false;
  bool checksums = false;
  std::string physicalDevice;  // the file's full path, as the server opened it
};

// Writes the set's rows to msdb. A set appended to media (position 2 and on) joins the media
// set the file's earlier sets were recorded in; a set that starts the media opens a new one.
void recordBackup(Server& server, const BackupRecord& backup);

}  // namespace standin::features
