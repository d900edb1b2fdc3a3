// Backups that keep themselves: after a backup with %date% in its file name succeeded, the newest
// N files of that backup are kept and older ones deleted, by one T-SQL batch that the window,
// Brackenrun and the Agent job's step all send. The batch decides everything on the server: the
// file just written is this run's own set in the server's backup history (own_backup_set.h; never
// the client's idea of the path or the date, never merely the newest), its folder alone is listed
// with xp_dirtree, and a file is a candidate only when its name is the pattern with one real date
// not later than the new file's in place of every %date%, and the history records it as this
// program's backup of this database at that very path, names compared as the server's file system
// compares them. Only candidates beyond the newest N-1 go, with xp_delete_file (SQL Server 2005
// and later); the folder is listed again, and only what really went is reported. Qt-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/db/connection_settings.h"
#include "core/db/database.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/own_backup_set.h"

namespace bv::maintenance {

// 0 keeps every file (無制限); otherwise 2 to 365. One generation is refused: an INIT backup on
// the same day overwrites the only copy before a new one exists.
inline constexpr int kKeepAllGenerations = 0;
inline constexpr int kMinGenerations = 2;
inline constexpr int kMaxGenerations = 365;
// 2 to 365: the counts that can be kept (0, keep all, aside).
constexpr bool generationsInRange(int generations) {
  return generations >= kMinGenerations && generations <= kMaxGenerations;
}

inline constexpr std::string_view kGenerationsOutOfRange =
    "保存世代数には 2 から 365 までの値を指定してください（無制限は 0）。";
inline constexpr std::string_view kGenerationsNeedDateNote =
    "※世代管理は、ファイル名に %date% を含む場合のみ使用できます";
inline constexpr std::string_view kGenerationsNeedDateMessage =
    "世代管理は、ファイル名に %date% を含む場合のみ使用できます。";
inline constexpr std::string_view kRetentionNeedsNewerServer =
    "このバージョンの SQL Server では古いバックアップファイルを削除できません。";
inline constexpr std::string_view kPruneFailed = "古いバックアップファイルの削除中にエラーが発生しました。";

inline constexpr std::string_view kChainGenerationsNote =
    "※差分・ログ: 残る完全バックアップに不要なファイルを削除";

// The note under the generations: why they cannot be kept for the path (not empty), or, on a
// differential or log road, what they mean there; nothing for a full backup that can keep them.
std::optional<std::string_view> generationsNote(std::string_view backupFile, BackupKind kind);

// Whether retention can apply to the path: its file-name part holds %date% (in any letter case)
// and no folder part does.
bool retentionApplies(std::string_view backupFile);

// Why `generations` cannot be kept for this path, or nothing (0 always can).
std::optional<std::string> generationsProblem(int generations, std::string_view backupFile);


// The prune batch for the database's backups to that path, keeping `generations` files, starting
// from this run's own set.
std::string buildPruneCommand(std::string_view databaseName, std::string_view backupFile, int generations,
                              const RunMark& mark);

// A differential or log road's prune, by the chain rule (docs/runner.md, "Keeping whole chains"):
// of this road's own files (its pattern with a real date and time, in the folder of this run's
// own set, each the only set on its media and this program's backup of this type of this
// database, written before this run's), a differential goes only when the history holds its base
// and that full is no longer kept, a log only when it ends at or before the checkpoint of the
// oldest full still kept. A full is kept when the history holds it (any program's, not
// copy-only) and its file is not proven gone: xp_fileexist finds its folder but not the file.
// Sets are ordered by their LSNs, never by name. Where the need cannot be told (no full kept,
// a differential whose base the history no longer holds), nothing goes and the set is named.
std::string buildChainPruneCommand(std::string_view databaseName, std::string_view backupFile, BackupKind kind,
                                   const RunMark& mark);

// "古いバックアップファイルを N 個削除しました。" and the files, one a line; nothing when none went.
std::string prunedText(const std::vector<std::string>& deleted);
// The sets a chain prune could not decide about, named; nothing when there are none.
std::string undecidedText(const std::vector<std::string>& undecided);

struct PruneOutcome {
  bool succeeded = false;
  std::vector<std::string> deleted;    // full paths, as the server names them
  std::vector<std::string> undecided;  // a chain prune's files kept as their need cannot be told
  std::string errorMessage;            // kPruneFailed + CR LF CR LF + the server's texts
  std::vector<db::ErrorEntry> errors;
};

// Sends the prune batch on a connection of its own, in master (as the job step runs), so that
// neither a default database of another collation nor an offline one can fail it.
// A differential or log road prunes by the chain rule (buildChainPruneCommand).
PruneOutcome runPrune(const db::ConnectionSettings& settings, std::string_view databaseName,
                      std::string_view backupFile, int generations, const RunMark& mark,
                      BackupKind kind = BackupKind::Full);
// The prune batch of the road: the full road's keeping `generations`, else the chain rule's.
std::string pruneCommandOf(std::string_view databaseName, std::string_view backupFile, int generations,
                           const RunMark& mark, BackupKind kind);

// kRetentionNeedsNewerServer when the server is older than SQL Server 2005 (read on a connection
// of its own); nothing when it is not, or when its release cannot be read (the prune then
// reports what the server says).
std::optional<std::string> retentionServerProblem(const db::ConnectionSettings& settings);

}  // namespace bv::maintenance
