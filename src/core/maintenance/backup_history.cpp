#include "core/maintenance/backup_history.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "core/db/database.h"
#include "core/db/sql_text.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/retention.h"
#include "core/maintenance/server_release.h"

namespace bv::maintenance {

std::string backupHistoryQuery(std::string_view databaseName, int majorVersion, bool proofsRecorded) {
  const bool modern = !beforeSqlServer2005(majorVersion);
  const std::string name = "N'" + db::QuoteSqlString(databaseName) + "'";
  return joinCommandLines({
      std::string("SELECT ") + (modern ? "TOP (1000)" : "TOP 1000") +
          " CONVERT(nvarchar(19), s.backup_finish_date, 120) AS finished,",
      "  DATEDIFF(minute, s.backup_finish_date, GETDATE()) AS age_minutes, s.type AS type,",
      "  m.physical_device_name AS file_name, CONVERT(float, s.backup_size) AS size,",
      std::string("  ") + (modern ? "CONVERT(int, s.is_copy_only)" : "0") + " AS copy_only,",
      "  " + (proofsRecorded ? newestVerdictExpression("s.backup_set_id") : std::string("NULL")) + " AS proof",
      "FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = s.media_set_id",
      std::string("WHERE s.database_name = ") + name + (modern ? " AND m.mirror = 0" : ""),
      "ORDER BY s.backup_finish_date DESC, s.backup_set_id DESC",
  });
}

BackupHistory readBackupHistory(const db::ConnectionSettings& settings, std::string_view databaseName) {
  db::Connection connection(settings);
  connection.open();
  connection.forgetPassword();
  int major = 9;
  bool recorded = false;
  {
    db::Query version(connection);
    version.addLine("SELECT " + releaseSelectList() + ", " + proofRecordExistsExpression() + " AS recorded");
    version.open();
    if (!version.eof()) {
      major = releaseOf(version).major;
      recorded = version.fieldAsInteger("recorded") == 1;
    }
  }
  db::Query query(connection);
  query.addLine(backupHistoryQuery(databaseName, major, recorded));
  query.open();
  BackupHistory history;
  for (; !query.eof(); query.next()) {
    HistoryRow row;
    row.finished = query.fieldAsText("finished");
    for (char& c : row.finished) c = c == '-' ? '/' : c;
    row.ageMinutes = query.fieldAsInteger("age_minutes");
    const std::string type = query.fieldAsText("type");
    row.type = type.empty() ? 'D' : type[0];
    row.file = query.fieldAsText("file_name");
    row.sizeBytes = std::atof(query.fieldAsText("size").c_str());
    if (!query.fieldIsNull("proof")) row.proof = verdictFromWord(query.fieldAsText("proof"));
    row.copyOnly = query.fieldAsInteger("copy_only") != 0;
    if (row.type == 'D' && !history.newestFullAgeMinutes) history.newestFullAgeMinutes = row.ageMinutes;
    if (row.proof == ProofVerdict::Passed && !history.newestProvenAgeMinutes) {
      history.newestProvenAgeMinutes = row.ageMinutes;
    }
    history.rows.push_back(std::move(row));
  }
  // Newest first: walking from the oldest, each differential and log counts for the full before it.
  HistoryRow* chainFull = nullptr;
  for (auto row = history.rows.rbegin(); row != history.rows.rend(); ++row) {
    if (row->type == 'D' && !row->copyOnly) chainFull = &*row;
    if (!chainFull) continue;
    if (row->type == 'I') ++chainFull->differentialsAfter;
    if (row->type == 'L') ++chainFull->logsAfter;
  }
  return history;
}

std::string followingText(const HistoryRow& row) {
  if (row.type != 'D' || row.copyOnly) return {};
  return "差分 " + std::to_string(row.differentialsAfter) + "・ログ " + std::to_string(row.logsAfter);
}

std::string_view backupTypeText(char type) {
  switch (type) {
    case 'I':
      return "差分";
    case 'L':
      return "ログ";
    default:
      return "完全";
  }
}

std::string_view proofVerdictText(ProofVerdict verdict) {
  switch (verdict) {
    case ProofVerdict::Passed:
      return "済み";
    case ProofVerdict::Damage:
      return "異常";
    case ProofVerdict::Failed:
      return "失敗";
    case ProofVerdict::None:
      break;
  }
  return "";
}

std::string ageText(std::optional<std::int64_t> minutes) {
  if (!minutes) return "なし";
  const std::int64_t m = std::max<std::int64_t>(*minutes, 0);
  if (m < 60) return std::to_string(m) + " 分前";
  if (m < 60 * 24) return std::to_string(m / 60) + " 時間前";
  return std::to_string(m / (60 * 24)) + " 日前";
}

std::string historyHeader(const BackupHistory& history) {
  return "最新の完全バックアップ：" + ageText(history.newestFullAgeMinutes) +
         "　最新のテストレストア済みバックアップ：" + ageText(history.newestProvenAgeMinutes);
}

std::string sizeText(double bytes) {
  char text[32];
  // A small database's backup would read "0.0 MB": below a megabyte it counts kilobytes.
  if (bytes < 1048576.0) {
    std::snprintf(text, sizeof text, "%.0f KB", std::max(1.0, std::ceil(bytes / 1024.0)));
  } else {
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1048576.0);
  }
  return text;
}

}  // namespace bv::maintenance
