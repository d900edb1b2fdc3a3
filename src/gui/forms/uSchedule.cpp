#include "gui/forms/uSchedule.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <optional>

#include "core/agent/job_registration.h"
#include "core/maintenance/retention.h"
#include "core/scheduling/registration.h"
#include "gui/widgets/error_report.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/generations_spin_box.h"
#include "gui/widgets/mask_edit.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"
#include "gui/widgets/wait_cursor.h"

namespace bv::forms {

using agent::TJobEntry;
using widgets::guarded;
using widgets::named;
using widgets::prompts;
using widgets::toQString;
using widgets::toUtf8;

namespace {

const QString kTitle = QStringLiteral("エージェント スケジュール登録");
const QString kBreak = QStringLiteral("\r\n\r\n");

agent::AgentDate today() {
  const QDate date = QDate::currentDate();
  return {date.year(), date.month(), date.day()};
}

// The list's columns: caption and width.
const widgets::ListColumn kColumns[] = {
    {"No", 30},
    {"ジョブ名", 80},
    {"バックアップファイル", 120},
    {"設定実行日", 80},
    {"実行時間", 65},
    {"最終実行状態（日時）", 150},
    {"次回実行日時", 120},
    {"説明", 150},
};
constexpr int kStartTimeColumn = 4;

}  // namespace

TfrmSchedule::TfrmSchedule(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("frmSchedule"));
  setWindowTitle(kTitle);
  setModal(true);
  BuildControls();
  ConnectHandlers();
  FormCreate();
}

TfrmSchedule::~TfrmSchedule() = default;

