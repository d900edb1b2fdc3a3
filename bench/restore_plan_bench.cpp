// What planning a restore costs on a long history: 100,000 log backups 15 minutes apart (about
// three years) seeded straight into the in-process stand-in's msdb after one real full backup and
// its first real log, chained by their LSNs. Reading the sets from the history and planning a
// moment near the end should stay under a second; the dialog's plan (its list of every set to
// restore) should be shown under half a second once the sets are read.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QRadioButton>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <variant>

#include "core/db/connection_settings.h"
#include "core/maintenance/command_executor.h"
#include "core/maintenance/restore_plan.h"
#include "core/maintenance/restore_sets.h"
#include "core/maintenance/server_session.h"
#include "gui/forms/uRestorePoint.h"
#include "bench_support.h"
#include "standin_fixture.h"

namespace {

constexpr int kSeededLogs = 100000;

using bvbench::sa;
using bvbench::standin;

void makeHistory() {
  static bool made = false;
  if (made) return;
  made = true;
  const std::filesystem::path folder = standin().scratchDir() / "restore";
  std::filesystem::create_directories(folder);
  const auto settings = bv::maintenance::maintenanceConnectionSettings(sa(), "バックアップ");
  for (const std::string& statement :
       {std::string("ALTER DATABASE [Sample] SET RECOVERY FULL"),
        "BACKUP DATABASE [Sample] TO DISK = N'" + (folder / "Sample_full.bak").string() + "'",
        std::string("INSERT INTO Sample.dbo.Customers (CustomerID, Name) VALUES (9000, N'x')"),
        "BACKUP LOG [Sample] TO DISK = N'" + (folder / "Sample_first.trn").string() + "'"}) {
    if (!bv::maintenance::executeMaintenanceCommand(settings, statement, "").succeeded) std::abort();
  }
  const auto first = standin().querySqlite("msdb", "SELECT MAX(backup_set_id) FROM backupset WHERE type = 'L'");
  const std::string later = "strftime('%Y-%m-%d %H:%M:%f', julianday(backup_finish_date) + i * 15.0 / 1440)";
  bvbench::seedCopiesOfSet(standin(), std::stoll(first.at(0).at(0).value_or("0")),
                           {kSeededLogs,
                            {{"first_lsn", "last_lsn + (i - 1) * 10"},
                             {"last_lsn", "last_lsn + i * 10"},
                             {"backup_start_date", later},
                             {"backup_finish_date", later}},
                            "'" + (folder / "Sample_").string() + "' || printf('%06d', i) || '.trn'"});
}

bv::maintenance::RestoreSource read() {
  return bv::maintenance::readRestoreSource(bv::db::loginConnectionSettings(sa(), "master"), "Sample");
}

// The end of the last log but one: every log before it applied whole.
bv::maintenance::RestoreMoment nearTheEnd(const bv::maintenance::RestoreSource& source) {
  std::vector<std::string> ends;
  for (const auto& set : source.sets) ends.push_back(set.finished);
  std::sort(ends.begin(), ends.end());
  return {ends.size() > 1 ? ends[ends.size() - 2] : std::string()};
}

void ReadAndPlan(benchmark::State& state) {
  makeHistory();
  std::size_t steps = 0;
  for (auto _ : state) {
    const auto source = read();
    const auto outcome = bv::maintenance::planRestore("Sample", source.sets, nearTheEnd(source), false);
    if (const auto* refusal = std::get_if<bv::maintenance::PlanRefusal>(&outcome)) {
      state.SkipWithError(refusal->message.c_str());
      break;
    }
    steps = std::get<bv::maintenance::RestorePlan>(outcome).steps.size();
  }
  state.counters["steps"] = static_cast<double>(steps);
}
BENCHMARK(ReadAndPlan)->Unit(benchmark::kMillisecond);

void ReadOnly(benchmark::State& state) {
  makeHistory();
  for (auto _ : state) benchmark::DoNotOptimize(read());
}
BENCHMARK(ReadOnly)->Unit(benchmark::kMillisecond);

void FloorOneColumn(benchmark::State& state) {
  makeHistory();
  for (auto _ : state) {
    bv::maintenance::ServerSession session(bv::db::loginConnectionSettings(sa(), "master"));
    benchmark::DoNotOptimize(session.rows("SELECT s.type AS type FROM msdb.dbo.backupset s", {"type"}));
  }
}
BENCHMARK(FloorOneColumn)->Unit(benchmark::kMillisecond);

void FloorJoin(benchmark::State& state) {
  makeHistory();
  for (auto _ : state) {
    bv::maintenance::ServerSession session(bv::db::loginConnectionSettings(sa(), "master"));
    benchmark::DoNotOptimize(session.rows(
        "SELECT s.type AS type FROM msdb.dbo.backupset s JOIN msdb.dbo.backupmediafamily m ON m.media_set_id = "
        "s.media_set_id AND m.family_sequence_number = 1 AND m.mirror = 0 JOIN msdb.dbo.backupmediaset ms ON "
        "ms.media_set_id = s.media_set_id WHERE s.database_name = N'Sample' ORDER BY s.backup_set_id",
        {"type"}));
  }
}
BENCHMARK(FloorJoin)->Unit(benchmark::kMillisecond);

void PlanOnly(benchmark::State& state) {
  makeHistory();
  const auto source = read();
  for (auto _ : state)
    benchmark::DoNotOptimize(bv::maintenance::planRestore("Sample", source.sets, nearTheEnd(source), false));
}
BENCHMARK(PlanOnly)->Unit(benchmark::kMillisecond);

// The history read once; each iteration shows the plan anew (latest and a moment in turn).
void ShowThePlan(benchmark::State& state) {
  makeHistory();
  bv::forms::TfrmRestorePoint dialog;
  if (!dialog.HandOver(sa(), QStringLiteral("Sample"))) {
    state.SkipWithError("the dialog did not open");
    return;
  }
  dialog.show();
  auto* latest = dialog.findChild<QRadioButton*>(QStringLiteral("rbLatest"));
  auto* moment = dialog.findChild<QRadioButton*>(QStringLiteral("rbMoment"));
  bool toMoment = true;
  for (auto _ : state) {
    (toMoment ? moment : latest)->click();
    toMoment = !toMoment;
    QApplication::processEvents();
  }
}
BENCHMARK(ShowThePlan)->Unit(benchmark::kMillisecond);

}  // namespace
