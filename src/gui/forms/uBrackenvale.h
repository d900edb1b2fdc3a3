// The main window: the login group, the three operation tabs and the run-now road.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/maintenance/operations.h"
#include "core/servers/server_enumerator.h"
#include "core/tasks/schedule_page.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;

namespace bv::forms {

class TfrmAccount;
class TfrmSchedule;
class TfrmServerList;
class TfrmTaskSchedule;
class TfrmLogBackup;
class TfrmBackupHistory;
class SchedulePageOnFirstShow;

class TfrmBrackenvale : public QWidget {
  Q_OBJECT

 public:
  explicit TfrmBrackenvale(QWidget* parent = nullptr);
  ~TfrmBrackenvale() override;

  // Event handlers, each run through the application's error report.
  void FormCreate();
  void FormShow();
  void btnCreateClick();
  void btnCloseClick();
  void btnBackupHistoryClick();
  void btnScheduleClick();
  void btnMakeScdlClick();
  void btnEditScdlClick();
  void bbnBackFilePathOpenClick();
  void bbnRestFilePathOpenClick();
  void btnRestorePointClick();
  void bbnSvrListClick();
  void lbWinClick();
  void lbWinMouseEnter();
  void lbWinMouseLeave();
  void rbWindowsClick();
  void rbSQLServerClick();
  void editServerExit();
  void bbnReloadListClick();
  void cmbDatabaseDropDown();
  void editBackFilePathChange();

  // Operations of the window.
  void SetLoginFieldsEnabled(bool enabled);
  void RefreshDatabaseList();
  QString GetDatabaseName(const QComboBox* box) const;
  std::string BuildBackupCommand() const;
  std::string BuildRestoreCommand() const;
  std::string BuildTruncateLogCommand() const;
  std::string BuildShrinkCommand() const;
  // Runs one of the maintenance roads behind the progress window; 0, or -1 after its error box.
  using Road = std::function<bv::maintenance::OperationOutcome(const bv::maintenance::MessageSink&,
                                                                const bv::maintenance::PercentSink&)>;
  int ExecuteCommand(const Road& road, const QString& operationName,
                     bv::maintenance::OperationOutcome* outcome = nullptr);
  // The requests the tabs describe, read from the controls as they stand.
  bv::maintenance::BackupRequest BackupRequest() const;
  bv::maintenance::RestoreRequest RestoreRequest() const;
  bv::maintenance::TruncateRequest TruncateRequest() const;
  // The backup files to keep: the field's value while it applies, else 0 (keep all).
  int Generations() const;
  // The argument string of a backup task; empty when a text cannot be encoded.
  std::string BuildTaskCommandLine() const;
  bool IsWindowsVista() const;

  // State shared with the dialogs.
  const QString& ComputerName() const { return FComputerName; }
  bool ServerIsLocal() const { return FServerIsLocal; }
  bool UseSqlAuth() const { return FUseSqlAuth; }
  const QString& DefaultDatabase() const { return FDefaultDatabase; }
  // The login group's inputs, read as they stand.
  bv::db::LoginSettings GetLoginSettings() const;

  // The help page that the link label opens.
  static QString HelpPagePath();

