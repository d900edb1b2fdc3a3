#include "gui/forms/uBrackenvale.h"

#include <algorithm>
#include <utility>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QUrl>

#include "core/agent/job_store.h"
#include "core/db/login_rules.h"
#include "core/maintenance/backup_history.h"
#include "core/maintenance/command_builder.h"
#include "core/maintenance/command_executor.h"
#include "core/maintenance/database_list.h"
#include "core/maintenance/retention.h"
#include "core/scheduling/registration.h"
#include "core/scheduling/task_parameters.h"
#include "core/sys/system_info.h"
#include "core/tasks/task_argument.h"
#include "core/tasks/task_registration.h"
#include "gui/forms/agent_service_check.h"
#include "gui/forms/cron_notice.h"
#include "gui/forms/uAccount.h"
#include "gui/forms/uBackupHistory.h"
#include "gui/forms/uRestorePoint.h"
#include "gui/forms/uLogBackup.h"
#include "gui/forms/uSchedule.h"
#include "gui/forms/uSchedulePage.h"
#include "gui/forms/uServerSelect.h"
#include "gui/forms/uTaskSchedule.h"
#include "gui/widgets/error_report.h"
#include "gui/widgets/focus_widgets.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/generations_spin_box.h"
#include "gui/widgets/password_edit.h"
#include "gui/widgets/progress_window.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"
#include "gui/widgets/wait_cursor.h"

namespace bv::forms {

using widgets::guarded;
using widgets::makeBold;
using widgets::place;
using widgets::prompts;
using widgets::toQString;
using widgets::toUtf8;

namespace {

const QString kSelectServer = QStringLiteral("データベースサーバーを選択してください。");
const QString kEnterUser = QStringLiteral("ユーザー名を入力してください。");
const QString kEnterPassword = QStringLiteral("パスワードを入力してください。");
const QString kSelectDatabase = QStringLiteral("データベース名を選択してください。");
const QString kConfirmStart = QStringLiteral("を開始します。よろしいですか？");
const QString kFinished = QStringLiteral("が終了しました。");
const QString kLoginFailed = QStringLiteral("サーバにログインできませんでした。");
const QString kVistaRefusal = QStringLiteral("Windows Vistaはタスク編集に対応していません。");
const QString kCancelled = QStringLiteral("キャンセルされました。");
const QString kTaskAdded = QStringLiteral("タスクを追加しました。");
const QString kServerAlert = QStringLiteral("※サーバ上の有効なファイル名を入力してください");

QLabel* label(QWidget* parent, const char* name, const QString& text, int left, int top) {
  return place(new QLabel(text, parent), name, left, top);
}

QLabel* redNote(QWidget* parent, const char* name, const QString& text, int left, int top) {
  auto* note = label(parent, name, text, left, top);
  QPalette palette = note->palette();
  palette.setColor(QPalette::WindowText, Qt::red);
  note->setPalette(palette);
  return note;
}

// The link banner: 76 x 15, one look for rest and one for hover.
QPixmap bannerPixmap(const QColor& colour) {
  QPixmap pixmap(76, 15);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(colour);
  painter.drawRoundedRect(QRectF(0.5, 0.5, 75, 14), 3, 3);
  QFont font = QApplication::font();
  font.setPixelSize(10);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(QRect(0, 0, 76, 15), Qt::AlignCenter, QStringLiteral("Help"));
  return pixmap;
}

}  // namespace

TfrmBrackenvale::TfrmBrackenvale(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("frmBrackenvale"));
  setWindowTitle(QStringLiteral("Brackenvale"));
  setFixedSize(426, 549);
  BuildControls();
  ConnectHandlers();
  FormCreate();
}

TfrmBrackenvale::~TfrmBrackenvale() = default;

