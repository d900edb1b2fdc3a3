// The dialog "復元ポイントを選んで復元": the selected database's backups from the server's history
// or from the backup files in a folder on the server, a moment ("最新の状態" or a date and time on
// the server's clock), the plan of the sets to restore shown before anything is touched, and the
// restore under a new name. The planning and the restore are the core's; the form only shows them.
#pragma once

#include <QDialog>
#include <QString>

#include "core/db/connection_settings.h"
#include "core/maintenance/restore_plan.h"

class QCheckBox;
class QDateTimeEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace bv::forms {

class TfrmRestorePoint : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmRestorePoint(QWidget* parent = nullptr);

  // The server and login of the main window, and the database to restore. Reads the history;
  // false (after saying why) when the server cannot be read or offers no such restore.
  bool HandOver(const db::LoginSettings& login, const QString& databaseName);

 private:
  void rbSourceClick();
  void btnReadFilesClick();
  void MomentChange();
  void btnRestoreClick();
  void FillPlan();
  // The reachable range of the sets shown, worked out when they change (not with each moment).
  void FillRange();

  db::LoginSettings FLogin;
  QString FDatabaseName;
  bool FSimpleRecovery = false;
  std::vector<maintenance::BackupSetEntry> FHistorySets;
  std::vector<maintenance::BackupSetEntry> FFileSets;
  std::optional<maintenance::RestorePlan> FPlan;

  QGroupBox* gbxSource = nullptr;
  QRadioButton* rbFromHistory = nullptr;
  QRadioButton* rbFromFiles = nullptr;
  QLineEdit* editFolder = nullptr;
  QPushButton* btnReadFiles = nullptr;
  QLabel* lblOtherSets = nullptr;
  QGroupBox* gbxMoment = nullptr;
  QRadioButton* rbLatest = nullptr;
  QRadioButton* rbMoment = nullptr;
  QDateTimeEdit* dtpMoment = nullptr;
  QLabel* lblRange = nullptr;
  QTreeWidget* lvPlan = nullptr;
  QLabel* lblPlan = nullptr;
  QGroupBox* gbxTarget = nullptr;
  QLabel* lblNewName = nullptr;
  QLineEdit* editNewName = nullptr;
  QCheckBox* chkCheckAfter = nullptr;
  QPushButton* btnRestore = nullptr;
  QPushButton* btnClose = nullptr;
};

}  // namespace bv::forms
