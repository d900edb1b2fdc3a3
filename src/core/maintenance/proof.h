// Proven backups: after a backup (and its verify) succeeded, the file just written is restored
// under a scratch name, checked with DBCC CHECKDB, and dropped again. RESTORE VERIFYONLY only
// proves that a file reads back; this proves that the database in it restores and is sound.
//
// Everything happens on the server. The file is this run's own set in the server's backup history
// (own_backup_set.h; never a name built again, never merely the newest). The scratch name carries
// the time, the database id and 32 random hexadecimal digits, within 128 characters whatever the
// database is called: Brackenvale_check_<yyyymmddhhmmss>_<database id>_<random>, and its files
// the same name with the file id, so no two proofs ever share a database or a file. When a
// database of that name exists, nothing is touched. The restore moves every file to a new name in
// the server's default data and log folders, never REPLACE. A proof drops only the database its
// own restore made: one its restore brought online, or one its failed restore left RESTORING;
// never one that is online without its restore having succeeded (someone else's, made under the
// name while the proof waited). A scratch database that a killed proof left behind is dropped by
// a later proof only when its name has one of the two shapes (this one, or the earlier one
// without the random part), it is older than 24 hours, and the restore history ties it to a
// backup of this program; each is tried once, and one that cannot go is named, not fatal.
//
// Window and Brackenrun run the proof as a series of requests (every release, 2000 included);
// an Agent job runs the same steps as one T-SQL step with TRY/CATCH (SQL Server 2005 and later),
// which decides what depends on the release when it runs, so a server upgraded in place keeps
// proving. Qt-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/db/connection_settings.h"
#include "core/db/database.h"
#include "core/maintenance/own_backup_set.h"
#include "core/maintenance/server_release.h"

namespace bv::maintenance {

inline constexpr std::string_view kProofSucceeded = "テストレストアに成功しました。";
inline constexpr std::string_view kProofFailed = "テストレストア中にエラーが発生しました。";
inline constexpr std::string_view kProofFoundDamage = "整合性チェックでエラーが見つかりました。";
// Around the file's name after kProofFoundDamage: the backup cannot be used, and what to do.
inline constexpr std::string_view kDamagedBackupBefore = "このバックアップ（";
inline constexpr std::string_view kDamagedBackupAfter =
    "）は使用できません。新しいバックアップを作成し、ディスクの状態と msdb.dbo.suspect_pages を確認してください。";
inline constexpr std::string_view kSystemDatabaseProof = "システムデータベースはテストレストアできません。";
inline constexpr std::string_view kProofJobNeedsNewerServer =
    "このバージョンの SQL Server ではジョブでテストレストアを行えません（SQL Server 2005 以降が必要です）。";

inline constexpr std::string_view kScratchPrefix = "Brackenvale_check_";

// master, model, msdb and tempdb, in any letter case: their backups are not proven.
bool isSystemDatabase(std::string_view databaseName);

// "Brackenvale_check_" + the 14 digits + "_" + the database id + "_" + 32 hexadecimal digits.
std::string scratchDatabaseName(std::string_view stamp, long databaseId, std::string_view random);
// Whether a name has exactly that shape, or the earlier one without "_" and the random part
// (what a leftover must have to be dropped).
bool isScratchDatabaseName(std::string_view name);
// The same test in T-SQL, of a name expression (the job step's and the leftovers query's).
std::string scratchShapeCondition(std::string_view nameExpression);

struct ProofOutcome {
  enum class Result { Proven, Skipped, Failed, Damaged };
  Result result = Result::Failed;
  // For the box and the log: kProofSucceeded, kSystemDatabaseProof, or kProofFailed /
  // damagedBackupText + CR LF CR LF + the server's texts; then the notes, a line each.
  std::string message;
  std::vector<db::ErrorEntry> errors;
  std::string file;         // this run's backup file, when the history named it
  std::string scratchName;  // the database restored, when it came that far
  // Leftovers of killed proofs that could not be dropped, a line each (the proof went on).
  std::vector<std::string> notes;
};

// Runs the proof of this run's backup (the file as typed, `mark` as the road knows its run) on
// connections of its own (`settings` reach the server; the proof works from master), for a
// server of the release the road read before its backup.
ProofOutcome runProof(const db::ConnectionSettings& settings, std::string_view databaseName,
                      std::string_view backupFile, const RunMark& mark, const ServerRelease& release);

// The Agent job's proof step: the same steps as one T-SQL batch (SQL Server 2005 and later), run
// in master; the job passes RunMark::ofJob with its name, whose start bounds this run's set.
std::string buildProofJobStep(std::string_view databaseName, std::string_view backupFile, const RunMark& mark);

// kProofFoundDamage, then that the backup in `file` cannot be used and what to do.
std::string damagedBackupText(std::string_view file);
// "以前のテストレストアで残ったデータベース <name> を削除できませんでした。" and the server's text.
std::string leftoverNotDroppedNote(std::string_view name, std::string_view serverText);

}  // namespace bv::maintenance