void TfrmBrackenvale::BuildControls() {
  Panel1 = place(new QFrame(this), "Panel1", 104, 8, 217, 33);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  auto* title = new QLabel(QStringLiteral("Brackenvale"), Panel1);
  title->setObjectName(QStringLiteral("lblTitle"));
  title->setGeometry(0, 0, 217, 33);
  title->setAlignment(Qt::AlignCenter);
  QFont titleFont = title->font();
  titleFont.setPixelSize(17);
  titleFont.setBold(true);
  title->setFont(titleFont);

  imgGreen = place(new QLabel(this), "imgGreen", 215, 514, 76, 15);
  imgGreen->setPixmap(bannerPixmap(QColor(0x2E, 0x8B, 0x57)));
  imgGreen->setVisible(false);
  imgBlue = place(new QLabel(this), "imgBlue", 134, 514, 76, 15);
  imgBlue->setPixmap(bannerPixmap(QColor(0x1E, 0x5A, 0xA8)));
  imgBlue->setVisible(false);
  imgView = place(new QLabel(this), "imgView", 342, 10, 76, 15);
  imgView->setPixmap(imgGreen->pixmap());
  lbWin = place(new QLabel(this), "lbWin", 342, 10, 76, 15);
  lbWin->setAttribute(Qt::WA_TranslucentBackground);
  lbWin->setCursor(Qt::PointingHandCursor);
  lbWin->installEventFilter(this);

  pnlTarget = place(new QFrame(this), "pnlTarget", 8, 48, 409, 169);
  pnlTarget->setFrameStyle(QFrame::Panel | QFrame::Raised);
  gbxTarget =
      place(new QGroupBox(QStringLiteral("対象データベース"), pnlTarget), "gbxTarget", 8, 8, 393, 157);
  lblServer = label(gbxTarget, "lblServer", QStringLiteral("データベースサーバ"), 12, 20);
  auto* server = new widgets::FocusReportingLineEdit(gbxTarget);
  editServer = place(server, "editServer", 128, 16, 121, 20);
  bbnSvrList = place(new QPushButton(QStringLiteral("..."), gbxTarget), "bbnSvrList", 249, 16, 24, 20);
  bbnSvrList->setToolTip(QStringLiteral("一覧からサーバを選択します"));
  rbWindows =
      place(new QRadioButton(QStringLiteral("Windows 認証"), gbxTarget), "rbWindows", 16, 40, 108, 20);
  rbWindows->setChecked(true);
  rbSQLServer =
      place(new QRadioButton(QStringLiteral("SQL Server 認証"), gbxTarget), "rbSQLServer", 128, 40, 130, 20);
  lblLoginName = label(gbxTarget, "lblLoginName", QStringLiteral("ログイン名"), 12, 78);
  editUser = place(new QLineEdit(gbxTarget), "editUser", 128, 74, 121, 20);
  lblPassword = label(gbxTarget, "lblPassword", QStringLiteral("パスワード"), 12, 104);
  editPass = place(widgets::makePasswordEdit(gbxTarget), "editPass", 128, 100, 121, 20);
  lblDatabase = label(gbxTarget, "lblDatabase", QStringLiteral("データベース名"), 12, 128);
  auto* database = new widgets::FocusReportingComboBox(gbxTarget);
  cmbDatabase = place(database, "cmbDatabase", 128, 124, 145, 20);
  cmbDatabase->setEditable(false);
  bbnReloadList =
      place(new QPushButton(QStringLiteral("最新"), gbxTarget), "bbnReloadList", 276, 124, 45, 20);
  bbnReloadList->setToolTip(QStringLiteral("現在の接続情報を用い、データベース一覧を最新の状態へ更新します"));

  pgOperation = place(new QTabWidget(this), "pgOperation", 8, 224, 409, 279);

  tabBasic = new QWidget;
  tabBasic->setObjectName(QStringLiteral("tabBasic"));
  gbxOutput = place(new QGroupBox(QStringLiteral("出力先"), tabBasic), "gbxOutput", 8, 4, 385, 86);
  lblBackFile = label(gbxOutput, "lblBackFile", QStringLiteral("バックアップファイル"), 12, 20);
  editBackFilePath = place(new QLineEdit(gbxOutput), "editBackFilePath", 12, 38, 330, 20);
  bbnBackFilePathOpen = place(new QPushButton(gbxOutput), "bbnBackFilePathOpen", 346, 38, 24, 20);
  bbnBackFilePathOpen->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  bbnBackFilePathOpen->setToolTip(QStringLiteral("ファイルを選択します"));
  // The kind of backup, in BackupKind's order; a differential or a log goes to a file of its own.
  lblBackupKind = label(gbxOutput, "lblBackupKind", QStringLiteral("種類"), 220, 20);
  cmbBackupKind = place(new QComboBox(gbxOutput), "cmbBackupKind", 252, 14, 118, 20);
  cmbBackupKind->addItems({QStringLiteral("完全"), QStringLiteral("差分"), QStringLiteral("ログ")});
  cmbBackupKind->setToolTip(QStringLiteral("差分とログは、ファイル名に %time% を含めて 1 回ごとに別のファイルにします"));
  lblServerAlert = redNote(gbxOutput, "lblServerAlert", kServerAlert, 12, 64);
  lblDateNote1 = redNote(tabBasic, "lblDateNote1",
                         QStringLiteral("※ファイル名中に「%date%」を指定すると実行した"), 8, 96);
  lblDateNote2 = redNote(tabBasic, "lblDateNote2", QStringLiteral("   年月日に置換されます。"), 8, 111);
  lblDateNote3 =
      redNote(tabBasic, "lblDateNote3", QStringLiteral(" （例：emp_%date%.dmp→emp_20080101.dmp）"), 8, 126);
  chkVerify = place(new QCheckBox(QStringLiteral("完了時にベリファイを行う"), tabBasic), "chkVerify", 8, 146,
                    240, 18);
  chkChecksum = place(new QCheckBox(QStringLiteral("チェックサムを付ける"), tabBasic), "chkChecksum", 250, 146, 143, 18);
  chkChecksum->setToolTip(QStringLiteral("WITH CHECKSUM でバックアップします（SQL Server 2005 以降）"));
  // What becomes of the backup afterwards: the files kept, and a test restore.
  lblGenerations = label(tabBasic, "lblGenerations", QStringLiteral("保存世代数"), 8, 173);
  spedtGenerations = place(new widgets::GenerationsSpinBox(maintenance::kMinGenerations, maintenance::kMaxGenerations, tabBasic), "spedtGenerations", 80, 170, 70, 20);
  chkTestRestore = place(new QCheckBox(QStringLiteral("完了時にテストレストアを行う"), tabBasic), "chkTestRestore",
                         168, 171, 225, 18);
  lblGenerationsNote =
      redNote(tabBasic, "lblGenerationsNote", toQString(maintenance::kGenerationsNeedDateNote), 8, 193);
  lblGenerationsNote->setVisible(false);
  spedtGenerations->setEnabled(false);
  btnSchedule =
      place(new QPushButton(QStringLiteral("エージェントに登録"), tabBasic), "btnSchedule", 8, 214, 125, 25);
  btnSchedule->setToolTip(QStringLiteral("SQLServerエージェントへ、バックアップジョブの登録を行います"));
  btnMakeScdl =
      place(new QPushButton(QStringLiteral("タスクに追加"), tabBasic), "btnMakeScdl", 139, 214, 125, 25);
  btnEditScdl =
      place(new QPushButton(QStringLiteral("タスクの編集"), tabBasic), "btnEditScdl", 270, 214, 125, 25);
  for (QPushButton* button : {btnSchedule, btnMakeScdl, btnEditScdl}) makeBold(button);
  pgOperation->addTab(tabBasic, QStringLiteral("バックアップ"));

  tabOption = new QWidget;
  tabOption->setObjectName(QStringLiteral("tabOption"));
  gbxRestore = place(new QGroupBox(QStringLiteral("復元元"), tabOption), "gbxRestore", 8, 4, 385, 86);
  lblRestFile = label(gbxRestore, "lblRestFile", QStringLiteral("バックアップファイル"), 12, 20);
  editRestFilePath = place(new QLineEdit(gbxRestore), "editRestFilePath", 12, 38, 330, 20);
  bbnRestFilePathOpen = place(new QPushButton(gbxRestore), "bbnRestFilePathOpen", 346, 38, 24, 20);
  bbnRestFilePathOpen->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  bbnRestFilePathOpen->setToolTip(QStringLiteral("ファイルを選択します"));
  lblServerAlert2 = redNote(gbxRestore, "lblServerAlert2", kServerAlert, 12, 64);
  btnRestorePoint =
      place(new QPushButton(QStringLiteral("復元ポイントを選んで復元..."), tabOption), "btnRestorePoint", 8, 100, 200, 25);
  pgOperation->addTab(tabOption, QStringLiteral("レストア"));

  tabTransaction = new QWidget;
  tabTransaction->setObjectName(QStringLiteral("tabTransaction"));
  lblTransaction1 =
      label(tabTransaction, "lblTransaction1",
            QStringLiteral("トランザクションログの切り捨てと、データファイルの圧縮を行い、"), 16, 24);
  lblTransaction2 =
      label(tabTransaction, "lblTransaction2", QStringLiteral("ディスクの空き容量を増加させます。"), 16, 42);
  pgOperation->addTab(tabTransaction, QStringLiteral("ログの切り捨て"));
  pgOperation->setCurrentIndex(0);

  btnCreate = place(new QPushButton(QStringLiteral("今すぐ実行"), this), "btnCreate", 16, 514, 101, 25);
  btnCreate->setToolTip(QStringLiteral("現在選択されているタブの処理を実行します"));
  btnClose = place(new QPushButton(QStringLiteral("終了"), this), "btnClose", 313, 514, 97, 25);
  btnBackupHistory =
      place(new QPushButton(QStringLiteral("バックアップ履歴"), this), "btnBackupHistory", 165, 514, 120, 25);
  btnBackupHistory->setToolTip(QStringLiteral("選択したデータベースのバックアップ履歴を表示します"));
  btnClose->setToolTip(QStringLiteral("プログラムを終了します"));
  makeBold(btnCreate);
  makeBold(btnClose);

  lbWin->raise();

  // Keyboard order: the target group, then the tabs and the two buttons.
  QWidget* order[] = {editServer,  bbnSvrList,    rbWindows,   rbSQLServer, editUser, editPass,
                      cmbDatabase, bbnReloadList, pgOperation, btnCreate,   btnBackupHistory, btnClose};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) setTabOrder(order[i], order[i + 1]);
  for (QLabel* passive : findChildren<QLabel*>()) passive->setFocusPolicy(Qt::NoFocus);
}

