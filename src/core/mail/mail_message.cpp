#include "core/mail/mail_message.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>

#include "core/mail/header_encoding.h"
#include "core/text/duration_text.h"

namespace bv::mail {
namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kSubjectPrefix = "[Brackenvale] ";
constexpr std::string_view kDefaultDisplayName = "Brackenvale";

struct CivilTime {
  std::chrono::year_month_day date;
  std::chrono::weekday weekday;
  std::chrono::hh_mm_ss<std::chrono::seconds> time;
};

CivilTime civil(const LocalTime& time) {
  const auto local = time.utc + std::chrono::minutes(time.utcOffsetMinutes);
  const auto day = std::chrono::floor<std::chrono::days>(local);
  return {std::chrono::year_month_day(day), std::chrono::weekday(day),
          std::chrono::hh_mm_ss<std::chrono::seconds>(local - day)};
}

std::string printed(const char* format, auto... values) {
  std::array<char, 64> buffer{};
  const int length = std::snprintf(buffer.data(), buffer.size(), format, values...);
  return std::string(buffer.data(), static_cast<std::size_t>(std::max(length, 0)));
}

bool isPrintableAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

// The text's lines, whatever ends them, each made one clean line; trailing empty lines dropped.
std::vector<std::string> linesOf(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(singleLine(text.substr(start, end - start)));
    start = end;
    if (start < text.size() && text[start] == '\r') ++start;
    if (start < text.size() && text[start] == '\n') ++start;
  }
  while (!lines.empty() && lines.back().find_first_not_of(' ') == std::string::npos) lines.pop_back();
  return lines;
}

// "name <addr>" with the name quoted or encoded, or the bare address.
std::string mailbox(const MailAddress& address, std::size_t firstLineUsed) {
  const std::string name = singleLine(address.displayName);
  const std::string bare = singleLine(address.address);
  if (name.empty()) return bare;
  if (isPrintableAscii(name)) {
    std::string quotedName = "\"";
    for (const char c : name) {
      if (c == '"' || c == '\\') quotedName.push_back('\\');
      quotedName.push_back(c);
    }
    return quotedName + "\" <" + bare + ">";
  }
  return encodeHeaderText(name, firstLineUsed) + " <" + bare + ">";
}

MailAddress senderOf(const MailSettings& settings) {
  MailAddress from = parseMailAddress(settings.sender).value_or(MailAddress{{}, settings.sender});
  if (from.displayName.empty()) from.displayName = kDefaultDisplayName;
  return from;
}

std::vector<MailAddress> recipientsOf(const MailSettings& settings) {
  std::vector<MailAddress> to;
  for (const std::string& recipient : settings.recipients) {
    to.push_back(parseMailAddress(recipient).value_or(MailAddress{{}, recipient}));
  }
  return to;
}

std::string_view securityName(Security security) {
  switch (security) {
    case Security::None:
      return "なし";
    case Security::StartTls:
      return "STARTTLS";
    case Security::SslTls:
      return "SSL/TLS";
  }
  return "";
}

}  // namespace

