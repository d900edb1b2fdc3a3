// What a log road's prune costs on a database with a long history: a year of five-minute log
// backups (100,000 sets) seeded straight into the in-process stand-in's msdb, older than the one
// full backup kept; a day of real log files in the road's folder, all of them still needed; then
// the chain prune of the newest real log, through the real driver. It should stay under a second.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/db/connection_settings.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/maintenance/operations.h"
#include "core/maintenance/retention.h"
#include "bench_support.h"
#include "standin_fixture.h"

namespace {

constexpr int kSeededSets = 100000;
constexpr int kRealLogs = 288;  // a day of five-minute logs

using bvbench::sa;
using bvbench::standin;

std::string folder() { return (standin().scratchDir() / "chain").string(); }

bv::maintenance::BackupRequest request(bv::maintenance::BackupKind kind, const std::string& file) {
  bv::maintenance::BackupRequest r;
  r.login = sa();
  r.database = standin().sampleDatabase();
  r.backupFile = folder() + "/" + file;
  r.kind = kind;
  return r;
}

// A year of logs ending before the full backup kept: copies of one real log set's rows, each with
// its own path, name and LSNs.
void seedYearOfLogs(std::int64_t logSetId) {
  bvbench::seedCopiesOfSet(standin(), logSetId,
                           {kSeededSets,
                            {{"first_lsn", "i * 10"},
                             {"last_lsn", "i * 10 + 10"},
                             {"checkpoint_lsn", "i * 10"},
                             {"database_backup_lsn", "5"}},
                            "'" + folder() + "/Sample_2025' || printf('%06d', i) || '.trn'"});
}

void makeHistory() {
  static bool made = false;
  if (made) return;
  made = true;
  std::filesystem::create_directories(folder());
  const auto settings = bv::maintenance::maintenanceConnectionSettings(sa(), "バックアップ");
  if (!bv::maintenance::executeMaintenanceCommand(settings, "ALTER DATABASE [Sample] SET RECOVERY FULL", "").succeeded)
    std::abort();
  if (!bv::maintenance::run(request(bv::maintenance::BackupKind::Full, "Sample_full.bak")).succeeded) std::abort();
  if (!bv::maintenance::run(request(bv::maintenance::BackupKind::Log, "Sample_first_%time%.trn")).succeeded) std::abort();
  const auto first = standin().querySqlite("msdb", "SELECT MAX(backup_set_id) FROM backupset WHERE type = 'L'");
  seedYearOfLogs(std::stoll(first.at(0).at(0).value_or("0")));
  for (int i = 0; i < kRealLogs; ++i) {
    const std::string row = "INSERT INTO Sample.dbo.Customers (CustomerID, Name) VALUES (" + std::to_string(1000 + i) + ", N'x')";
    if (!bv::maintenance::executeMaintenanceCommand(settings, row, "").succeeded) std::abort();
    standin().setClockOffset(std::chrono::minutes(5 * i));
    if (!bv::maintenance::run(request(bv::maintenance::BackupKind::Log, "Sample_%date%_%time%.trn")).succeeded)
      std::abort();
  }
}

void ChainPruneOverAYearOfLogs(benchmark::State& state) {
  makeHistory();
  const auto settings = bv::db::loginConnectionSettings(sa(), "master");
  const auto last = standin().querySqlite("msdb", "SELECT MAX(backup_set_id) FROM backupset");
  const std::int64_t beforeLast = std::stoll(last.at(0).at(0).value_or("1")) - 1;
  for (auto _ : state) {
    const auto outcome = bv::maintenance::runPrune(settings, standin().sampleDatabase(),
                                                   folder() + "/Sample_%date%_%time%.trn", 2,
                                                   bv::maintenance::RunMark::afterSet(beforeLast),
                                                   bv::maintenance::BackupKind::Log);
    if (!outcome.succeeded) state.SkipWithError(outcome.errorMessage.c_str());
    if (!outcome.deleted.empty()) {
      state.SkipWithError(("a needed log was deleted: " + outcome.deleted.front()).c_str());
      break;
    }
  }
  state.counters["sets"] = kSeededSets + kRealLogs + 2;
}
BENCHMARK(ChainPruneOverAYearOfLogs)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