void TfrmSchedule::BuildControls() {
  auto* root = new QVBoxLayout(this);

  // Upper group: the registered jobs.
  gbxJobList = named(new QGroupBox(QStringLiteral("現在登録されているジョブ一覧"), this), "gbxJobList");
  auto* listLayout = new QVBoxLayout(gbxJobList);
  lvScdlList = named(new QTreeWidget(gbxJobList), "lvScdlList");
  widgets::makeReportList(lvScdlList, kColumns, 150);
  lvScdlList->headerItem()->setTextAlignment(kStartTimeColumn, Qt::AlignCenter);
  listLayout->addWidget(lvScdlList);
  btnDelete = named(new QPushButton(QStringLiteral("削除"), gbxJobList), "btnDelete");
  btnDelete->setEnabled(false);
  auto* deleteRow = new QHBoxLayout;
  deleteRow->addStretch();
  deleteRow->addWidget(btnDelete);
  listLayout->addLayout(deleteRow);
  root->addWidget(gbxJobList, 1);

  // Lower group: the job to add.
  gbxNewJob = named(new QGroupBox(QStringLiteral("今回追加するバックアップジョブ"), this), "gbxNewJob");
  auto* grid = new QGridLayout(gbxNewJob);
  grid->setColumnStretch(2, 1);
  int row = 0;
  lblJobName = named(new QLabel(QStringLiteral("ジョブ名"), gbxNewJob), "lblJobName");
  editJobName = named(new QLineEdit(gbxNewJob), "editJobName");
  editJobName->setMaxLength(128);
  grid->addWidget(lblJobName, row, 0);
  grid->addWidget(editJobName, row, 1, 1, 3);
  ++row;
  lblBackFile = named(new QLabel(QStringLiteral("バックアップファイル"), gbxNewJob), "lblBackFile");
  editBackFile = named(new QLineEdit(gbxNewJob), "editBackFile");
  bbnBackFilePathOpen = named(new QPushButton(gbxNewJob), "bbnBackFilePathOpen");
  bbnBackFilePathOpen->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  bbnBackFilePathOpen->setToolTip(QStringLiteral("ファイルを選択します"));
  grid->addWidget(lblBackFile, row, 0);
  grid->addWidget(editBackFile, row, 1, 1, 2);
  grid->addWidget(bbnBackFilePathOpen, row, 3);
  ++row;
  // The kind of backup the job makes (BackupKind's order), and its checksums.
  lblBackupKind = named(new QLabel(QStringLiteral("種類"), gbxNewJob), "lblBackupKind");
  cmbBackupKind = named(new QComboBox(gbxNewJob), "cmbBackupKind");
  cmbBackupKind->addItems({QStringLiteral("完全"), QStringLiteral("差分"), QStringLiteral("ログ")});
  cmbBackupKind->setToolTip(QStringLiteral("差分とログは、ファイル名に %time% を含めて 1 回ごとに別のファイルにします"));
  chkChecksum = named(new QCheckBox(QStringLiteral("チェックサムを付ける"), gbxNewJob), "chkChecksum");
  auto* kindRow = new QHBoxLayout;
  kindRow->addWidget(cmbBackupKind);
  kindRow->addSpacing(12);
  kindRow->addWidget(chkChecksum);
  kindRow->addStretch();
  grid->addWidget(lblBackupKind, row, 0);
  grid->addLayout(kindRow, row, 1, 1, 3);
  ++row;
  // What the job does after its backup: the backup files kept, and a test restore.
  lblGenerations = named(new QLabel(QStringLiteral("保存世代数"), gbxNewJob), "lblGenerations");
  spedtGenerations = named(new widgets::GenerationsSpinBox(maintenance::kMinGenerations, maintenance::kMaxGenerations, gbxNewJob), "spedtGenerations");
  spedtGenerations->setEnabled(false);
  chkTestRestore = named(new QCheckBox(QStringLiteral("完了時にテストレストアを行う"), gbxNewJob), "chkTestRestore");
  auto* after = new QHBoxLayout;
  after->addWidget(spedtGenerations);
  after->addSpacing(12);
  after->addWidget(chkTestRestore);
  after->addStretch();
  grid->addWidget(lblGenerations, row, 0);
  grid->addLayout(after, row, 1, 1, 3);
  ++row;
  lblGenerationsNote =
      named(new QLabel(toQString(maintenance::kGenerationsNeedDateNote), gbxNewJob), "lblGenerationsNote");
  QPalette notePalette = lblGenerationsNote->palette();
  notePalette.setColor(QPalette::WindowText, Qt::red);
  lblGenerationsNote->setPalette(notePalette);
  // Its line stays in the layout while it is hidden, so the dialog keeps its size as a path is typed.
  QSizePolicy notePolicy = lblGenerationsNote->sizePolicy();
  notePolicy.setRetainSizeWhenHidden(true);
  lblGenerationsNote->setSizePolicy(notePolicy);
  lblGenerationsNote->setVisible(false);
  grid->addWidget(lblGenerationsNote, row, 1, 1, 3);
  ++row;
  lblDesc = named(new QLabel(QStringLiteral("説明"), gbxNewJob), "lblDesc");
  editDesc = named(new QLineEdit(gbxNewJob), "editDesc");
  editDesc->setMaxLength(512);
  grid->addWidget(lblDesc, row, 0);
  grid->addWidget(editDesc, row, 1, 1, 3);
  ++row;
  lblStartTime = named(new QLabel(QStringLiteral("実行開始時間"), gbxNewJob), "lblStartTime");
  // An optional first hour digit, then required digits: hh:nn:ss, empty positions shown as "_".
  medtStartTime =
      named(new widgets::MaskEdit(QStringLiteral("09:99:99"), QLatin1Char('_'), gbxNewJob), "medtStartTime");
  medtStartTime->setFixedWidth(medtStartTime->fontMetrics().horizontalAdvance(QStringLiteral("00:00:00")) +
                               16);
  medtStartTime->setMaskedText(QStringLiteral("00:00:00"));
  grid->addWidget(lblStartTime, row, 0);
  grid->addWidget(medtStartTime, row, 1, Qt::AlignLeft);
  ++row;

  lblSchedule = named(new QLabel(QStringLiteral("実行スケジュール"), gbxNewJob), "lblSchedule");
  rbRunOnce = named(new QRadioButton(QStringLiteral("指定日に１回のみ実行"), gbxNewJob), "rbRunOnce");
  rbRunDaily = named(new QRadioButton(QStringLiteral("毎日の指定時間に実行"), gbxNewJob), "rbRunDaily");
  rbRunEveryMinutes = named(new QRadioButton(QStringLiteral("毎日（N 分ごと）"), gbxNewJob), "rbRunEveryMinutes");
  rbRunWeekly = named(new QRadioButton(QStringLiteral("毎週の指定曜日に実行"), gbxNewJob), "rbRunWeekly");
  rbRunMonthly = named(new QRadioButton(QStringLiteral("毎月の指定日に実行"), gbxNewJob), "rbRunMonthly");
  rbRunOnce->setProperty("Tag", agent::kFreqOnce);
  rbRunDaily->setProperty("Tag", agent::kFreqDaily);
  rbRunEveryMinutes->setProperty("Tag", agent::kFreqDaily);
  rbRunWeekly->setProperty("Tag", agent::kFreqWeekly);
  rbRunMonthly->setProperty("Tag", agent::kFreqMonthly);
  rbRunOnce->setChecked(true);

  dtpStartDate = named(new QDateEdit(QDate::currentDate(), gbxNewJob), "dtpStartDate");
  dtpStartDate->setCalendarPopup(true);
  dtpStartDate->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));

  auto* days = new QHBoxLayout;
  const auto day = [&](const char* name, const char* caption) {
    auto* box = named(new QCheckBox(QString::fromUtf8(caption), gbxNewJob), name);
    days->addWidget(box);
    return box;
  };
  chkMon = day("chkMon", "月");
  chkTue = day("chkTue", "火");
  chkWed = day("chkWed", "水");
  chkThu = day("chkThu", "木");
  chkFri = day("chkFri", "金");
  chkSat = day("chkSat", "土");
  chkSun = day("chkSun", "日");
  days->addStretch();

  spedtDay = named(new QSpinBox(gbxNewJob), "spedtDay");
  spedtDay->setRange(1, 31);
  spedtDay->setValue(1);
  lblDay = named(new QLabel(QStringLiteral("日"), gbxNewJob), "lblDay");
  auto* monthDay = new QHBoxLayout;
  monthDay->addWidget(spedtDay);
  monthDay->addWidget(lblDay);
  monthDay->addStretch();

  spedtEveryMinutes = named(new QSpinBox(gbxNewJob), "spedtEveryMinutes");
  spedtEveryMinutes->setRange(1, 720);
  spedtEveryMinutes->setValue(15);
  lblEveryMinutes = named(new QLabel(QStringLiteral("分ごと"), gbxNewJob), "lblEveryMinutes");
  lblEndTime = named(new QLabel(QStringLiteral("終了時間"), gbxNewJob), "lblEndTime");
  medtEndTime = named(new widgets::MaskEdit(QStringLiteral("09:99:99"), QLatin1Char('_'), gbxNewJob), "medtEndTime");
  medtEndTime->setFixedWidth(medtStartTime->minimumWidth());
  medtEndTime->setMaskedText(QStringLiteral("23:59:59"));
  auto* everyMinutes = new QHBoxLayout;
  everyMinutes->addWidget(spedtEveryMinutes);
  everyMinutes->addWidget(lblEveryMinutes);
  everyMinutes->addSpacing(12);
  everyMinutes->addWidget(lblEndTime);
  everyMinutes->addWidget(medtEndTime);
  everyMinutes->addStretch();

  grid->addWidget(lblSchedule, row, 0, Qt::AlignTop);
  grid->addWidget(rbRunOnce, row, 1);
  grid->addWidget(dtpStartDate, row, 2, Qt::AlignLeft);
  ++row;
  grid->addWidget(rbRunDaily, row, 1);
  ++row;
  grid->addWidget(rbRunEveryMinutes, row, 1);
  grid->addLayout(everyMinutes, row, 2, 1, 2);
  ++row;
  grid->addWidget(rbRunWeekly, row, 1);
  grid->addLayout(days, row, 2, 1, 2);
  ++row;
  grid->addWidget(rbRunMonthly, row, 1);
  grid->addLayout(monthDay, row, 2, 1, 2);
  ++row;

  btnInsert = named(new QPushButton(QStringLiteral("追加"), gbxNewJob), "btnInsert");
  auto* insertRow = new QHBoxLayout;
  insertRow->addStretch();
  insertRow->addWidget(btnInsert);
  grid->addLayout(insertRow, row, 0, 1, 4);
  root->addWidget(gbxNewJob, 0);

  btnEnd = named(new QPushButton(QStringLiteral("戻る"), this), "btnEnd");
  auto* endRow = new QHBoxLayout;
  endRow->addStretch();
  endRow->addWidget(btnEnd);
  root->addLayout(endRow);

  // Enter in an edit box must not press a button of its own accord.
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }

  QWidget* order[] = {lvScdlList,  btnDelete,     editJobName, editBackFile, bbnBackFilePathOpen,
                      cmbBackupKind, chkChecksum,
                      editDesc,    medtStartTime, rbRunOnce,   dtpStartDate, rbRunDaily,
                      rbRunEveryMinutes, spedtEveryMinutes, medtEndTime,
                      rbRunWeekly, chkMon,        chkTue,      chkWed,       chkThu,
                      chkFri,      chkSat,        chkSun,      rbRunMonthly, spedtDay,
                      btnInsert,   btnEnd};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  for (QLabel* passive : findChildren<QLabel*>()) passive->setFocusPolicy(Qt::NoFocus);
}