void TfrmBrackenvale::ConnectHandlers() {
  auto* server = static_cast<widgets::FocusReportingLineEdit*>(editServer);
  auto* database = static_cast<widgets::FocusReportingComboBox*>(cmbDatabase);
  connect(server, &widgets::FocusReportingLineEdit::focusLeft, this,
          guarded(this, &TfrmBrackenvale::editServerExit));
  connect(database, &widgets::FocusReportingComboBox::focusLeft, this,
          guarded(this, &TfrmBrackenvale::editServerExit));
  connect(database, &widgets::FocusReportingComboBox::focusEntered, this,
          guarded(this, &TfrmBrackenvale::cmbDatabaseDropDown));
  connect(rbWindows, &QRadioButton::clicked, this, guarded(this, &TfrmBrackenvale::rbWindowsClick));
  connect(rbSQLServer, &QRadioButton::clicked, this, guarded(this, &TfrmBrackenvale::rbSQLServerClick));
  connect(bbnReloadList, &QPushButton::clicked, this, guarded(this, &TfrmBrackenvale::bbnReloadListClick));
  connect(bbnSvrList, &QPushButton::clicked, this, guarded(this, &TfrmBrackenvale::bbnSvrListClick));
  connect(btnCreate, &QPushButton::clicked, this, guarded(this, &TfrmBrackenvale::btnCreateClick));
  connect(btnBackupHistory, &QPushButton::clicked, this, guarded(this, &TfrmBrackenvale::btnBackupHistoryClick));
  connect(btnClose, &QPushButton::clicked, this, guarded(this, &TfrmBrackenvale::btnCloseClick));
  connect(btnSchedule, &QPushButton::clicked, this, guarded(this, &TfrmBrackenvale::btnScheduleClick));
  connect(btnMakeScdl, &QPushButton::clicked, this, guarded(this, &TfrmBrackenvale::btnMakeScdlClick));
  connect(btnEditScdl, &QPushButton::clicked, this, guarded(this, &TfrmBrackenvale::btnEditScdlClick));
  connect(editBackFilePath, &QLineEdit::textChanged, this, guarded(this, &TfrmBrackenvale::editBackFilePathChange));
  connect(cmbBackupKind, &QComboBox::currentIndexChanged, this,
          guarded(this, &TfrmBrackenvale::editBackFilePathChange));
  connect(bbnBackFilePathOpen, &QPushButton::clicked, this,
          guarded(this, &TfrmBrackenvale::bbnBackFilePathOpenClick));
  connect(btnRestorePoint, &QPushButton::clicked, this, guarded(this, &TfrmBrackenvale::btnRestorePointClick));
  connect(bbnRestFilePathOpen, &QPushButton::clicked, this,
          guarded(this, &TfrmBrackenvale::bbnRestFilePathOpenClick));
}

