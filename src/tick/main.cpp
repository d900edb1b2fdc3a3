// brackenvale-tick: started by cron once a minute and at the system's start (the managed block in
// the user's crontab), and by the desktop at the user's logon (an autostart entry); starts the
// user's due tasks. See tick.h.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>

#include "core/tasks/crontab_posix.h"
#include "core/tasks/scheduler_posix.h"
#include "tick/tick.h"

namespace {

constexpr const char* kUsage =
    "使い方: brackenvale-tick [--store フォルダ] [--event startup|logon] [--quiet]\n"
    "cron から毎分起動され、タスクストアのうち実行時刻になったタスクを開始します。\n"
    "  --store フォルダ         このフォルダのタスクを見る（既定: ~/.local/share/brackenvale/tasks）\n"
    "  --event startup|logon    システム起動時・ログオン時のタスクだけを開始する\n"
    "  --quiet                  何も表示しない\n"
    "  --at 秒                  現在時刻の代わりにこの時刻（1970 年からの秒数）で動く（テスト用）\n"
    "終了状態: 0 正常、1 タスクストアが見つからない、2 引数の誤り、3 タスクストアが安全でない\n";

// At boot the home folder may be mounted a while after cron starts, and the minute's tick may
// hold the store in the same minute: an event tick waits for both, within bounds.
constexpr std::chrono::minutes kEventStoreWait{3};
constexpr std::chrono::minutes kEventLockWait{2};

}  // namespace

int main(int argc, char** argv) {
  ::umask(077);
  ::setenv("LANG", "C.UTF-8", 1);
  bv::tick::TickOptions options;
  bool quiet = false;
  std::optional<std::time_t> at;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--quiet") {
      quiet = true;
    } else if (word == "--store" && i + 1 < argc) {
      options.storeFolder = argv[++i];
    } else if (word == "--event" && i + 1 < argc && std::strcmp(argv[i + 1], "startup") == 0) {
      options.kind = bv::tick::TickKind::SystemStart;
      ++i;
    } else if (word == "--event" && i + 1 < argc && std::strcmp(argv[i + 1], "logon") == 0) {
      options.kind = bv::tick::TickKind::Logon;
      ++i;
    } else if (word == "--at" && i + 1 < argc) {
      char* end = nullptr;
      const long long seconds = std::strtoll(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0') {
        std::cerr << "brackenvale-tick: --at には秒数を指定してください: " << argv[i] << '\n';
        return 2;
      }
      at = static_cast<std::time_t>(seconds);
    } else if (word == "--help") {
      std::cout << kUsage;
      return 0;
    } else {
      std::cerr << "brackenvale-tick: 知らない引数です: " << word << '\n' << kUsage;
      return 2;
    }
  }
  if (options.kind != bv::tick::TickKind::Minute) {
    options.storeWait = kEventStoreWait;
    options.lockWait = kEventLockWait;
  }
  // The crontab entry for the store goes once the store holds no task.
  const auto crontab = bv::tasks::systemCrontab();
  options.crontab = crontab.get();
  const std::time_t now = at.value_or(std::time(nullptr));
  options.now = bv::tasks::localMinuteAt(now);
  options.intoMinute = std::chrono::seconds(bv::tasks::secondsIntoLocalMinute(now));
  const bv::tick::TickResult result = bv::tick::runTick(options);
  if (!quiet) {
    if (result.outcome == bv::tick::TickOutcome::Busy) std::cout << "前回の tick がまだ動いています。\n";
    for (const auto& name : result.started) std::cout << "開始: " << name << '\n';
    for (const auto& name : result.skipped) std::cout << "実行中のため開始せず: " << name << '\n';
  }
  switch (result.outcome) {
    case bv::tick::TickOutcome::StoreMissing:
      return 1;
    case bv::tick::TickOutcome::StoreUnsafe:
      return 3;
    default:
      return 0;
  }
}
