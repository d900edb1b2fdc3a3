// A restore to a moment under a new name, end to end through the real driver: rows inserted at
// 14:50 and 15:10 on the server's clock, log backups every 15 minutes and a differential at 15:12;
// the plan is made from the
// server's history, or from the files alone on a second stand-in that has never seen them (their
// folder also holding another database's chain), and restored; the original stays as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <variant>

#include "after_backup_e2e.h"
#include "core/db/connection_settings.h"
#include "core/maintenance/restore_plan.h"
#include "core/maintenance/restore_run.h"
#include "core/maintenance/restore_sets.h"
#include "core/maintenance/server_session.h"
#include "standin_fixture.h"

namespace bv::maintenance {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// hh:mm today as the sets name a time.
std::string today(const char* hhmm) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &local);
  return std::string(date) + " " + hhmm + ":00";
}

db::ConnectionSettings loginTo(bvtest::StandinFixture& standin) {
  return db::loginConnectionSettings({standin.serverText(), true, "sa", standin.saPassword()}, "master");
}

struct RestoreCase {
  const char* name;
  bool fromFiles;
  const char* moment;  // nullptr: the latest
  bool dropLogOf1500;  // the 15:00 log's file is gone (the files road)
  std::string expected;  // the restored rows' names, or the refusal
};
std::ostream& operator<<(std::ostream& out, const RestoreCase& c) { return out << c.name; }

class RestoreToAMoment : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreToAMoment, BringsBackTheRowsOfThatMomentUnderANewName) {
  const RestoreCase& c = GetParam();
  bvtest::StandinFixture source;
  const fs::path folder = source.scratchDir() / "backups";
  fs::create_directories(folder);
  const auto at = [&](int hour, int minute) { source.setClockOffset(bvtest::offsetToLocalTime(hour, minute)); };
  const auto backup = [&](const char* kind, const std::string& db, const std::string& file) {
    bvtest::execute(source, std::string("BACKUP ") + kind + " [" + db + "] TO DISK = N'" + (folder / file).string() +
                                "' WITH INIT");
  };
  bvtest::execute(source, "ALTER DATABASE [Sample] SET RECOVERY FULL");
  bvtest::execute(source, "CREATE DATABASE [Other]");
  bvtest::execute(source, "ALTER DATABASE [Other] SET RECOVERY FULL");
  at(14, 40);
  backup("DATABASE", "Sample", "Sample_full.bak");
  backup("DATABASE", "Other", "Other_full.bak");
  at(14, 45);
  backup("LOG", "Sample", "Sample_1445.trn");
  at(14, 50);
  bvtest::execute(source, "INSERT INTO Sample.dbo.Customers (CustomerID, Name) VALUES (1450, N'at 14:50')");
  at(15, 0);
  backup("LOG", "Sample", "Sample_1500.trn");
  backup("LOG", "Other", "Other_1500.trn");
  at(15, 10);
  bvtest::execute(source, "INSERT INTO Sample.dbo.Customers (CustomerID, Name) VALUES (1510, N'at 15:10')");
  at(15, 12);
  bvtest::execute(source, "BACKUP DATABASE [Sample] TO DISK = N'" + (folder / "Sample_1512.dif").string() +
                              "' WITH INIT, DIFFERENTIAL");
  at(15, 15);
  backup("LOG", "Sample", "Sample_1515.trn");
  at(15, 30);
  backup("LOG", "Sample", "Sample_1530.trn");
  const std::string originalRows = bvtest::scalar(source, "SELECT COUNT(*) FROM Sample.dbo.Customers");