void TfrmSchedule::ConnectHandlers() {
  connect(btnEnd, &QPushButton::clicked, this, guarded(this, &TfrmSchedule::btnEndClick));
  connect(btnInsert, &QPushButton::clicked, this, guarded(this, &TfrmSchedule::btnInsertClick));
  connect(btnDelete, &QPushButton::clicked, this, guarded(this, &TfrmSchedule::btnDeleteClick));
  connect(bbnBackFilePathOpen, &QPushButton::clicked, this,
          guarded(this, &TfrmSchedule::bbnBackFilePathOpenClick));
  connect(editBackFile, &QLineEdit::textChanged, this, guarded(this, &TfrmSchedule::editBackFileChange));
  connect(cmbBackupKind, &QComboBox::currentIndexChanged, this, guarded(this, &TfrmSchedule::editBackFileChange));
  for (QRadioButton* button : {rbRunOnce, rbRunDaily, rbRunEveryMinutes, rbRunWeekly, rbRunMonthly}) {
    connect(button, &QRadioButton::toggled, this, [this, button](bool checked) {
      if (checked) guarded([this, button] { rbRunClick(button); })();
    });
  }
}

void TfrmSchedule::HandOverKind(maintenance::BackupKind kind, bool checksum) {
  cmbBackupKind->setCurrentIndex(static_cast<int>(kind));
  chkChecksum->setChecked(checksum);
}

