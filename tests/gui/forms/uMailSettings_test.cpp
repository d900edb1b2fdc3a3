// "メール通知の設定" driven as a user drives it, against real files and a real SMTP server
// (tests/support/smtp_fixture.h); its boxes read and answered by the recorder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>

#include "controls.h"
#include "core/mail/mail_settings.h"
#include "gui/forms/uMailSettings.h"
#include "prompt_recorder.h"
#include "smtp_fixture.h"

namespace {

using bv::forms::TfrmMailSettings;
using Kind = bvtest::RecordedPrompt::Kind;
namespace fs = std::filesystem;

QString qs(const std::string& text) { return QString::fromStdString(text); }

class MailSettingsDialog : public ::testing::Test {
 protected:
  void SetUp() override { open(); }

  void open() {
    dialog = std::make_unique<TfrmMailSettings>(nullptr, file);
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
  }

  template <typename W>
  W* control(const char* name) const {
    return bvtest::control<W>(dialog, name);
  }
  void click(const char* name) { QTest::mouseClick(control<QPushButton>(name), Qt::LeftButton); }

  // The controls filled in as a user types them.
  void fillIn(const bv::mail::MailSettings& settings) {
    control<QLineEdit>("editSmtpServer")->setText(qs(settings.server));
    control<QComboBox>("cmbSmtpSecurity")->setCurrentIndex(static_cast<int>(settings.security));
    control<QSpinBox>("spedtSmtpPort")->setValue(settings.port);
    control<QLineEdit>("editSmtpUser")->setText(qs(settings.userName));
    control<QLineEdit>("editSmtpPassword")->setText(qs(settings.password));
    control<QLineEdit>("editMailFrom")->setText(qs(settings.sender));
    QStringList recipients;
    for (const std::string& recipient : settings.recipients) recipients << qs(recipient);
    control<QPlainTextEdit>("editMailTo")->setPlainText(recipients.join(QStringLiteral(", ")));
    control<QLineEdit>("editCaFile")->setText(qs(settings.caFile));
  }

  std::string focused() const {
    QWidget* focus = QApplication::focusWidget();
    return focus == nullptr ? std::string() : focus->objectName().toStdString();
  }

  bvtest::TempDir folder{"bv-mail-dialog"};
  const fs::path file = folder.path() / "brackenvale" / "mail.conf";
  bvtest::PromptRecorder prompts;
  std::unique_ptr<TfrmMailSettings> dialog;
};

bv::mail::MailSettings typed() {
  bv::mail::MailSettings settings;
  settings.server = "smtp.example.com";
  settings.port = 465;
  settings.security = bv::mail::Security::SslTls;
  settings.userName = "backup";
  settings.password = "pw;1";
  settings.sender = "バックアップ通知 <backup@example.com>";
  settings.recipients = {"admin@example.com", "ops@example.com"};
  return settings;
}

TEST_F(MailSettingsDialog, OpensEmptySavesWhatWasTypedAndShowsItAgain) {
  EXPECT_EQ(control<QSpinBox>("spedtSmtpPort")->value(), 587);
  EXPECT_EQ(control<QComboBox>("cmbSmtpSecurity")->currentText(), QStringLiteral("STARTTLS"));
  EXPECT_TRUE(control<QRadioButton>("rbSendOnFailure")->isChecked());
  EXPECT_EQ(control<QLineEdit>("editSmtpPassword")->echoMode(), QLineEdit::Password);
  fillIn(typed());
  control<QRadioButton>("rbSendEveryRun")->setChecked(true);
  click("btnOK");

  EXPECT_TRUE(prompts.boxes.empty()) << prompts.boxes.front().text.toStdString();
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  bv::mail::MailSettings expected = typed();
  expected.sendWhen = bv::mail::SendWhen::EveryRun;
  const auto saved = bv::mail::readMailSettings(file);
  ASSERT_EQ(saved.state, bv::mail::SettingsFile::State::Loaded);
  EXPECT_EQ(saved.settings, expected);

  open();
  EXPECT_EQ(dialog->GetSettings(), expected);
  EXPECT_EQ(control<QPlainTextEdit>("editMailTo")->toPlainText(),
            QStringLiteral("admin@example.com\nops@example.com"));
}

TEST_F(MailSettingsDialog, ADamagedFileIsReportedAndKeptAsideWhenNewSettingsAreSaved) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "brackenvale-mail 1\nport=x\n";
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  open();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0],
            QStringLiteral("メール通知の設定ファイルが壊れています。\r\n\r\n") + qs(file.string()) +
                QStringLiteral(" の2行目: ポート番号が正しくありません。\r\n\r\n空の設定で開きます。"
                               "保存すると、壊れたファイルは mail.conf.damaged として残します。"));
  EXPECT_EQ(control<QLineEdit>("editSmtpServer")->text(), QString());

  fillIn(typed());
  prompts.confirmAnswers = {false};
  click("btnOK");
  EXPECT_EQ(prompts.boxes.back().kind, Kind::ConfirmOkCancel);
  EXPECT_EQ(bv::mail::readMailSettings(file).state, bv::mail::SettingsFile::State::Damaged);  // not replaced
  click("btnOK");  // and now agreed
  EXPECT_EQ(bv::mail::readMailSettings(file).state, bv::mail::SettingsFile::State::Loaded);
  EXPECT_TRUE(fs::exists(folder.path() / "brackenvale" / "mail.conf.damaged"));
}

