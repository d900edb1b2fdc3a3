// The restore planner over synthetic histories, one table: each case a history (by the sets'
// names below), a moment, and the plan (the sets in order, "@hh:mm" for a stop inside) or the
// refusal. The sets' files are their names.
#include <gtest/gtest.h>

#include <map>

#include "core/maintenance/restore_plan.h"

namespace bv::maintenance {
namespace {

BackupSetEntry set(char type, const char* first, const char* last, const char* finished, const char* fork = "A") {
  BackupSetEntry s;
  s.database = "Db";
  s.type = type;
  s.firstLsn = Lsn(first);
  s.lastLsn = Lsn(last);
  s.checkpointLsn = Lsn(first);
  s.finished = std::string("2026-12-08 ") + finished + ":00";
  s.firstForkGuid = s.forkGuid = fork;
  s.sizeBytes = 1000;
  return s;
}

BackupSetEntry differential(const char* first, const char* finished, const char* base) {
  BackupSetEntry s = set('I', first, first, finished);
  s.lastLsn = Lsn(std::to_string(std::stoll(first) + 1));
  s.differentialBaseLsn = Lsn(base);
  return s;
}

// Every set a case may take, by name: a full at 10:00 (checkpoint 100), differentials on it at
// 11:00 and 12:00, logs ending 10:15, 11:15, 12:15 and 12:45, an older full at 09:00 with its log,
// a copy-only full at 11:30, and the fork an earlier restore began after Log1.
const std::map<std::string, BackupSetEntry>& library() {
  static const std::map<std::string, BackupSetEntry> sets = [] {
    std::map<std::string, BackupSetEntry> m;
    m["Full0"] = set('D', "50", "51", "09:00");
    m["Log0"] = set('L', "40", "90", "09:30");
    m["Full"] = set('D', "100", "101", "10:00");
    m["Log1"] = set('L', "90", "150", "10:15");
    m["Dif1"] = differential("160", "11:00", "100");
    m["Log2"] = set('L', "150", "180", "11:15");
    m["Copy"] = set('D', "170", "171", "11:30");
    m["Copy"].copyOnly = true;
    m["Dif2"] = differential("200", "12:00", "100");
    m["Log3"] = set('L', "180", "230", "12:15");
    m["Log4"] = set('L', "230", "260", "12:45");
    m["Bulk4"] = m["Log4"];
    m["Bulk4"].bulkLogged = true;
    m["Fork1"] = set('L', "150", "400", "13:00", "B");  // after a restore to Log1's end
    m["Fork1"].firstForkGuid = "A";
    m["Other"] = set('D', "1", "2", "11:59");
    m["Other"].database = "Another";
    m["Split"] = m["Full"];
    m["Split"].allFamilies = false;
    for (auto& [name, entry] : m) entry.file = name;  // the plan is shown by these names
    m["Split"].file = "/b/Db_split.bak";
    return m;
  }();
  return sets;
}

struct PlanCase {
  const char* name;
  std::vector<std::string> history;
  const char* moment;  // "hh:mm" on 2026-12-08; nullptr: the latest
  std::string expected;  // "Full Dif2 Log3 Log4@12:30" or the refusal's text
  bool simple = false;
};

std::ostream& operator<<(std::ostream& out, const PlanCase& c) { return out << c.name; }

class Planner : public ::testing::TestWithParam<PlanCase> {};

TEST_P(Planner, ChoosesTheChainOrNamesWhatIsMissing) {
  const PlanCase& c = GetParam();
  std::vector<BackupSetEntry> sets;
  for (const auto& name : c.history) sets.push_back(library().at(name));
  RestoreMoment moment;
  if (c.moment) moment.at = std::string("2026-12-08 ") + c.moment + ":00";
  const PlanOutcome outcome = planRestore("DB", sets, moment, c.simple);
  std::string shown;
  if (const auto* refusal = std::get_if<PlanRefusal>(&outcome)) {
    shown = refusal->message;
  } else {
    const auto& plan = std::get<RestorePlan>(outcome);
    for (const auto& step : plan.steps) {
      shown += (shown.empty() ? "" : " ") + step.set.file;
      if (step.stopAt) shown += "@" + step.stopAt->substr(11, 5);
    }
    EXPECT_EQ(plan.totalBytes, 1000.0 * static_cast<double>(plan.steps.size()));
  }
  EXPECT_EQ(shown, c.expected);
}

const std::vector<std::string> kChain = {"Full", "Log1", "Dif1", "Log2", "Dif2", "Log3", "Log4", "Other"};

INSTANTIATE_TEST_SUITE_P(
    Histories, Planner,
    ::testing::Values(
        PlanCase{"FullOnly", {"Full"}, nullptr, "Full"},
        PlanCase{"TheNewestDifferentialThenTheLogs", kChain, nullptr, "Full Dif2 Log3 Log4"},
        PlanCase{"AStopInsideTheLastLog", kChain, "12:30", "Full Dif2 Log3 Log4@12:30"},
        PlanCase{"AnEarlierMomentTakesTheDifferentialBeforeIt", kChain, "11:30", "Full Dif1 Log2 Log3@11:30"},
        PlanCase{"AMomentAtALogsEnd", kChain, "12:15", "Full Dif2 Log3"},
        PlanCase{"ALogMissing", {"Full", "Log1", "Log2", "Log4"}, "12:30",
                 "2026/12/08 11:15〜2026/12/08 12:45 のログバックアップがありません。"},
        PlanCase{"AMomentAfterTheLastLog", {"Full", "Log1"}, "10:30",
                 "2026/12/08 10:15 より後のログバックアップがありません。"},
        PlanCase{"AMomentBeforeTheFirstFull", kChain, "09:30",
                 "2026/12/08 09:30 より前に終わった完全バックアップがありません（最も古い完全バックアップの終了：2026/12/08 "
                 "10:00）。"},
        PlanCase{"ADifferentialWhoseFullIsGone", {"Full0", "Log0", "Log1", "Dif1", "Log2"}, "11:00",
                 "Full0 Log0 Log1 Log2@11:00"},
        PlanCase{"ACopyOnlyFullIsAFullButNoBase", {"Full", "Log1", "Log2", "Copy", "Dif2", "Log3"}, nullptr,
                 "Copy Log2 Log3"},
        PlanCase{"ABulkLoggedLogOnlyAtItsEnd", {"Full", "Log1", "Log2", "Log3", "Bulk4"}, "12:30",
                 "2026/12/08 12:45 に終わるログバックアップには一括ログ操作が含まれるため、その途中の時点には復元できません（"
                 "2026/12/08 12:15 または 2026/12/08 12:45 を選んでください）。"},
        PlanCase{"AForkTakesTheTimelineOfTheMoment", {"Full", "Log1", "Log2", "Log3", "Fork1"}, "12:50",
                 "Full Log1 Fork1@12:50"},
        PlanCase{"BeforeTheForkTheOldTimeline", {"Full", "Log1", "Log2", "Log3", "Fork1"}, "11:00",
                 "Full Log1 Log2@11:00"},
        PlanCase{"OnlyAnotherDatabasesSets", {"Other"}, nullptr, "このデータベースのバックアップがありません。"},
        PlanCase{"ASimpleDatabaseOnlyTheLatest", {"Full", "Dif1"}, "11:30",
                 "単純復旧モデルのデータベースにはログバックアップがないため、「最新の状態」にのみ復元できます。", true},
        PlanCase{"ASimpleDatabasesLatest", {"Full", "Dif1", "Dif2"}, nullptr, "Full Dif2", true},
        PlanCase{"ASetWithAMissingFamily", {"Split", "Log1"}, nullptr,
                 "バックアップ /b/Db_split.bak はメディアファミリの一部しかないため、使用できません。"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Lsn, ComparesAsNumbersOfAnyLength) {
  EXPECT_LT(Lsn("99"), Lsn("100"));
  EXPECT_LT(Lsn("34000000012300001"), Lsn("1034000000012300001000"));
  EXPECT_EQ(Lsn("00042"), Lsn("42"));
  EXPECT_TRUE(Lsn("").isZero());
  EXPECT_TRUE(Lsn("12a").isZero());
}

}  // namespace
}  // namespace bv::maintenance
