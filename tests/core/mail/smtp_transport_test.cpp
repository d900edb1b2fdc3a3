// The libcurl transport against a real SMTP server (tests/support/smtp_server.py): delivery over
// each protection with AUTH, the TLS rules, servers that are down or silent, refused recipients,
// and the password kept out of everything that comes back.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "core/mail/header_encoding.h"
#include "core/mail/mail_message.h"
#include "core/mail/mail_transport.h"
#include "core/mail/run_notification.h"
#include "core/mail/transport_text.h"
#include "mail_test_support.h"
#include "smtp_fixture.h"

namespace {

using namespace bv::mail;
using bvtest::SmtpMode;
using bvtest::SmtpServerFixture;

RunReport failedRun() {
  RunReport report;
  report.started =
      LocalTime{std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + std::chrono::hours(17), 540};
  report.duration = std::chrono::seconds(4);
  report.outcome = "失敗（終了コード 1）";
  report.backupFile = "/var/backups/Sample.bak";
  report.taskName = "Brackenvale_20261209020000";
  report.database = "Sample";
  report.server = "SERVER";
  report.serverMessages = "オペレーティング システム エラー 5(アクセスが拒否されました。)";
  return report;
}

SendResult sendReport(const MailSettings& settings) {
  return sendMail(settings,
                  reportMessage(settings, failedRun(), MailKind::Failure, newMessageStamp(settings)));
}

// Every form in which the password could travel or come back.
std::vector<std::string> secretForms() {
  const std::string user = SmtpServerFixture::user();
  const std::string password = SmtpServerFixture::password();
  return {password, base64Encode(password), base64Encode(std::string(1, '\0') + user + '\0' + password)};
}

void expectNoSecret(const std::string& text) {
  for (const std::string& secret : secretForms()) EXPECT_EQ(text.find(secret), std::string::npos) << text;
}

class Delivery : public ::testing::TestWithParam<SmtpMode> {};

TEST_P(Delivery, OneMessageArrivesWithAuthTheRightSubjectAndBodyAndNoSecretAndNothingIsPrinted) {
  const SmtpServerFixture server(GetParam());
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const SendResult result = sendReport(server.settings());
  const std::string printed =
      ::testing::internal::GetCapturedStdout() + ::testing::internal::GetCapturedStderr();

  ASSERT_TRUE(result.sent) << result.describe() << server.serverLog();
  EXPECT_EQ(result.serverReply, "250 2.0.0 Ok: queued as 1");
  EXPECT_EQ(printed, "");  // libcurl's trace would show the login exchange
  EXPECT_EQ(server.authAttempts().size(), 1u);
  const auto mails = server.deliveries();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].login, SmtpServerFixture::user());
  EXPECT_EQ(mails[0].envelopeFrom, "backup@example.test");
  EXPECT_EQ(mails[0].envelopeTo, std::vector<std::string>{"admin@example.test"});
  EXPECT_EQ(mails[0].message.subject(), "[Brackenvale] バックアップ失敗: Sample (SERVER)");
  EXPECT_EQ(mails[0].message.body(), reportBody(failedRun()));
  expectNoSecret(mails[0].message.raw());
  expectNoSecret(mails[0].message.body());
  expectNoSecret(result.describe());
}

INSTANTIATE_TEST_SUITE_P(Protections, Delivery,
                         ::testing::Values(SmtpMode::Plain, SmtpMode::StartTls, SmtpMode::SslTls),
                         [](const auto& test) {
                           return test.param == SmtpMode::Plain      ? "Plain"
                                  : test.param == SmtpMode::StartTls ? "StartTls"
                                                                     : "SslTls";
                         });

struct FailureCase {
  const char* name;
  SmtpMode serverMode;
  void (*change)(MailSettings&);
  std::string firstLineAfterServer;  // the error's first line follows "SMTPサーバー（127.0.0.1:PORT"
};
void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class Failure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Failure, EndsWithAClearErrorBeforeAnythingIsSent) {
  const FailureCase& c = GetParam();
  const SmtpServerFixture server(c.serverMode);
  MailSettings settings = server.settings(std::chrono::seconds(1));
  c.change(settings);
  const SendResult result = sendReport(settings);

  EXPECT_FALSE(result.sent);
  const std::size_t lineEnd = result.error.find('\n');
  EXPECT_EQ(result.error.substr(0, lineEnd),
            "SMTPサーバー（127.0.0.1:" + std::to_string(server.port()) + c.firstLineAfterServer);
  EXPECT_EQ(result.error.find("\n詳細: "), lineEnd) << result.error;  // then libcurl's own words
  EXPECT_TRUE(server.deliveries().empty());
  EXPECT_TRUE(server.authAttempts().empty());  // the password never left
  expectNoSecret(result.describe());
}