bool TfrmBrackenvale::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lbWin) {
    const auto run = [](auto handler) { guarded(std::move(handler))(); };
    switch (event->type()) {
      case QEvent::Enter:
        run([this] { lbWinMouseEnter(); });
        break;
      case QEvent::Leave:
        run([this] { lbWinMouseLeave(); });
        break;
      case QEvent::MouseButtonRelease:
        if (lbWin->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
          run([this] { lbWinClick(); });
        }
        return true;
      default:
        break;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void TfrmBrackenvale::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!FShownOnce) {
    FShownOnce = true;
    guarded(this, &TfrmBrackenvale::FormShow)();
  }
}

void TfrmBrackenvale::FormCreate() {
  FComputerName = toQString(sys::computerName());
  FServerIsLocal = true;
}

void TfrmBrackenvale::FormShow() {
  rbWindowsClick();
  editServer->setFocus(Qt::ActiveWindowFocusReason);
}

QString TfrmBrackenvale::HelpPagePath() {
  // Beside the program in the build tree; installed, the program lies in <prefix>/lib/brackenvale
  // and the page in <prefix>/share/brackenvale/help (cmake/Packaging.cmake). Both relative to
  // the folder of the program's own executable, where it finds Brackenrun too, so a tree
  // installed or unpacked anywhere opens its own page.
  const QDir programFolder(toQString(sys::executableFolder().string()));
  const QString beside = programFolder.filePath(QStringLiteral("help/index.html"));
  const QString installed =
      QDir::cleanPath(programFolder.filePath(QStringLiteral("../../share/brackenvale/help/index.html")));
  return QFileInfo::exists(beside) || !QFileInfo::exists(installed) ? beside : installed;
}