void TfrmSchedule::HandOver(const QString& serverName, const QString& databaseName, const QString& backupFile,
                            const QString& userName, const QString& password, bool serverIsLocal,
                            bool useSqlAuth) {
  FServerName = serverName;
  FDatabaseName = databaseName;
  editBackFile->setText(backupFile);
  FUserName = userName;
  FPassword = password;
  FServerIsLocal = serverIsLocal;
  FUseSqlAuth = useSqlAuth;
}

void TfrmSchedule::editBackFileChange() {
  // Generations are kept only of a file whose name carries %date%, judged on the job's own path.
  const QString path = editBackFile->text();
  const bool applies = maintenance::retentionApplies(toUtf8(path));
  spedtGenerations->setEnabled(applies);
  lblGenerations->setEnabled(applies);
  const auto note = maintenance::generationsNote(
      toUtf8(path), SelectedKind());
  if (note) lblGenerationsNote->setText(toQString(*note));
  lblGenerationsNote->setVisible(note.has_value());
}

int TfrmSchedule::TagOf(const QRadioButton* button) { return button->property("Tag").toInt(); }

db::ConnectionSettings TfrmSchedule::GetConnectionSettings() const {
  return agent::agentConnectionSettings(
      {toUtf8(FServerName), FUseSqlAuth, toUtf8(FUserName), toUtf8(FPassword)}, toUtf8(FDatabaseName));
}

// --- Showing and hiding ----------------------------------------------------------------------

void TfrmSchedule::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) guarded(this, &TfrmSchedule::FormShow)();
}

void TfrmSchedule::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (!event->spontaneous()) guarded(this, &TfrmSchedule::FormHide)();
}

void TfrmSchedule::FormCreate() { FJobList.clear(); }

void TfrmSchedule::FormShow() {
  ConnectToServer();
  RefreshJobList();
}

void TfrmSchedule::FormHide() { FJobStore.close(); }

void TfrmSchedule::btnEndClick() {
  FJobStore.close();
  reject();
}

void TfrmSchedule::CloseSoon() {
  // Queued, so that it also works while the dialog is still being shown: the modal loop
  // then ends as soon as it runs.
  QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
}

// --- The job list ----------------------------------------------------------------------------

void TfrmSchedule::ConnectToServer() {
  dtpStartDate->setDate(QDate::currentDate());
  medtStartTime->setMaskedText(QStringLiteral("00:00:00"));
  rbRunOnce->setChecked(true);
  rbRunClick(rbRunOnce);
  bbnBackFilePathOpen->setEnabled(FServerIsLocal);
  try {
    widgets::WaitCursor hourglass;
    FJobStore.open(GetConnectionSettings());
  } catch (const std::exception& e) {
    prompts().error(this, toQString(agent::kConnectFailed) + kBreak + QString::fromUtf8(e.what()));
    FJobStore.close();
    CloseSoon();
  }
}

