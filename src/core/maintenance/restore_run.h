// A restore to a chosen moment under a new name: the plan's sets restored one by one from master
// into a database that did not exist, every file moved to a name of its own by the placement rule
// (a file already on disk is never written over), the last with RECOVERY (and STOPAT where the
// moment lies inside it); the result is reported as restored only when the server says it is
// ONLINE. The original database is never touched. Qt-free.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/db/connection_settings.h"
#include "core/db/database.h"
#include "core/maintenance/restore_plan.h"

namespace bv::maintenance {

struct RestoreRunOutcome {
  bool succeeded = false;
  std::string message;  // what the box says, then the server's texts
  std::vector<db::ErrorEntry> errors;
};

// Hears each set before it is restored: its index (from 0), the count, and the set.
using RestoreStepProgress = std::function<void(std::size_t, std::size_t, const BackupSetEntry&)>;

// `sourceDatabase` is the database the sets were made of (its files' folders are the placement's
// fallback where the server tells no default folders; master's when it is not there).
RestoreRunOutcome restoreUnderNewName(const db::ConnectionSettings& settings, std::string_view sourceDatabase,
                                      std::string_view newName, const RestorePlan& plan, bool checkAfter,
                                      const RestoreStepProgress& progress = {});

// The statements of the run, in order, with the files already placed: RESTORE DATABASE of the full
// with its MOVE clauses, of the differential, then RESTORE LOG of each log; each WITH NORECOVERY but
// the last, WITH RECOVERY and its STOPAT (ISO 8601, which every language and date format reads).
std::vector<std::string> restoreStatements(std::string_view newName, const RestorePlan& plan,
                                           const std::string& moveClauses);

std::string newNameTakenText(std::string_view name);
std::string restoredText(std::string_view name, std::string_view reaches);
std::string restoreFailedText(std::size_t index, std::size_t count, std::string_view file);
std::string notOnlineText(std::string_view name, std::string_view state);
std::string fileTakenText(std::string_view path);
std::string halfRestoredDroppedText(std::string_view name);
std::string halfRestoredLeftText(std::string_view name, std::string_view state);
inline constexpr std::string_view kRestoredDamaged = "復元したデータベースの整合性チェックでエラーが見つかりました。";

}  // namespace bv::maintenance