db::LoginSettings TfrmBrackenvale::GetLoginSettings() const {
  return {toUtf8(editServer->text()), FUseSqlAuth, toUtf8(editUser->text()), toUtf8(editPass->text())};
}

// --- Login group ---------------------------------------------------------------------------

void TfrmBrackenvale::rbWindowsClick() {
  FUseSqlAuth = false;
  editUser->clear();
  editPass->clear();
  SetLoginFieldsEnabled(false);
}

void TfrmBrackenvale::rbSQLServerClick() {
  FUseSqlAuth = true;
  SetLoginFieldsEnabled(true);
}

void TfrmBrackenvale::SetLoginFieldsEnabled(bool enabled) {
  editUser->setEnabled(enabled);
  editPass->setEnabled(enabled);
  lblLoginName->setEnabled(enabled);
  lblPassword->setEnabled(enabled);
}

void TfrmBrackenvale::editServerExit() {
  const bool local = db::isLocalServer(toUtf8(editServer->text()), toUtf8(FComputerName));
  lblServerAlert->setVisible(!local);
  lblServerAlert2->setVisible(!local);
  bbnBackFilePathOpen->setEnabled(local);
  bbnRestFilePathOpen->setEnabled(local);
  if (local != FServerIsLocal) {
    editBackFilePath->clear();
    FServerIsLocal = local;
  }
}

void TfrmBrackenvale::bbnReloadListClick() { RefreshDatabaseList(); }

void TfrmBrackenvale::cmbDatabaseDropDown() { RefreshDatabaseList(); }

void TfrmBrackenvale::RefreshDatabaseList() {
  if (!RequireLoginFields()) return;
  cmbDatabase->clear();
  maintenance::DatabaseList list;
  try {
    widgets::WaitCursor hourglass;
    list = maintenance::readDatabaseList(GetLoginSettings());
  } catch (const maintenance::LoginFailed&) {
    prompts().error(this, kLoginFailed);
    return;
  }
  FDefaultDatabase = toQString(list.defaultDatabase.value_or(std::string()));
  for (const auto& entry : list.entries()) cmbDatabase->addItem(toQString(entry));
  cmbDatabase->setCurrentIndex(0);
}

QString TfrmBrackenvale::GetDatabaseName(const QComboBox* box) const {
  return toQString(maintenance::resolveDatabaseName(toUtf8(box->currentText()), toUtf8(FDefaultDatabase)));
}

// --- Run now -------------------------------------------------------------------------------

QString TfrmBrackenvale::OperationName() const {
  switch (pgOperation->currentIndex()) {
    case 0:
      return toQString(maintenance::operationName(maintenance::Operation::Backup));
    case 1:
      return toQString(maintenance::operationName(maintenance::Operation::Restore));
    default:
      return toQString(maintenance::operationName(maintenance::Operation::TruncateLog));
  }
}

bool TfrmBrackenvale::RequireField(QLineEdit* edit, const QString& message) {
  if (!edit->text().isEmpty()) return true;
  prompts().error(this, message);
  edit->setFocus(Qt::OtherFocusReason);
  return false;
}

bool TfrmBrackenvale::RequireLoginFields() {
  if (!RequireField(editServer, kSelectServer)) return false;
  if (!FUseSqlAuth) return true;
  return RequireField(editUser, kEnterUser) && RequireField(editPass, kEnterPassword);
}

bool TfrmBrackenvale::ValidateLoginInputs() {
  if (!RequireLoginFields()) return false;
  if (cmbDatabase->currentIndex() == -1) {
    prompts().error(this, kSelectDatabase);
    return false;
  }
  return true;
}

maintenance::BackupKind TfrmBrackenvale::SelectedKind() const {
  return static_cast<maintenance::BackupKind>(std::max(0, cmbBackupKind->currentIndex()));
}

