// The dialog "バックアップ履歴": the selected database's backups from the server's own history,
// newest first, read-only, with a header line saying how old the newest full backup and the
// newest proven one are. The rows can be copied as text.
#pragma once

#include <QString>

#include "core/maintenance/backup_history.h"
#include "gui/widgets/history_dialog.h"

class QLabel;

namespace bv::forms {

class TfrmBackupHistory : public widgets::HistoryDialog {
  Q_OBJECT

 public:
  explicit TfrmBackupHistory(QWidget* parent = nullptr);

  // Fills the list and the header (without showing the dialog).
  void FillHistory(const QString& databaseName, const maintenance::BackupHistory& history);

 private:
  QLabel* lblSummary = nullptr;
  QTreeWidget* lvHistory = nullptr;
};

}  // namespace bv::forms
