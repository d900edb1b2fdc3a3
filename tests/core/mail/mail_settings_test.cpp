// The mail settings: the file read back as written, damaged files reported with their line, and
// the checks in field order.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/mail/mail_settings.h"
#include "mail_test_support.h"

namespace {

using namespace bv::mail;
using mailtest::fullSettings;
using mailtest::readAll;
using mailtest::ScratchFolder;
namespace fs = std::filesystem;

TEST(MailSettingsFile, ReadsBackWhatWasSavedAndMissingMeansMailIsOff) {
  ScratchFolder scratch;
  const fs::path file = scratch.path() / "config" / "brackenvale" / "mail.conf";
  EXPECT_EQ(readMailSettings(file).state, SettingsFile::State::Missing);

  ASSERT_TRUE(saveMailSettings(file, fullSettings()).ok);
  const SettingsFile read = readMailSettings(file);
  ASSERT_EQ(read.state, SettingsFile::State::Loaded) << read.damageText(file);
  EXPECT_EQ(read.settings, fullSettings());

  // Optional items may be left out of a file written by hand.
  std::ofstream(file, std::ios::binary)
      << "\xEF\xBB\xBF# by hand\r\nbrackenvale-mail 1\r\nserver=mx\r\nport=25\r\n"
         "security=none\r\nfrom=a@example.com\r\nto=b@example.com\r\nsend=failure\r\n";
  const SettingsFile minimal = readMailSettings(file);
  ASSERT_EQ(minimal.state, SettingsFile::State::Loaded) << minimal.damageText(file);
  EXPECT_EQ(minimal.settings.server, "mx");
  EXPECT_EQ(minimal.settings.timeout, kDefaultTimeout);
  EXPECT_TRUE(minimal.settings.password.empty());
}

struct DamageCase {
  const char* name;
  std::string text;
  int line;
  std::string reason;
};
void PrintTo(const DamageCase& c, std::ostream* out) { *out << c.name; }

class DamagedSettings : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedSettings, IsReportedWithItsLineAndNeverShowsAValue) {
  const DamageCase& c = GetParam();
  const ParsedSettings parsed = parseMailSettings(c.text);
  ASSERT_FALSE(parsed.settings.has_value());
  EXPECT_EQ(parsed.damage.line, c.line);
  EXPECT_EQ(parsed.damage.reason, c.reason);
  EXPECT_EQ(parsed.damage.text().find("secret"), std::string::npos);
}

