// msdb's backup history: backupmediaset, backupmediafamily and backupset in the columns of the
// emulated release, a row of each for every backup the server writes, as SQL Server keeps them
// (older rows stay when a file is written anew); and restorehistory, a row for every restore.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "standin/server/context.h"
#include "standin/sql/value.h"

namespace standin::backup {

// Creates the tables in the release's columns; tables of another release's columns (a data
// folder last used by one) are rebuilt with the rows they had.
void ensureBackupHistoryTables(sqlite3* db, int year);

// One backup set written to a file.
struct BackupRecord {
  std::string databaseName;
  std::string collation = "Japanese_CI_AS";
  sql::DateTime databaseCreated;
  char type = 'D';          // D database, I differential, L log
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
  std::string physicalDevice;            // the file's full path, as the server opened it
  std::string setGuid;                   // backup_set_uuid, as the set's header has it
  std::string databaseGuid;              // database_guid and family_guid
  std::string recoveryModel = "SIMPLE";  // FULL, BULK-LOGGED, SIMPLE
  std::uint64_t firstLsn = 0;
  std::uint64_t lastLsn = 0;
  std::uint64_t checkpointLsn = 0;
  std::uint64_t databaseBackupLsn = 0;
  // A differential's base: the full backup's checkpoint LSN (its set, with this database's
  // latest full of that LSN, gives differential_base_guid); 0 for other sets.
  std::uint64_t differentialBaseLsn = 0;
  bool beginsLogChain = false;
  int serverYear = 0;       // of the server that wrote the set; 0: this server's
  std::string serverName;   // empty: this server's
  std::string machineName;  // empty: this computer's
};

// Writes the set's rows to msdb and returns its backup_set_id. A set appended to media
// (position 2 and on) joins the media set the file's earlier sets were recorded in; a set that
// starts the media opens a new one.
std::int64_t recordBackup(server::Server& server, const BackupRecord& backup);

// One restore that succeeded, of the set `set` describes.
struct RestoreRecord {
  std::string destination;  // the database restored to
  std::string userName;
  sql::DateTime date;  // when it started
  char type = 'D';     // D database, I differential, L log
  bool replace = false;
  bool recovery = true;
  BackupRecord set;  // found in backupset by its setGuid, else recorded now
};

// Writes the restore's restorehistory row, linked to its set's backupset row (a set the history
// does not know, one made elsewhere or whose history was deleted, gets its rows first, as SQL
// Server records the sets it restores).
void recordRestore(server::Server& server, const RestoreRecord& restore);

}  // namespace standin::backup
