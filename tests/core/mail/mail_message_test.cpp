// The report's text: the RFC 2047 encoder, the guard that keeps line breaks out of headers, the
// whole message as a recipient's program reads it, and the flood rule.
#include <gtest/gtest.h>

#include <string>

#include "core/mail/header_encoding.h"
#include "core/mail/mail_message.h"
#include "core/text/utf16.h"
#include "mail_text.h"

namespace {

using namespace bv::mail;
using bvtest::MailText;

std::vector<std::string> physicalLines(const std::string& value) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = value.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(value.substr(start, end - start));
  }
  lines.push_back(value.substr(start));
  return lines;
}

struct EncodingCase {
  const char* name;
  std::string text;
  std::size_t used;
  std::string expectedReading;  // what a reader gets back
  bool staysPlain;
};
void PrintTo(const EncodingCase& c, std::ostream* out) { *out << c.name; }

class HeaderEncoding : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(HeaderEncoding, ReadsBackWithWordsAndLinesWithinTheirLimitsAndNoLineBreakOfItsOwn) {
  const EncodingCase& c = GetParam();
  const std::string value = encodeHeaderText(c.text, c.used);
  EXPECT_EQ(bvtest::decodeEncodedWords(value), c.expectedReading);
  EXPECT_EQ(value.find("=?") == std::string::npos, c.staysPlain) << value;
  const auto lines = physicalLines(value);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    EXPECT_LE(line.size() + (i == 0 ? c.used : 0), 76u) << line;
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
    if (i > 0) {
      EXPECT_EQ(line.front(), ' ');  // a fold, never a new header
    }
    if (c.staysPlain) continue;
    // Each word alone is whole UTF-8: no character was cut in two.
    const std::string word = line.substr(line.find("=?"));
    EXPECT_LE(word.size(), 75u);
    EXPECT_TRUE(bv::text::utf8ToUtf16Exact(bvtest::decodeEncodedWords(word)).has_value()) << word;
  }
}

const std::string kLongJapanese =
    "[Brackenvale] バックアップ失敗: 販売管理データベース_本番環境_二〇二六年度 (東京本社サーバー)";

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderEncoding,
    ::testing::Values(
        EncodingCase{"Ascii", "[Brackenvale] test", 9, "[Brackenvale] test", true},
        EncodingCase{"Japanese", "[Brackenvale] テスト送信", 9, "[Brackenvale] テスト送信", false},
        EncodingCase{"LongJapaneseFolds", kLongJapanese, 9, kLongJapanese, false},
        EncodingCase{"FourByteCharactersAtEveryCut", std::string(40, 'a') + "𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷",
                     9, std::string(40, 'a') + "𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷𠮷", false},
        EncodingCase{"LongAsciiIsEncodedToFold", std::string(90, 'x'), 9, std::string(90, 'x'), false},
        EncodingCase{"LookalikeEncodedWordIsEncoded", "=?UTF-8?B?QUJD?=", 9, "=?UTF-8?B?QUJD?=", false},
        EncodingCase{"LineFeedInAscii", "Sample\nBcc: evil@example.com", 9, "Sample Bcc: evil@example.com",
                     true},
        EncodingCase{"CrLfInAscii", "Sample\r\nBcc: evil@example.com", 9, "Sample Bcc: evil@example.com",
                     true},
        EncodingCase{"LoneCrAndNul", std::string("a\rb\0c", 5), 9, "a b c", true},
        EncodingCase{"LineBreakInJapanese", "売上\r\nBcc: evil@example.com", 9, "売上 Bcc: evil@example.com",
                     false},
        EncodingCase{"NextLineControl",
                     "売上\xC2\x85"
                     "Bcc: x",
                     9, "売上 Bcc: x", false},
        EncodingCase{"MalformedUtf8", "bad \xFF\xFE end", 9, "bad \xEF\xBF\xBD\xEF\xBF\xBD end", false}),
    [](const auto& test) { return std::string(test.param.name); });

RunReport sampleReport() {
  RunReport report;
  report.started =
      LocalTime{std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + std::chrono::hours(17), 540};
  report.duration = std::chrono::seconds(83);
  report.succeeded = false;
  report.outcome = "失敗（終了コード 1）";
  report.backupFile = "D:\\backup\\Sample 20261209.bak";
  report.taskName = "Brackenvale_20261208020000";
  report.database = "Sample";
  report.server = "SERVER";
  report.serverMessages =
      "メッセージ 3201、レベル 16\r\nバックアップ デバイスを開けません。\nBACKUP DATABASE "
      "は異常終了しています。\n";
  return report;
}

MailSettings sampleSettings() {
  MailSettings settings;
  settings.server = "smtp.example.com";
  settings.sender = "バックアップ通知 <backup@example.com>";
  settings.recipients = {"admin@example.com", "運用担当 <ops@example.com>"};
  return settings;
}

