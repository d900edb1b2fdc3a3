// Proven backups: after a backup (and its verify) succeeded, the file just written is restored
// under a scratch name, checked with DBCC CHECKDB, and dropped again. RESTORE VERIFYONLY only
// proves that a file reads back; this proves that the database in it restores and is sound.
//
// Everything happens on the server. The file is the one the server's backup history names as
// this program's newest backup of the database (never a name built again). The scratch name has
// a fixed shape that stays within 128 characters whatever the database is called,
// Brackenvale_check_<yyyymmddhhmmss>_<database id>; when a database of that name exists, nothing
// is touched. The restore moves every file to a new name in the server's default data and log
// folders, never REPLACE; the scratch database is dropped whatever came of the check, and only
// one this proof restored. A scratch database that a killed proof left behind is dropped by a
// later proof only when its name has the exact shape, it is older than 24 hours, and the restore
// history ties it to a backup of this program.
//
// Window and Brackenrun run the proof as a series of requests (every release, 2000 included);
// an Agent job runs the same steps as one T-SQL step with TRY/CATCH (SQL Server 2005 and later).
// Qt-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/db/connection_settings.h"
#include "core/db/database.h"

namespace bv::maintenance {

inline constexpr std::string_view kProofSucceeded = "テストレストアに成功しました。";
inline constexpr std::string_view kProofFailed = "テストレストア中にエラーが発生しました。";
inline constexpr std::string_view kProofFoundDamage = "整合性チェックでエラーが見つかりました。";
inline constexpr std::string_view kSystemDatabaseProof = "システムデータベースはテストレストアできません。";
inline constexpr std::string_view kProofJobNeedsNewerServer =
    "このバージョンの SQL Server ではジョブでテストレストアを行えません（SQL Server 2005 以降が必要です）。";

inline constexpr std::string_view kScratchPrefix = "Brackenvale_check_";

// master, model, msdb and tempdb, in any letter case: their backups are not proven.
bool isSystemDatabase(std::string_view databaseName);

// "Brackenvale_check_" + the 14 digits + "_" + the database id.
std::string scratchDatabaseName(std::string_view stamp, long databaseId);
// Whether a name has exactly that shape (what a leftover must have to be dropped).
bool isScratchDatabaseName(std::string_view name);

// The server's release as SERVERPROPERTY('ProductVersion') gives it: major, minor, build.
struct ServerRelease {
  int major = 0;
  int minor = 0;
  int build = 0;
  // sys.dm_os_volume_stats: SQL Server 2008 R2 SP1 (10.50.2500) and later.
  bool tellsFreeSpace() const;
  // SERVERPROPERTY('InstanceDefaultDataPath'): SQL Server 2012 and later.
  bool tellsDefaultPaths() const { return major >= 11; }
};
std::optional<ServerRelease> parseRelease(std::string_view productVersion);

struct ProofOutcome {
  enum class Result { Proven, Skipped, Failed, Damaged };
  Result result = Result::Failed;
  // For the box and the log: kProofSucceeded, kSystemDatabaseProof, or kProofFailed /
  // kProofFoundDamage + CR LF CR LF + the server's texts.
  std::string message;
  std::vector<db::ErrorEntry> errors;
  std::string scratchName;  // the database restored, when it came that far
};

// Runs the proof of the database's newest backup on connections of its own (`settings` reach
// the server; the proof works from master).
ProofOutcome runProof(const db::ConnectionSettings& settings, std::string_view databaseName);

// The Agent job's proof step: the same steps as one T-SQL batch for a server of that release
// (the year the Agent dialog reads; 2005 and later), run in master.
std::string buildProofJobStep(std::string_view databaseName, int serverYear);

}  // namespace bv::maintenance