  // The dialogs this window opens. The program has the window make each one, as its child,
  // the first time a button needs it, and keep it; the server list asks through
  // `serverEnumerators`. Without this call (a test's window) a button whose dialog was not
  // handed in through its setter does nothing after its checks.
  void MakeDialogsOnFirstUse(bv::servers::ServerEnumeratorFactory serverEnumerators);
  // A dialog of the caller's, used instead of one the window would make.
  void SetAccountDialog(TfrmAccount* dialog) { FAccount = dialog; }
  void SetScheduleDialog(TfrmSchedule* dialog) { FSchedule = dialog; }
  void SetServerList(TfrmServerList* dialog) { FServerList = dialog; }
  void SetTaskScheduleDialog(TfrmTaskSchedule* dialog) { FTaskSchedule = dialog; }
  // The schedule page a new task's schedule is set on (tests: a scripted one), handed on to the
  // task list it makes.
  void SetSchedulePage(bv::tasks::SchedulePage* page) { FSchedulePage = page; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void BuildControls();
  void ConnectHandlers();
  // An empty edit: its message, the focus into it, false.
  bool RequireField(QLineEdit* edit, const QString& message);
  // The server, then (SQL Server authentication only) the login name and the password.
  bool RequireLoginFields();
  // Steps shared by the run-now road and the scheduling buttons: the login fields, then the
  // database choice.
  bool ValidateLoginInputs();
  // A request's check: true when it passed; else its message, the focus in its input, false.
  bool Accepted(const std::optional<bv::maintenance::RequestProblem>& problem);
  QString OperationName() const;
  // Each dialog: the one handed in, else the one made on first use; null when there is neither.
  TfrmAccount* AccountDialog();
  TfrmSchedule* ScheduleDialog();
  TfrmServerList* ServerListDialog();
  TfrmTaskSchedule* TaskScheduleDialog();
  // The schedule page: the one handed in, else the program's, made on first use (its dialog on
  // its first showing); null when there is neither.
  bv::tasks::SchedulePage* SchedulePage();

  QString FComputerName;
  bool FServerIsLocal = true;
  bool FUseSqlAuth = false;
  QString FDefaultDatabase;
  bool FShownOnce = false;
  TfrmAccount* FAccount = nullptr;
  TfrmSchedule* FSchedule = nullptr;
  TfrmServerList* FServerList = nullptr;
  TfrmTaskSchedule* FTaskSchedule = nullptr;
  TfrmLogBackup* FLogBackup = nullptr;  // made on first use, a child of the window
  TfrmBackupHistory* FBackupHistory = nullptr;
  QString FLogBackupFile;               // the last log backup file, offered again
  bool FMakeDialogs = false;
  bv::servers::ServerEnumeratorFactory FServerEnumerators;
  bv::tasks::SchedulePage* FSchedulePage = nullptr;
  std::unique_ptr<SchedulePageOnFirstShow> FProgramSchedulePage;  // made on first use

  // Controls, each with its objectName.
  QFrame* Panel1 = nullptr;
  QLabel* imgView = nullptr;
  QLabel* lbWin = nullptr;
  QLabel* imgGreen = nullptr;
  QLabel* imgBlue = nullptr;
  QFrame* pnlTarget = nullptr;
  QGroupBox* gbxTarget = nullptr;
  QLabel* lblServer = nullptr;
  QLineEdit* editServer = nullptr;
  QPushButton* bbnSvrList = nullptr;
  QRadioButton* rbWindows = nullptr;
  QRadioButton* rbSQLServer = nullptr;
  QLabel* lblLoginName = nullptr;
  QLineEdit* editUser = nullptr;
  QLabel* lblPassword = nullptr;
  QLineEdit* editPass = nullptr;
  QLabel* lblDatabase = nullptr;
  QComboBox* cmbDatabase = nullptr;
  QPushButton* bbnReloadList = nullptr;
  QTabWidget* pgOperation = nullptr;
  QWidget* tabBasic = nullptr;
  QGroupBox* gbxOutput = nullptr;
  QLabel* lblBackFile = nullptr;
  QLineEdit* editBackFilePath = nullptr;
  QPushButton* bbnBackFilePathOpen = nullptr;
  QLabel* lblServerAlert = nullptr;
  QLabel* lblDateNote1 = nullptr;
  QLabel* lblDateNote2 = nullptr;
  QLabel* lblDateNote3 = nullptr;
  QLabel* lblBackupKind = nullptr;
  QComboBox* cmbBackupKind = nullptr;
  // The kind chosen in cmbBackupKind (its items are in BackupKind's order).
  maintenance::BackupKind SelectedKind() const;
  QCheckBox* chkVerify = nullptr;
  QCheckBox* chkChecksum = nullptr;
  QLabel* lblGenerations = nullptr;
  QSpinBox* spedtGenerations = nullptr;
  QCheckBox* chkTestRestore = nullptr;
  QLabel* lblGenerationsNote = nullptr;
  QPushButton* btnSchedule = nullptr;
  QPushButton* btnMakeScdl = nullptr;
  QPushButton* btnEditScdl = nullptr;
  QWidget* tabOption = nullptr;
  QGroupBox* gbxRestore = nullptr;
  QLabel* lblRestFile = nullptr;
  QLineEdit* editRestFilePath = nullptr;
  QPushButton* bbnRestFilePathOpen = nullptr;
  QPushButton* btnRestorePoint = nullptr;  // the restore to a moment, under a new name
  QLabel* lblServerAlert2 = nullptr;
  QWidget* tabTransaction = nullptr;
  QLabel* lblTransaction1 = nullptr;
  QLabel* lblTransaction2 = nullptr;
  QPushButton* btnCreate = nullptr;
  QPushButton* btnClose = nullptr;
  QPushButton* btnBackupHistory = nullptr;
};

}  // namespace bv::forms
