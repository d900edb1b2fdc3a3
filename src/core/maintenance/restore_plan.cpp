#include "core/maintenance/restore_plan.h"

#include <algorithm>
#include <map>

#include "core/maintenance/backup_history.h"
#include "core/text/ascii.h"

namespace bv::maintenance {

Lsn::Lsn(std::string_view digits) {
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return;
  while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
  digits_ = std::string(digits);
}

std::string momentText(std::string_view serverTime) {
  std::string text(serverTime.substr(0, 16));
  for (std::size_t i = 0; i < text.size() && i < 10; ++i)
    if (text[i] == '-') text[i] = '/';
  return text;
}

std::string noFullBeforeText(std::string_view moment, std::string_view oldestFullEnd) {
  return momentText(moment) + " より前に終わった完全バックアップがありません（最も古い完全バックアップの終了：" +
         momentText(oldestFullEnd) + "）。";
}

std::string missingLogText(std::string_view from, std::string_view to) {
  return momentText(from) + "〜" + momentText(to) + " のログバックアップがありません。";
}

std::string noLogAfterText(std::string_view lastEnd) {
  return momentText(lastEnd) + " より後のログバックアップがありません。";
}

std::string bulkLoggedText(std::string_view logEnd, std::string_view previousEnd) {
  return momentText(logEnd) + " に終わるログバックアップには一括ログ操作が含まれるため、その途中の時点には復元できません（" +
         momentText(previousEnd) + " または " + momentText(logEnd) + " を選んでください）。";
}

std::string familiesMissingText(std::string_view file) {
  return "バックアップ " + std::string(file) + " はメディアファミリの一部しかないため、使用できません。";
}

namespace {

constexpr std::string_view kNoFullBackup = "このデータベースの完全バックアップがありません。";

bool isBaseOf(const BackupSetEntry& differential, const BackupSetEntry& full) {
  if (!differential.baseGuid.empty() && !full.setGuid.empty())
    return text::equalsIgnoringAsciiCase(differential.baseGuid, full.setGuid);
  return differential.differentialBaseLsn == full.checkpointLsn;
}

bool onFork(const BackupSetEntry& log, const std::string& fork) {
  return log.firstForkGuid.empty() || fork.empty() || text::equalsIgnoringAsciiCase(log.firstForkGuid, fork);
}

class Planner {
 public:
  Planner(std::vector<const BackupSetEntry*> sets, const RestoreMoment& moment, bool simple)
      : sets_(std::move(sets)), moment_(moment), simple_(simple) {
    std::sort(sets_.begin(), sets_.end(), [](const BackupSetEntry* a, const BackupSetEntry* b) {
      return a->firstLsn == b->firstLsn ? a->lastLsn < b->lastLsn : a->firstLsn < b->firstLsn;
    });
    // Where each recovery fork's sets end: at a fork, the chain takes the one that reaches the moment.
    for (const BackupSetEntry* entry : sets_) {
      const BackupSetEntry& set = *entry;
      std::string& end = forkEnds_[set.forkGuid];
      end = std::max(end, set.finished);
      newest_ = std::max(newest_, set.finished);
      if (set.type == 'L') logs_.push_back(&set);
    }
  }

  PlanOutcome plan() {
    if (sets_.empty()) return PlanRefusal{std::string(kNoBackupOfDatabase)};
    if (simple_ && moment_.at) return PlanRefusal{std::string(kSimpleOnlyLatest)};
    std::vector<const BackupSetEntry*> fulls;
    std::string oldestFull;
    for (const BackupSetEntry* entry : sets_) {
      const BackupSetEntry& set = *entry;
      if (set.type != 'D') continue;
      if (oldestFull.empty() || set.finished < oldestFull) oldestFull = set.finished;
      if (!moment_.at || set.finished <= *moment_.at) fulls.push_back(&set);
    }
    if (oldestFull.empty()) return PlanRefusal{std::string(kNoFullBackup)};
    if (fulls.empty()) return PlanRefusal{noFullBeforeText(*moment_.at, oldestFull)};
    std::sort(fulls.begin(), fulls.end(), [](const auto* a, const auto* b) { return b->lastLsn < a->lastLsn; });
    std::optional<PlanRefusal> first;
    for (const BackupSetEntry* full : fulls) {
      PlanOutcome outcome = planFrom(*full);
      if (std::holds_alternative<RestorePlan>(outcome)) return outcome;
      if (!first) first = std::get<PlanRefusal>(outcome);
    }
    return *first;
  }

 private:
  bool byMoment(const std::string& finished) const { return !moment_.at || finished <= *moment_.at; }