TEST(MailMessage, AFailureReportReadsAsTheRecipientSeesIt) {
  const MessageStamp stamp{sampleReport().started, "<20261209020000.0123456789abcdef@example.com>"};
  const MailText mail(
      renderMessage(reportMessage(sampleSettings(), sampleReport(), MailKind::Failure, stamp)));

  EXPECT_EQ(mail.subject(), "[Brackenvale] バックアップ失敗: Sample (SERVER)");
  EXPECT_EQ(mail.header("Date"), "Wed, 09 Dec 2026 02:00:00 +0900");
  EXPECT_EQ(mail.header("From"), "バックアップ通知 <backup@example.com>");
  EXPECT_EQ(mail.header("To"), "admin@example.com, 運用担当 <ops@example.com>");
  EXPECT_EQ(mail.header("Message-ID"), stamp.messageId);
  EXPECT_EQ(mail.header("MIME-Version"), "1.0");
  EXPECT_EQ(mail.header("Content-Type"), "text/plain; charset=UTF-8");
  EXPECT_EQ(mail.body(),
            "実行日時: 2026/12/09 02:00:00\r\n"
            "所要時間: 1分23秒\r\n"
            "結果: 失敗（終了コード 1）\r\n"
            "ファイル: D:\\backup\\Sample 20261209.bak\r\n"
            "タスク: Brackenvale_20261208020000\r\n"
            "サーバーのメッセージ:\r\n"
            "メッセージ 3201、レベル 16\r\n"
            "バックアップ デバイスを開けません。\r\n"
            "BACKUP DATABASE は異常終了しています。\r\n");
  // Everything on the wire is 7-bit, in lines a relay keeps.
  for (const std::string& line : physicalLines(mail.raw())) {
    EXPECT_LE(line.size(), 78u) << line;
    for (const char c : line) EXPECT_LT(static_cast<unsigned char>(c), 0x80u) << line;
  }
}

TEST(MailMessage, NamesWithLineBreaksAddNoHeaderAndNoBodyLine) {
  RunReport report = sampleReport();
  report.database = "Sample\r\nBcc: evil@example.com";
  report.server = "SERVER\nX-Injected: 1";
  report.taskName = "task\nBcc: evil@example.com";
  report.outcome = "失敗\r\n結果: 成功";
  const MailText mail(renderMessage(reportMessage(sampleSettings(), report, MailKind::Failure,
                                                  MessageStamp{report.started, "<a\r\nBcc: x@y>"})));
  EXPECT_EQ(mail.headerNames(),
            (std::vector<std::string>{"Date", "From", "To", "Subject", "Message-ID", "MIME-Version",
                                      "Content-Type", "Content-Transfer-Encoding"}));
  EXPECT_EQ(mail.subject(),
            "[Brackenvale] バックアップ失敗: Sample Bcc: evil@example.com (SERVER X-Injected: 1)");
  EXPECT_NE(mail.body().find("タスク: task Bcc: evil@example.com\r\n"), std::string::npos);
  EXPECT_NE(mail.body().find("結果: 失敗 結果: 成功\r\n"), std::string::npos);
}

TEST(MailMessage, SubjectsForEachKind) {
  EXPECT_EQ(subjectFor(MailKind::Failure, "Sample", "SERVER"),
            "[Brackenvale] バックアップ失敗: Sample (SERVER)");
  EXPECT_EQ(subjectFor(MailKind::Recovery, "Sample", "SERVER"),
            "[Brackenvale] バックアップ復旧: Sample (SERVER)");
  EXPECT_EQ(subjectFor(MailKind::Success, "Sample", "SERVER"),
            "[Brackenvale] バックアップ成功: Sample (SERVER)");
  EXPECT_EQ(subjectFor(MailKind::Test, "Sample", "SERVER"), "[Brackenvale] テスト送信");
}

struct FloodCase {
  SendWhen when;
  RunOutcome previous;
  RunOutcome current;
  std::optional<MailKind> expected;
};
void PrintTo(const FloodCase& c, std::ostream* out) {
  static constexpr const char* kOutcomes[] = {"None", "Succeeded", "Failed"};
  *out << (c.when == SendWhen::EveryRun ? "EveryRun_" : "OnFailure_")
       << kOutcomes[static_cast<int>(c.previous)] << "_then_" << kOutcomes[static_cast<int>(c.current)];
}

class FloodRule : public ::testing::TestWithParam<FloodCase> {};

TEST_P(FloodRule, MailsOnlyWhenDue) {
  const FloodCase& c = GetParam();
  EXPECT_EQ(mailKindFor(c.when, c.previous, c.current), c.expected);
}

constexpr auto kOnFailure = SendWhen::OnFailure;
constexpr auto kEveryRun = SendWhen::EveryRun;
constexpr auto kNone = RunOutcome::None;
constexpr auto kOk = RunOutcome::Succeeded;
constexpr auto kFailed = RunOutcome::Failed;

INSTANTIATE_TEST_SUITE_P(Cases, FloodRule,
                         ::testing::Values(FloodCase{kOnFailure, kNone, kFailed, MailKind::Failure},
                                           FloodCase{kOnFailure, kOk, kFailed, MailKind::Failure},
                                           FloodCase{kOnFailure, kFailed, kFailed, std::nullopt},
                                           FloodCase{kOnFailure, kFailed, kOk, MailKind::Recovery},
                                           FloodCase{kOnFailure, kOk, kOk, std::nullopt},
                                           FloodCase{kOnFailure, kNone, kOk, std::nullopt},
                                           FloodCase{kEveryRun, kNone, kFailed, MailKind::Failure},
                                           FloodCase{kEveryRun, kFailed, kFailed, MailKind::Failure},
                                           FloodCase{kEveryRun, kFailed, kOk, MailKind::Recovery},
                                           FloodCase{kEveryRun, kOk, kOk, MailKind::Success},
                                           FloodCase{kEveryRun, kNone, kOk, MailKind::Success},
                                           FloodCase{kEveryRun, kOk, kNone, std::nullopt}),
                         [](const auto& test) { return ::testing::PrintToString(test.param); });

}  // namespace
