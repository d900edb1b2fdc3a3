#include "core/maintenance/truncation.h"

#include "core/db/database.h"
#include "core/db/sql_text.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/retention.h"
#include "core/maintenance/server_release.h"
#include "core/text/ascii.h"

namespace bv::maintenance {
namespace {

constexpr int kFirstVersionWithoutTruncateOnly = 10;  // SQL Server 2008

}  // namespace

TruncationRoad truncationRoad(std::optional<int> majorVersion, std::string_view recoveryModel) {
  if (!majorVersion || *majorVersion < kFirstVersionWithoutTruncateOnly) return TruncationRoad::Legacy;
  const std::string model = text::asciiUpper(recoveryModel);
  if (model == "SIMPLE") return TruncationRoad::Checkpoint;
  if (model == "FULL" || model == "BULK_LOGGED") return TruncationRoad::LogBackup;
  return TruncationRoad::Legacy;  // a database the server could not tell about: its own error says why
}

TruncationPlan planTruncation(const db::ConnectionSettings& settings, std::string_view databaseName) {
  TruncationPlan plan;
  try {
    db::Connection connection(settings);
    connection.open();
    connection.forgetPassword();
    db::Query query(connection);
    query.addLine("SELECT " + releaseSelectList() + ", CONVERT(nvarchar(60), DATABASEPROPERTYEX(N'" +
                  db::QuoteSqlString(databaseName) + "', 'Recovery')) AS recovery");
    query.open();
    if (query.eof()) return plan;
    plan.recoveryModel = query.fieldAsText("recovery");
    const ServerRelease release = releaseOf(query);
    plan.road = truncationRoad(release.major > 0 ? std::optional<int>(release.major) : std::nullopt, plan.recoveryModel);
    if (plan.road != TruncationRoad::Legacy) return plan;
    query.close();
    db::Query logs(connection);
    logs.addLine("SELECT COUNT(*) AS logs FROM msdb.dbo.backupset WHERE database_name = N'" +
                 db::QuoteSqlString(databaseName) + "' AND type = 'L'");
    logs.open();
    plan.breaksLogChain = !logs.eof() && logs.fieldAsInteger("logs") > 0;
  } catch (const std::exception&) {
    plan.breaksLogChain = false;
    if (plan.road != TruncationRoad::Legacy) plan = {};
  }
  return plan;
}

std::string truncationBreaksChainQuestion(std::string_view databaseName) {
  return "データベース [" + std::string(databaseName) +
         "] にはログのバックアップがあります。ログを切り捨てると、次の完全バックアップを行うまで、"
         "ログのバックアップを使って特定の時点に復元することはできなくなります。ログを切り捨てますか？";
}

std::string logBackupQuestion(std::string_view databaseName, std::string_view recoveryModel) {
  const std::string model = text::asciiUpper(recoveryModel) == "BULK_LOGGED" ? "一括ログ復旧モデル" : "完全復旧モデル";
  return "データベース [" + std::string(databaseName) + "] は" + model +
         "です。ログを切り捨てるとログ バックアップのチェーンが途切れます。代わりにログをバックアップしてから、"
         "データベースを圧縮しますか？";
}

std::string buildCheckpointCommand(std::string_view databaseName) {
  return joinCommandLines({"USE " + db::bracketName(databaseName), "CHECKPOINT"});
}

std::string buildLogBackupCommand(std::string_view databaseName, std::string_view backupFile) {
  return joinCommandLines({
      "begin ",
      "  DECLARE @strDate  varchar(20) ",
      "  DECLARE @strFile  varchar(1000) ",
      "  DECLARE @strName  varchar(100) ",
      "  SET @strDate = CONVERT(varchar, GETDATE(), 111) ",
      "  SET @strDate = REPLACE(@strDate,'/','') ",
      "  SET @strFile = REPLACE(N'" + db::QuoteSqlString(backupFile) + "', '%date%', @strDate) ",
      "  SET @strName = 'Brackenvale_log_' + @strDate ",
      "  BACKUP LOG " + db::bracketName(databaseName) + " ",
      "  TO DISK = @strFile ",
      "  WITH NOINIT, STATS = 10, NAME = @strName, DESCRIPTION = 'Build by Brackenvale' ",
      "end ",
  });
}

std::string logBackedUpText(std::string_view fileOnServer) {
  return "ログを " + std::string(fileOnServer) + " にバックアップし、データベースのファイルを圧縮しました。";
}

std::optional<std::string> logNotShrunkText(std::string_view logReuseWait) {
  const std::string reason = text::asciiUpper(logReuseWait);
  if (reason.empty() || reason == "NOTHING") return std::nullopt;
  std::string why = reason;
  if (reason == "LOG_BACKUP") why = "ログ バックアップを待っています";
  if (reason == "CHECKPOINT") why = "チェックポイントを待っています";
  if (reason == "ACTIVE_TRANSACTION") why = "実行中のトランザクションがあります";
  if (reason == "ACTIVE_BACKUP_OR_RESTORE") why = "バックアップまたは復元の実行中です";
  if (reason == "REPLICATION") why = "レプリケーションが未処理のログを使っています";
  if (reason == "DATABASE_MIRRORING") why = "データベース ミラーリングが未処理のログを使っています";
  if (reason == "AVAILABILITY_REPLICA") why = "可用性レプリカが未処理のログを使っています";
  return "ログを縮小できませんでした（理由: " + why + "、" + reason + "）。";
}

}  // namespace bv::maintenance
