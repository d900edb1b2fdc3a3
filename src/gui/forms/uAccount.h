// The account dialog "ユーザ情報入力": the account a scheduled task runs as, proved before it is
// accepted by saving a throw-away task with it and removing that task again.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace bv::forms {

class TfrmAccount : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmAccount(QWidget* parent = nullptr);
  ~TfrmAccount() override;

  // Event handlers, each run through the application's error report.
  void FormShow();
  void btnOKClick();
  void btnChancelClick();

  // What the opener reads after the dialog closed with OK.
  QString UserName() const;
  QString Password() const;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();

  // Controls, each with its objectName.
  QLabel* lblGuide = nullptr;
  QLabel* lblUserName = nullptr;
  QLineEdit* editUserName = nullptr;
  QLabel* lblPasswd0 = nullptr;
  QLineEdit* editPasswd0 = nullptr;
  QLabel* lblPasswd1 = nullptr;
  QLineEdit* editPasswd1 = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnChancel = nullptr;
};

}  // namespace bv::forms
