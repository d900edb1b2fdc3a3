#include "gui/forms/uMailSettings.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>

#include "core/mail/mail_transport.h"
#include "gui/widgets/error_report.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/password_edit.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"
#include "gui/widgets/wait_cursor.h"

namespace bv::forms {

using mail::MailField;
using mail::MailSettings;
using mail::Security;
using widgets::guarded;
using widgets::named;
using widgets::prompts;
using widgets::toQString;
using widgets::toUtf8;

namespace {

const QString kBreak = QStringLiteral("\r\n\r\n");
const QString kDamaged = QStringLiteral("メール通知の設定ファイルが壊れています。");
const QString kStartsEmpty =
    QStringLiteral("空の設定で開きます。保存すると、壊れたファイルは %1 として残します。");
const QString kRefused = QStringLiteral("メール通知の設定ファイルを使えません。");
const QString kRefusedStartsEmpty =
    QStringLiteral("空の設定で開きます。保存すると、本人だけが読み書きできるファイルとして書き直します。");
const QString kReplaceDamaged = QStringLiteral(
    "壊れた設定ファイルを新しい設定で置き換えます。元のファイルは %1 として残します。よろしいですか？");
const QString kClearText = QStringLiteral(
    "接続の保護が「なし」のため、パスワードが暗号化されずにネットワークを流れます。\r\nこのまま%1しますか？");
const QString kTestSent = QStringLiteral("テストメールを送信しました。");

// The protections in the order the box lists them, with the port each one usually has.
struct SecurityChoice {
  Security security;
  const char* caption;
  int port;
};
constexpr SecurityChoice kSecurityChoices[] = {
    {Security::None, "なし", 25},
    {Security::StartTls, "STARTTLS", 587},
    {Security::SslTls, "SSL/TLS", 465},
};

// Line ends as the program's boxes write them.
QString boxText(const std::string& text) {
  return toQString(text)
      .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
      .replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
}

QString damagedName(const std::filesystem::path& file) {
  return toQString(reinterpret_cast<const char*>(file.filename().u8string().c_str())) +
         QStringLiteral(".damaged");
}

}  // namespace

TfrmMailSettings::TfrmMailSettings(QWidget* parent, std::filesystem::path settingsFile)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      FSettingsFile(std::move(settingsFile)) {
  setObjectName(QStringLiteral("frmMailSettings"));
  setWindowTitle(QStringLiteral("メール通知の設定"));
  setModal(true);
  BuildControls();
  connect(btnOK, &QPushButton::clicked, this, guarded(this, &TfrmMailSettings::btnOKClick));
  connect(btnCancel, &QPushButton::clicked, this, guarded(this, &TfrmMailSettings::btnCancelClick));
  connect(btnTestSend, &QPushButton::clicked, this, guarded(this, &TfrmMailSettings::btnTestSendClick));
  connect(bbnCaFileOpen, &QPushButton::clicked, this, guarded(this, &TfrmMailSettings::bbnCaFileOpenClick));
  connect(cmbSmtpSecurity, &QComboBox::currentIndexChanged, this,
          guarded(this, &TfrmMailSettings::cmbSmtpSecurityChange));
}

TfrmMailSettings::~TfrmMailSettings() = default;

bool TfrmMailSettings::ShowMailSettings(QWidget* owner) {
  TfrmMailSettings dialog(owner);
  return dialog.exec() == QDialog::Accepted;
}

void TfrmMailSettings::BuildControls() {
  auto* root = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  grid->setColumnMinimumWidth(1, 260);
  int row = 0;
  const auto label = [&](const char* name, const char* caption, Qt::Alignment place = Qt::AlignVCenter) {
    auto* created = named(new QLabel(QString::fromUtf8(caption), this), name);
    grid->addWidget(created, row, 0, Qt::AlignLeft | place);
    return created;
  };

  lblSmtpServer = label("lblSmtpServer", "SMTPサーバー");
  editSmtpServer = named(new QLineEdit(this), "editSmtpServer");
  grid->addWidget(editSmtpServer, row++, 1, 1, 2);

  lblSmtpPort = label("lblSmtpPort", "ポート");
  spedtSmtpPort = named(new QSpinBox(this), "spedtSmtpPort");
  spedtSmtpPort->setRange(0, 65535);  // 0 is typed, and refused when saved
  spedtSmtpPort->setValue(mail::kDefaultPort);
  grid->addWidget(spedtSmtpPort, row++, 1, Qt::AlignLeft);

  lblSmtpSecurity = label("lblSmtpSecurity", "接続の保護");
  cmbSmtpSecurity = named(new QComboBox(this), "cmbSmtpSecurity");
  for (const SecurityChoice& choice : kSecurityChoices)
    cmbSmtpSecurity->addItem(QString::fromUtf8(choice.caption));
  cmbSmtpSecurity->setCurrentIndex(1);
  grid->addWidget(cmbSmtpSecurity, row++, 1, Qt::AlignLeft);

  lblSmtpUser = label("lblSmtpUser", "ユーザー名");
  editSmtpUser = named(new QLineEdit(this), "editSmtpUser");
  grid->addWidget(editSmtpUser, row++, 1, 1, 2);

  lblSmtpPassword = label("lblSmtpPassword", "パスワード");
  editSmtpPassword = named(widgets::makePasswordEdit(this), "editSmtpPassword");
  grid->addWidget(editSmtpPassword, row++, 1, 1, 2);

  lblMailFrom = label("lblMailFrom", "送信者");
  editMailFrom = named(new QLineEdit(this), "editMailFrom");
  editMailFrom->setPlaceholderText(QStringLiteral("backup@example.com"));
  grid->addWidget(editMailFrom, row++, 1, 1, 2);

  lblMailTo = label("lblMailTo", "宛先\n（1行に1件、または\nカンマ区切り）", Qt::AlignTop);
  editMailTo = named(new QPlainTextEdit(this), "editMailTo");
  editMailTo->setTabChangesFocus(true);
  editMailTo->setFixedHeight(editMailTo->fontMetrics().lineSpacing() * 4 + 12);
  grid->addWidget(editMailTo, row++, 1, 1, 2);

  lblCaFile = label("lblCaFile", "CA証明書ファイル\n（省略可）");
  editCaFile = named(new QLineEdit(this), "editCaFile");
  bbnCaFileOpen = named(new QPushButton(this), "bbnCaFileOpen");
  bbnCaFileOpen->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  bbnCaFileOpen->setToolTip(QStringLiteral("ファイルを選択します"));
  grid->addWidget(editCaFile, row, 1);
  grid->addWidget(bbnCaFileOpen, row++, 2);
  root->addLayout(grid);

  gbxSendWhen = named(new QGroupBox(QStringLiteral("送信する条件"), this), "gbxSendWhen");
  auto* when = new QHBoxLayout(gbxSendWhen);
  rbSendOnFailure =
      named(new QRadioButton(QStringLiteral("失敗したときのみ"), gbxSendWhen), "rbSendOnFailure");
  rbSendEveryRun = named(new QRadioButton(QStringLiteral("毎回"), gbxSendWhen), "rbSendEveryRun");
  rbSendOnFailure->setChecked(true);
  when->addWidget(rbSendOnFailure);
  when->addWidget(rbSendEveryRun);
  when->addStretch();
  root->addWidget(gbxSendWhen);

  btnTestSend = named(new QPushButton(QStringLiteral("テスト送信"), this), "btnTestSend");
  btnOK = named(new QPushButton(QStringLiteral("OK"), this), "btnOK");
  btnCancel = named(new QPushButton(QStringLiteral("キャンセル"), this), "btnCancel");
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnTestSend);
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  for (QPushButton* button : {btnTestSend, btnOK, btnCancel}) {
    button->setAutoDefault(false);
    button->setMinimumWidth(80);
  }
  btnOK->setDefault(true);
  root->addLayout(buttons);

