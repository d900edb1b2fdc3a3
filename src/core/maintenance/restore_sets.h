// The backup sets a restore plans from: a database's sets in the server's history, or the sets in
// backup files as RESTORE HEADERONLY reads them (for a server whose msdb knows nothing of them).
// SQL Server 2005 and later. Qt-free.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/maintenance/restore_plan.h"
#include "core/maintenance/server_session.h"

namespace bv::maintenance {

// Every set of the database the history holds, oldest first. A set whose media set has more
// than one family is marked as not whole (this program restores from one device per set).
std::vector<BackupSetEntry> readHistorySets(ServerSession& session, std::string_view databaseName);

// The files of a folder on the server (xp_dirtree, one level), full paths, sorted.
std::vector<std::string> listServerFolder(ServerSession& session, const std::string& folder);

// The sets of each file by RESTORE HEADERONLY, every database's (the planner keeps the one's it
// is asked for). `progress` hears each file before it is read (index, count) and may stop the
// reading by answering false. A file the server cannot read as a backup is left out and named in
// `unreadable` with the server's text.
struct FileSets {
  std::vector<BackupSetEntry> sets;
  std::vector<std::string> unreadable;
  bool cancelled = false;
};
FileSets readFileSets(ServerSession& session, const std::vector<std::string>& files,
                      const std::function<bool(std::size_t, std::size_t)>& progress = {});

// What the restore dialog starts from, read on a connection of its own (from master): the
// database's history sets and its recovery model; on SQL Server 2000 neither (`tooOld`).
struct RestoreSource {
  bool tooOld = false;
  bool simpleRecovery = false;
  std::vector<BackupSetEntry> sets;
};
inline constexpr std::string_view kRestorePointNeedsNewerServer =
    "このバージョンの SQL Server では復元ポイントを選んだ復元はできません（SQL Server 2005 以降が必要です）。";
// Throws the provider's errors.
RestoreSource readRestoreSource(const db::ConnectionSettings& settings, std::string_view databaseName);
// The sets of every file in a folder on the server, on a connection of its own.
FileSets readFolderSets(const db::ConnectionSettings& settings, const std::string& folder,
                        const std::function<bool(std::size_t, std::size_t)>& progress = {});

}  // namespace bv::maintenance
