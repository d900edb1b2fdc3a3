// Each database's backups at a glance, from the server's own history (msdb.dbo.backupset with
// backupmediafamily): the newest 1,000 backups, newest first, with their kind, file, size, and
// what their newest test restore found, from the proofs' record on the server (proof_record.h).
// Ages are computed on the server, so the client's clock never matters. Qt-free.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/db/connection_settings.h"
#include "core/maintenance/proof_record.h"

namespace bv::maintenance {

struct HistoryRow {
  std::string finished;     // "2026/12/08 02:00:05", the server's local time
  std::int64_t ageMinutes;  // how long ago, by the server's clock
  char type = 'D';          // D full, I differential, L log
  std::string file;
  double sizeBytes = 0;
  ProofVerdict proof = ProofVerdict::None;  // the newest proof's; None when none is on record
  bool copyOnly = false;                    // a copy-only backup starts no chain of its own
  // For a full backup that is not copy-only: the differentials and logs listed after it, up to the
  // next such full.
  int differentialsAfter = 0;
  int logsAfter = 0;
};

struct BackupHistory {
  std::vector<HistoryRow> rows;
  std::optional<std::int64_t> newestFullAgeMinutes;
  std::optional<std::int64_t> newestProvenAgeMinutes;
};

inline constexpr int kHistoryRows = 1000;

// The history's query for a server of that major version (TOP without parentheses and no
// `mirror` column before SQL Server 2005), with each set's newest proof where the record exists.
std::string backupHistoryQuery(std::string_view databaseName, int majorVersion, bool proofsRecorded);

// Reads the history on a connection of its own; throws db::ProviderError when it cannot.
BackupHistory readBackupHistory(const db::ConnectionSettings& settings, std::string_view databaseName);

// "完全", "差分", "ログ".
std::string_view backupTypeText(char type);
// The history's proof column: "済み" passed, "異常" damage found, "失敗" could not run, "" none.
std::string_view proofVerdictText(ProofVerdict verdict);
// "差分 1・ログ 8" for a full backup that is not copy-only; "" for any other row.
std::string followingText(const HistoryRow& row);
// "3 分前", "3 時間前", "2 日前"; "なし" for none.
std::string ageText(std::optional<std::int64_t> minutes);
// 「最新の完全バックアップ：3 時間前　最新のテストレストア済みバックアップ：2 日前」
std::string historyHeader(const BackupHistory& history);
// "12.3 MB"; below a megabyte "640 KB" (at least "1 KB")
std::string sizeText(double bytes);

}  // namespace bv::maintenance
