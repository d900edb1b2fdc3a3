// What a user waits for when "バックアップ履歴" opens on a database with a long history: the
// newest 1,000 backups read through the real driver from the in-process stand-in (1,100 real
// backups made first, every tenth one proven), then the dialog filled and shown on Qt's
// offscreen platform. Together they should stay well under a second.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QString>

#include "core/db/connection_settings.h"
#include "core/maintenance/backup_history.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/maintenance/proof.h"
#include "gui/forms/uBackupHistory.h"
#include "bench_support.h"
#include "standin_fixture.h"

namespace {

using bvbench::sa;
using bvbench::standin;

// 1,100 backups of the sample database, each to a file of its own; a proof after every tenth.
void makeHistory() {
  static bool made = false;
  if (made) return;
  made = true;
  const std::string_view operation = bv::maintenance::operationName(bv::maintenance::Operation::Backup);
  const auto settings = bv::maintenance::maintenanceConnectionSettings(sa(), operation);
  const auto release =
      bv::maintenance::readServerRelease(bv::db::loginConnectionSettings(sa(), "master")).value_or(bv::maintenance::ServerRelease{});
  for (int i = 0; i < 1100; ++i) {
    const std::string file = (standin().scratchDir() / ("history_" + std::to_string(i) + ".bak")).string();
    const std::string command = bv::maintenance::buildBackupCommand(standin().sampleDatabase(), file, false);
    if (!bv::maintenance::executeMaintenanceCommand(settings, command, operation).succeeded) std::abort();
    if (i % 10 == 9)
      (void)bv::maintenance::runProof(bv::db::loginConnectionSettings(sa(), "master"), standin().sampleDatabase(), file,
                                      bv::maintenance::RunMark::afterSet(0), release);
  }
}

bv::maintenance::BackupHistory read() {
  return bv::maintenance::readBackupHistory(bv::db::loginConnectionSettings(sa()), standin().sampleDatabase());
}

void ReadHistory(benchmark::State& state) {
  makeHistory();
  for (auto _ : state) {
    const auto history = read();
    if (history.rows.size() != bv::maintenance::kHistoryRows) state.SkipWithError("not 1,000 rows");
  }
}
BENCHMARK(ReadHistory)->Unit(benchmark::kMillisecond);

void FillAndShowDialog(benchmark::State& state) {
  makeHistory();
  const auto history = read();
  for (auto _ : state) {
    bv::forms::TfrmBackupHistory dialog;
    dialog.FillHistory(QStringLiteral("Sample"), history);
    dialog.show();
    QApplication::processEvents();
  }
}
BENCHMARK(FillAndShowDialog)->Unit(benchmark::kMillisecond);

}  // namespace