// A file others may read is not used: the box says why and what to run, and saving writes it
// again private to the user.
TEST_F(MailSettingsDialog, AFileOthersMayReadIsReportedWithItsMendAndSavedPrivately) {
  ASSERT_TRUE(bv::mail::saveMailSettings(file, typed()).ok);
  fs::permissions(file, fs::perms(0644));
  open();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0],
            QStringLiteral("メール通知の設定ファイルを使えません。\r\n\r\n") + qs(file.string()) +
                QStringLiteral(" をほかのユーザーが読み書きできるため使いません。「chmod 600 '") + qs(file.string()) +
                QStringLiteral("'」を実行して、本人だけが読み書きできるようにしてください。\r\n\r\n"
                               "空の設定で開きます。保存すると、本人だけが読み書きできるファイルとして書き直します。"));
  EXPECT_EQ(control<QLineEdit>("editSmtpServer")->text(), QString());
  fillIn(typed());
  click("btnOK");
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(bv::mail::readMailSettings(file).state, bv::mail::SettingsFile::State::Loaded);
}

struct FocusCase {
  const char* name;
  void (*change)(TfrmMailSettings&);
  const char* focus;
  const char* message;
};
void PrintTo(const FocusCase& c, std::ostream* out) { *out << c.name; }

class MailSettingsValidation : public MailSettingsDialog, public ::testing::WithParamInterface<FocusCase> {};

TEST_P(MailSettingsValidation, TheFirstProblemIsShownWithTheFocusOnItsFieldAndNothingIsSaved) {
  fillIn(typed());
  GetParam().change(*dialog);
  click("btnOK");
  ASSERT_EQ(prompts.errors(), std::vector<QString>{QString::fromUtf8(GetParam().message)});
  EXPECT_EQ(focused(), GetParam().focus);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(dialog->isVisible());
}

template <typename W>
W* in(TfrmMailSettings& dialog, const char* name) {
  return bvtest::control<W>(dialog, name);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MailSettingsValidation,
    ::testing::Values(
        FocusCase{"NoServer", [](TfrmMailSettings& d) { in<QLineEdit>(d, "editSmtpServer")->clear(); },
                  "editSmtpServer", "SMTPサーバーを入力してください。"},
        FocusCase{"PortZero", [](TfrmMailSettings& d) { in<QSpinBox>(d, "spedtSmtpPort")->setValue(0); },
                  "spedtSmtpPort", "ポート番号が正しくありません。"},
        FocusCase{"PasswordWithoutUser",
                  [](TfrmMailSettings& d) { in<QLineEdit>(d, "editSmtpUser")->clear(); }, "editSmtpUser",
                  "ユーザー名を入力してください。"},
        FocusCase{
            "SenderWithoutAt",
            [](TfrmMailSettings& d) { in<QLineEdit>(d, "editMailFrom")->setText(QStringLiteral("backup")); },
            "editMailFrom", "送信者のアドレスが正しくありません。"},
        FocusCase{"NoRecipient",
                  [](TfrmMailSettings& d) {
                    in<QPlainTextEdit>(d, "editMailTo")->setPlainText(QStringLiteral(" , "));
                  },
                  "editMailTo", "宛先のアドレスを入力してください。"},
        FocusCase{"RecipientWithoutAt",
                  [](TfrmMailSettings& d) {
                    in<QPlainTextEdit>(d, "editMailTo")->setPlainText(QStringLiteral("a@example.com\nops"));
                  },
                  "editMailTo", "宛先のアドレス「ops」が正しくありません。"},
        FocusCase{"MissingCaFile",
                  [](TfrmMailSettings& d) {
                    in<QLineEdit>(d, "editCaFile")->setText(QStringLiteral("/no/ca.pem"));
                  },
                  "editCaFile", "CA証明書のファイルが見つかりません。"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(MailSettingsDialog, APasswordInTheClearIsSavedOnlyAfterTheWarning) {
  bv::mail::MailSettings clear = typed();
  clear.security = bv::mail::Security::None;
  clear.port = 25;
  fillIn(clear);
  prompts.confirmAnswers = {false, true};
  click("btnOK");
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::ConfirmOkCancel);
  EXPECT_EQ(prompts.boxes[0].text,
            QStringLiteral("接続の保護が「なし」のため、パスワードが暗号化されずにネットワーク"
                           "を流れます。\r\nこのまま保存しますか？"));
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(dialog->isVisible());

  click("btnOK");
  EXPECT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(bv::mail::readMailSettings(file).settings, clear);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

TEST_F(MailSettingsDialog, ATestSendIsDeliveredAndTheServersAnswerShown) {
  const bvtest::SmtpServerFixture server(bvtest::SmtpMode::StartTls);
  fillIn(server.settings());
  click("btnTestSend");

  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Information) << prompts.boxes[0].text.toStdString();
  EXPECT_EQ(prompts.boxes[0].text,
            QStringLiteral("テストメールを送信しました。\r\n\r\nサーバーの応答: 250 2.0.0 Ok: queued as 1"));
  EXPECT_FALSE(prompts.boxes[0].hourglass);
  const auto mails = server.deliveries();
  ASSERT_EQ(mails.size(), 1u);
  EXPECT_EQ(mails[0].message.subject(), "[Brackenvale] テスト送信");
  EXPECT_EQ(mails[0].login, bvtest::SmtpServerFixture::user());
  EXPECT_FALSE(fs::exists(file));  // a test send saves nothing
}

TEST_F(MailSettingsDialog, ATestSendToAServerThatIsDownShowsTheError) {
  const bvtest::SmtpServerFixture server(bvtest::SmtpMode::Down);
  fillIn(server.settings());
  click("btnTestSend");

  ASSERT_EQ(prompts.errors().size(), 1u);
  const QString error = prompts.errors()[0];
  EXPECT_TRUE(error.startsWith(
      QStringLiteral("SMTPサーバー（127.0.0.1:%1）に接続できませんでした。\r\n詳細: ").arg(server.port())))
      << error.toStdString();
}

}  // namespace