void TfrmSchedule::RefreshJobList() {
  const std::int32_t version = GetServerVersion();
  if (version != -1) FServerVersion = version;
  LoadJobList();  // a failed load leaves what was read before; it is not reported
  FillJobListView();
}

std::int32_t TfrmSchedule::GetServerVersion() {
  std::int32_t version = -1;
  try {
    widgets::WaitCursor hourglass;
    version = FJobStore.serverVersion();
  } catch (const std::exception& e) {
    prompts().error(this, toQString(agent::kVersionFailed) + kBreak + QString::fromUtf8(e.what()));
    return -1;
  }
  if (version == -1) {
    prompts().error(this, toQString(agent::kVersionFailed) + kBreak + toQString(agent::kVersionUnknown));
  }
  return version;
}

QString TfrmSchedule::LoadJobList() {
  try {
    widgets::WaitCursor hourglass;
    FJobStore.loadJobs(FServerVersion, FJobList);
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  }
  return {};
}

void TfrmSchedule::FillJobListView() {
  lvScdlList->clear();
  int number = 0;
  for (const TJobEntry& entry : FJobList) {
    auto* item = new QTreeWidgetItem(lvScdlList);
    const QString texts[] = {
        QString::number(++number),
        toQString(entry.Name),
        toQString(entry.BackupFile),
        toQString(entry.ScheduleText),
        toQString(agent::startTimeText(entry)),
        toQString(agent::lastOutcomeText(entry)),
        toQString(agent::nextRunText(entry)),
        toQString(entry.Description),
    };
    for (int column = 0; column < static_cast<int>(std::size(texts)); ++column) {
      item->setText(column, texts[column]);
      item->setToolTip(column, texts[column]);  // the whole text where the column cuts it off
    }
    item->setTextAlignment(kStartTimeColumn, Qt::AlignCenter);
  }
  lvScdlList->viewport()->update();
  btnDelete->setEnabled(!FJobList.empty());
}

// --- Registration ----------------------------------------------------------------------------

void TfrmSchedule::rbRunClick(QRadioButton* sender) {
  const int tag = TagOf(sender);
  dtpStartDate->setEnabled(tag == agent::kFreqOnce);
  for (QCheckBox* box : {chkSun, chkMon, chkTue, chkWed, chkThu, chkFri, chkSat}) {
    box->setEnabled(tag == agent::kFreqWeekly);
  }
  spedtDay->setEnabled(tag == agent::kFreqMonthly);
  spedtEveryMinutes->setEnabled(sender == rbRunEveryMinutes);
  medtEndTime->setEnabled(sender == rbRunEveryMinutes);
}

void TfrmSchedule::bbnBackFilePathOpenClick() {
  if (const auto path = prompts().openFileName(this)) editBackFile->setText(*path);
}

maintenance::BackupKind TfrmSchedule::SelectedKind() const {
  return static_cast<maintenance::BackupKind>(std::max(0, cmbBackupKind->currentIndex()));
}

agent::JobInputs TfrmSchedule::CollectJobInputs() const {
  agent::JobInputs inputs;
  inputs.jobName = toUtf8(editJobName->text());
  inputs.description = toUtf8(editDesc->text());
  inputs.backup.backupFile = toUtf8(editBackFile->text());
  inputs.startTimeText = toUtf8(medtStartTime->maskedText());
  for (QRadioButton* button : {rbRunOnce, rbRunDaily, rbRunEveryMinutes, rbRunWeekly, rbRunMonthly}) {
    if (button->isChecked()) inputs.freqType = TagOf(button);
  }
  if (rbRunEveryMinutes->isChecked()) inputs.everyMinutes = spedtEveryMinutes->value();
  inputs.endTimeText = toUtf8(medtEndTime->maskedText());
  const QDate date = dtpStartDate->date();
  inputs.startDate = {date.year(), date.month(), date.day()};
  inputs.weekDays = {chkSun->isChecked(), chkMon->isChecked(), chkTue->isChecked(), chkWed->isChecked(),
                     chkThu->isChecked(), chkFri->isChecked(), chkSat->isChecked()};
  inputs.monthDay = spedtDay->value();
  inputs.backup.generations = spedtGenerations->isEnabled() ? spedtGenerations->value() : 0;
  inputs.backup.testRestore = chkTestRestore->isChecked();
  inputs.backup.kind = SelectedKind();
  inputs.backup.checksum = chkChecksum->isChecked();
  inputs.backup.database = toUtf8(FDatabaseName);
  inputs.serverVersion = FServerVersion;
  return inputs;
}