  // From the files alone: a second server that has never seen them, with the folder copied over.
  std::unique_ptr<bvtest::StandinFixture> second;
  bvtest::StandinFixture* target = &source;
  std::vector<BackupSetEntry> sets;
  if (c.fromFiles) {
    second = std::make_unique<bvtest::StandinFixture>();
    target = second.get();
    const fs::path copy = second->scratchDir() / "copied";
    fs::copy(folder, copy);
    if (c.dropLogOf1500) fs::remove(copy / "Sample_1500.trn");
    ServerSession session(loginTo(*second));
    const FileSets read = readFileSets(session, listServerFolder(session, copy.string()));
    EXPECT_TRUE(read.unreadable.empty());
    sets = read.sets;
    EXPECT_EQ(bvtest::scalar(*second, "SELECT COUNT(*) FROM msdb.dbo.backupset"), "0");
  } else {
    ServerSession session(loginTo(source));
    sets = readHistorySets(session, "Sample");
  }
  target->setClockOffset(bvtest::offsetToLocalTime(15, 40));

  RestoreMoment moment;
  if (c.moment) moment.at = today(c.moment);
  const PlanOutcome planned = planRestore("Sample", sets, moment, false);
  if (const auto* refusal = std::get_if<PlanRefusal>(&planned)) {
    std::string expected = c.expected;
    for (const char* hhmm : {"14:45", "15:15"}) {
      const std::string stamp = momentText(today(hhmm));
      expected.replace(expected.find(hhmm), 5, stamp);
    }
    EXPECT_EQ(refusal->message, expected);
    return;
  }
  const RestorePlan& plan = std::get<RestorePlan>(planned);
  for (const auto& step : plan.steps) EXPECT_EQ(fs::path(step.set.file).filename().string().substr(0, 7), "Sample_");
  // A file where the restore would put its data file (the folder of the source's, as this release
  // tells no default folders) is never written over.
  const fs::path planted =
      fs::path(bvtest::scalar(*target, "SELECT physical_name FROM sys.master_files WHERE database_id = "
                                       "ISNULL(DB_ID(N'Sample'), 1) AND type = 0"))
          .parent_path() /
      "Sample_restored_1.mdf";
  { std::ofstream(planted) << "keep me"; }
  std::vector<std::size_t> heard;
  const RestoreRunOutcome outcome = restoreUnderNewName(
      loginTo(*target), "Sample", "Sample_restored", plan, true,
      [&](std::size_t index, std::size_t count, const BackupSetEntry&) { heard.push_back(index * 100 + count); });
  ASSERT_TRUE(outcome.succeeded) << outcome.message;
  EXPECT_EQ(heard.size(), plan.steps.size());
  EXPECT_EQ(outcome.message, restoredText("Sample_restored", plan.reaches));
  std::string restored;
  for (const auto& [id, name] : {std::pair{"1450", "at 14:50"}, std::pair{"1510", "at 15:10"}})
    if (bvtest::scalar(*target, std::string("SELECT COUNT(*) FROM Sample_restored.dbo.Customers WHERE CustomerID = ") +
                                    id) == "1")
      restored += (restored.empty() ? "" : ",") + std::string(name);
  EXPECT_EQ(restored, c.expected);
  EXPECT_EQ(bvtest::scalar(source, "SELECT COUNT(*) FROM Sample.dbo.Customers"), originalRows);
  std::ifstream kept(planted);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "keep me");
  EXPECT_EQ(fs::path(bvtest::scalar(*target, "SELECT physical_name FROM sys.master_files WHERE database_id = "
                                             "DB_ID(N'Sample_restored') AND type = 0"))
                .filename()
                .string(),
            "Sample_restored_1_2.mdf");

  // A second restore under the name is refused before anything is sent.
  EXPECT_EQ(restoreUnderNewName(loginTo(*target), "Sample", "Sample_restored", plan, false).message,
            newNameTakenText("Sample_restored"));
}

INSTANTIATE_TEST_SUITE_P(
    Roads, RestoreToAMoment,
    ::testing::Values(RestoreCase{"FromTheHistoryTo1505", false, "15:05", false, "at 14:50"},
                      RestoreCase{"FromTheHistoryTheLatest", false, nullptr, false, "at 14:50,at 15:10"},
                      RestoreCase{"FromTheFilesAloneTo1505", true, "15:05", false, "at 14:50"},
                      RestoreCase{"AMissingLogIsNamed", true, "15:08", true,
                                  "14:45〜15:15 のログバックアップがありません。"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace bv::maintenance