maintenance::BackupRequest TfrmBrackenvale::BackupRequest() const {
  return {GetLoginSettings(),
          toUtf8(GetDatabaseName(cmbDatabase)),
          toUtf8(editBackFilePath->text()),
          chkVerify->isChecked(),
          Generations(),
          chkTestRestore->isChecked(),
          SelectedKind(),
          chkChecksum->isChecked()};
}

int TfrmBrackenvale::Generations() const {
  return spedtGenerations->isEnabled() ? spedtGenerations->value() : maintenance::kKeepAllGenerations;
}

void TfrmBrackenvale::editBackFilePathChange() {
  // Generations are kept only of a file whose name carries %date%.
  const QString path = editBackFilePath->text();
  const bool applies = maintenance::retentionApplies(toUtf8(path));
  spedtGenerations->setEnabled(applies);
  lblGenerations->setEnabled(applies);
  const auto note = maintenance::generationsNote(
      toUtf8(path), SelectedKind());
  if (note) {
    lblGenerationsNote->setText(toQString(*note));
    lblGenerationsNote->adjustSize();
  }
  lblGenerationsNote->setVisible(note.has_value());
}

maintenance::RestoreRequest TfrmBrackenvale::RestoreRequest() const {
  return {GetLoginSettings(), toUtf8(GetDatabaseName(cmbDatabase)), toUtf8(editRestFilePath->text())};
}

maintenance::TruncateRequest TfrmBrackenvale::TruncateRequest() const {
  maintenance::TruncateRequest request;
  request.login = GetLoginSettings();
  request.database = toUtf8(GetDatabaseName(cmbDatabase));
  return request;
}

bool TfrmBrackenvale::Accepted(const std::optional<maintenance::RequestProblem>& problem) {
  if (!problem) return true;
  prompts().error(this, toQString(problem->message));
  QWidget* input = editBackFilePath;
  switch (problem->input) {
    case maintenance::RequestInput::RestoreFile:
      input = editRestFilePath;
      break;
    case maintenance::RequestInput::Generations:
      input = spedtGenerations;
      break;
    case maintenance::RequestInput::Kind:
      input = cmbBackupKind;
      break;
    case maintenance::RequestInput::Checksum:
      input = chkChecksum;
      break;
    case maintenance::RequestInput::BackupFile:
      break;
  }
  input->setFocus(Qt::OtherFocusReason);
  return false;
}

void TfrmBrackenvale::btnCreateClick() {
  if (!ValidateLoginInputs()) return;
  const int tab = pgOperation->currentIndex();
  // Every request is built here, on the window's thread, once: the worker below reads no widget,
  // and what the controls say while it runs changes nothing that is sent.
  maintenance::BackupRequest backup;
  maintenance::RestoreRequest restore;
  if (tab == 0) {
    backup = BackupRequest();
    if (!Accepted(maintenance::check(backup))) return;
  }
  if (tab == 1) {
    restore = RestoreRequest();
    if (!Accepted(maintenance::check(restore))) return;
  }

  const QString operation = OperationName();
  maintenance::TruncateRequest truncation = TruncateRequest();
  if (tab == 2) {
    // From SQL Server 2008 on the recovery model decides how the log is truncated.
    maintenance::TruncationPlan planned;
    {
      widgets::WaitCursor hourglass;
      planned = maintenance::plan(truncation);
    }
    truncation.road = planned.road;
    if (planned.breaksLogChain &&
        !prompts().confirmYesNo(this, toQString(maintenance::truncationBreaksChainQuestion(truncation.database)))) {
      return;
    }
    if (planned.road == maintenance::TruncationRoad::LogBackup) {
      if (!prompts().confirmYesNo(this, toQString(maintenance::logBackupQuestion(truncation.database,
                                                                                  planned.recoveryModel)))) {
        return;
      }
      if (FLogBackup == nullptr) FLogBackup = new TfrmLogBackup(this);
      const std::optional<QString> file = FLogBackup->AskFile(FLogBackupFile, FServerIsLocal);
      if (!file) return;
      FLogBackupFile = *file;
      truncation.logBackupFile = toUtf8(*file);
    }
  }
  if (truncation.road != maintenance::TruncationRoad::LogBackup &&
      !prompts().confirmOkCancel(this, operation + kConfirmStart)) {
    return;
  }
  maintenance::OperationOutcome outcome;
  const int result = ExecuteCommand(
      [&](const maintenance::MessageSink& report, const maintenance::PercentSink& percent) {
        switch (tab) {
          case 0:
            return maintenance::run(std::move(backup), report, percent);
          case 1:
            return maintenance::run(std::move(restore), report, percent);
          default:
            return maintenance::run(truncation, report, percent);
        }
      },
      operation, &outcome);
  if (result != 0) return;
  // A backup its proof found damaged is no backup to keep: one error box says so and what to do.
  if (outcome.proof && outcome.proof->result == maintenance::ProofOutcome::Result::Damaged) {
    prompts().error(this, toQString(outcome.proof->message));
    return;
  }
  // The end box; after a backup that kept its generations it names the files that went.
  prompts().information(this, outcome.message.empty() ? operation + kFinished : toQString(outcome.message));
  if (outcome.proof && outcome.proof->result == maintenance::ProofOutcome::Result::Failed) {
    prompts().error(this, toQString(outcome.proof->message));
  }
  if (outcome.prune && !outcome.prune->succeeded) prompts().error(this, toQString(outcome.prune->errorMessage));
}

