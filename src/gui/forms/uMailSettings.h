// The dialog "メール通知の設定": the account's mail settings (core/mail), which the task executor
// reads after each scheduled run. It loads the settings file when shown, checks every field
// before it saves or sends, warns before a password would cross the network in the clear, and
// sends a test message on request. A damaged file is reported, the dialog starts empty, and the
// file is kept beside the new one as mail.conf.damaged when new settings are saved.
#pragma once

#include <QDialog>
#include <QString>
#include <chrono>
#include <filesystem>

#include "core/mail/mail_settings.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace bv::forms {

class TfrmMailSettings : public QDialog {
  Q_OBJECT

 public:
  // `settingsFile`: the account's file (bv::mail::defaultMailSettingsFile()) unless a test names
  // another.
  explicit TfrmMailSettings(QWidget* parent = nullptr,
                            std::filesystem::path settingsFile = bv::mail::defaultMailSettingsFile());
  ~TfrmMailSettings() override;

  // Shows the dialog modally over `owner` (the task list); true when settings were saved.
  static bool ShowMailSettings(QWidget* owner);

  // Event handlers, each run through the application's error report.
  void FormShow();
  void btnOKClick();
  void btnCancelClick();
  void btnTestSendClick();
  void bbnCaFileOpenClick();
  void cmbSmtpSecurityChange();

  // The settings as the controls show them, and the other way round.
  bv::mail::MailSettings GetSettings() const;
  void SetSettings(const bv::mail::MailSettings& settings);
  const std::filesystem::path& SettingsFile() const { return FSettingsFile; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  // The first problem in an error box with the focus on its field; true when there is none.
  bool CheckSettings(const bv::mail::MailSettings& settings);
  // With 接続の保護 = なし and a password, asks whether to go on (`action`: "保存" or "送信").
  bool ConfirmClearText(const bv::mail::MailSettings& settings, const QString& action);
  // Saves, first moving a damaged file aside once the user agreed; false when nothing was saved.
  bool SaveSettings(const bv::mail::MailSettings& settings);
  QWidget* ControlOf(bv::mail::MailField field) const;

  std::filesystem::path FSettingsFile;
  // Kept as the file has it; the dialog does not show it.
  std::chrono::seconds FTimeout = bv::mail::kDefaultTimeout;
  int FPortDefault = bv::mail::kDefaultPort;  // the port the chosen protection suggests

  // Controls, each with its objectName.
  QLabel* lblSmtpServer = nullptr;
  QLineEdit* editSmtpServer = nullptr;
  QLabel* lblSmtpPort = nullptr;
  QSpinBox* spedtSmtpPort = nullptr;
  QLabel* lblSmtpSecurity = nullptr;
  QComboBox* cmbSmtpSecurity = nullptr;
  QLabel* lblSmtpUser = nullptr;
  QLineEdit* editSmtpUser = nullptr;
  QLabel* lblSmtpPassword = nullptr;
  QLineEdit* editSmtpPassword = nullptr;
  QLabel* lblMailFrom = nullptr;
  QLineEdit* editMailFrom = nullptr;
  QLabel* lblMailTo = nullptr;
  QPlainTextEdit* editMailTo = nullptr;
  QLabel* lblCaFile = nullptr;
  QLineEdit* editCaFile = nullptr;
  QPushButton* bbnCaFileOpen = nullptr;
  QGroupBox* gbxSendWhen = nullptr;
  QRadioButton* rbSendOnFailure = nullptr;
  QRadioButton* rbSendEveryRun = nullptr;
  QPushButton* btnTestSend = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
};

}  // namespace bv::forms