  QWidget* order[] = {editSmtpServer, spedtSmtpPort, cmbSmtpSecurity, editSmtpUser,  editSmtpPassword,
                      editMailFrom,   editMailTo,    editCaFile,      bbnCaFileOpen, rbSendOnFailure,
                      rbSendEveryRun, btnTestSend,   btnOK,           btnCancel};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  for (QLabel* passive : findChildren<QLabel*>()) passive->setFocusPolicy(Qt::NoFocus);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TfrmMailSettings::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) {
    // Centred on the window that opened it.
    if (QWidget* owner = parentWidget()) move(owner->frameGeometry().center() - rect().center());
    guarded(this, &TfrmMailSettings::FormShow)();
  }
}

void TfrmMailSettings::FormShow() {
  const mail::SettingsFile file = mail::readMailSettings(FSettingsFile);
  switch (file.state) {
    case mail::SettingsFile::State::Loaded:
      SetSettings(file.settings);
      break;
    case mail::SettingsFile::State::Missing:
      SetSettings(MailSettings{});
      break;
    case mail::SettingsFile::State::Damaged:
      SetSettings(MailSettings{});
      prompts().error(this, kDamaged + kBreak + toQString(file.damageText(FSettingsFile)) + kBreak +
                                kStartsEmpty.arg(damagedName(FSettingsFile)));
      break;
    case mail::SettingsFile::State::Refused:
      SetSettings(MailSettings{});
      prompts().error(this, kRefused + kBreak + toQString(file.refusal) + kBreak + kRefusedStartsEmpty);
      break;
  }
  editSmtpServer->setFocus(Qt::OtherFocusReason);
}

MailSettings TfrmMailSettings::GetSettings() const {
  MailSettings settings;
  settings.server = toUtf8(editSmtpServer->text().trimmed());
  settings.port = spedtSmtpPort->value();
  settings.security = kSecurityChoices[std::max(cmbSmtpSecurity->currentIndex(), 0)].security;
  settings.userName = toUtf8(editSmtpUser->text().trimmed());
  settings.password = toUtf8(editSmtpPassword->text());
  settings.sender = toUtf8(editMailFrom->text().trimmed());
  settings.recipients = mail::splitRecipients(toUtf8(editMailTo->toPlainText()));
  settings.sendWhen = rbSendEveryRun->isChecked() ? mail::SendWhen::EveryRun : mail::SendWhen::OnFailure;
  settings.caFile = toUtf8(editCaFile->text().trimmed());
  settings.timeout = FTimeout;
  return settings;
}

