#include "runner/runner.h"

#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>

#include <exception>

#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/maintenance/retention.h"
#include "core/scheduling/task_parameters.h"
#include "core/sys/wipe.h"
#include "runner/platform.h"
#include "runner/run_log.h"

#ifndef BV_VERSION
#define BV_VERSION "unknown"
#endif

namespace bv::runner {
namespace {

constexpr std::string_view kHelpHint = "使い方は「Brackenrun --help」で表示されます。";

std::string withLineFeeds(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

std::string joinMessages(const std::vector<db::ErrorEntry>& entries) {
  std::string out;
  for (const auto& entry : entries) {
    if (!out.empty()) out += " / ";
    out += entry.message;
  }
  return out;
}

std::optional<std::string> tryDecode(const std::string& argument) {
  try {
    return tasks::decodeTaskArgument(argument);
  } catch (const tasks::TaskArgumentError&) {
    return std::nullopt;
  }
}

void describe(const maintenance::BackupRequest& backup, LogEntry& entry) {
  entry.server = backup.login.server;
  entry.database = backup.database;
  entry.backupFile = backup.backupFile;
  entry.login = backup.login.useSqlAuth ? "sql:" + backup.login.userName : "windows";
  entry.verify = backup.verify ? "1" : "0";
}

// For the log line of a refused command line: whatever of the seven arguments can be read.
// The password is never decoded.
void describeAsFarAsPossible(const std::vector<std::string>& arguments, LogEntry& entry) {
  if (arguments.size() < tasks::kTaskArgumentCount) return;
  if (arguments[0] == "1") entry.login = "windows";
  if (arguments[0] == "2") entry.login = "sql:" + tryDecode(arguments[1]).value_or("?");
  entry.server = tryDecode(arguments[3]).value_or("");
  entry.database = tryDecode(arguments[4]).value_or("");
  entry.backupFile = tryDecode(arguments[5]).value_or("");
  if (arguments[6] == "1" || arguments[6] == "0") entry.verify = arguments[6];
}

struct Run {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
  const std::optional<std::filesystem::path>& logFile;
  LogEntry entry;
  bool logged = true;

  // The start line: before the connection is made, so that a run killed at its time limit still
  // leaves a trace.
  void logStart() {
    if (!logFile) return;
    LogEntry start = entry;
    start.started = true;
    start.time = platform::localTimestamp();
    if (const auto problem = appendLogLine(*logFile, start)) {
      err << "Brackenrun: ログファイルに書き込めませんでした: " << *problem << '\n';
    }
  }

  // The prune's outcome never changes the backup's: its deletions and its failure go to the log
  // line's detail, the failure to standard error as well.
  void reportPrune(const maintenance::PruneOutcome& prune) {
    if (prune.succeeded) {
      for (const std::string& path : prune.deleted) entry.detail += " / 削除: " + path;
      for (const std::string& path : prune.undecided) entry.detail += " / 判断できず残した: " + path;
      return;
    }
    err << withLineFeeds(prune.errorMessage);
    entry.detail += " / " + joinMessages(prune.errors);
  }

  ExitStatus refuse(const std::string& message) {
    err << "Brackenrun: " << message << '\n' << kHelpHint << '\n';
    entry.outcome = "bad-arguments";
    entry.detail = message;
    return ExitStatus::BadArguments;
  }

  ExitStatus operator()(const std::vector<std::string>& words) {
    CommandLine line;
    try {
      line = splitCommandLine(words);
    } catch (const UsageError& error) {
      return refuse(error.what());
    }
    if (line.action == Action::Help || line.action == Action::Version) {
      logged = false;
      out << (line.action == Action::Help ? usageText(logFile) : "Brackenrun " BV_VERSION "\n");
      return ExitStatus::Success;
    }
    if (line.action == Action::Print) logged = false;
    if (line.fromStandardInput) {
      try {
        std::string parameters = readParameterString(in);
        line.arguments = tasks::splitTaskParameters(parameters);
        sys::wipe(parameters);
      } catch (const UsageError& error) {
        return refuse(error.what());
      }
    }

    maintenance::BackupRequest request;
    try {
      request = scheduling::decodeTaskParameters(line.arguments);
    } catch (const tasks::TaskArgumentError& error) {
      describeAsFarAsPossible(line.arguments, entry);
      return refuse(error.what());
    }
    describe(request, entry);
    if (const auto problem = maintenance::check(request)) return refuse(problem->message);

    if (line.action == Action::Print) {
      out << maintenance::batchOf(request) << '\n';
      return ExitStatus::Success;
    }
    for (std::string& argument : line.arguments) sys::wipe(argument);
    logStart();
    // The server's messages go out as each statement of the batch ends: a long backup shows its
    // progress while it runs, and a run killed on its way has said how far it came. Someone at a
    // terminal also sees the server's own percentage, at most every ten percent.
    // Each statement (the backup, then its verify) counts from its own 0 %, its step named.
    std::mutex output;
    int shownTenths = 0;
    int shownStatement = 0;
    const maintenance::PercentSink percent = [&](const maintenance::Progress& progress) {
      const std::lock_guard lock(output);
      if (progress.statement != shownStatement) {
        shownStatement = progress.statement;
        shownTenths = 0;
        if (!progress.step.empty()) out << progress.step << std::endl;
      }
      const int tenths = static_cast<int>(progress.percent) / 10;
      if (tenths <= shownTenths) return;
      shownTenths = tenths;
      out << tenths * 10 << "%" << (progress.left ? "（" + maintenance::timeLeftText(*progress.left) + "）" : "")
          << std::endl;
    };
    const auto outcome = maintenance::run(
        std::move(request),
        [&](const db::ErrorEntry& info) {
          const std::lock_guard lock(output);
          out << info.message << std::endl;
        },
        platform::outputIsTerminal() ? percent : maintenance::PercentSink());
    if (outcome.succeeded) {
      out << outcome.message << '\n';
      entry.outcome = "succeeded";
      entry.detail = joinMessages(outcome.infoMessages);
      if (outcome.prune) reportPrune(*outcome.prune);
      if (outcome.proof && (outcome.proof->result == maintenance::ProofOutcome::Result::Failed ||
                            outcome.proof->result == maintenance::ProofOutcome::Result::Damaged)) {
        err << withLineFeeds(outcome.proof->message);
        entry.outcome = "proof-failed";
        entry.detail += " / " + joinMessages(outcome.proof->errors);
        return ExitStatus::ProofFailed;
      }
      return ExitStatus::Success;
    }
    entry.detail = joinMessages(outcome.errors);
    if (!outcome.connected) {
      err << "サーバにログインできませんでした。\n\n";
      for (const auto& error : outcome.errors) err << error.message << '\n';
      entry.outcome = "connect-failed";
      return ExitStatus::ConnectFailed;
    }
    err << withLineFeeds(outcome.message);
    entry.outcome = "backup-failed";
    return ExitStatus::BackupFailed;
  }
};

}  // namespace

CommandLine splitCommandLine(const std::vector<std::string>& words) {
  CommandLine line;
  bool help = false;
  bool version = false;
  bool print = false;
  bool standardInput = false;
  std::vector<std::string> positional;
  for (const auto& word : words) {
    if (word.empty() || word[0] != '-') {
      positional.push_back(word);
    } else if (word == "-") {
      standardInput = true;
    } else if (word == "--help" || word == "-h") {
      help = true;
    } else if (word == "--version") {
      version = true;
    } else if (word == "--print") {
      print = true;
    } else {
      throw UsageError("知らないオプションです: " + word);
    }
  }
  if (help) {
    line.action = Action::Help;
    return line;
  }
  if (version) {
    line.action = Action::Version;
    return line;
  }
  line.action = print ? Action::Print : Action::Run;
  if (standardInput) {
    if (!positional.empty()) throw UsageError("「-」と一緒に引数は指定できません。");
    line.fromStandardInput = true;
    return line;
  }
  if (positional.empty()) throw UsageError("引数がありません。");
  line.arguments = positional.size() == 1 ? tasks::splitTaskParameters(positional[0]) : std::move(positional);
  return line;
}

std::string readParameterString(std::istream& in) {
  std::string input;
  char buffer[4096];
  // The input holds the encoded password: its copies here are wiped however this ends.
  struct Wipe {
    std::string& input;
    char (&buffer)[4096];
    ~Wipe() {
      sys::wipe(input);
      sys::wipeMemory(buffer, sizeof buffer);
    }
  } wipe{input, buffer};
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    input.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (input.size() > kMaxParameterInput) {
      throw UsageError("標準入力が長すぎます（" + std::to_string(kMaxParameterInput / 1024) +
                       " KiB まで）。");
    }
  }
  const std::size_t end = input.find('\n');
  std::string first = input.substr(0, end);
  if (!first.empty() && first.back() == '\r') first.pop_back();
  if (end != std::string::npos) {
    const std::string_view rest = std::string_view(input).substr(end + 1);
    for (char c : rest) {
      if (c != '\r' && c != '\n') throw UsageError("標準入力の 2 行目以降は空でなければなりません。");
    }
  }
  if (first.empty()) throw UsageError("標準入力にパラメータ文字列がありません。");
  return first;
}

Invocation parseCommandLine(const std::vector<std::string>& words) {
  CommandLine line = splitCommandLine(words);
  Invocation invocation;
  invocation.action = line.action;
  if ((line.action == Action::Run || line.action == Action::Print) && !line.fromStandardInput) {
    invocation.backup = scheduling::decodeTaskParameters(line.arguments);
  }
  return invocation;
}

std::string usageText(const std::optional<std::filesystem::path>& logFile) {
  std::string text =
      "使い方: Brackenrun [--print] 認証方式 ログイン名 パスワード サーバ データベース ファイル ベリファイ\n"
      "        Brackenrun [--print] \"パラメータ文字列\"\n"
      "        Brackenrun [--print] -      （パラメータ文字列を標準入力の 1 行目から読む）\n"
      "        Brackenrun --help | --version\n"
      "\n"
      "スケジュールされたタスクから起動され、SQL Server のデータベースをバックアップします。\n"
      "\n"
      "引数（この順に 7 個。8 個目から 11 個目は省略できます）:\n"
      "  1 認証方式              1 = Windows 認証、2 = SQL Server 認証\n"
      "  2 ログイン名            符号化した文字列（Windows 認証では 0）\n"
      "  3 パスワード            符号化した文字列（Windows 認証では 0）\n"
      "  4 データベースサーバ    符号化した文字列\n"
      "  5 データベース名        符号化した文字列\n"
      "  6 バックアップファイル  符号化した文字列（%date% はサーバの日付 yyyymmdd、%time% は\n"
      "                          サーバの時刻 hhmmss になります。%time% は差分とログのみ）\n"
      "  7 ベリファイ            1 = バックアップ後に検証する、0 = しない\n"
      "  8 保存世代数            10 進数。0 = すべて残す（省略時）、" +
      std::to_string(maintenance::kMinGenerations) + "～" + std::to_string(maintenance::kMaxGenerations) +
      " = バックアップの後、\n"
      "                          新しいものからこの数だけ残して古いバックアップファイルを削除する\n"
      "                          （ファイル名に %date% が必要。SQL Server 2005 以降）\n"
      "  9 テストレストア        1 = バックアップの後でテストレストアと整合性チェックを行う、\n"
      "                          0 = 行わない（省略時）\n"
      " 10 種類                  0 = 完全（省略時）、1 = 差分、2 = ログ。差分とログは既存のファイルに\n"
      "                          上書きせず、ファイル名に %time% が必要\n"
      " 11 チェックサム          1 = WITH CHECKSUM を付ける（SQL Server 2005 以降）、0 = 付けない（省略時）\n"
      "符号化: 文字列のコードページ 932 のバイトを 1 バイトずつ大文字の 16 進数 2 桁で書き、\n"
      "全体を逆順にしたもの（abc → 616263 → 362616）。空の文字列は空の引数になります。\n"
      "\n"
      "7 個の引数を別々の語で渡すほか、タスクが保存するパラメータ文字列をそのまま 1 語で\n"
      "渡せます。その場合は空白 1 個ずつが引数を区切るので、空の引数も空のまま残ります。\n"
      "「-」を指定すると、パラメータ文字列を標準入力から読みます。パスワードを含む文字列が\n"
      "コマンドラインに載らず、ほかのユーザーのプロセス一覧に見えません。\n"
      "\n"
      "オプション:\n"
      "  --print    送るバッチを表示するだけで、サーバには接続しません\n"
      "  --help     この説明を表示します\n"
      "  --version  版を表示します\n"
      "\n"
      "サーバの情報メッセージは標準出力に、エラーは標準エラー出力に出ます。\n"
      "\n"
      "終了ステータス:\n"
      "  0  バックアップ（とベリファイ）が終了した\n"
      "  1  Brackenrun 自身の障害\n"
      "  2  引数が正しくない（サーバには接続していません）\n"
      "  3  サーバに接続できなかった、またはログインが拒否された\n"
      "  4  バックアップまたはベリファイのバッチがエラーになった\n"
      "  5  バックアップは終了したが、テストレストアまたは整合性チェックで確認できなかった\n"
      "\n"
      "実行のたびに、時刻・終了ステータス・結果・サーバ・データベース・ファイルを 1 行、\n"
      "ログファイルに追記します（パスワードは書きません）。\n";
  text += "ログファイル: ";
  text += logFile ? pathText(*logFile) : std::string("（ホームフォルダが分からないため、なし）");
  text += "\n環境変数 ";
  text += kLogFileVariable;
  text += " で別のファイルを指定できます。\n";
  return text;
}



namespace {

// A time of the log (2008-01-01T02:00:00+0900) as the instant and offset a report shows.
std::optional<mail::LocalTime> localTimeOfStamp(const std::string& stamp) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, offset = 0;
  char sign = '+';
  if (stamp.size() != 24 || std::sscanf(stamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%4d", &year, &month, &day, &hour,
                                        &minute, &second, &sign, &offset) != 8) {
    return std::nullopt;
  }
  const int offsetMinutes = (sign == '-' ? -1 : 1) * (offset / 100 * 60 + offset % 100);
  const std::chrono::sys_days date{std::chrono::year(year) / month / day};
  return mail::LocalTime{std::chrono::sys_seconds(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
                             std::chrono::seconds(second) - std::chrono::minutes(offsetMinutes),
                         offsetMinutes};
}

// The mail report of a run where the runner mails it itself (mailsAfterRun), the previous run of
// the same backup read from the log; what became of the mail goes into the log line, and so does
// the first failure whose mail could not be sent, until a later run's mail names it.
void mailReport(LogEntry& entry, ExitStatus status, std::chrono::system_clock::time_point begun,
                const std::optional<std::filesystem::path>& logFile) {
  mail::RunReport report;
  report.started = mail::localTimeOf(begun);
  report.duration = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now() - begun);
  report.succeeded = status == ExitStatus::Success;
  report.outcome = tasks::runOutcomeText(static_cast<std::uint32_t>(status), tasks::kOk, true);
  report.server = entry.server;
  report.database = entry.database;
  report.backupFile = entry.backupFile;
  report.serverMessages = entry.detail;
  std::optional<bool> previous;
  std::optional<UnreportedRun> unreported;
  if (logFile) {
    previous = lastOutcomeOf(*logFile, entry);
    unreported = unreportedFailureOf(*logFile, entry);
  }
  if (unreported) {
    if (const auto started = localTimeOfStamp(unreported->time)) {
      report.unreported = mail::RunReport::Unreported{
          *started, tasks::runOutcomeText(static_cast<std::uint32_t>(unreported->status), tasks::kOk, true)};
    }
  }
  const mail::RunNotification mailed = platform::mailAfterRun(report, !previous   ? mail::RunOutcome::None
                                                                      : *previous ? mail::RunOutcome::Succeeded
                                                                                  : mail::RunOutcome::Failed);
  entry.mail = mailed.logText;
  if (mailed.failureUnreported) {
    entry.unreported = unreported ? unreported->time + " " + std::to_string(unreported->status)
                                  : entry.time + " " + std::to_string(static_cast<int>(status));
  }
}

}  // namespace

ExitStatus run(const std::vector<std::string>& words, std::istream& in, std::ostream& out, std::ostream& err,
               const std::optional<std::filesystem::path>& logFile) {
  Run runner{in, out, err, logFile, {}, true};
  ExitStatus status = ExitStatus::RunnerError;
  const auto begun = std::chrono::system_clock::now();
  try {
    status = runner(words);
  } catch (const std::exception& error) {
    err << "Brackenrun: 内部エラーが発生しました: " << error.what() << '\n';
    runner.entry.outcome = "runner-error";
    runner.entry.detail = error.what();
  }
  runner.entry.time = platform::localTimestamp();
  runner.entry.status = static_cast<int>(status);
  if (runner.logged && platform::mailsAfterRun()) mailReport(runner.entry, status, begun, logFile);
  if (runner.logged && logFile) {
    if (const auto problem = appendLogLine(*logFile, runner.entry)) {
      err << "Brackenrun: ログファイルに書き込めませんでした: " << *problem << '\n';
    }
  }
  out.flush();
  return status;
}

}  // namespace bv::runner
