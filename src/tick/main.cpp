// brackenvale-tick: started by cron once a minute (the managed block in the user's crontab);
// starts the user's due tasks. See tick.h.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "core/tasks/crontab_posix.h"
#include "core/tasks/scheduler_posix.h"
#include "tick/tick.h"

namespace {

constexpr const char* kUsage =
    "使い方: brackenvale-tick [--store フォルダ] [--quiet]\n"
    "cron から毎分起動され、タスクストアのうち実行時刻になったタスクを開始します。\n"
    "  --store フォルダ  このフォルダのタスクを見る（既定: ~/.local/share/brackenvale/tasks）\n"
    "  --quiet           何も表示しない\n";

}  // namespace

int main(int argc, char** argv) {
  ::umask(077);
  ::setenv("LANG", "C.UTF-8", 1);
  bv::tick::TickOptions options;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--quiet") {
      quiet = true;
    } else if (word == "--store" && i + 1 < argc) {
      options.storeFolder = argv[++i];
    } else if (word == "--help") {
      std::cout << kUsage;
      return 0;
    } else {
      std::cerr << "brackenvale-tick: 知らない引数です: " << word << '\n' << kUsage;
      return 2;
    }
  }
  // The crontab entry for the store goes once the store holds no task.
  const auto crontab = bv::tasks::systemCrontab();
  options.crontab = crontab.get();
  options.now = bv::tasks::localMinuteNow();
  const bv::tick::TickResult result = bv::tick::runTick(options);
  if (!quiet) {
    if (!result.ran) std::cout << "前回の tick がまだ動いています。\n";
    for (const auto& name : result.started) std::cout << "開始: " << name << '\n';
    for (const auto& name : result.skipped) std::cout << "実行中のため開始せず: " << name << '\n';
  }
  return 0;
}
