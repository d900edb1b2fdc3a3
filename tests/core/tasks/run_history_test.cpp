// A task's run history: the file's text round trip, the newest 100 kept, damaged lines skipped,
// and the words for what a run came to.
#include "core/tasks/run_history.h"

#include <gtest/gtest.h>

namespace bv::tasks {
namespace {

TEST(RunHistory, KeepsTheNewestHundredRunsAndSkipsLinesItCannotRead) {
  std::vector<RunRecord> runs;
  for (int i = 0; i < 130; ++i) {
    runs = withRun(runs, RunRecord{LocalMinute::at(2026, 12, 8, 2, 0).plusDays(i), i, static_cast<std::uint32_t>(i % 5),
                                   i == 7 ? 0x80070002u : kOk, i % 2 == 1, "結果\tタブ\n改行 " + std::to_string(i)});
  }
  ASSERT_EQ(runs.size(), kRunHistoryLength);
  EXPECT_EQ(runs.front().seconds, 30);
  const std::string text = formatRunHistory(runs);
  std::vector<RunRecord> read = parseRunHistory(text + "garbage\tline\n2026-13-01 00:00\t1\t0\t0x0\tlate\tx\n");
  ASSERT_EQ(read.size(), runs.size());
  for (RunRecord& run : runs) {
    for (char& c : run.outcome) c = (c == '\t' || c == '\n') ? ' ' : c;  // one line in the file
  }
  EXPECT_EQ(read, runs);
}

TEST(RunHistory, TheOutcomeSaysWhatHappened) {
  const struct {
    std::uint32_t exitCode;
    HResult startError;
    bool runner;
    const char* text;
  } cases[] = {
      {0, kOk, true, "成功"},
      {3, kOk, true, "失敗（サーバにログインできませんでした）"},
      {4, kOk, true, "失敗（バックアップ中にエラーが発生しました）"},
      {4, kOk, false, "失敗（終了コード 4）"},
      {kSchedTaskTerminated, kOk, true, "実行時間の上限に達したため終了させました"},
      {0x80070002u, 0x80070002u, true, "開始できませんでした（プログラムが見つかりません）"},
      {kAccessDenied, kAccessDenied, true, "開始できませんでした（実行アカウントが見つかりません）"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(runOutcomeText(c.exitCode, c.startError, c.runner), c.text) << c.exitCode;
    EXPECT_EQ((RunRecord{{}, 0, c.exitCode, c.startError, false, {}}.succeeded()), c.exitCode == 0);
  }
}

}  // namespace
}  // namespace bv::tasks
