#include "core/maintenance/operations.h"

#include "core/maintenance/command_builder.h"
#include "core/sys/wipe.h"

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
                          const MessageSink& onMessage) {
  const std::string_view name = operationName(operation);
  ExecutionOutcome executed = executeMaintenanceCommand(settings, batch, name, onMessage);
  settings.forgetPassword();
  return outcomeOf(std::move(executed), name);
}

}  // namespace

std::optional<RequestProblem> checkBackupFile(std::string_view backupFile) {
  if (backupFile.empty()) return RequestProblem{RequestInput::BackupFile, std::string(kSpecifyBackupFile)};
  if (const auto problem = backupFileProblem(backupFile)) {
    return RequestProblem{RequestInput::BackupFile, std::string(*problem)};
  }
  return std::nullopt;
}

std::optional<RequestProblem> check(const BackupRequest& request) {
  if (auto problem = checkBackupFile(request.backupFile)) return problem;
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
  return buildBackupCommand(request.database, request.backupFile, request.verify);
}

std::string batchOf(const RestoreRequest& request) {
  return buildRestoreCommand(request.database, request.restoreFile);
}

OperationOutcome run(BackupRequest request, const MessageSink& onMessage) {
  db::ConnectionSettings settings = connectionFor(request.login, Operation::Backup);
  std::optional<db::ConnectionSettings> pruneSettings;
  if (request.generations != kKeepAllGenerations) pruneSettings = settings;
  sys::wipe(request.login.password);
  if (pruneSettings) {
    if (auto problem = retentionServerProblem(*pruneSettings)) {
      pruneSettings->forgetPassword();
      settings.forgetPassword();
      OperationOutcome refused;
      refused.connected = true;
      refused.message = std::move(*problem);
      return refused;
    }
  }
  OperationOutcome outcome = runBatch(std::move(settings), batchOf(request), Operation::Backup, onMessage);
  if (pruneSettings && outcome.succeeded) {
    outcome.prune = runPrune(*pruneSettings, request.database, request.backupFile, request.generations);
    if (const std::string pruned = prunedText(outcome.prune->deleted); !pruned.empty()) {
      outcome.message += "\n\n" + pruned;
    }
  }
  if (pruneSettings) pruneSettings->forgetPassword();
  return outcome;
}

OperationOutcome run(RestoreRequest request, const MessageSink& onMessage) {
  db::ConnectionSettings settings = connectionFor(request.login, Operation::Restore);
  sys::wipe(request.login.password);
  return runBatch(std::move(settings), batchOf(request), Operation::Restore, onMessage);
}

OperationOutcome run(TruncateRequest request, const MessageSink& onMessage) {
  db::ConnectionSettings truncation = connectionFor(request.login, Operation::TruncateLog);
  db::ConnectionSettings shrink = connectionFor(request.login, Operation::TruncateLog);
  sys::wipe(request.login.password);
  OperationOutcome truncated =
      runBatch(std::move(truncation), buildTruncateLogCommand(request.database), Operation::TruncateLog, onMessage);
  if (!truncated.succeeded) {
    shrink.forgetPassword();
    return truncated;
  }
  return runBatch(std::move(shrink), buildShrinkCommand(request.database), Operation::TruncateLog, onMessage);
}

}  // namespace bv::maintenance
