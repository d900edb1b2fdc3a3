// The three things a user does to a database right now, one use case each, shared by every
// caller: the main window's run-now road, Brackenrun (the scheduled backup) and the Agent
// dialog's checks. A request is a small value; its check gives the first problem in the order
// the window asks (and which input it concerns, for the focus); its run sends the batches on
// connections of their own and says what came of it in the words the user reads. The login and
// the choice of a database are checked by the caller, which owns those fields. Qt-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/db/connection_settings.h"
#include "core/db/database.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/maintenance/proof.h"
#include "core/maintenance/retention.h"
#include "core/maintenance/truncation.h"

namespace bv::maintenance {

inline constexpr std::string_view kSpecifyBackupFile = "バックアップファイルを指定してください。";
inline constexpr std::string_view kFinishedSuffix = "が終了しました。";

// The input a refusal concerns.
enum class RequestInput { BackupFile, RestoreFile, Generations, Kind, Checksum };

// The refusals of a differential or log backup, and of checksums, before anything is sent.
inline constexpr std::string_view kChainNeedsTime =
    "ログと差分のバックアップは1回ごとに別のファイルになるよう、ファイル名に %time% を含めてください。";
inline constexpr std::string_view kTimeOnlyInChain =
    "%time% はログと差分のバックアップでのみ使用できます。完全バックアップのファイル名には %date% を使用してください。";
inline constexpr std::string_view kMasterFullOnly = "master データベースは完全バックアップのみ行えます。";
inline constexpr std::string_view kProofOfFullOnly = "テストレストアは完全バックアップでのみ行えます。";
inline constexpr std::string_view kChecksumNeedsNewerServer =
    "チェックサムは SQL Server 2005 以降でのみ付けられます。";
inline constexpr std::string_view kLogNeedsBase =
    "このデータベースには、ログのバックアップの起点となるバックアップがありません"
    "（まだ完全バックアップがないか、復旧モデルを SIMPLE から変更した後に完全バックアップも差分バックアップも"
    "行っていません）。先に完全バックアップか差分バックアップを行ってください。";
inline constexpr std::string_view kDifferentialNeedsBase =
    "このデータベースには差分バックアップの基になる完全バックアップがありません。先に完全バックアップを行ってください。";
// Log backups of a database in the SIMPLE recovery model do not exist.
std::string logOfSimpleDatabaseText(std::string_view databaseName);

struct RequestProblem {
  RequestInput input;
  std::string message;
};

// A backup to a file on the server (its name may carry %date%, and a differential's or a log's
// %time%), verified on request.
struct BackupRequest {
  db::LoginSettings login;
  std::string database;
  std::string backupFile;
  bool verify = false;
  // The backup files kept (retention.h): 0 keeps every one.
  int generations = 0;
  // A test restore of the new backup (proof.h).
  bool testRestore = false;
  BackupKind kind = BackupKind::Full;
  // WITH CHECKSUM (SQL Server 2005 and later).
  bool checksum = false;
};

// A restore of the database from a backup file, replacing it.
struct RestoreRequest {
  db::LoginSettings login;
  std::string database;
  std::string restoreFile;
};

// The log's truncation, then the shrink of the database's files, by the road the plan chose
// (truncation.h); a log backup road also names the file the log goes to.
struct TruncateRequest {
  db::LoginSettings login;
  std::string database;
  TruncationRoad road = TruncationRoad::Legacy;
  std::string logBackupFile;
};

// The road the truncation takes on this server, for the caller to decide with the user.
TruncationPlan plan(const TruncateRequest& request);

// A file given, then one the batch carries exactly (backupFileProblem).
std::optional<RequestProblem> checkBackupFile(std::string_view backupFile);
// What the kind allows: %time% in a differential's or a log's file name and in no full's, no
// differential or log of master, no test restore but of full backups.
std::optional<RequestProblem> kindProblem(const BackupRequest& request);
// The file's checks, the kind's, then the generations that can be kept for it (generationsProblem).
std::optional<RequestProblem> check(const BackupRequest& request);
std::optional<RequestProblem> check(const RestoreRequest& request);

// The batches the requests send, byte for byte as the server receives them.
std::string batchOf(const BackupRequest& request);
std::string batchOf(const RestoreRequest& request);

// What a run came to.
struct OperationOutcome {
  bool succeeded = false;
  bool connected = false;    // false: the failure never reached a batch
  std::string message;       // the operation's name + "が終了しました。", or the error message
  std::vector<db::ErrorEntry> errors;        // the provider's error list on failure
  std::vector<db::ErrorEntry> infoMessages;  // the server's messages (progress, completion)
  // After a backup that succeeded: what its test restore and its prune came to. Their failures
  // never change the backup's own outcome; the caller reports them on their own. A proof that
  // did not prove the backup lets no prune run.
  std::optional<ProofOutcome> proof;
  std::optional<PruneOutcome> prune;
};

// Each run reports the server's messages as they come (on the thread that runs it). A
// differential or log backup, or one with checksums, first reads the server's release and the
// database's recovery model: checksums before SQL Server 2005 and a log of a SIMPLE database are
// refused before anything runs; the server's 4214 and 3035 come after a sentence that says what
// to do. A backup with
// generations to keep first reads the server's release, and a server before SQL Server 2005 is
// refused before anything runs (kRetentionNeedsNewerServer); after the backup (and its verify)
// succeeded it proves the backup by a test restore when asked, then prunes, each in requests of
// its own (backup -> verify -> proof -> prune). A run takes
// its request and wipes the password in it once the connection settings hold it; those are wiped
// as soon as the connection has opened.
// With a percent sink, the server's own percentage of a backup, its verify or a restore is
// reported while it runs (progress.h).
OperationOutcome run(BackupRequest request, const MessageSink& onMessage = {}, const PercentSink& onPercent = {});
OperationOutcome run(RestoreRequest request, const MessageSink& onMessage = {}, const PercentSink& onPercent = {});
OperationOutcome run(TruncateRequest request, const MessageSink& onMessage = {}, const PercentSink& onPercent = {});

}  // namespace bv::maintenance
