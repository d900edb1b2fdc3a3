// What a user waits for: a database-list refresh (login, default database, catalog list) and a
// run-now backup, each through the real driver stack against the in-process stand-in.
#include <benchmark/benchmark.h>

#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/db/database.h"
#include "standin_fixture.h"

namespace {

bvtest::StandinFixture& standin() {
  static bvtest::StandinFixture fixture;
  return fixture;
}

bv::db::LoginSettings sa() {
  return {standin().serverText(), true, "sa", standin().saPassword()};
}

void DatabaseListRefresh(benchmark::State& state) {
  const std::string connectionString = bv::db::buildConnectionString(sa());
  for (auto _ : state) {
    bv::db::Connection connection(connectionString);
    connection.open();
    bv::db::Query query(connection);
    query.addLine("SELECT DB_NAME() AS NAME");
    query.open();
    benchmark::DoNotOptimize(query.fieldAsText("NAME"));
    benchmark::DoNotOptimize(connection.catalogs());
  }
}
BENCHMARK(DatabaseListRefresh)->Unit(benchmark::kMillisecond);

void BackupNow(benchmark::State& state) {
  const bool verify = state.range(0) != 0;
  const std::string command = bv::maintenance::buildBackupCommand(
      standin().sampleDatabase(), (standin().scratchDir() / "bench_%date%.bak").string(), verify);
  const std::string connectionString =
      bv::maintenance::maintenanceConnectionString(sa(), bv::maintenance::kBackupOperation);
  for (auto _ : state) {
    const auto outcome = bv::maintenance::executeMaintenanceCommand(
        connectionString, command, bv::maintenance::kBackupOperation);
    if (!outcome.succeeded) state.SkipWithError(outcome.errorMessage.c_str());
  }
}
BENCHMARK(BackupNow)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