std::string formatRfc5322Date(const LocalTime& time) {
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const CivilTime at = civil(time);
  const int offset = time.utcOffsetMinutes < 0 ? -time.utcOffsetMinutes : time.utcOffsetMinutes;
  return printed("%s, %02u %s %04d %02d:%02d:%02d %c%02d%02d", kDays[at.weekday.c_encoding()],
                 static_cast<unsigned>(at.date.day()), kMonths[static_cast<unsigned>(at.date.month()) - 1],
                 static_cast<int>(at.date.year()), static_cast<int>(at.time.hours().count()),
                 static_cast<int>(at.time.minutes().count()), static_cast<int>(at.time.seconds().count()),
                 time.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
}

std::string formatLocalTime(const LocalTime& time) {
  const CivilTime at = civil(time);
  return printed("%04d/%02u/%02u %02d:%02d:%02d", static_cast<int>(at.date.year()),
                 static_cast<unsigned>(at.date.month()), static_cast<unsigned>(at.date.day()),
                 static_cast<int>(at.time.hours().count()), static_cast<int>(at.time.minutes().count()),
                 static_cast<int>(at.time.seconds().count()));
}

std::optional<MailKind> mailKindFor(SendWhen when, RunOutcome previous, RunOutcome current) {
  switch (current) {
    case RunOutcome::None:
      return std::nullopt;
    case RunOutcome::Failed:
      // A failure that goes on is reported once, unless every run is.
      if (when == SendWhen::EveryRun || previous != RunOutcome::Failed) return MailKind::Failure;
      return std::nullopt;
    case RunOutcome::Succeeded:
      if (previous == RunOutcome::Failed) return MailKind::Recovery;
      if (when == SendWhen::EveryRun) return MailKind::Success;
      return std::nullopt;
  }
  return std::nullopt;
}

std::string subjectFor(MailKind kind, std::string_view database, std::string_view server) {
  std::string subject(kSubjectPrefix);
  switch (kind) {
    case MailKind::Failure:
      subject += "バックアップ失敗: ";
      break;
    case MailKind::Recovery:
      subject += "バックアップ復旧: ";
      break;
    case MailKind::Success:
      subject += "バックアップ成功: ";
      break;
    case MailKind::Test:
      return subject + "テスト送信";
  }
  return subject + singleLine(database) + " (" + singleLine(server) + ")";
}

std::string reportBody(const RunReport& report) {
  std::string body;
  const auto line = [&](std::string_view label, std::string_view value) {
    body.append(label).append(": ").append(singleLine(value)).append(kCrLf);
  };
  line("実行日時", formatLocalTime(report.started));
  line("所要時間", text::durationText(report.duration.count()));
  line("結果", report.outcome);
  line("ファイル", report.backupFile);
  line("タスク", report.taskName);
  if (report.unreported) {
    line("通知できなかった失敗", formatLocalTime(report.unreported->started) + " " + report.unreported->outcome);
  }
  const std::vector<std::string> messages = linesOf(report.serverMessages);
  if (messages.empty()) {
    line("サーバーのメッセージ", "なし");
  } else {
    body.append("サーバーのメッセージ:").append(kCrLf);
    for (const std::string& message : messages) body.append(message).append(kCrLf);
  }
  return body;
}

MessageStamp newMessageStamp(const MailSettings& settings) {
  MessageStamp stamp;
  stamp.date = localTimeOf(std::chrono::system_clock::now());
  const MailAddress from = senderOf(settings);
  std::string domain = from.address.substr(from.address.rfind('@') + 1);
  // A Message-ID is ASCII; a domain written in another script falls back to a name of our own.
  if (domain.empty() || !isPrintableAscii(domain) || domain.find_first_of(" <>") != std::string::npos) {
    domain = "brackenvale.invalid";
  }
  std::random_device random;
  const CivilTime at = civil(stamp.date);
  stamp.messageId =
      "<" +
      printed("%04d%02u%02u%02d%02d%02d", static_cast<int>(at.date.year()),
              static_cast<unsigned>(at.date.month()), static_cast<unsigned>(at.date.day()),
              static_cast<int>(at.time.hours().count()), static_cast<int>(at.time.minutes().count()),
              static_cast<int>(at.time.seconds().count())) +
      printed(".%08x%08x", random(), random()) + "@" + domain + ">";
  return stamp;
}

MailMessage reportMessage(const MailSettings& settings, const RunReport& report, MailKind kind,
                          const MessageStamp& stamp) {
  return MailMessage{senderOf(settings),
                     recipientsOf(settings),
                     subjectFor(kind, report.database, report.server),
                     reportBody(report),
                     stamp.date,
                     stamp.messageId};
}

MailMessage testMessage(const MailSettings& settings, const MessageStamp& stamp) {
  std::string body;
  body.append("Brackenvale からのテスト送信です。").append(kCrLf);
  body.append("このメールが届いていれば、メール通知の設定で送信できています。").append(kCrLf);
  body.append(kCrLf);
  body.append("送信日時: ").append(formatLocalTime(stamp.date)).append(kCrLf);
  body.append("SMTPサーバー: ")
      .append(singleLine(settings.server))
      .append(":")
      .append(std::to_string(settings.port))
      .append("（")
      .append(securityName(settings.security))
      .append("）")
      .append(kCrLf);
  body.append("送信する条件: ")
      .append(settings.sendWhen == SendWhen::EveryRun ? "毎回" : "失敗したときのみ")
      .append(kCrLf);
  return MailMessage{senderOf(settings), recipientsOf(settings), subjectFor(MailKind::Test, {}, {}), body,
                     stamp.date,         stamp.messageId};
}

std::string renderMessage(const MailMessage& message) {
  std::string text;
  const auto header = [&](std::string_view name, std::string_view value) {
    text.append(name).append(": ").append(value).append(kCrLf);
  };
  header("Date", formatRfc5322Date(message.date));
  header("From", mailbox(message.from, std::string_view("From: ").size()));
  std::string to;
  for (const MailAddress& recipient : message.to) {
    if (!to.empty()) to.append(",").append(kCrLf).append(" ");
    to += mailbox(recipient, to.empty() ? std::string_view("To: ").size() : 1);
  }
  header("To", to);
  header("Subject", encodeHeaderText(message.subject, std::string_view("Subject: ").size()));
  header("Message-ID", singleLine(message.messageId));
  header("MIME-Version", "1.0");
  header("Content-Type", "text/plain; charset=UTF-8");
  header("Content-Transfer-Encoding", "base64");
  text.append(kCrLf);
  text += base64Encode(message.body, 76);
  return text;
}

}  // namespace bv::mail