agent::AgentDateTime TfrmSchedule::ParseStartTime(const QString& text) const {
  return agent::ParseStartTime(toUtf8(text), today());
}

bool TfrmSchedule::ValidateInput() {
  agent::JobInputs inputs = CollectJobInputs();
  if (inputs.backup.kind == maintenance::BackupKind::Log) {
    try {
      inputs.recoveryModel = FJobStore.recoveryModel(inputs.backup.database);
    } catch (const db::ProviderError&) {
      // Unread: the server's own 4208 then speaks when the job runs.
    }
  }
  const auto problem = agent::validateJobInputs(inputs, FServerIsLocal, today());
  if (!problem) return true;
  prompts().error(this, toQString(problem->message));
  QWidget* focus = nullptr;
  switch (problem->input) {
    case agent::JobInput::JobName:
      focus = editJobName;
      break;
    case agent::JobInput::StartTime:
      focus = medtStartTime;
      break;
    case agent::JobInput::EndTime:
      focus = medtEndTime;
      break;
    case agent::JobInput::BackupFile:
      focus = editBackFile;
      break;
    case agent::JobInput::WeekDays:
      focus = chkMon;
      break;
    case agent::JobInput::Generations:
      focus = spedtGenerations;
      break;
    case agent::JobInput::TestRestore:
      focus = chkTestRestore;
      break;
    case agent::JobInput::Kind:
      focus = cmbBackupKind;
      break;
    case agent::JobInput::Checksum:
      focus = chkChecksum;
      break;
  }
  focus->setFocus(Qt::OtherFocusReason);
  return false;
}

bool TfrmSchedule::JobExists(const QString& name) { return FJobStore.jobExists(toUtf8(name)); }

TJobEntry TfrmSchedule::CollectJobSettings() const {
  return agent::CollectJobSettings(CollectJobInputs(), today());
}

void TfrmSchedule::btnInsertClick() {
  std::optional<widgets::WaitCursor> hourglass;
  hourglass.emplace();
  if (!ValidateInput()) return;
  if (JobExists(editJobName->text())) {
    hourglass.reset();
    prompts().error(this, toQString(agent::kJobExists));
    editJobName->setFocus(Qt::OtherFocusReason);
    return;
  }
  if (RegisterJob()) RefreshJobList();
}

bool TfrmSchedule::RegisterJob() {
  const TJobEntry entry = CollectJobSettings();
  try {
    // A transaction that cannot begin reaches the error report.
    const scheduling::JobRegistration registration =
        scheduling::registerBackupJob(FJobStore, entry, toUtf8(FUserName), toUtf8(FDatabaseName));
    if (!registration.registered) {
      prompts().error(this, toQString(registration.message));
      return false;
    }
    prompts().information(this, toQString(agent::kJobRegistered));
    return true;
  } catch (const scheduling::UnexpectedRegistrationError& e) {
    prompts().error(this, toQString(agent::kUnexpectedError) + kBreak + QString::fromUtf8(e.what()));
    CloseSoon();
    return false;
  }
}

template <typename Step>
bool TfrmSchedule::RunStep(Step step, std::string_view failureHeader) {
  try {
    step();
    return true;
  } catch (const db::ProviderError& e) {
    prompts().error(this, toQString(failureHeader) + kBreak + QString::fromUtf8(e.what()));
    return false;
  }
}

// --- Removal ---------------------------------------------------------------------------------

void TfrmSchedule::btnDeleteClick() {
  const QList<QTreeWidgetItem*> selected = lvScdlList->selectedItems();
  if (selected.isEmpty()) {
    prompts().warning(this, toQString(agent::kSelectJobToDelete));
    return;
  }
  const QString name = selected.front()->text(1);
  if (!prompts().confirmOkCancel(this, toQString(agent::deleteConfirmation(toUtf8(name))))) return;
  DeleteJob(name);
  RefreshJobList();
}

bool TfrmSchedule::DeleteJob(const QString& name) {
  widgets::WaitCursor hourglass;
  return RunStep([&] { FJobStore.deleteJob(toUtf8(name)); }, agent::kDeleteJobFailed);
}

}  // namespace bv::forms
