// The restore planner: from the backup sets of a database (rows of the server's history or of
// RESTORE HEADERONLY, one type for both) and a moment, the sets to restore in order — a full
// backup, the newest differential on it, then the logs, the last one stopped at the moment — or a
// refusal that names what is missing. Sets are chained by their log sequence numbers, never by
// their names or times. Qt-free.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace bv::maintenance {

// A log sequence number as the server writes it: decimal digits of up to 25 places, compared as
// numbers (numeric(25,0) does not fit 64 bits).
class Lsn {
 public:
  Lsn() = default;
  explicit Lsn(std::string_view digits);  // leading zeros dropped; anything but digits reads as 0
  bool isZero() const { return digits_.empty(); }
  const std::string& text() const { return digits_; }
  friend bool operator==(const Lsn&, const Lsn&) = default;
  friend bool operator<(const Lsn& a, const Lsn& b) {
    return a.digits_.size() != b.digits_.size() ? a.digits_.size() < b.digits_.size() : a.digits_ < b.digits_;
  }
  friend bool operator<=(const Lsn& a, const Lsn& b) { return !(b < a); }

 private:
  std::string digits_;  // no leading zeros; empty for 0
};

// One backup set. Times are the server's local time as "yyyy-mm-dd hh:mm:ss" (CONVERT style
// 120), which order as text.
struct BackupSetEntry {
  std::string database;
  char type = 'D';  // D full, I differential, L log
  std::string started;
  std::string finished;
  Lsn firstLsn;
  Lsn lastLsn;
  Lsn checkpointLsn;
  Lsn differentialBaseLsn;   // a differential's base: its full's checkpoint_lsn
  std::string setGuid;       // backup_set_uuid
  std::string baseGuid;      // a differential's differential_base_guid; empty where unknown
  std::string firstForkGuid; // first_recovery_fork_guid: the fork the set begins on
  std::string forkGuid;      // last_recovery_fork_guid: the fork it ends on
  bool copyOnly = false;
  bool bulkLogged = false;   // has_bulk_logged_data: no stop inside it
  bool allFamilies = true;   // every media family of its media set is at hand
  std::string file;          // the first family's device
  int position = 1;
  double sizeBytes = 0;
};

// "latest" or a moment ("yyyy-mm-dd hh:mm:ss" on the server's clock).
struct RestoreMoment {
  std::optional<std::string> at;  // nullopt: the latest the sets reach
};

struct RestoreStep {
  BackupSetEntry set;
  std::optional<std::string> stopAt;  // STOPAT on the last log when the moment lies inside it
};

struct RestorePlan {
  std::vector<RestoreStep> steps;  // full, differential (at most one), logs
  std::vector<BackupSetEntry> skippedDifferentials;  // older differentials on the same full
  double totalBytes = 0;
  std::string reaches;  // the moment the data will stand at: the moment, or the last set's end
};

struct PlanRefusal {
  std::string message;
};

using PlanOutcome = std::variant<RestorePlan, PlanRefusal>;

// The plan for `database` (sets of other databases are never used; names compared as the
// server's case-insensitive collations compare ASCII). A SIMPLE database has no logs: only the
// latest is offered. Tries the newest full backup that ends by the moment first, then older
// ones, whose logs may bridge what a newer one lacks; a refusal names the first full's problem.
PlanOutcome planRestore(std::string_view database, const std::vector<BackupSetEntry>& sets,
                        const RestoreMoment& moment, bool simpleRecovery);

// 「復元できる範囲：<oldest full's end> 〜 <the latest reached>」, with the gaps between logs
// (「（2026/12/08 14:00〜2026/12/08 14:30 のログなし）」); empty without a full backup.
std::string reachableText(std::string_view database, const std::vector<BackupSetEntry>& sets, bool simpleRecovery);

// 「合計 12.3 MB　<n> 個のバックアップ　<yyyy/mm/dd hh:mm> の状態」 of a plan.
std::string planSummaryText(const RestorePlan& plan);

// "2026/12/08 14:00" of a set time.
std::string momentText(std::string_view serverTime);

// Texts of the refusals.
inline constexpr std::string_view kNoBackupOfDatabase = "このデータベースのバックアップがありません。";
std::string noFullBeforeText(std::string_view moment, std::string_view oldestFullEnd);
std::string missingLogText(std::string_view from, std::string_view to);
std::string noLogAfterText(std::string_view lastEnd);
std::string bulkLoggedText(std::string_view logEnd, std::string_view previousEnd);
std::string familiesMissingText(std::string_view file);
inline constexpr std::string_view kSimpleOnlyLatest =
    "単純復旧モデルのデータベースにはログバックアップがないため、「最新の状態」にのみ復元できます。";

}  // namespace bv::maintenance