std::string TfrmBrackenvale::BuildBackupCommand() const { return maintenance::batchOf(BackupRequest()); }

std::string TfrmBrackenvale::BuildRestoreCommand() const { return maintenance::batchOf(RestoreRequest()); }

std::string TfrmBrackenvale::BuildTruncateLogCommand() const {
  return maintenance::buildTruncateLogCommand(toUtf8(GetDatabaseName(cmbDatabase)));
}

std::string TfrmBrackenvale::BuildShrinkCommand() const {
  return maintenance::buildShrinkCommand(toUtf8(GetDatabaseName(cmbDatabase)));
}

int TfrmBrackenvale::ExecuteCommand(const Road& road, const QString& operationName,
                                    maintenance::OperationOutcome* outcomeOut) {
  maintenance::OperationOutcome outcome;
  widgets::WaitCursor hourglass;
  // The server works on a thread of its own while this one keeps the window alive.
  widgets::runWithProgress(this, operationName, [&](const widgets::ProgressReport& report) {
    outcome = road([&](const db::ErrorEntry& message) { report(toQString(message.message)); },
                   [&](const maintenance::Progress& progress) {
                     report.percent(progress.percent,
                                    progress.left ? toQString(maintenance::timeLeftText(*progress.left)) : QString(),
                                    toQString(progress.step));
                   });
  });
  const bool succeeded = outcome.succeeded;
  if (!succeeded) prompts().error(this, toQString(outcome.message));
  if (outcomeOut != nullptr) *outcomeOut = std::move(outcome);
  return succeeded ? 0 : -1;
}

void TfrmBrackenvale::btnBackupHistoryClick() {
  if (!ValidateLoginInputs()) return;
  const QString database = GetDatabaseName(cmbDatabase);
  maintenance::BackupHistory history;
  try {
    widgets::WaitCursor hourglass;
    history = maintenance::readBackupHistory(db::loginConnectionSettings(GetLoginSettings()), toUtf8(database));
  } catch (const db::ProviderError& error) {
    prompts().error(this, QStringLiteral("バックアップ履歴の取得でエラーが発生しました。\r\n\r\n") +
                              QString::fromUtf8(error.what()));
    return;
  }
  if (FBackupHistory == nullptr) FBackupHistory = new TfrmBackupHistory(this);
  FBackupHistory->FillHistory(database, history);
  FBackupHistory->exec();
}

void TfrmBrackenvale::btnRestorePointClick() {
  if (!ValidateLoginInputs()) return;
  TfrmRestorePoint dialog(this);
  if (dialog.HandOver(GetLoginSettings(), GetDatabaseName(cmbDatabase))) dialog.exec();
}

// --- Scheduling buttons --------------------------------------------------------------------

void TfrmBrackenvale::btnScheduleClick() {
  if (!ValidateLoginInputs()) return;
  // Express has no Agent: a job would never run. The road that works there is the task.
  std::optional<int> edition;
  {
    widgets::WaitCursor hourglass;
    edition = agent::readEngineEdition(db::loginConnectionSettings(GetLoginSettings()));
  }
  if (edition == agent::kExpressEngineEdition) {
    if (prompts().confirmYesNo(this, toQString(agent::kExpressOffersTask))) btnMakeScdlClick();
    return;
  }
  if (!checkAgentService(this, FServerIsLocal)) return;
  TfrmSchedule* dialog = ScheduleDialog();
  if (dialog == nullptr) return;
  dialog->HandOver(editServer->text(), GetDatabaseName(cmbDatabase), editBackFilePath->text(),
                   editUser->text(), editPass->text(), FServerIsLocal, FUseSqlAuth);
  dialog->HandOverKind(SelectedKind(),
                       chkChecksum->isChecked());
  dialog->exec();  // its result is not looked at
}