  PlanOutcome planFrom(const BackupSetEntry& full) {
    if (!full.allFamilies) return PlanRefusal{familiesMissingText(full.file)};
    RestorePlan plan;
    plan.steps.reserve(logs_.size() + 2);
    plan.steps.push_back({full, std::nullopt});
    // The data of a full or differential backup stand as of its checkpoint; the log after it begins
    // at or before that point and ends after it.
    const auto dataPoint = [](const BackupSetEntry& set) { return set.checkpointLsn.isZero() ? set.lastLsn : set.checkpointLsn; };
    Lsn position = dataPoint(full);
    std::string reached = full.finished;
    std::string fork = full.forkGuid;

    // The newest differential on this full that ends by the moment; older ones are skipped.
    const BackupSetEntry* differential = nullptr;
    for (const BackupSetEntry* entry : sets_) {
      const BackupSetEntry& set = *entry;
      if (set.type != 'I' || !set.allFamilies || !isBaseOf(set, full) || !byMoment(set.finished) ||
          set.lastLsn < full.lastLsn)
        continue;
      if (differential) plan.skippedDifferentials.push_back(*differential);
      differential = &set;
    }
    if (differential) {
      plan.steps.push_back({*differential, std::nullopt});
      position = dataPoint(*differential);
      reached = differential->finished;
      fork = differential->forkGuid.empty() ? fork : differential->forkGuid;
    }

    // Each log continues from where the data stand: it begins at or before that point and ends after it.
    // Logs are looked up by their first LSN: those that begin by the point, back to where the step
    // before stood (one that began earlier was a candidate then); the first step looks at them all.
    std::optional<Lsn> floor;
    while (!simple_ && (!moment_.at || reached < *moment_.at)) {
      const auto end = std::upper_bound(logs_.begin(), logs_.end(), position,
                                        [](const Lsn& point, const BackupSetEntry* log) { return point < log->firstLsn; });
      std::vector<const BackupSetEntry*> next;
      for (auto it = end; it != logs_.begin();) {
        const BackupSetEntry& log = **--it;
        if (floor && log.firstLsn < *floor) break;
        if (!onFork(log, fork)) continue;
        // A log that ends where the data stand holds no change: the data reach its end as they are.
        if (log.lastLsn == position && byMoment(log.finished)) reached = std::max(reached, log.finished);
        if (position < log.lastLsn) next.push_back(&log);
      }
      if (next.empty()) {
        if (!moment_.at) break;  // the latest: as far as the logs reach
        for (auto it = end; it != logs_.end(); ++it)
          if (onFork(**it, fork)) return PlanRefusal{missingLogText(reached, (*it)->finished)};
        return PlanRefusal{noLogAfterText(reached)};
      }
      // At a fork (an earlier restore began another), the log on a fork that reaches the moment
      // (the latest: the newest set), and of those the first to end: the timeline the moment was on.
      const std::string& target = moment_.at ? *moment_.at : newest_;
      if (next.size() > 1) std::stable_sort(next.begin(), next.end(), [&](const auto* a, const auto* b) {
        const bool aReaches = forkEnds_[a->forkGuid] >= target;
        const bool bReaches = forkEnds_[b->forkGuid] >= target;
        return aReaches != bReaches ? aReaches : a->finished < b->finished;
      });
      const BackupSetEntry& log = *next.front();
      if (!log.allFamilies) return PlanRefusal{familiesMissingText(log.file)};
      if (moment_.at && log.finished > *moment_.at) {
        if (log.bulkLogged) return PlanRefusal{bulkLoggedText(log.finished, reached)};
        plan.steps.push_back({log, *moment_.at});
        reached = *moment_.at;
        break;
      }
      plan.steps.push_back({log, std::nullopt});
      floor = position;
      position = log.lastLsn;
      reached = log.finished;
      if (!log.forkGuid.empty()) fork = log.forkGuid;
    }
    for (const auto& step : plan.steps) plan.totalBytes += step.set.sizeBytes;
    plan.reaches = reached;
    return plan;
  }

  std::vector<const BackupSetEntry*> sets_;  // the caller's, in the order of their first LSN
  RestoreMoment moment_;
  bool simple_;
  std::map<std::string, std::string> forkEnds_;
  std::string newest_;
  std::vector<const BackupSetEntry*> logs_;  // in the order of their first LSN
};

}  // namespace

PlanOutcome planRestore(std::string_view database, const std::vector<BackupSetEntry>& sets,
                        const RestoreMoment& moment, bool simpleRecovery) {
  std::vector<const BackupSetEntry*> own;
  for (const auto& set : sets)
    if (text::equalsIgnoringAsciiCase(set.database, database)) own.push_back(&set);
  return Planner(std::move(own), moment, simpleRecovery).plan();
}

std::string reachableText(std::string_view database, const std::vector<BackupSetEntry>& sets, bool simpleRecovery) {
  std::vector<const BackupSetEntry*> logs;
  std::string oldestFull;
  for (const auto& set : sets) {
    if (!text::equalsIgnoringAsciiCase(set.database, database)) continue;
    if (set.type == 'D' && (oldestFull.empty() || set.finished < oldestFull)) oldestFull = set.finished;
    if (set.type == 'L' && set.firstLsn < set.lastLsn) logs.push_back(&set);
  }
  const PlanOutcome latest = planRestore(database, sets, RestoreMoment{}, simpleRecovery);
  if (oldestFull.empty() || !std::holds_alternative<RestorePlan>(latest)) return {};
  std::string text = "復元できる範囲：" + momentText(oldestFull) + " 〜 " + momentText(std::get<RestorePlan>(latest).reaches);
  std::sort(logs.begin(), logs.end(), [](const auto* a, const auto* b) { return a->firstLsn < b->firstLsn; });
  std::string gaps;
  for (std::size_t i = 1; i < logs.size(); ++i) {
    if (logs[i - 1]->lastLsn < logs[i]->firstLsn)
      gaps += (gaps.empty() ? "" : "、") + momentText(logs[i - 1]->finished) + "〜" + momentText(logs[i]->finished) +
              " のログなし";
  }
  return gaps.empty() ? text : text + "（" + gaps + "）";
}

std::string planSummaryText(const RestorePlan& plan) {
  return "合計 " + sizeText(plan.totalBytes) + "　" + std::to_string(plan.steps.size()) + " 個のバックアップ　" +
         momentText(plan.reaches) + " の状態";
}

}  // namespace bv::maintenance
