// The CDO transport on Windows, driven against the fake CDO message (Wine has no cdosys): the
// configuration fields it sets, the message's parts, a failed Send, and the system's own class
// missing. Also where the settings file lives on Windows.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "core/mail/cdo_win32.h"
#include "core/mail/mail_message.h"
#include "core/mail/mail_settings.h"
#include "core/mail/mail_transport.h"
#include "environment.h"
#include "fake_cdo_win32.h"
#include "mail_test_support.h"

namespace {

using namespace bv::mail;
using Value = mailtest::FakeCdoRecord::Value;

const std::string kFieldPrefix = "http://schemas.microsoft.com/cdo/configuration/";

MailSettings cdoSettings() {
  MailSettings settings = mailtest::fullSettings();
  settings.security = Security::StartTls;
  settings.port = 587;
  settings.caFile.clear();
  return settings;
}

class CdoTransport : public ::testing::Test {
 protected:
  std::shared_ptr<mailtest::FakeCdoRecord> record = std::make_shared<mailtest::FakeCdoRecord>();
  CdoFactoryOverride fake{[this](IDispatch** message) { return createFakeCdoMessage(record, message); }};

  Value field(const std::string& name) const {
    const auto found = record->fields.find(kFieldPrefix + name);
    return found == record->fields.end() ? Value{} : found->second;
  }
  std::string property(const std::string& name) const { return record->properties[name].text; }
};

TEST_F(CdoTransport, SetsTheConfigurationFieldsAndTheMessageThenSends) {
  const MailSettings settings = cdoSettings();
  const MailMessage message = testMessage(settings, newMessageStamp(settings));
  const SendResult result = sendMail(settings, message);

  ASSERT_TRUE(result.sent) << result.describe();
  EXPECT_EQ(field("sendusing"), (Value{VT_I4, "2"}));
  EXPECT_EQ(field("smtpserver"), (Value{VT_BSTR, "smtp.example.com"}));
  EXPECT_EQ(field("smtpserverport"), (Value{VT_I4, "587"}));
  EXPECT_EQ(field("smtpusessl"), (Value{VT_BOOL, "true"}));
  EXPECT_EQ(field("smtpauthenticate"), (Value{VT_I4, "1"}));
  EXPECT_EQ(field("sendusername"), (Value{VT_BSTR, "バックアップ@example.com"}));
  EXPECT_EQ(field("sendpassword"), (Value{VT_BSTR, " pa=ss;#word "}));
  EXPECT_EQ(field("smtpconnectiontimeout"), (Value{VT_I4, "45"}));
  EXPECT_EQ(record->fields.size(), 8u);

  EXPECT_EQ(property("BodyPart.Charset"), "utf-8");
  EXPECT_EQ(property("From"), "\"バックアップ通知\" <backup@example.com>");
  EXPECT_EQ(property("To"), "admin@example.com, \"運用担当\" <ops@example.com>");
  EXPECT_EQ(property("Subject"), "[Brackenvale] テスト送信");
  EXPECT_EQ(property("TextBody"), message.body);
  // The fields are stored before the message is written, and the charset comes before the text.
  EXPECT_EQ(record->calls, (std::vector<std::string>{"Fields.Update", "BodyPart.Charset", "From", "To",
                                                     "Subject", "TextBody", "Send"}));
  EXPECT_EQ(record->liveObjects, 0);  // every reference was released
}

TEST_F(CdoTransport, WithoutAUserThereIsNoLoginAndWithoutProtectionNoTls) {
  MailSettings settings = cdoSettings();
  settings.userName.clear();
  settings.password.clear();
  settings.security = Security::None;
  ASSERT_TRUE(sendTestMail(settings).sent);

  EXPECT_EQ(field("smtpauthenticate"), (Value{VT_I4, "0"}));
  EXPECT_EQ(field("smtpusessl"), (Value{VT_BOOL, "false"}));
  EXPECT_EQ(record->fields.count(kFieldPrefix + "sendusername"), 0u);
  EXPECT_EQ(record->fields.count(kFieldPrefix + "sendpassword"), 0u);
}

TEST_F(CdoTransport, AFailedSendIsReportedWithCdosTextAndWithoutThePassword) {
  const MailSettings settings = cdoSettings();
  record->sendFailure = "The server rejected the sender address. Password was " + settings.password;
  const SendResult result = sendTestMail(settings);

  EXPECT_FALSE(result.sent);
  EXPECT_EQ(
      result.error,
      "メールを送信できませんでした（smtp.example.com:587）。\n詳細: Message.Send: The server rejected the "
      "sender address. Password was ********");
  EXPECT_EQ(record->liveObjects, 0);
}

// Wine registers no "CDO.Message"; on Windows the system's cdosys answers instead.
TEST(CdoTransportUnderWine, TheMissingClassIsReported) {
  const SendResult result = sendTestMail(cdoSettings());
  EXPECT_FALSE(result.sent);
  EXPECT_EQ(result.error.substr(0, result.error.find('\n')),
            "CDO（cdosys.dll）がないため、メールを送信できません。");
}

TEST(MailSettingsWin32, TheFileLivesInTheAccountsApplicationData) {
  const bvtest::ScopedEnvironment appData("APPDATA", "C:\\Users\\backup\\AppData\\Roaming");
  EXPECT_EQ(defaultMailSettingsFile(),
            std::filesystem::path(L"C:\\Users\\backup\\AppData\\Roaming\\Brackenvale\\mail.conf"));
}

}  // namespace