const std::string kUnverified = "）の証明書を検証できませんでした。";

INSTANTIATE_TEST_SUITE_P(
    Cases, Failure,
    ::testing::Values(FailureCase{"StartTlsNotOfferedNeverFallsBack", SmtpMode::Plain,
                                  [](MailSettings& s) { s.security = Security::StartTls; },
                                  "）がSTARTTLSに対応していないため、送信しませんでした。"},
                      FailureCase{"StartTlsWithAnotherCa", SmtpMode::StartTls,
                                  [](MailSettings& s) {
                                    s.caFile = bvtest::TestCertificates::get().otherCaFile().string();
                                  },
                                  kUnverified},
                      FailureCase{"SslTlsWithAnotherCa", SmtpMode::SslTls,
                                  [](MailSettings& s) {
                                    s.caFile = bvtest::TestCertificates::get().otherCaFile().string();
                                  },
                                  kUnverified},
                      FailureCase{"SslTlsWithTheSystemsCas", SmtpMode::SslTls,
                                  [](MailSettings& s) { s.caFile.clear(); }, kUnverified},
                      FailureCase{"ServerDown", SmtpMode::Down, [](MailSettings&) {},
                                  "）に接続できませんでした。"},
                      // Ends at the settings' timeout, shortened to one second here.
                      FailureCase{"ServerNeverAnswers", SmtpMode::NeverAnswer, [](MailSettings&) {},
                                  "）が1秒以内に応答しませんでした。"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(Recipients, ARefusedRecipientIsReportedAndTheOtherStillGetsTheMail) {
  const SmtpServerFixture server({SmtpMode::StartTls, true, {"nobody@example.test"}});
  MailSettings settings = server.settings();
  settings.recipients = {"nobody@example.test", "運用担当 <admin@example.test>"};
  const SendResult result = sendReport(settings);

  ASSERT_TRUE(result.sent) << result.describe();
  ASSERT_EQ(result.refused.size(), 1u);
  EXPECT_EQ(result.refused[0].address, "nobody@example.test");
  EXPECT_EQ(result.refused[0].serverReply, "550 5.1.1 <nobody@example.test>: Recipient address rejected");
  const auto mails = server.deliveries();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].envelopeTo, std::vector<std::string>{"admin@example.test"});
  EXPECT_NE(result.describe().find("次の宛先はサーバーに拒否されました:\n  nobody@example.test: 550"),
            std::string::npos);

  settings.recipients = {"nobody@example.test"};
  const SendResult none = sendReport(settings);
  EXPECT_FALSE(none.sent);
  EXPECT_EQ(none.error.substr(0, none.error.find('\n')), "すべての宛先がSMTPサーバーに拒否されました。");
  EXPECT_EQ(none.refused.size(), 1u);
}

TEST(Secrets, AWrongPasswordIsReportedWithoutThePasswordInAnyText) {
  const SmtpServerFixture server(SmtpMode::StartTls);
  MailSettings settings = server.settings();
  settings.password = "Wr0ng-pass;word";
  const SendResult result = sendReport(settings);

  EXPECT_FALSE(result.sent);
  EXPECT_EQ(result.error.substr(0, result.error.find('\n')),
            "SMTPサーバーにログインできませんでした。ユーザー名とパスワードを確認してください。");
  EXPECT_EQ(result.serverReply, "535 5.7.8 Authentication credentials invalid");
  EXPECT_EQ(server.authAttempts(), std::vector<std::string>{"PLAIN refused"});
  for (const std::string& text : {result.describe(), result.serverReply, result.error}) {
    EXPECT_EQ(text.find(settings.password), std::string::npos);
    EXPECT_EQ(text.find(base64Encode(settings.password)), std::string::npos);
  }
  // A server that repeats what it was sent brings no password back either.
  const std::string echoed =
      "535 bad credentials " +
      base64Encode(std::string(1, '\0') + settings.userName + '\0' + settings.password) + " (" +
      settings.password + ")";
  EXPECT_EQ(transport::withoutSecrets(echoed, settings), "535 bad credentials ******** (********)");
}

TEST(RunNotification, ReadsTheAccountsSettingsAppliesTheFloodRuleAndSends) {
  const SmtpServerFixture server(SmtpMode::StartTls);
  const mailtest::ScratchFolder scratch;
  const auto file = scratch.path() / "mail.conf";
  RunReport succeeded = failedRun();
  succeeded.succeeded = true;
  succeeded.outcome = "成功";

  EXPECT_EQ(notifyAfterRun(failedRun(), RunOutcome::None, file).state, RunNotification::State::MailOff);
  ASSERT_TRUE(saveMailSettings(file, server.settings()).ok);
  const RunNotification first = notifyAfterRun(failedRun(), RunOutcome::Succeeded, file);
  EXPECT_EQ(first.state, RunNotification::State::Sent) << first.logText;
  EXPECT_EQ(first.logText,
            "メール通知（バックアップ失敗）: 送信しました。\nサーバーの応答: 250 2.0.0 Ok: queued as 1");
  EXPECT_EQ(notifyAfterRun(failedRun(), RunOutcome::Failed, file).state, RunNotification::State::NotDue);
  EXPECT_EQ(notifyAfterRun(succeeded, RunOutcome::Failed, file).kind, MailKind::Recovery);
  EXPECT_EQ(notifyAfterRun(succeeded, RunOutcome::Succeeded, file).state, RunNotification::State::NotDue);
  const auto mails = server.deliveries();
  ASSERT_EQ(mails.size(), 2u);
  EXPECT_EQ(mails[1].message.subject(), "[Brackenvale] バックアップ復旧: Sample (SERVER)");

  std::ofstream(file, std::ios::binary) << "brackenvale-mail 1\nport=x\n";
  const RunNotification damaged = notifyAfterRun(failedRun(), RunOutcome::None, file);
  EXPECT_EQ(damaged.state, RunNotification::State::SettingsDamaged);
  EXPECT_EQ(damaged.logText, "メール通知: 設定ファイルが壊れているため送信しませんでした。\n" +
                                 file.string() + " の2行目: ポート番号が正しくありません。");
}

// A settings file someone else could read, replace or point elsewhere is never used (OpenSSH's
// rule for key files): nothing is sent, and the log says why and how to mend it.
struct UntrustedFile {
  std::string label;
  std::function<void(const std::filesystem::path& file, const std::filesystem::path& folder)> make;
  std::string why;  // in the reason
  bool needsRoot = false;
};

void PrintTo(const UntrustedFile& file, std::ostream* out) { *out << file.label; }

class UntrustedSettings : public ::testing::TestWithParam<UntrustedFile> {};

TEST_P(UntrustedSettings, AreNotUsedAndNothingIsSent) {
  if (GetParam().needsRoot && ::geteuid() != 0) GTEST_SKIP() << "another user's file needs root";
  const SmtpServerFixture server(SmtpMode::StartTls);
  const mailtest::ScratchFolder scratch;
  const auto file = scratch.path() / "mail.conf";
  const auto real = scratch.path() / "other" / "mail.conf";
  std::filesystem::create_directories(real.parent_path());
  ASSERT_TRUE(saveMailSettings(real, server.settings()).ok);
  GetParam().make(file, real);

  const SettingsFile read = readMailSettings(file);
  EXPECT_EQ(read.state, SettingsFile::State::Refused);
  EXPECT_NE(read.refusal.find(GetParam().why), std::string::npos) << read.refusal;
  const RunNotification sent = notifyAfterRun(failedRun(), RunOutcome::None, file);
  EXPECT_EQ(sent.state, RunNotification::State::SettingsRefused);
  EXPECT_NE(sent.logText.find(GetParam().why), std::string::npos) << sent.logText;
  EXPECT_TRUE(server.deliveries().empty());
}

void withMode(const std::filesystem::path& file, const std::filesystem::path& real, ::mode_t mode) {
  std::filesystem::copy_file(real, file);
  ::chmod(file.c_str(), mode);
}

INSTANTIATE_TEST_SUITE_P(
    Files, UntrustedSettings,
    ::testing::Values(
        UntrustedFile{"WorldReadable", [](auto& f, auto& r) { withMode(f, r, 0644); }, "chmod 600 '"},
        UntrustedFile{"GroupReadable", [](auto& f, auto& r) { withMode(f, r, 0640); }, "chmod 600 '"},
        UntrustedFile{"GroupWritable", [](auto& f, auto& r) { withMode(f, r, 0620); }, "chmod 600 '"},
        UntrustedFile{"ALinkToAPrivateFile", [](auto& f, auto& r) { std::filesystem::create_symlink(r, f); },
                      "シンボリックリンク"},
        UntrustedFile{"AnotherUsersFile",
                      [](auto& f, auto& r) {
                        withMode(f, r, 0600);
                        ASSERT_EQ(::chown(f.c_str(), 65534, 65534), 0);
                      },
                      "所有者", true},
        UntrustedFile{"ALinkToAnotherUsersFile",
                      [](auto& f, auto& r) {
                        ASSERT_EQ(::chown(r.c_str(), 65534, 65534), 0);
                        std::filesystem::create_symlink(r, f);
                      },
                      "シンボリックリンク", true},
        UntrustedFile{"AFolder", [](auto& f, auto&) { std::filesystem::create_directory(f); }, "通常のファイル"}),
    [](const ::testing::TestParamInfo<UntrustedFile>& file) { return file.param.label; });

}  // namespace
