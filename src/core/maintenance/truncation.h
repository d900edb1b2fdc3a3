// The log's truncation on every release. SQL Server 2008 and later refuse BACKUP LOG ... WITH
// TRUNCATE_ONLY (msg 155), so there the database's recovery model decides: SIMPLE truncates its
// log at each checkpoint, so a CHECKPOINT in the database does it; FULL and BULK_LOGGED keep the
// log for the log backup chain, which a truncation would break, so the safe way is offered
// instead: a log backup to a file (appended, never overwriting an earlier one of the chain), then
// the shrink. Servers before 2008 get exactly the batches they always got. Qt-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/db/connection_settings.h"

namespace bv::maintenance {

enum class TruncationRoad {
  Legacy,      // before 2008 (or release unknown): BACKUP LOG ... WITH TRUNCATE_ONLY, then the shrink
  Checkpoint,  // 2008 and later, SIMPLE: CHECKPOINT in the database, then the shrink
  LogBackup,   // 2008 and later, FULL or BULK_LOGGED: a log backup to a file, then the shrink
};

struct TruncationPlan {
  TruncationRoad road = TruncationRoad::Legacy;
  std::string recoveryModel;  // FULL, BULK_LOGGED, SIMPLE; empty when not read
  // The legacy road on a database whose history holds log backups: TRUNCATE_ONLY breaks their
  // chain, and the user is asked first (truncationBreaksChainQuestion).
  bool breaksLogChain = false;
};

// Reads the release and (from 2008) the database's recovery model, on a connection of its own;
// on the legacy road, also whether msdb holds log backups of the database (not read: no).
// A server that cannot be read takes the legacy road, whose own run then reports what failed.
TruncationPlan planTruncation(const db::ConnectionSettings& settings, std::string_view databaseName);
// The same decision from what was read (for tests): the major version and the model.
TruncationRoad truncationRoad(std::optional<int> majorVersion, std::string_view recoveryModel);

// 「データベース [<db>] は完全復旧モデルです。...」: the question before a log backup.
std::string logBackupQuestion(std::string_view databaseName, std::string_view recoveryModel);
// The question before TRUNCATE_ONLY breaks a chain of log backups.
std::string truncationBreaksChainQuestion(std::string_view databaseName);
inline constexpr std::string_view kLogBackupFileCaption = "ログのバックアップファイル";
inline constexpr std::string_view kCheckpointDone = "（単純復旧モデルのため、ログはチェックポイントで切り捨てました。）";
// The end of the log backup road, which truncated nothing: "ログを <file> にバックアップし、
// データベースのファイルを圧縮しました。"
std::string logBackedUpText(std::string_view fileOnServer);
inline constexpr std::string_view kNoFullBackupYet =
    "このデータベースはまだ一度も完全バックアップされていないため、ログをバックアップできません。"
    "先に「バックアップ」タブで完全バックアップを行ってください。";

// "USE [db]" then "CHECKPOINT".
std::string buildCheckpointCommand(std::string_view databaseName);
// The log backup to the file (%date% replaced by the server's date, as the backup batch does),
// WITH NOINIT so that a second run on the same day appends to the chain, never overwrites it.
std::string buildLogBackupCommand(std::string_view databaseName, std::string_view backupFile);

// Why the log could not be reused, in words, from sys.databases.log_reuse_wait_desc; nothing
// for NOTHING.
std::optional<std::string> logNotShrunkText(std::string_view logReuseWait);

}  // namespace bv::maintenance
