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
#include "core/maintenance/command_executor.h"
#include "core/maintenance/retention.h"

namespace bv::maintenance {

inline constexpr std::string_view kSpecifyBackupFile = "バックアップファイルを指定してください。";
inline constexpr std::string_view kFinishedSuffix = "が終了しました。";

// The input a refusal concerns.
enum class RequestInput { BackupFile, RestoreFile, Generations };

struct RequestProblem {
  RequestInput input;
  std::string message;
};

// A full backup to a file on the server (its name may carry %date%), verified on request.
struct BackupRequest {
  db::LoginSettings login;
  std::string database;
  std::string backupFile;
  bool verify = false;
  // The backup files kept (retention.h): 0 keeps every one.
  int generations = 0;
};

// A restore of the database from a backup file, replacing it.
struct RestoreRequest {
  db::LoginSettings login;
  std::string database;
  std::string restoreFile;
};

// The log's truncation, then the shrink of the database's files.
struct TruncateRequest {
  db::LoginSettings login;
  std::string database;
};

// A file given, then one the batch carries exactly (backupFileProblem).
std::optional<RequestProblem> checkBackupFile(std::string_view backupFile);
// The file's checks, then the generations that can be kept for it (generationsProblem).
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
  // After a backup that succeeded with generations to keep: what the prune came to. Its failure
  // never changes the backup's own outcome; the caller reports it on its own.
  std::optional<PruneOutcome> prune;
};

// Each run reports the server's messages as they come (on the thread that runs it). A backup with
// generations to keep first reads the server's release, and a server before SQL Server 2005 is
// refused before anything runs (kRetentionNeedsNewerServer); after the backup (and its verify)
// succeeded it prunes, in a request of its own. A run takes
// its request and wipes the password in it once the connection settings hold it; those are wiped
// as soon as the connection has opened.
OperationOutcome run(BackupRequest request, const MessageSink& onMessage = {});
OperationOutcome run(RestoreRequest request, const MessageSink& onMessage = {});
OperationOutcome run(TruncateRequest request, const MessageSink& onMessage = {});

}  // namespace bv::maintenance
