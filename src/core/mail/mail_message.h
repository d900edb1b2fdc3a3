// The mail that reports a scheduled backup run (or the settings dialog's test): when one is
// due, its subject and body, and its RFC 5322 text with UTF-8 headers as RFC 2047 encoded-words
// and a base64 body. Qt-free.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/mail/mail_settings.h"

namespace bv::mail {

// An instant with the offset of the local time zone at that instant.
struct LocalTime {
  std::chrono::sys_seconds utc{};
  int utcOffsetMinutes = 0;  // +540 for Japan
  bool operator==(const LocalTime&) const = default;
};
// The local time of an instant in the system's time zone.
LocalTime localTimeOf(std::chrono::system_clock::time_point instant);

// "Tue, 08 Dec 2026 02:00:00 +0900" (RFC 5322 3.3).
std::string formatRfc5322Date(const LocalTime& time);
// "2026/12/08 02:00:00", the local time as the program writes it.
std::string formatLocalTime(const LocalTime& time);

// --- When to send ------------------------------------------------------------------------------

// How a task's run ended; None for a task that has not run before.
enum class RunOutcome { None, Succeeded, Failed };

enum class MailKind {
  Failure,   // バックアップ失敗
  Recovery,  // バックアップ復旧: the first success after failures
  Success,   // バックアップ成功 (毎回 only)
  Test,      // テスト送信 (the settings dialog)
};

// The flood rule. Under 失敗したときのみ a task mails on its first failure (the previous run did
// not fail) and on its first success after a failure; under 毎回 every run mails. Nothing when no
// mail is due (and for a `current` of None).
std::optional<MailKind> mailKindFor(SendWhen when, RunOutcome previous, RunOutcome current);

// "[Brackenvale] バックアップ失敗: Sample (SERVER)", ..., "[Brackenvale] テスト送信".
std::string subjectFor(MailKind kind, std::string_view database, std::string_view server);

// What the executor knows about one run, filled in by the caller.
struct RunReport {
  LocalTime started;
  std::chrono::seconds duration{0};
  bool succeeded = false;
  std::string outcome;     // 結果: the run's result as one line of text
  std::string backupFile;  // ファイル
  std::string taskName;    // タスク
  std::string database;
  std::string server;
  std::string serverMessages;  // サーバーのメッセージ: the task log's text, any number of lines
  // The task's first failure whose report could not be sent (the mail server down, a time-out):
  // this report names it too (通知できなかった失敗), so no failed night goes unheard.
  struct Unreported {
    LocalTime started;
    std::string outcome;
  };
  std::optional<Unreported> unreported;
};

// The body of a report: one line each for 実行日時, 所要時間, 結果, ファイル, タスク (and
// 通知できなかった失敗 with its start and result, when there is one), then
// サーバーのメッセージ with the messages' lines after it. Lines end with CR LF; a field that should
// be one line is made one.
std::string reportBody(const RunReport& report);

// --- The message -------------------------------------------------------------------------------

struct MailMessage {
  MailAddress from;
  std::vector<MailAddress> to;
  std::string subject;
  std::string body;  // UTF-8, lines ended by CR LF
  LocalTime date;
  std::string messageId;  // "<...@...>"
};

// Date and Message-ID for a new message: now, and a random identifier at the sender's domain.
struct MessageStamp {
  LocalTime date;
  std::string messageId;
};
MessageStamp newMessageStamp(const MailSettings& settings);

// The report of a run, from settings that validateMailSettings accepts.
MailMessage reportMessage(const MailSettings& settings, const RunReport& report, MailKind kind,
                          const MessageStamp& stamp);
// The settings dialog's test message.
MailMessage testMessage(const MailSettings& settings, const MessageStamp& stamp);

// The message as sent: Date, From, To, Subject, Message-ID, MIME-Version, Content-Type
// (text/plain; charset=UTF-8), Content-Transfer-Encoding (base64), a blank line, the body in
// base64 lines; CR LF throughout. No header value holds a line break of its own.
std::string renderMessage(const MailMessage& message);

}  // namespace bv::mail
