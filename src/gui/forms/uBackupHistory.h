// The dialog "バックアップ履歴": the selected database's backups from the server's own history,
// newest first, read-only, with a header line saying how old the newest full backup and the
// newest proven one are. The rows can be copied as text.
#pragma once

#include <QDialog>
#include <QString>

#include "core/maintenance/backup_history.h"

class QLabel;
class QPushButton;
class QTreeWidget;

namespace bv::forms {

class TfrmBackupHistory : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmBackupHistory(QWidget* parent = nullptr);

  // Fills the list and the header (without showing the dialog).
  void FillHistory(const QString& databaseName, const maintenance::BackupHistory& history);
  // The rows as text, a line each, fields separated by tabs, the captions first.
  QString HistoryText() const;

  void btnCopyClick();

 private:
  QLabel* lblSummary = nullptr;
  QTreeWidget* lvHistory = nullptr;
  QPushButton* btnCopy = nullptr;
  QPushButton* btnClose = nullptr;
};

}  // namespace bv::forms
