// The dialog "ログのバックアップファイル": where a full-recovery database's log is backed up before
// its files are shrunk. A path on the server, %date% allowed, with the backup tab's file button
// for a server on this computer and the same checks as a backup file.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace bv::forms {

class TfrmLogBackup : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmLogBackup(QWidget* parent = nullptr);

  // Shows the dialog modally; the file the user accepted, or nothing on キャンセル.
  std::optional<QString> AskFile(const QString& initial, bool serverIsLocal);

  void btnOKClick();
  void bbnLogBackFileOpenClick();

 private:
  QLabel* lblLogBackFile = nullptr;
  QLineEdit* editLogBackFile = nullptr;
  QPushButton* bbnLogBackFileOpen = nullptr;
  QLabel* lblDateNote = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
};

}  // namespace bv::forms