const std::string kHead = "brackenvale-mail 1\nserver=mx\nport=25\nsecurity=none\n";
const std::string kTail = "from=a@example.com\nto=b@example.com\nsend=failure\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedSettings,
    ::testing::Values(
        DamageCase{"Empty", "", 0, "メール通知の設定ファイルが空です。"},
        DamageCase{"NoHeader", "# c\nserver=mx\n", 2,
                   "メール通知の設定ファイルではありません（「brackenvale-mail 1」で始まっていません）。"},
        DamageCase{"LaterVersion", "brackenvale-mail 2\n", 1, "この形式のバージョンには対応していません。"},
        DamageCase{"LineWithoutEquals", kHead + "secret\n" + kTail, 5, "「項目=値」の形ではありません。"},
        DamageCase{"UnknownItem", kHead + "colour=secret\n" + kTail, 5, "不明な項目「colour」があります。"},
        DamageCase{"ValueAsKey", kHead + "my secret=x\n" + kTail, 5, "不明な項目があります。"},
        DamageCase{"TwiceTheSameItem", kHead + "password=secret\npassword=secret\n" + kTail, 6,
                   "項目「password」が2回あります。"},
        DamageCase{"PortNotANumber", "brackenvale-mail 1\nport=secret\n", 2,
                   "ポート番号が正しくありません。"},
        DamageCase{"PortOutOfRange", "brackenvale-mail 1\nport=65536\n", 2, "ポート番号が正しくありません。"},
        DamageCase{"UnknownSecurity", "brackenvale-mail 1\nsecurity=tls\n", 2,
                   "接続の保護の指定が正しくありません（none、starttls、ssl のいずれか）。"},
        DamageCase{"UnknownSendWhen", kHead + "send=always\n", 5,
                   "送信する条件の指定が正しくありません（failure、every のいずれか）。"},
        DamageCase{"TimeoutZero", kHead + "timeout-seconds=0\n", 5,
                   "タイムアウトの秒数が正しくありません（1～600）。"},
        DamageCase{"NotUtf8", kHead + "password=\xFFsecret\n", 5, "UTF-8の文字として読めません。"},
        DamageCase{"MissingRecipient", kHead + "from=a@example.com\nsend=failure\n", 0,
                   "項目「to」がありません。"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(MailSettingsFile, ADamagedFileIsReportedWithItsPathAndLineAndCanBeKeptAside) {
  ScratchFolder scratch;
  const fs::path file = scratch.path() / "mail.conf";
  const std::string damaged =
      "brackenvale-mail 1\nserver=mx\nsecurity=none\nuser=x\nport=twenty-five\n" + kTail;
  std::ofstream(file, std::ios::binary) << damaged;
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);  // private, as the program writes it
  const SettingsFile read = readMailSettings(file);
  ASSERT_EQ(read.state, SettingsFile::State::Damaged);
  EXPECT_EQ(read.damageText(file), file.string() + " の5行目: ポート番号が正しくありません。");

  const KeepResult kept = keepDamagedFile(file);
  ASSERT_TRUE(kept.ok) << kept.message;
  EXPECT_EQ(kept.keptAs, scratch.path() / "mail.conf.damaged");
  EXPECT_EQ(readAll(kept.keptAs), damaged);
  EXPECT_FALSE(fs::exists(file));
}

struct ProblemCase {
  const char* name;
  void (*change)(MailSettings&);
  MailField field;
  std::string message;
};
void PrintTo(const ProblemCase& c, std::ostream* out) { *out << c.name; }

class SettingsValidation : public ::testing::TestWithParam<ProblemCase> {};

TEST_P(SettingsValidation, NamesTheFirstProblemAndItsField) {
  MailSettings settings = fullSettings();
  settings.caFile.clear();
  ASSERT_FALSE(validateMailSettings(settings).has_value());
  GetParam().change(settings);
  const auto problem = validateMailSettings(settings);
  ASSERT_TRUE(problem.has_value());
  EXPECT_EQ(problem->field, GetParam().field);
  EXPECT_EQ(problem->message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsValidation,
    ::testing::Values(
        ProblemCase{"EmptyServerBeforeAnythingElse",
                    [](MailSettings& s) {
                      s.server = " ";
                      s.port = 0;
                      s.recipients.clear();
                    },
                    MailField::Server, "SMTPサーバーを入力してください。"},
        ProblemCase{"ServerWithBlank", [](MailSettings& s) { s.server = "smtp example"; }, MailField::Server,
                    "SMTPサーバーが正しくありません。"},
        ProblemCase{"PortZero", [](MailSettings& s) { s.port = 0; }, MailField::Port,
                    "ポート番号が正しくありません。"},
        ProblemCase{"Port65536", [](MailSettings& s) { s.port = 65536; }, MailField::Port,
                    "ポート番号が正しくありません。"},
        ProblemCase{"PasswordWithoutUser", [](MailSettings& s) { s.userName.clear(); }, MailField::UserName,
                    "ユーザー名を入力してください。"},
        ProblemCase{"PasswordWithLineBreak", [](MailSettings& s) { s.password = "a\nb"; },
                    MailField::Password, "パスワードが正しくありません。"},
        ProblemCase{"NoSender", [](MailSettings& s) { s.sender.clear(); }, MailField::Sender,
                    "送信者のアドレスを入力してください。"},
        ProblemCase{"SenderWithoutAt", [](MailSettings& s) { s.sender = "Backup <backup.example.com>"; },
                    MailField::Sender, "送信者のアドレスが正しくありません。"},
        ProblemCase{"NoRecipient", [](MailSettings& s) { s.recipients.clear(); }, MailField::Recipients,
                    "宛先のアドレスを入力してください。"},
        ProblemCase{"SecondRecipientWithoutAt", [](MailSettings& s) { s.recipients[1] = "ops"; },
                    MailField::Recipients, "宛先のアドレス「ops」が正しくありません。"},
        ProblemCase{"MissingCaFile", [](MailSettings& s) { s.caFile = "/nonexistent/ca.pem"; },
                    MailField::CaFile, "CA証明書のファイルが見つかりません。"},
        ProblemCase{"TimeoutTooLong", [](MailSettings& s) { s.timeout = std::chrono::seconds(601); },
                    MailField::Timeout, "タイムアウトの秒数が正しくありません。"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(MailSettings, RecipientsAreSplitAtCommasAndLineBreaks) {
  EXPECT_EQ(splitRecipients(" a@example.com,b@example.com\r\n\n 運用 <c@example.com> ,"),
            (std::vector<std::string>{"a@example.com", "b@example.com", "運用 <c@example.com>"}));
  EXPECT_EQ(parseMailAddress("運用 <c@example.com>"), (MailAddress{"運用", "c@example.com"}));
  EXPECT_EQ(parseMailAddress("c@example.com"), (MailAddress{"", "c@example.com"}));
  EXPECT_FALSE(parseMailAddress("c@example.com>\r\nRCPT TO:<x@y"));
}

}  // namespace
