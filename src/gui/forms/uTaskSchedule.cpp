#include "gui/forms/uTaskSchedule.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStringList>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "core/tasks/TaskScdl.h"
#include "core/tasks/task_list.h"
#include "gui/forms/cron_notice.h"
#include "gui/forms/uMailSettings.h"
#include "gui/forms/uRunHistory.h"
#include "gui/forms/uSchedulePage.h"
#include "gui/widgets/error_report.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"
#include "gui/widgets/wait_cursor.h"

namespace bv::forms {

using widgets::guarded;
using widgets::prompts;
using widgets::toQString;
using widgets::toUtf8;

namespace {

const QString kSelectTaskToChange = QStringLiteral("変更するタスクを一覧より選択してください。");
const QString kSelectTaskToDelete = QStringLiteral("削除するタスクを一覧より選択してください。");
const QString kSelectTaskForHistory = QStringLiteral("実行履歴を表示するタスクを一覧より選択してください。");
const QString kNone = QStringLiteral("なし");
// %1: the start of the first failure the executor could not mail.
const QString kNoticeUnsent = QStringLiteral("通知メールを送信できませんでした（%1 の失敗から）");

// The widths of the system's list; a column whose full date and time, or generated name with the
// mark of a failed run before it, needs more in the font the list is drawn in (IPAPGothic's digits
// are wider at 12 pixels than those of ＭＳ Ｐゴシック's) is widened to that.
const widgets::ListColumn kColumns[] = {
    {"No", 30},
    {"タスク名", 200, "Brackenvale_00000000000000", true},
    {"スケジュール", 150},
    {"次回実行日時", 120, "0000/00/00 00:00:00"},
    {"最終実行日時", 120, "0000/00/00 00:00:00"},
};
constexpr int kNameColumn = 1;

// "yyyy/mm/dd hh:nn:ss", or "なし" for none.
QString dateTimeText(const tasks::SystemTime& time) {
  if (time.isZero()) return kNone;
  return QStringLiteral("%1/%2/%3 %4:%5:%6")
      .arg(time.year, 4, 10, QLatin1Char('0'))
      .arg(time.month, 2, 10, QLatin1Char('0'))
      .arg(time.day, 2, 10, QLatin1Char('0'))
      .arg(time.hour, 2, 10, QLatin1Char('0'))
      .arg(time.minute, 2, 10, QLatin1Char('0'))
      .arg(time.second, 2, 10, QLatin1Char('0'));
}

}  // namespace

TfrmTaskSchedule::TfrmTaskSchedule(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("frmTaskSchedule"));
  setWindowTitle(QStringLiteral("タスク編集"));
  setModal(true);
  BuildControls();
  connect(chkDispAll, &QCheckBox::clicked, this, guarded(this, &TfrmTaskSchedule::chkDispAllClick));
  connect(btnEdit, &QPushButton::clicked, this, guarded(this, &TfrmTaskSchedule::btnEditClick));
  connect(btnDelete, &QPushButton::clicked, this, guarded(this, &TfrmTaskSchedule::btnDeleteClick));
  connect(btnHistory, &QPushButton::clicked, this, guarded(this, &TfrmTaskSchedule::btnHistoryClick));
  connect(btnMailSettings, &QPushButton::clicked, this, guarded(this, &TfrmTaskSchedule::btnMailSettingsClick));
  connect(btnEnd, &QPushButton::clicked, this, guarded(this, &TfrmTaskSchedule::btnEndClick));
  FormCreate();
}

TfrmTaskSchedule::~TfrmTaskSchedule() { FormDestroy(); }

void TfrmTaskSchedule::BuildControls() {
  auto* root = new QVBoxLayout(this);
  gbxJobList = new QGroupBox(QStringLiteral("現在登録されているタスク一覧"), this);
  gbxJobList->setObjectName(QStringLiteral("gbxJobList"));
  auto* listLayout = new QVBoxLayout(gbxJobList);
  lvScdlList = new QTreeWidget(gbxJobList);
  lvScdlList->setObjectName(QStringLiteral("lvScdlList"));
  widgets::makeReportList(lvScdlList, kColumns, 200);
  listLayout->addWidget(lvScdlList);
  root->addWidget(gbxJobList, 1);

  lblCronNotice = new QLabel(toQString(cronNoticeText()), this);
  lblCronNotice->setObjectName(QStringLiteral("lblCronNotice"));
  QPalette palette = lblCronNotice->palette();
  palette.setColor(QPalette::WindowText, Qt::red);
  lblCronNotice->setPalette(palette);
  lblCronNotice->setVisible(false);
  root->addWidget(lblCronNotice);

  chkDispAll = new QCheckBox(QStringLiteral("全てのタスクを表示"), this);
  chkDispAll->setObjectName(QStringLiteral("chkDispAll"));
  chkDispAll->setChecked(false);
  btnEdit = new QPushButton(QStringLiteral("変更"), this);
  btnEdit->setObjectName(QStringLiteral("btnEdit"));
  btnDelete = new QPushButton(QStringLiteral("削除"), this);
  btnDelete->setObjectName(QStringLiteral("btnDelete"));
  btnHistory = widgets::named(new QPushButton(QStringLiteral("実行履歴"), this), "btnHistory");
  btnMailSettings = widgets::named(new QPushButton(QStringLiteral("メール通知の設定..."), this), "btnMailSettings");
  btnMailSettings->setAutoDefault(false);
  btnEnd = new QPushButton(QStringLiteral("戻る"), this);
  btnEnd->setObjectName(QStringLiteral("btnEnd"));
  auto* row = new QHBoxLayout;
  row->addWidget(chkDispAll);
  row->addSpacing(12);
  row->addWidget(btnMailSettings);
  row->addStretch();
  for (QPushButton* button : {btnEdit, btnDelete, btnHistory, btnEnd}) {
    widgets::makeBold(button);
    button->setAutoDefault(false);
    button->setMinimumWidth(80);
    row->addWidget(button);
  }
  root->addLayout(row);
  setTabOrder(lvScdlList, chkDispAll);
  setTabOrder(chkDispAll, btnMailSettings);
  setTabOrder(btnMailSettings, btnEdit);
  setTabOrder(btnEdit, btnDelete);
  setTabOrder(btnDelete, btnHistory);
  setTabOrder(btnHistory, btnEnd);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TfrmTaskSchedule::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      move(screen->availableGeometry().center() - rect().center());
    }
    guarded(this, &TfrmTaskSchedule::FormShow)();
  }
}

