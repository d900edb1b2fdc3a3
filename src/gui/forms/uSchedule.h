// The Agent job dialog "エージェント スケジュール登録": the jobs registered with SQL Server Agent
// (upper group) and a new backup job to add (lower group). The main window hands over its
// login and database with HandOver() and shows the dialog modally; while shown, the dialog
// keeps one connection of its own.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/agent/job_catalogue.h"
#include "core/agent/job_registration.h"
#include "core/agent/job_store.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTreeWidget;

namespace bv::widgets {
class MaskEdit;
}

namespace bv::forms {

class TfrmSchedule : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmSchedule(QWidget* parent = nullptr);
  ~TfrmSchedule() override;

  // What the opener sets before it shows the dialog, in this order: the server as typed, the
  // database (its default entry resolved), the backup path (into editBackFile), the login
  // name, the password, whether the server runs on this computer, and whether SQL Server
  // authentication is used. Then the opener calls exec() and ignores its result.
  void HandOver(const QString& serverName, const QString& databaseName, const QString& backupFile,
                const QString& userName, const QString& password, bool serverIsLocal, bool useSqlAuth);
  // The kind of backup and the checksum the main window has chosen, as the new job's first choice.
  void HandOverKind(maintenance::BackupKind kind, bool checksum);

  // Event handlers, each run through the application's error report.
  void FormCreate();
  void FormShow();
  void FormHide();
  void btnEndClick();
  void btnInsertClick();
  void btnDeleteClick();
  void bbnBackFilePathOpenClick();
  void editBackFileChange();
  void rbRunClick(QRadioButton* sender);

  // The job list (upper group).
  void ConnectToServer();
  void RefreshJobList();
  std::int32_t GetServerVersion();  // -1 on failure
  QString LoadJobList();            // the error's text, empty on success
  void FillJobListView();

  // Registration and removal (lower group and the delete button).
  bool ValidateInput();
  bv::agent::AgentDateTime ParseStartTime(const QString& text) const;
  bool JobExists(const QString& name);
  bv::agent::TJobEntry CollectJobSettings() const;
  bool RegisterJob();
  bool AddJob(const bv::agent::TJobEntry& entry);
  bool AddJobStep(const bv::agent::TJobEntry& entry);
  bool AddJobSchedule(const bv::agent::TJobEntry& entry);
  bool AddJobServer(const bv::agent::TJobEntry& entry);
  bool DeleteJob(const QString& name);

  // State, for the opener and for tests.
  const QString& ServerName() const { return FServerName; }
  const QString& DatabaseName() const { return FDatabaseName; }
  const QString& UserName() const { return FUserName; }
  const QString& Password() const { return FPassword; }
  bool ServerIsLocal() const { return FServerIsLocal; }
  bool UseSqlAuth() const { return FUseSqlAuth; }
  std::int32_t ServerVersion() const { return FServerVersion; }
  const std::vector<bv::agent::TJobEntry>& JobList() const { return FJobList; }
  bool IsConnected() const { return FJobStore.isOpen(); }
  // The settings of the connection the dialog opens.
  bv::db::ConnectionSettings GetConnectionSettings() const;
  // The Tag of a schedule radio button: its Agent freq_type.
  static int TagOf(const QRadioButton* button);

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void BuildControls();
  void ConnectHandlers();
  // Runs one step of the job store; on a provider error shows header + CR LF CR LF + its
  // text, false.
  template <typename Step>
  bool RunStep(Step step, std::string_view failureHeader);
  // The new-job group's inputs as they stand.
  bv::agent::JobInputs CollectJobInputs() const;
  // Closes the dialog once the handler in progress has returned.
  void CloseSoon();

  QString FServerName;
  QString FDatabaseName;
  QString FUserName;
  QString FPassword;
  bool FServerIsLocal = false;
  bool FUseSqlAuth = false;
  std::int32_t FServerVersion = 0;
  std::vector<bv::agent::TJobEntry> FJobList;
  // The dialog's one connection while it is shown, and what it asks of msdb.
  bv::agent::JobStore FJobStore;

  // Controls, each with its objectName.
  QGroupBox* gbxJobList = nullptr;
  QTreeWidget* lvScdlList = nullptr;
  QPushButton* btnDelete = nullptr;
  QGroupBox* gbxNewJob = nullptr;
  QLabel* lblJobName = nullptr;
  QLineEdit* editJobName = nullptr;
  QLabel* lblBackFile = nullptr;
  QLabel* lblGenerations = nullptr;
  QSpinBox* spedtGenerations = nullptr;
  QCheckBox* chkTestRestore = nullptr;
  QLabel* lblBackupKind = nullptr;
  QComboBox* cmbBackupKind = nullptr;
  // The kind chosen in cmbBackupKind (its items are in BackupKind's order).
  maintenance::BackupKind SelectedKind() const;
  QCheckBox* chkChecksum = nullptr;
  QLabel* lblGenerationsNote = nullptr;
  QLineEdit* editBackFile = nullptr;
  QPushButton* bbnBackFilePathOpen = nullptr;
  QLabel* lblDesc = nullptr;
  QLineEdit* editDesc = nullptr;
  QLabel* lblStartTime = nullptr;
  bv::widgets::MaskEdit* medtStartTime = nullptr;
  QLabel* lblSchedule = nullptr;
  QRadioButton* rbRunOnce = nullptr;
  QRadioButton* rbRunDaily = nullptr;
  // Every N minutes of the day from the start time up to the end time.
  QRadioButton* rbRunEveryMinutes = nullptr;
  QSpinBox* spedtEveryMinutes = nullptr;
  QLabel* lblEveryMinutes = nullptr;
  QLabel* lblEndTime = nullptr;
  bv::widgets::MaskEdit* medtEndTime = nullptr;
  QRadioButton* rbRunWeekly = nullptr;
  QRadioButton* rbRunMonthly = nullptr;
  QDateEdit* dtpStartDate = nullptr;
  QCheckBox* chkMon = nullptr;
  QCheckBox* chkTue = nullptr;
  QCheckBox* chkWed = nullptr;
  QCheckBox* chkThu = nullptr;
  QCheckBox* chkFri = nullptr;
  QCheckBox* chkSat = nullptr;
  QCheckBox* chkSun = nullptr;
  QSpinBox* spedtDay = nullptr;
  QLabel* lblDay = nullptr;
  QPushButton* btnInsert = nullptr;
  QPushButton* btnEnd = nullptr;
};

}  // namespace bv::forms