void TfrmMailSettings::SetSettings(const MailSettings& settings) {
  editSmtpServer->setText(toQString(settings.server));
  for (std::size_t i = 0; i < std::size(kSecurityChoices); ++i) {
    if (kSecurityChoices[i].security == settings.security) {
      const QSignalBlocker quiet(cmbSmtpSecurity);  // the port comes from the settings, not the choice
      cmbSmtpSecurity->setCurrentIndex(static_cast<int>(i));
      FPortDefault = kSecurityChoices[i].port;
    }
  }
  spedtSmtpPort->setValue(settings.port);
  editSmtpUser->setText(toQString(settings.userName));
  editSmtpPassword->setText(toQString(settings.password));
  editMailFrom->setText(toQString(settings.sender));
  QStringList recipients;
  for (const std::string& recipient : settings.recipients) recipients << toQString(recipient);
  editMailTo->setPlainText(recipients.join(QLatin1Char('\n')));
  editCaFile->setText(toQString(settings.caFile));
  (settings.sendWhen == mail::SendWhen::EveryRun ? rbSendEveryRun : rbSendOnFailure)->setChecked(true);
  FTimeout = settings.timeout;
}

void TfrmMailSettings::cmbSmtpSecurityChange() {
  const int index = cmbSmtpSecurity->currentIndex();
  if (index < 0) return;
  // A port the user chose stays; the usual port of the old protection follows the new one.
  const int suggested = kSecurityChoices[index].port;
  if (spedtSmtpPort->value() == FPortDefault) spedtSmtpPort->setValue(suggested);
  FPortDefault = suggested;
}

QWidget* TfrmMailSettings::ControlOf(MailField field) const {
  switch (field) {
    case MailField::Server:
      return editSmtpServer;
    case MailField::Port:
      return spedtSmtpPort;
    case MailField::Security:
      return cmbSmtpSecurity;
    case MailField::UserName:
      return editSmtpUser;
    case MailField::Password:
      return editSmtpPassword;
    case MailField::Sender:
      return editMailFrom;
    case MailField::Recipients:
      return editMailTo;
    case MailField::SendWhen:
      return rbSendOnFailure;
    case MailField::CaFile:
      return editCaFile;
    case MailField::Timeout:
      break;  // not shown; only a file written by hand can hold a wrong one
  }
  return editSmtpServer;
}

bool TfrmMailSettings::CheckSettings(const MailSettings& settings) {
  const auto problem = mail::validateMailSettings(settings);
  if (!problem) return true;
  prompts().error(this, toQString(problem->message));
  ControlOf(problem->field)->setFocus(Qt::OtherFocusReason);
  return false;
}

bool TfrmMailSettings::ConfirmClearText(const MailSettings& settings, const QString& action) {
  if (settings.security != Security::None || settings.password.empty()) return true;
  return prompts().confirmOkCancel(this, kClearText.arg(action));
}

bool TfrmMailSettings::SaveSettings(const MailSettings& settings) {
  if (mail::readMailSettings(FSettingsFile).state == mail::SettingsFile::State::Damaged) {
    if (!prompts().confirmOkCancel(this, kReplaceDamaged.arg(damagedName(FSettingsFile)))) return false;
    const mail::KeepResult kept = mail::keepDamagedFile(FSettingsFile);
    if (!kept.ok) {
      prompts().error(this, boxText(kept.message));
      return false;
    }
  }
  const mail::SaveResult saved = mail::saveMailSettings(FSettingsFile, settings);
  if (!saved.ok) prompts().error(this, boxText(saved.message));
  return saved.ok;
}

void TfrmMailSettings::btnOKClick() {
  const MailSettings settings = GetSettings();
  if (!CheckSettings(settings)) return;
  if (!ConfirmClearText(settings, QStringLiteral("保存"))) return;
  if (SaveSettings(settings)) accept();
}

void TfrmMailSettings::btnCancelClick() { reject(); }

void TfrmMailSettings::btnTestSendClick() {
  const MailSettings settings = GetSettings();
  if (!CheckSettings(settings)) return;
  if (!ConfirmClearText(settings, QStringLiteral("送信"))) return;
  mail::SendResult result;
  {
    widgets::WaitCursor hourglass;
    result = mail::sendTestMail(settings);
  }
  if (result.sent) {
    const std::string details = result.details();
    prompts().information(this, kTestSent + (details.empty() ? QString() : kBreak + boxText(details)));
  } else {
    prompts().error(this, boxText(result.describe()));
  }
}

void TfrmMailSettings::bbnCaFileOpenClick() {
  if (const auto path = prompts().openFileName(this)) editCaFile->setText(*path);
}

}  // namespace bv::forms