void TfrmTaskSchedule::FormCreate() { FTaskList.clear(); }

void TfrmTaskSchedule::FormShow() {
  lblCronNotice->setVisible(cronNoticeDue());
  RefreshTaskList();
}

void TfrmTaskSchedule::FormHide() {}

void TfrmTaskSchedule::FormDestroy() {}

void TfrmTaskSchedule::chkDispAllClick() { RefreshTaskList(); }

void TfrmTaskSchedule::btnEndClick() { close(); }

void TfrmTaskSchedule::RefreshTaskList() {
  LoadTaskList();  // a failed load shows the rows read before it, without a word
  FillTaskListView();
}

QString TfrmTaskSchedule::LoadTaskList() {
  try {
    widgets::WaitCursor hourglass;
    FTaskList = tasks::listTasks(chkDispAll->isChecked());
  } catch (const std::exception& error) {
    return QString::fromUtf8(error.what());
  }
  return {};
}

void TfrmTaskSchedule::FillTaskListView() {
  lvScdlList->clear();
  int number = 0;
  for (const TTaskRow& row : FTaskList) {
    auto* item = new QTreeWidgetItem(lvScdlList);
    item->setText(0, QString::number(++number));
    item->setText(1, toQString(row.Name));
    item->setText(2, toQString(row.ScheduleText));
    item->setText(3, dateTimeText(row.NextRun));
    item->setText(4, dateTimeText(row.LastRun));
    // A task whose last run failed, or whose failure could not be mailed, stands out, with what
    // happened in its tooltip.
    QStringList notes;
    if (row.lastRunFailed()) notes << QStringLiteral("前回の実行: ") + toQString(row.LastOutcome->outcome);
    if (row.noticeUnsent()) {
      notes << kNoticeUnsent.arg(toQString(tasks::runStartText(*row.UnreportedFailure)));
    }
    if (!notes.isEmpty()) {
      item->setIcon(kNameColumn, style()->standardIcon(QStyle::SP_MessageBoxWarning));
      const QString tip = notes.join(QLatin1Char('\n'));
      for (int column = 0; column < lvScdlList->columnCount(); ++column) item->setToolTip(column, tip);
    }
  }
  // A fresh list has no row chosen: "変更" and "削除" ask for one first.
  lvScdlList->setCurrentItem(nullptr);
  lvScdlList->clearSelection();
  lvScdlList->viewport()->update();
}

QString TfrmTaskSchedule::SelectedTaskName() const {
  const QList<QTreeWidgetItem*> selected = lvScdlList->selectedItems();
  return selected.isEmpty() ? QString() : selected.front()->text(kNameColumn);
}

void TfrmTaskSchedule::btnEditClick() {
  const QString name = SelectedTaskName();
  if (name.isEmpty()) {
    prompts().warning(this, kSelectTaskToChange);
    return;
  }
  const bool changed = tasks::rescheduleTask(toUtf8(name), pageOwner(this, FSchedulePage));
  if (changed) RefreshTaskList();
}

void TfrmTaskSchedule::btnHistoryClick() {
  const QString name = SelectedTaskName();
  if (name.isEmpty()) {
    prompts().warning(this, kSelectTaskForHistory);
    return;
  }
  tasks::TaskRunHistory history;
  {
    widgets::WaitCursor hourglass;
    history = tasks::TTask(toUtf8(name), false).RunHistory();
  }
  if (FRunHistory == nullptr) FRunHistory = new TfrmRunHistory(this);
  FRunHistory->ShowHistory(name, history);
}

void TfrmTaskSchedule::btnMailSettingsClick() { TfrmMailSettings::ShowMailSettings(this); }

void TfrmTaskSchedule::btnDeleteClick() {
  const QString name = SelectedTaskName();
  if (name.isEmpty()) {
    prompts().warning(this, kSelectTaskToDelete);
    return;
  }
  if (!prompts().confirmOkCancel(
          this, QStringLiteral("タスク[") + name + QStringLiteral("]を削除してもよろしいですか？"))) {
    return;
  }
  tasks::deleteTask(toUtf8(name));  // a failure to delete is not reported
  RefreshTaskList();
}

}  // namespace bv::forms
