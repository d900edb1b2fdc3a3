// What a user waits for: a database-list refresh (login, default database, catalog list) and a
// run-now backup, each through the real driver stack against the in-process stand-in.
#include <benchmark/benchmark.h>

#include "core/db/database.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/maintenance/database_list.h"
#include "standin_fixture.h"

namespace {

bvtest::StandinFixture& standin() {
  static bvtest::StandinFixture fixture;
  return fixture;
}

bv::db::LoginSettings sa() { return {standin().serverText(), true, "sa", standin().saPassword()}; }

void DatabaseListRefresh(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(bv::maintenance::readDatabaseList(sa()));
}
BENCHMARK(DatabaseListRefresh)->Unit(benchmark::kMillisecond);

void BackupNow(benchmark::State& state) {
  const bool verify = state.range(0) != 0;
  const std::string command = bv::maintenance::buildBackupCommand(
      standin().sampleDatabase(), (standin().scratchDir() / "bench_%date%.bak").string(), verify);
  const std::string_view operation = bv::maintenance::operationName(bv::maintenance::Operation::Backup);
  const bv::db::ConnectionSettings settings = bv::maintenance::maintenanceConnectionSettings(sa(), operation);
  for (auto _ : state) {
    const auto outcome = bv::maintenance::executeMaintenanceCommand(settings, command, operation);
    if (!outcome.succeeded) state.SkipWithError(outcome.errorMessage.c_str());
  }
}
BENCHMARK(BackupNow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
