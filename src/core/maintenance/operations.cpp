#include "core/maintenance/operations.h"

#include <algorithm>

#include "core/db/sql_text.h"
#include "core/maintenance/command_builder.h"
#include "core/sys/wipe.h"
#include "core/text/ascii.h"

namespace bv::maintenance {
namespace {

OperationOutcome outcomeOf(ExecutionOutcome executed, std::string_view operation) {
  OperationOutcome outcome;
  outcome.succeeded = executed.succeeded;
  outcome.connected = executed.connected;
  outcome.message = executed.succeeded ? std::string(operation) + std::string(kFinishedSuffix)
                                        : std::move(executed.errorMessage);
  outcome.errors = std::move(executed.errors);
  outcome.infoMessages = std::move(executed.infoMessages);
  return outcome;
}

// The connection of an operation: its name also chooses the database the connection starts in.
db::ConnectionSettings connectionFor(const db::LoginSettings& login, Operation operation) {
  return maintenanceConnectionSettings(login, operationName(operation));
}

OperationOutcome runBatch(db::ConnectionSettings settings, const std::string& batch, Operation operation,
                          const MessageSink& onMessage, const PercentSink& onPercent = {}) {
  const std::string_view name = operationName(operation);
  ExecutionOutcome executed = executeMaintenanceCommand(settings, batch, name, onMessage, onPercent);
  settings.forgetPassword();
  return outcomeOf(std::move(executed), name);
}

// What the server held just before a backup that a proof or a prune follows: its release, and the
// largest backup_set_id of the database, read in one query from master so that the proof and the
// prune know this run's own set afterwards (own_backup_set.h).
struct RunStart {
  std::optional<ServerRelease> release;
  std::optional<std::int64_t> lastSetBefore;
  std::string recovery;  // DATABASEPROPERTYEX's Recovery: FULL, BULK_LOGGED, SIMPLE; empty: not read
};

RunStart readRunStart(db::ConnectionSettings settings, std::string_view databaseName) {
  settings.set("Database", "master");
  RunStart start;
  try {
    db::Connection connection(settings);
    settings.forgetPassword();
    connection.open();
    connection.forgetPassword();
    db::Query query(connection);
    query.addLine("SELECT " + releaseSelectList() + ",");
    query.addLine("  (SELECT ISNULL(MAX(backup_set_id), 0) FROM msdb.dbo.backupset WHERE database_name = N'" +
                  db::QuoteSqlString(databaseName) + "') AS last_set,");
    query.addLine("  CONVERT(nvarchar(60), DATABASEPROPERTYEX(N'" + db::QuoteSqlString(databaseName) +
                  "', 'Recovery')) AS recovery");
    query.open();
    if (!query.eof()) {
      start.release = releaseOf(query);
      start.lastSetBefore = query.fieldAsInteger("last_set");
      start.recovery = query.fieldAsText("recovery");
    }
  } catch (const std::exception&) {
    // Unread: the proof and the prune then find no set of this run and touch nothing.
  }
  settings.forgetPassword();
  return start;
}

// sys.databases.log_reuse_wait_desc of the database after its shrink; empty when not read.
// One text the server answers, on a connection of its own; empty when it cannot be read.
std::string readServerText(const db::ConnectionSettings& settings, const std::string& statement,
                           const char* field) {
  try {
    db::Connection connection(settings);
    connection.open();
    connection.forgetPassword();
    db::Query query(connection);
    query.addLine(statement);
    query.open();
    return query.eof() ? std::string() : query.fieldAsText(field);
  } catch (const std::exception&) {
    return {};
  }
}

std::string readLogReuseWait(const db::ConnectionSettings& settings, std::string_view databaseName) {
  return readServerText(settings,
                        "SELECT log_reuse_wait_desc FROM sys.databases WHERE name = N'" +
                            db::QuoteSqlString(databaseName) + "'",
                        "log_reuse_wait_desc");
}

// The log backup's file as the server named it: %date% replaced by the server's date, as the
// batch replaces it; the name as given when that cannot be read.
std::string logBackupFileOnServer(const db::ConnectionSettings& settings, const std::string& backupFile) {
  const std::string named = readServerText(settings,
                                           "SELECT REPLACE(N'" + db::QuoteSqlString(backupFile) +
                                               "', '%date%', REPLACE(CONVERT(varchar, GETDATE(), 111), '/', '')) AS f",
                                           "f");
  return named.empty() ? backupFile : named;
}

}  // namespace

std::optional<RequestProblem> checkBackupFile(std::string_view backupFile) {
  if (backupFile.empty()) return RequestProblem{RequestInput::BackupFile, std::string(kSpecifyBackupFile)};
  if (const auto problem = backupFileProblem(backupFile)) {
    return RequestProblem{RequestInput::BackupFile, std::string(*problem)};
  }
  return std::nullopt;
}

namespace {

bool namesTime(std::string_view backupFile) {
  return text::asciiLower(backupFile).find("%time%") != std::string::npos;
}

bool serverSaid(const std::vector<db::ErrorEntry>& errors, int number) {
  return std::any_of(errors.begin(), errors.end(), [number](const db::ErrorEntry& e) { return e.nativeCode == number; });
}

// The outcome with a sentence of ours before the server's own texts.
void explainFailure(OperationOutcome& outcome, std::string_view sentence) {
  std::vector<db::ErrorEntry> explained = {{std::string(sentence), "", 0}};
  explained.insert(explained.end(), outcome.errors.begin(), outcome.errors.end());
  outcome.message = executionErrorMessage(operationName(Operation::Backup), explained);
}

OperationOutcome refusedRun(std::string message) {
  OperationOutcome refused;
  refused.connected = true;
  refused.message = std::move(message);
  return refused;
}

}  // namespace

std::string logOfSimpleDatabaseText(std::string_view databaseName) {
  return "データベース " + std::string(databaseName) +
         " の復旧モデルは SIMPLE です。SIMPLE ではログが自動的に切り捨てられるため、ログのバックアップは"
         "できません。このデータベースは完全バックアップと差分バックアップで保護されます。";
}

std::optional<RequestProblem> kindProblem(const BackupRequest& request) {
  if (request.kind == BackupKind::Full) {
    if (namesTime(request.backupFile)) return RequestProblem{RequestInput::BackupFile, std::string(kTimeOnlyInChain)};
    return std::nullopt;
  }
  if (text::equalsIgnoringAsciiCase(request.database, "master")) {
    return RequestProblem{RequestInput::Kind, std::string(kMasterFullOnly)};
  }
  if (!namesTime(request.backupFile)) return RequestProblem{RequestInput::BackupFile, std::string(kChainNeedsTime)};
  if (request.testRestore) return RequestProblem{RequestInput::Kind, std::string(kProofOfFullOnly)};
  return std::nullopt;
}

std::optional<RequestProblem> check(const BackupRequest& request) {
  if (auto problem = checkBackupFile(request.backupFile)) return problem;
  if (auto problem = kindProblem(request)) return problem;
  if (auto problem = generationsProblem(request.generations, request.backupFile)) {
    return RequestProblem{RequestInput::Generations, std::move(*problem)};
  }
  return std::nullopt;
}

std::optional<RequestProblem> check(const RestoreRequest& request) {
  if (request.restoreFile.empty()) return RequestProblem{RequestInput::RestoreFile, std::string(kSpecifyBackupFile)};
  return std::nullopt;
}

std::string batchOf(const BackupRequest& request) {
  return buildBackupCommand(request.database, request.backupFile, request.kind, request.checksum, request.verify);
}

std::string batchOf(const RestoreRequest& request) {
  return buildRestoreCommand(request.database, request.restoreFile);
}

OperationOutcome run(BackupRequest request, const MessageSink& onMessage, const PercentSink& onPercent) {
  db::ConnectionSettings settings = connectionFor(request.login, Operation::Backup);
  std::optional<db::ConnectionSettings> afterSettings;
  const bool chain = request.kind != BackupKind::Full || request.checksum;
  if (request.generations != kKeepAllGenerations || request.testRestore || chain) afterSettings = settings;
  sys::wipe(request.login.password);
  RunStart start;
  if (afterSettings) start = readRunStart(*afterSettings, request.database);
  std::optional<std::string> refusal;
  const bool before2005 = start.release && beforeSqlServer2005(start.release->major);
  if (request.generations != kKeepAllGenerations && before2005) refusal = std::string(kRetentionNeedsNewerServer);
  if (request.checksum && before2005) refusal = std::string(kChecksumNeedsNewerServer);
  if (request.kind == BackupKind::Log && text::equalsIgnoringAsciiCase(start.recovery, "SIMPLE")) {
    refusal = logOfSimpleDatabaseText(request.database);
  }
  if (refusal) {
    afterSettings->forgetPassword();
    settings.forgetPassword();
    return refusedRun(std::move(*refusal));
  }
  const RunMark mark = RunMark::afterSet(start.lastSetBefore);
  OperationOutcome outcome = runBatch(std::move(settings), batchOf(request), Operation::Backup, onMessage, onPercent);
  if (!outcome.succeeded && request.kind == BackupKind::Log && serverSaid(outcome.errors, 4214)) {
    explainFailure(outcome, kLogNeedsBase);
  }
  if (!outcome.succeeded && request.kind == BackupKind::Differential && serverSaid(outcome.errors, 3035)) {
    explainFailure(outcome, kDifferentialNeedsBase);
  }
  if (request.testRestore && outcome.succeeded) {
    outcome.proof = runProof(*afterSettings, request.database, request.backupFile, mark,
                             start.release.value_or(ServerRelease{}));
    if (outcome.proof->result == ProofOutcome::Result::Proven || outcome.proof->result == ProofOutcome::Result::Skipped) {
      outcome.message += "\n\n" + outcome.proof->message;
    }
  }
  const bool proofHolds = !outcome.proof || outcome.proof->result == ProofOutcome::Result::Proven ||
                          outcome.proof->result == ProofOutcome::Result::Skipped;
  if (request.generations != kKeepAllGenerations && outcome.succeeded && proofHolds) {
    outcome.prune =
        runPrune(*afterSettings, request.database, request.backupFile, request.generations, mark, request.kind);
    for (const std::string& text : {prunedText(outcome.prune->deleted), undecidedText(outcome.prune->undecided)}) {
      if (!text.empty()) outcome.message += "\n\n" + text;
    }
  }
  if (afterSettings) afterSettings->forgetPassword();
  return outcome;
}

OperationOutcome run(RestoreRequest request, const MessageSink& onMessage, const PercentSink& onPercent) {
  db::ConnectionSettings settings = connectionFor(request.login, Operation::Restore);
  sys::wipe(request.login.password);
  return runBatch(std::move(settings), batchOf(request), Operation::Restore, onMessage, onPercent);
}

TruncationPlan plan(const TruncateRequest& request) {
  db::ConnectionSettings settings = connectionFor(request.login, Operation::TruncateLog);
  TruncationPlan planned = planTruncation(settings, request.database);
  settings.forgetPassword();
  return planned;
}

OperationOutcome run(TruncateRequest request, const MessageSink& onMessage, const PercentSink& onPercent) {
  db::ConnectionSettings truncation = connectionFor(request.login, Operation::TruncateLog);
  db::ConnectionSettings shrink = connectionFor(request.login, Operation::TruncateLog);
  std::optional<db::ConnectionSettings> afterwards;
  if (request.road != TruncationRoad::Legacy) afterwards = shrink;
  sys::wipe(request.login.password);
  std::string first;
  switch (request.road) {
    case TruncationRoad::Legacy:
      first = buildTruncateLogCommand(request.database);
      break;
    case TruncationRoad::Checkpoint:
      first = buildCheckpointCommand(request.database);
      break;
    case TruncationRoad::LogBackup:
      first = buildLogBackupCommand(request.database, request.logBackupFile);
      break;
  }
  OperationOutcome truncated = runBatch(std::move(truncation), first, Operation::TruncateLog, onMessage,
                                        request.road == TruncationRoad::LogBackup ? onPercent : PercentSink());
  if (!truncated.succeeded) {
    shrink.forgetPassword();
    if (afterwards) afterwards->forgetPassword();
    // A log backup before any full backup: the server's 4214, said in the user's terms.
    const bool noFullBackup = std::any_of(truncated.errors.begin(), truncated.errors.end(),
                                          [](const db::ErrorEntry& e) { return e.nativeCode == 4214; });
    if (request.road == TruncationRoad::LogBackup && noFullBackup) {
      std::vector<db::ErrorEntry> explained = {{std::string(kNoFullBackupYet), "", 0}};
      explained.insert(explained.end(), truncated.errors.begin(), truncated.errors.end());
      truncated.message = executionErrorMessage(operationName(Operation::TruncateLog), explained);
    }
    return truncated;
  }
  OperationOutcome shrunk =
      runBatch(std::move(shrink), buildShrinkCommand(request.database), Operation::TruncateLog, onMessage);
  if (shrunk.succeeded && afterwards) {
    if (request.road == TruncationRoad::Checkpoint) shrunk.message += "\n" + std::string(kCheckpointDone);
    // Nothing was truncated on this road: the end says where the log went.
    if (request.road == TruncationRoad::LogBackup) {
      shrunk.message = logBackedUpText(logBackupFileOnServer(*afterwards, request.logBackupFile));
    }
    if (const auto why = logNotShrunkText(readLogReuseWait(*afterwards, request.database))) {
      shrunk.message += "\n\n" + *why;
    }
  }
  if (afterwards) afterwards->forgetPassword();
  return shrunk;
}

}  // namespace bv::maintenance
