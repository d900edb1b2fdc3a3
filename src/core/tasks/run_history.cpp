#include "core/tasks/run_history.h"

#include <cstdio>
#include <cstdlib>

#include "core/tasks/system_error.h"

namespace bv::tasks {
namespace {

constexpr std::string_view kHeader = "# brackenvale run history 1";

std::vector<std::string_view> fieldsOf(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  return fields;
}

std::optional<long long> number(std::string_view text, int base = 10) {
  if (text.empty()) return std::nullopt;
  const std::string copy(text);
  char* end = nullptr;
  const long long value = std::strtoll(copy.c_str(), &end, base);
  if (end == copy.c_str() || *end != '\0') return std::nullopt;
  return value;
}

// "2026-12-08 02:00" as LocalMinute::toString writes it.
std::optional<LocalMinute> minuteOf(std::string_view text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0;
  const std::string copy(text);
  if (copy.size() != 16 || std::sscanf(copy.c_str(), "%4d-%2d-%2d %2d:%2d", &year, &month, &day, &hour, &minute) != 5) {
    return std::nullopt;
  }
  try {
    return LocalMinute::at(year, month, day, hour, minute);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::string oneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\t' || c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

}  // namespace

std::string runOutcomeText(std::uint32_t exitCode, HResult startError, bool runner) {
  if (startError != kOk) {
    if (startError == kAccessDenied) return "開始できませんでした（実行アカウントが見つかりません）";
    if (startError == (0x80070000u | 2u)) return "開始できませんでした（プログラムが見つかりません）";
    return "開始できませんでした（" + systemErrorText(startError) + "）";
  }
  if (exitCode == kSchedTaskTerminated) return "実行時間の上限に達したため終了させました";
  if (!runner) return exitCode == 0 ? "成功" : "失敗（終了コード " + std::to_string(exitCode) + "）";
  switch (static_cast<RunnerExit>(exitCode)) {
    case RunnerExit::Success:
      return "成功";
    case RunnerExit::RunnerError:
      return "失敗（Brackenrun の内部エラー）";
    case RunnerExit::BadArguments:
      return "失敗（タスクの引数が正しくありません）";
    case RunnerExit::ConnectFailed:
      return "失敗（サーバにログインできませんでした）";
    case RunnerExit::BackupFailed:
      return "失敗（バックアップ中にエラーが発生しました）";
    case RunnerExit::ProofFailed:
      return "失敗（テストレストアでバックアップを確認できませんでした）";
  }
  return "失敗（終了コード " + std::to_string(exitCode) + "）";
}

std::string formatRunHistory(const std::vector<RunRecord>& runs) {
  std::string text(kHeader);
  text += '\n';
  for (const RunRecord& run : runs) {
    char error[16];
    std::snprintf(error, sizeof error, "0x%08X", static_cast<unsigned>(run.startError));
    text += run.start.toString() + '\t' + std::to_string(run.seconds) + '\t' + std::to_string(run.exitCode) +
            '\t' + error + '\t' + (run.late ? "late" : "on-time") + '\t' + oneLine(run.outcome) + '\n';
  }
  return text;
}

std::vector<RunRecord> parseRunHistory(std::string_view text) {
  std::vector<RunRecord> runs;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    const std::vector<std::string_view> fields = fieldsOf(line);
    if (fields.size() != 6) continue;
    const auto minute = minuteOf(fields[0]);
    const auto seconds = number(fields[1]);
    const auto exitCode = number(fields[2]);
    const auto error = number(fields[3], 16);
    if (!minute || !seconds || !exitCode || !error || (fields[4] != "late" && fields[4] != "on-time")) continue;
    runs.push_back(RunRecord{*minute, *seconds, static_cast<std::uint32_t>(*exitCode),
                             static_cast<HResult>(*error), fields[4] == "late", std::string(fields[5])});
  }
  return runs;
}

std::vector<RunRecord> withRun(std::vector<RunRecord> runs, RunRecord run) {
  runs.push_back(std::move(run));
  if (runs.size() > kRunHistoryLength) runs.erase(runs.begin(), runs.end() - kRunHistoryLength);
  return runs;
}

std::string runStartText(const RunRecord& run) {
  const CivilDate date = run.start.date();
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:00", date.year, date.month, date.day, run.start.hour(),
                run.start.minute());
  return text;
}

}  // namespace bv::tasks