std::string TfrmBrackenvale::BuildTaskCommandLine() const {
  try {
    return scheduling::encodeTaskParameters(BackupRequest());
  } catch (const tasks::TaskArgumentError&) {
    return {};  // a text that code page 932 cannot carry
  }
}

void TfrmBrackenvale::btnMakeScdlClick() {
  if (!ValidateLoginInputs()) return;
  const maintenance::BackupRequest request = BackupRequest();
  std::optional<scheduling::TaskProblem> problem;
  {
    widgets::WaitCursor hourglass;
    problem = scheduling::checkBackupTask(request);
  }
  if (problem) {
    if (problem->input) {
      Accepted(maintenance::RequestProblem{*problem->input, std::move(problem->message)});
    } else {
      prompts().error(this, toQString(problem->message));
    }
    return;
  }
  TfrmAccount* account = AccountDialog();
  if (account == nullptr || account->exec() != QDialog::Accepted) {
    prompts().information(this, kCancelled);
    return;
  }
  if (scheduling::registerBackupTask(request, toUtf8(account->UserName()), toUtf8(account->Password()),
                                    pageOwner(this, SchedulePage())) ==
      tasks::TaskRegistrationResult::Cancelled) {
    prompts().information(this, kCancelled);
    return;
  }
  prompts().information(this, kTaskAdded);
  if (cronNoticeDue()) prompts().information(this, toQString(cronNoticeText()));
}

bool TfrmBrackenvale::IsWindowsVista() const { return sys::isWindowsVista(sys::osVersion()); }

void TfrmBrackenvale::btnEditScdlClick() {
  if (IsWindowsVista()) {
    prompts().information(this, kVistaRefusal);
    return;
  }
  if (TfrmTaskSchedule* dialog = TaskScheduleDialog()) dialog->exec();
}

void TfrmBrackenvale::bbnSvrListClick() {
  TfrmServerList* dialog = ServerListDialog();
  if (dialog == nullptr) return;
  // Only an OK changes the box; the local-server decision runs when the focus leaves it.
  if (const std::optional<QString> chosen = dialog->ChooseServer()) {
    editServer->setText(*chosen);
    editServer->setFocus(Qt::OtherFocusReason);
  }
}

// --- The dialogs, made on first use -------------------------------------------------------

void TfrmBrackenvale::MakeDialogsOnFirstUse(servers::ServerEnumeratorFactory serverEnumerators) {
  FMakeDialogs = true;
  FServerEnumerators = std::move(serverEnumerators);
}

TfrmAccount* TfrmBrackenvale::AccountDialog() {
  if (FAccount == nullptr && FMakeDialogs) FAccount = new TfrmAccount(this);
  return FAccount;
}

TfrmSchedule* TfrmBrackenvale::ScheduleDialog() {
  if (FSchedule == nullptr && FMakeDialogs) FSchedule = new TfrmSchedule(this);
  return FSchedule;
}

TfrmServerList* TfrmBrackenvale::ServerListDialog() {
  if (FServerList == nullptr && FMakeDialogs) FServerList = new TfrmServerList(FServerEnumerators, this);
  return FServerList;
}

TfrmTaskSchedule* TfrmBrackenvale::TaskScheduleDialog() {
  if (FTaskSchedule == nullptr && FMakeDialogs) {
    FTaskSchedule = new TfrmTaskSchedule(this);
    FTaskSchedule->SetSchedulePage(SchedulePage());
  }
  return FTaskSchedule;
}

tasks::SchedulePage* TfrmBrackenvale::SchedulePage() {
  if (FSchedulePage == nullptr && FMakeDialogs) {
    FProgramSchedulePage = std::make_unique<SchedulePageOnFirstShow>();
    FSchedulePage = FProgramSchedulePage.get();
  }
  return FSchedulePage;
}

// --- Files, link, close --------------------------------------------------------------------

void TfrmBrackenvale::bbnBackFilePathOpenClick() {
  if (const auto path = prompts().openFileName(this)) editBackFilePath->setText(*path);
}

void TfrmBrackenvale::bbnRestFilePathOpenClick() {
  if (const auto path = prompts().openFileName(this)) editRestFilePath->setText(*path);
}

void TfrmBrackenvale::lbWinClick() { prompts().openUrl(QUrl::fromLocalFile(HelpPagePath())); }

void TfrmBrackenvale::lbWinMouseEnter() { imgView->setPixmap(imgBlue->pixmap()); }

void TfrmBrackenvale::lbWinMouseLeave() { imgView->setPixmap(imgGreen->pixmap()); }

void TfrmBrackenvale::btnCloseClick() { close(); }

}  // namespace bv::forms
