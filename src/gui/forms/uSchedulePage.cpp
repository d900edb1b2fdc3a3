#include "gui/forms/uSchedulePage.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QDateTime>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QStyle>
#include <QTabWidget>
#include <QTime>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <cstdint>

#include "core/tasks/trigger_text.h"
#include "gui/forms/uAdvancedSchedule.h"
#include "gui/forms/uSelectMonths.h"
#include "gui/widgets/error_report.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"

namespace bv::forms {

using tasks::CivilDate;
using tasks::MonthlyMode;
using tasks::Schedule;
using tasks::ScheduleInput;
using tasks::ScheduleKind;
using tasks::TaskTrigger;
using widgets::guarded;
using widgets::prompts;
using widgets::toQString;

namespace {

using widgets::makeOkTheDefault;
using widgets::named;
using widgets::numberBox;
using widgets::okCancelRow;
using widgets::setUpDateEdit;

// The drop-down's kinds, in ScheduleKind's order: the caption and the title of the group of
// the kind's inputs (none for the two kinds that have no inputs).
struct PageKind {
  const char* caption;
  const char* groupTitle;
};
const PageKind kPageKinds[tasks::kScheduleKindCount] = {
    {"毎日", "毎日のスケジュール"},
    {"毎週", "毎週のスケジュール"},
    {"毎月", "毎月のスケジュール"},
    {"一回限り", "一回限りのスケジュール"},
    {"システム起動時", ""},
    {"ログオン時", ""},
    {"アイドル時", "アイドル時のスケジュール"},
};

// The weekday check boxes in the page's order, Monday first; `weekday` counts from Sunday = 0.
struct WeekdayBox {
  const char* name;
  const char* caption;
  int weekday;
};
const WeekdayBox kWeekdayBoxes[] = {
    {"chkMon", "月曜日", 1}, {"chkTue", "火曜日", 2}, {"chkWed", "水曜日", 3}, {"chkThu", "木曜日", 4},
    {"chkFri", "金曜日", 5}, {"chkSat", "土曜日", 6}, {"chkSun", "日曜日", 0},
};
// The n-th weekday's week (index + 1 = wWhichWeek) and weekday (Monday first).
const char* const kWhichWeekCaptions[] = {"第 1", "第 2", "第 3", "第 4", "最終"};
const char* const kWeekdayCaptions[] = {"月曜日", "火曜日", "水曜日", "木曜日", "金曜日", "土曜日", "日曜日"};
int weekdayOfIndex(int index) { return (index + 1) % 7; }
int indexOfWeekday(int weekday) { return (weekday + 6) % 7; }

QString text(const char* utf8) { return QString::fromUtf8(utf8); }

// The program's window a native window is, or null for any other (another program's, one that
// is gone, none).
QWidget* ownerWidget(tasks::NativeWindow owner, const QWidget* self) {
  if (owner == tasks::NativeWindow::None) return nullptr;
  QWidget* widget = QWidget::find(static_cast<WId>(owner));
  if (widget == nullptr) return nullptr;
  QWidget* window = widget->window();
  return window == self ? nullptr : window;
}

}  // namespace

// --- The page --------------------------------------------------------------------------------

struct TfrmSchedulePage::Controls {
  QTabWidget* pgcPages = nullptr;
  QWidget* tsSchedule = nullptr;
  QLabel* lblSummary = nullptr;
  QComboBox* cmbSchedules = nullptr;
  QPushButton* btnNew = nullptr;
  QPushButton* btnDelete = nullptr;
  QLabel* lblScheduleKind = nullptr;
  QComboBox* cmbScheduleKind = nullptr;
  QLabel* lblStartTime = nullptr;
  QTimeEdit* edtStartTime = nullptr;
  QPushButton* btnAdvanced = nullptr;
  QGroupBox* gbxSchedule = nullptr;
  QStackedWidget* pnlKinds = nullptr;
  QWidget* pnlDaily = nullptr;
  QWidget* pnlWeekly = nullptr;
  QWidget* pnlMonthly = nullptr;
  QWidget* pnlOnce = nullptr;
  QWidget* pnlIdle = nullptr;
  QWidget* pnlNone = nullptr;
  // The panel of each kind, in ScheduleKind's order (pnlNone for the kinds without inputs).
  std::array<QWidget*, tasks::kScheduleKindCount> kindPanels{};
  QSpinBox* spedtEveryDays = nullptr;
  QSpinBox* spedtEveryWeeks = nullptr;
  std::array<QCheckBox*, 7> weekdayBoxes{};  // by weekday, Sunday = 0
  QRadioButton* rbMonthlyDay = nullptr;
  QSpinBox* spedtMonthDay = nullptr;
  QRadioButton* rbMonthlyWeekday = nullptr;
  QComboBox* cmbWhichWeek = nullptr;
  QComboBox* cmbWeekday = nullptr;
  QPushButton* btnSelectMonths = nullptr;
  QDateEdit* edtRunOn = nullptr;
  QSpinBox* spedtIdleMinutes = nullptr;
  QCheckBox* chkShowMultiple = nullptr;
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;
};

TfrmSchedulePage::TfrmSchedulePage(Clock clock, QWidget* parent)
    : QDialog(parent, widgets::dialogFlags()),
      FClock(std::move(clock)),
      FControls(std::make_unique<Controls>()) {
  setObjectName(QStringLiteral("frmSchedulePage"));
  setModal(true);
  BuildControls();
  ConnectHandlers();
  LoadTriggers({});
}

TfrmSchedulePage::~TfrmSchedulePage() = default;

// --- Building the page -----------------------------------------------------------------------

// Creation order is the tab order: each group is built top to bottom, in the page's order.
void TfrmSchedulePage::BuildControls() {
  Controls& ui = *FControls;
  auto* root = new QVBoxLayout(this);
  ui.pgcPages = named(new QTabWidget(this), "pgcPages");
  ui.tsSchedule = named(new QWidget(ui.pgcPages), "tsSchedule");
  ui.pgcPages->addTab(ui.tsSchedule, QStringLiteral("スケジュール"));
  root->addWidget(ui.pgcPages, 1);
  auto* column = new QVBoxLayout(ui.tsSchedule);

  BuildSchedulesRow(column);
  BuildKindAndStartTime(column);
  BuildKindGroup(column);
  column->addStretch();
  ui.chkShowMultiple =
      named(new QCheckBox(QStringLiteral("複数のスケジュールを表示する"), ui.tsSchedule), "chkShowMultiple");
  column->addWidget(ui.chkShowMultiple);

  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  root->addLayout(okCancelRow(this, ok, cancel));
  ui.btnOK = ok;
  ui.btnCancel = cancel;
  makeOkTheDefault(this, ok);
  for (QLabel* passive : findChildren<QLabel*>()) passive->setFocusPolicy(Qt::NoFocus);
}

// The schedule's text, or with several the drop-down of them all with 新規 and 削除; a rule
// under them.
void TfrmSchedulePage::BuildSchedulesRow(QVBoxLayout* column) {
  Controls& ui = *FControls;
  QWidget* page = ui.tsSchedule;
  ui.lblSummary = named(new QLabel(page), "lblSummary");
  ui.lblSummary->setWordWrap(true);
  ui.lblSummary->setMinimumHeight(2 * ui.lblSummary->fontMetrics().lineSpacing());
  ui.lblSummary->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  ui.cmbSchedules = named(new QComboBox(page), "cmbSchedules");
  // Wide enough for a plain monthly schedule's text; a longer one is cut in the closed box
  // (its tip and the open list show it whole).
  ui.cmbSchedules->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  ui.cmbSchedules->setMinimumWidth(ui.cmbSchedules->fontMetrics().horizontalAdvance(QStringLiteral(
                                       "1. 毎月 最終 金曜日 23:59 に開始、開始日: 2026/12/08")) +
                                   ui.cmbSchedules->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 12);
  ui.btnNew = named(new QPushButton(QStringLiteral("新規"), page), "btnNew");
  ui.btnDelete = named(new QPushButton(QStringLiteral("削除"), page), "btnDelete");
  auto* summaryRow = new QHBoxLayout;
  summaryRow->addWidget(ui.lblSummary, 1);
  summaryRow->addWidget(ui.cmbSchedules, 1);
  summaryRow->addWidget(ui.btnNew);
  summaryRow->addWidget(ui.btnDelete);
  column->addLayout(summaryRow);
  // The page keeps the list's width while the single text shows, so that it does not jump.
  const QMargins margins = column->contentsMargins();
  page->setMinimumWidth(margins.left() + margins.right() + ui.cmbSchedules->minimumWidth() +
                        ui.btnNew->sizeHint().width() + ui.btnDelete->sizeHint().width() +
                        2 * std::max(0, summaryRow->spacing()));
  auto* rule = named(new QFrame(page), "bvlSummary");
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  column->addWidget(rule);
}

// The kind, the start time and 詳細設定...
void TfrmSchedulePage::BuildKindAndStartTime(QVBoxLayout* column) {
  Controls& ui = *FControls;
  QWidget* page = ui.tsSchedule;
  auto* top = new QGridLayout;
  ui.lblScheduleKind = named(new QLabel(QStringLiteral("タスクのスケジュール"), page), "lblScheduleKind");
  ui.cmbScheduleKind = named(new QComboBox(page), "cmbScheduleKind");
  for (const PageKind& kind : kPageKinds) ui.cmbScheduleKind->addItem(text(kind.caption));
  // Idle time has no source here that every desktop and server shares: nothing could start such
  // a task, so the kind is not offered. A trigger of that kind in a task written elsewhere is
  // still shown, as it is and read-only (showKind).
  if (auto* kinds = qobject_cast<QStandardItemModel*>(ui.cmbScheduleKind->model())) {
    QStandardItem* idle = kinds->item(static_cast<int>(ScheduleKind::WhenIdle));
    idle->setFlags(idle->flags() & ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable));
  }
  ui.lblStartTime = named(new QLabel(QStringLiteral("開始時刻"), page), "lblStartTime");
  ui.edtStartTime = named(new QTimeEdit(page), "edtStartTime");
  ui.edtStartTime->setDisplayFormat(QStringLiteral("H:mm"));
  ui.btnAdvanced = named(new QPushButton(QStringLiteral("詳細設定..."), page), "btnAdvanced");
  top->addWidget(ui.lblScheduleKind, 0, 0);
  top->addWidget(ui.lblStartTime, 0, 1);
  top->addWidget(ui.cmbScheduleKind, 1, 0);
  top->addWidget(ui.edtStartTime, 1, 1);
  top->addWidget(ui.btnAdvanced, 1, 2);
  top->setColumnStretch(3, 1);
  column->addLayout(top);
  // The start time keeps its place while an event kind hides it.
  for (QWidget* keep : {static_cast<QWidget*>(ui.lblStartTime), static_cast<QWidget*>(ui.edtStartTime)}) {
    QSizePolicy policy = keep->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    keep->setSizePolicy(policy);
  }
}

// The group of the kind's inputs: one panel per kind in a stack, an empty one for the kinds
// without inputs.
void TfrmSchedulePage::BuildKindGroup(QVBoxLayout* column) {
  Controls& ui = *FControls;
  ui.gbxSchedule = named(new QGroupBox(ui.tsSchedule), "gbxSchedule");
  QSizePolicy groupPolicy = ui.gbxSchedule->sizePolicy();
  groupPolicy.setRetainSizeWhenHidden(true);
  ui.gbxSchedule->setSizePolicy(groupPolicy);
  auto* groupLayout = new QVBoxLayout(ui.gbxSchedule);
  ui.pnlKinds = named(new QStackedWidget(ui.gbxSchedule), "pnlKinds");
  groupLayout->addWidget(ui.pnlKinds);
  column->addWidget(ui.gbxSchedule);

  BuildDailyPanel();
  BuildWeeklyPanel();
  BuildMonthlyPanel();
  BuildOncePanel();
  BuildIdlePanel();
  ui.pnlNone = named(new QWidget(ui.pnlKinds), "pnlNone");
  for (QWidget* panel : {ui.pnlDaily, ui.pnlWeekly, ui.pnlMonthly, ui.pnlOnce, ui.pnlIdle, ui.pnlNone}) {
    // The group is as tall as its tallest panel; the shorter ones start at its top.
    if (panel->layout() != nullptr) panel->layout()->setAlignment(Qt::AlignTop);
    ui.pnlKinds->addWidget(panel);
  }
  ui.kindPanels = {ui.pnlDaily, ui.pnlWeekly, ui.pnlMonthly, ui.pnlOnce, ui.pnlNone, ui.pnlNone, ui.pnlIdle};
}

void TfrmSchedulePage::BuildDailyPanel() {
  Controls& ui = *FControls;
  ui.pnlDaily = named(new QWidget(ui.pnlKinds), "pnlDaily");
  auto* row = new QHBoxLayout(ui.pnlDaily);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(named(new QLabel(QStringLiteral("間隔"), ui.pnlDaily), "lblEveryDays"));
  ui.spedtEveryDays = numberBox(ui.pnlDaily, "spedtEveryDays", 1, tasks::kMaxEveryDays);
  row->addWidget(ui.spedtEveryDays);
  row->addWidget(named(new QLabel(QStringLiteral("日ごと"), ui.pnlDaily), "lblEveryDaysUnit"));
  row->addStretch();
}

// Every n weeks, and the weekday boxes in two rows of four, Monday first.
void TfrmSchedulePage::BuildWeeklyPanel() {
  Controls& ui = *FControls;
  ui.pnlWeekly = named(new QWidget(ui.pnlKinds), "pnlWeekly");
  auto* grid = new QGridLayout(ui.pnlWeekly);
  grid->setContentsMargins(0, 0, 0, 0);
  auto* every = new QHBoxLayout;
  every->addWidget(named(new QLabel(QStringLiteral("間隔"), ui.pnlWeekly), "lblEveryWeeks"));
  ui.spedtEveryWeeks = numberBox(ui.pnlWeekly, "spedtEveryWeeks", 1, tasks::kMaxEveryWeeks);
  every->addWidget(ui.spedtEveryWeeks);
  every->addWidget(
      named(new QLabel(QStringLiteral("週ごと、次の曜日に実行"), ui.pnlWeekly), "lblEveryWeeksUnit"));
  every->addStretch();
  grid->addLayout(every, 0, 0, 1, 4);
  int position = 0;
  for (const WeekdayBox& day : kWeekdayBoxes) {
    auto* box = named(new QCheckBox(text(day.caption), ui.pnlWeekly), day.name);
    grid->addWidget(box, 1 + position / 4, position % 4);
    ui.weekdayBoxes[static_cast<std::size_t>(day.weekday)] = box;
    ++position;
  }
  grid->setColumnStretch(4, 1);
}

// Day N, or the n-th weekday, of the months that 月の選択... picks.
void TfrmSchedulePage::BuildMonthlyPanel() {
  Controls& ui = *FControls;
  ui.pnlMonthly = named(new QWidget(ui.pnlKinds), "pnlMonthly");
  auto* grid = new QGridLayout(ui.pnlMonthly);
  grid->setContentsMargins(0, 0, 0, 0);
  ui.rbMonthlyDay = named(new QRadioButton(QStringLiteral("日付"), ui.pnlMonthly), "rbMonthlyDay");
  ui.spedtMonthDay = numberBox(ui.pnlMonthly, "spedtMonthDay", 1, 31);
  auto* day = new QHBoxLayout;
  day->addWidget(ui.spedtMonthDay);
  day->addWidget(named(new QLabel(QStringLiteral("日"), ui.pnlMonthly), "lblMonthDayUnit"));
  day->addStretch();
  grid->addWidget(ui.rbMonthlyDay, 0, 0);
  grid->addLayout(day, 0, 1);
  ui.rbMonthlyWeekday = named(new QRadioButton(QStringLiteral("曜日"), ui.pnlMonthly), "rbMonthlyWeekday");
  ui.cmbWhichWeek = named(new QComboBox(ui.pnlMonthly), "cmbWhichWeek");
  for (const char* caption : kWhichWeekCaptions) ui.cmbWhichWeek->addItem(text(caption));
  ui.cmbWeekday = named(new QComboBox(ui.pnlMonthly), "cmbWeekday");
  for (const char* caption : kWeekdayCaptions) ui.cmbWeekday->addItem(text(caption));
  auto* weekday = new QHBoxLayout;
  weekday->addWidget(ui.cmbWhichWeek);
  weekday->addWidget(ui.cmbWeekday);
  weekday->addStretch();
  grid->addWidget(ui.rbMonthlyWeekday, 1, 0);
  grid->addLayout(weekday, 1, 1);
  ui.btnSelectMonths =
      named(new QPushButton(QStringLiteral("月の選択..."), ui.pnlMonthly), "btnSelectMonths");
  grid->addWidget(ui.btnSelectMonths, 2, 1, Qt::AlignRight);
  grid->setColumnStretch(1, 1);
}

void TfrmSchedulePage::BuildOncePanel() {
  Controls& ui = *FControls;
  ui.pnlOnce = named(new QWidget(ui.pnlKinds), "pnlOnce");
  auto* row = new QHBoxLayout(ui.pnlOnce);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(named(new QLabel(QStringLiteral("実行日"), ui.pnlOnce), "lblRunOn"));
  ui.edtRunOn = named(new QDateEdit(ui.pnlOnce), "edtRunOn");
  setUpDateEdit(ui.edtRunOn);
  row->addWidget(ui.edtRunOn);
  row->addStretch();
}

void TfrmSchedulePage::BuildIdlePanel() {
  Controls& ui = *FControls;
  ui.pnlIdle = named(new QWidget(ui.pnlKinds), "pnlIdle");
  auto* row = new QHBoxLayout(ui.pnlIdle);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(
      named(new QLabel(QStringLiteral("アイドル状態が次の時間続いたとき"), ui.pnlIdle), "lblIdle"));
  ui.spedtIdleMinutes = numberBox(ui.pnlIdle, "spedtIdleMinutes", 1, tasks::kMaxIdleMinutes);
  // The idle time is the task's Idle Wait, which the page does not receive: shown, not edited.
  ui.spedtIdleMinutes->setEnabled(false);
  row->addWidget(ui.spedtIdleMinutes);
  row->addWidget(named(new QLabel(QStringLiteral("分"), ui.pnlIdle), "lblIdleUnit"));
  row->addStretch();
}

void TfrmSchedulePage::ConnectHandlers() {
  Controls& ui = *FControls;
  connect(ui.cmbScheduleKind, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index < 0) return;
    Edit([index](Schedule& s) { s.kind = static_cast<ScheduleKind>(index); });
    if (!FFilling) ShowKind();
  });
  connect(ui.edtStartTime, &QTimeEdit::timeChanged, this, [this](const QTime& time) {
    Edit([&time](Schedule& s) {
      s.startHour = time.hour();
      s.startMinute = time.minute();
    });
  });
  connect(ui.spedtEveryDays, &QSpinBox::valueChanged, this,
          [this](int value) { Edit([value](Schedule& s) { s.everyDays = value; }); });
  connect(ui.spedtEveryWeeks, &QSpinBox::valueChanged, this,
          [this](int value) { Edit([value](Schedule& s) { s.everyWeeks = value; }); });
  for (int weekday = 0; weekday < 7; ++weekday) {
    connect(ui.weekdayBoxes[static_cast<std::size_t>(weekday)], &QCheckBox::toggled, this,
            [this, weekday](bool checked) {
              Edit([weekday, checked](Schedule& s) {
                const auto bit = static_cast<std::uint16_t>(1u << weekday);
                s.weekdays = static_cast<std::uint16_t>(checked ? s.weekdays | bit : s.weekdays & ~bit);
              });
            });
  }
  connect(ui.rbMonthlyDay, &QRadioButton::toggled, this, [this](bool checked) {
    Edit([checked](Schedule& s) {
      s.monthlyMode = checked ? MonthlyMode::DayOfMonth : MonthlyMode::WeekdayOfMonth;
    });
    if (!FFilling) ShowMonthlyMode();
  });
  connect(ui.spedtMonthDay, &QSpinBox::valueChanged, this,
          [this](int value) { Edit([value](Schedule& s) { s.monthDay = value; }); });
  connect(ui.cmbWhichWeek, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) Edit([index](Schedule& s) { s.whichWeek = index + 1; });
  });
  connect(ui.cmbWeekday, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) Edit([index](Schedule& s) { s.weekday = weekdayOfIndex(index); });
  });
  connect(ui.edtRunOn, &QDateEdit::dateChanged, this,
          [this](const QDate& date) { Edit([&date](Schedule& s) { s.startDate = toCivil(date); }); });
  connect(ui.spedtIdleMinutes, &QSpinBox::valueChanged, this,
          [this](int value) { Edit([value](Schedule& s) { s.idleMinutes = value; }); });

  connect(ui.cmbSchedules, &QComboBox::currentIndexChanged, this,
          guarded(this, &TfrmSchedulePage::cmbSchedulesChange));
  connect(ui.chkShowMultiple, &QCheckBox::toggled, this,
          guarded(this, &TfrmSchedulePage::chkShowMultipleClick));
  connect(ui.btnNew, &QPushButton::clicked, this, guarded(this, &TfrmSchedulePage::btnNewClick));
  connect(ui.btnDelete, &QPushButton::clicked, this, guarded(this, &TfrmSchedulePage::btnDeleteClick));
  connect(ui.btnAdvanced, &QPushButton::clicked, this, guarded(this, &TfrmSchedulePage::btnAdvancedClick));
  connect(ui.btnSelectMonths, &QPushButton::clicked, this,
          guarded(this, &TfrmSchedulePage::btnSelectMonthsClick));
}

tasks::LocalMinute TfrmSchedulePage::Now() const {
  if (FClock) return FClock();
  const QDateTime local = QDateTime::currentDateTime();
  const QDate date = local.date();
  const QTime time = local.time();
  return tasks::LocalMinute::at(date.year(), date.month(), date.day(), time.hour(), time.minute());
}

Schedule TfrmSchedulePage::NewSchedule() const { return tasks::defaultSchedule(Now().toSystemTime()); }

TaskTrigger TfrmSchedulePage::TriggerOf(const Entry& entry) const {
  return entry.fromTask ? tasks::updatedTrigger(entry.original, entry.schedule)
                        : tasks::triggerFromSchedule(entry.schedule);
}

bool TfrmSchedulePage::IsWrittenFromSchedule(const Entry& entry) const {
  return !entry.fromTask || !tasks::showsTrigger(entry.schedule, entry.original);
}

void TfrmSchedulePage::LoadTriggers(const std::vector<TaskTrigger>& triggers) {
  FEntries.clear();
  for (const TaskTrigger& trigger : triggers) {
    FEntries.push_back({true, trigger, tasks::scheduleFromTrigger(trigger)});
  }
  // A task without triggers opens on the schedule a new one gets.
  if (FEntries.empty()) FEntries.push_back({false, {}, NewSchedule()});
  FCurrent = 0;
  FAccepted.clear();
  {
    const QSignalBlocker quiet(FControls->chkShowMultiple);
    FControls->chkShowMultiple->setChecked(FEntries.size() > 1);
  }
  ShowMultiple();
  ShowSchedule();
}

int TfrmSchedulePage::show(tasks::NativeWindow owner, const std::string& caption,
                           std::vector<TaskTrigger>& triggers) {
  LoadTriggers(triggers);
  setWindowTitle(toQString(caption));
  FControls->pgcPages->setCurrentIndex(0);
  FControls->cmbScheduleKind->setFocus(Qt::OtherFocusReason);
  // Over the owner's window while shown; never its child after, so that the owner's end does
  // not end the page.
  setParent(ownerWidget(owner, this), widgets::dialogFlags());
  const int result = exec();
  setParent(nullptr, widgets::dialogFlags());
  if (result != QDialog::Accepted) return 0;
  triggers = FAccepted;
  return 1;
}

// --- Showing the current schedule ------------------------------------------------------------

void TfrmSchedulePage::ShowSchedule() {
  Controls& ui = *FControls;
  const Schedule& schedule = Current();
  FFilling = true;
  ui.cmbScheduleKind->setCurrentIndex(static_cast<int>(schedule.kind));
  ui.edtStartTime->setTime(QTime(schedule.startHour, schedule.startMinute));
  ui.spedtEveryDays->setValue(schedule.everyDays);
  ui.spedtEveryWeeks->setValue(schedule.everyWeeks);
  for (int weekday = 0; weekday < 7; ++weekday) {
    ui.weekdayBoxes[static_cast<std::size_t>(weekday)]->setChecked((schedule.weekdays >> weekday & 1u) != 0);
  }
  ui.rbMonthlyDay->setChecked(schedule.monthlyMode == MonthlyMode::DayOfMonth);
  ui.rbMonthlyWeekday->setChecked(schedule.monthlyMode == MonthlyMode::WeekdayOfMonth);
  ui.spedtMonthDay->setValue(schedule.monthDay);
  ui.cmbWhichWeek->setCurrentIndex(std::clamp(schedule.whichWeek, 1, static_cast<int>(tasks::kLastWeek)) - 1);
  ui.cmbWeekday->setCurrentIndex(indexOfWeekday(std::clamp(schedule.weekday, 0, 6)));
  showDate(ui.edtRunOn, schedule.startDate, toCivil(QDate::currentDate()));
  ui.spedtIdleMinutes->setValue(schedule.idleMinutes);
  FFilling = false;
  ShowKind();
  ShowMonthlyMode();
  RefreshSummary();
}

void TfrmSchedulePage::ShowKind() {
  Controls& ui = *FControls;
  const ScheduleKind kind = Current().kind;
  const bool event = tasks::isEventKind(kind);
  const bool idle = kind == ScheduleKind::WhenIdle;
  ui.cmbScheduleKind->setEnabled(!idle);
  if (auto* list = qobject_cast<QListView*>(ui.cmbScheduleKind->view())) {
    list->setRowHidden(static_cast<int>(ScheduleKind::WhenIdle), !idle);
  }
  ui.lblStartTime->setVisible(!event);
  ui.edtStartTime->setVisible(!event);
  ui.btnAdvanced->setEnabled(!event);
  QWidget* panel = ui.kindPanels[static_cast<std::size_t>(kind)];
  ui.pnlKinds->setCurrentWidget(panel);
  ui.gbxSchedule->setTitle(text(kPageKinds[static_cast<int>(kind)].groupTitle));
  ui.gbxSchedule->setVisible(panel != ui.pnlNone);
}

void TfrmSchedulePage::ShowMonthlyMode() {
  Controls& ui = *FControls;
  const bool byDay = Current().monthlyMode == MonthlyMode::DayOfMonth;
  ui.spedtMonthDay->setEnabled(byDay);
  ui.cmbWhichWeek->setEnabled(!byDay);
  ui.cmbWeekday->setEnabled(!byDay);
}

void TfrmSchedulePage::ShowMultiple() {
  Controls& ui = *FControls;
  const bool several = FEntries.size() > 1;
  // With several schedules the list stays: the single text could show only one of them.
  if (several && !ui.chkShowMultiple->isChecked()) {
    const QSignalBlocker quiet(ui.chkShowMultiple);
    ui.chkShowMultiple->setChecked(true);
  }
  ui.chkShowMultiple->setEnabled(!several);
  const bool list = ui.chkShowMultiple->isChecked();
  ui.lblSummary->setVisible(!list);
  ui.cmbSchedules->setVisible(list);
  ui.btnNew->setVisible(list);
  ui.btnDelete->setVisible(list);
  ui.btnDelete->setEnabled(several);
}

void TfrmSchedulePage::RefreshSummary() {
  Controls& ui = *FControls;
  ui.lblSummary->setText(
      toQString(tasks::triggerText(TriggerOf(FEntries[static_cast<std::size_t>(FCurrent)]))));
  const QSignalBlocker quiet(ui.cmbSchedules);
  while (ui.cmbSchedules->count() > static_cast<int>(FEntries.size())) {
    ui.cmbSchedules->removeItem(ui.cmbSchedules->count() - 1);
  }
  for (std::size_t i = 0; i < FEntries.size(); ++i) {
    const QString item =
        QStringLiteral("%1. %2").arg(i + 1).arg(toQString(tasks::triggerText(TriggerOf(FEntries[i]))));
    if (static_cast<int>(i) < ui.cmbSchedules->count()) {
      ui.cmbSchedules->setItemText(static_cast<int>(i), item);
    } else {
      ui.cmbSchedules->addItem(item);
    }
  }
  ui.cmbSchedules->setCurrentIndex(FCurrent);
  // The list opens as wide as its longest text; the closed box may cut it, its tip does not.
  ui.cmbSchedules->setToolTip(ui.cmbSchedules->currentText());
  QAbstractItemView* list = ui.cmbSchedules->view();
  list->setMinimumWidth(list->sizeHintForColumn(0) + list->verticalScrollBar()->sizeHint().width() +
                        2 * list->frameWidth());
}

void TfrmSchedulePage::Edit(const std::function<void(Schedule&)>& change) {
  if (FFilling) return;
  change(Current());
  RefreshSummary();
}

// --- Handlers ----------------------------------------------------------------------------------

void TfrmSchedulePage::cmbSchedulesChange() {
  const int index = FControls->cmbSchedules->currentIndex();
  if (index < 0 || index >= static_cast<int>(FEntries.size()) || index == FCurrent) return;
  FCurrent = index;
  ShowSchedule();
}

void TfrmSchedulePage::chkShowMultipleClick() {
  ShowMultiple();
  RefreshSummary();
}

void TfrmSchedulePage::btnNewClick() {
  FEntries.push_back({false, {}, NewSchedule()});
  FCurrent = static_cast<int>(FEntries.size()) - 1;
  ShowMultiple();
  ShowSchedule();
  FControls->cmbScheduleKind->setFocus(Qt::OtherFocusReason);
}

void TfrmSchedulePage::btnDeleteClick() {
  // The last schedule stays: a task leaves the page with at least one.
  if (FEntries.size() <= 1) return;
  FEntries.erase(FEntries.begin() + FCurrent);
  FCurrent = std::min(FCurrent, static_cast<int>(FEntries.size()) - 1);
  ShowMultiple();
  ShowSchedule();
}

void TfrmSchedulePage::btnAdvancedClick() {
  TfrmAdvancedSchedule dialog(Current(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  const Schedule edited = dialog.Edited();
  Edit([&edited](Schedule& s) { s = edited; });
  // The start date is also the "run on" date of Once.
  ShowSchedule();
}

void TfrmSchedulePage::btnSelectMonthsClick() {
  TfrmSelectMonths dialog(Current().months, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const std::uint16_t months = dialog.Months();
  Edit([months](Schedule& s) { s.months = months; });
}

void TfrmSchedulePage::accept() {
  std::vector<TaskTrigger> triggers;
  for (std::size_t i = 0; i < FEntries.size(); ++i) {
    const Entry& entry = FEntries[i];
    // A trigger the user left alone goes back as it was, unchecked.
    if (IsWrittenFromSchedule(entry)) {
      if (const auto problem = tasks::validateSchedule(entry.schedule)) {
        if (static_cast<int>(i) != FCurrent) {
          FCurrent = static_cast<int>(i);
          ShowSchedule();
        }
        prompts().error(this, toQString(problem->message));
        FocusInput(problem->input);
        return;
      }
    }
    triggers.push_back(TriggerOf(entry));
  }
  FAccepted = std::move(triggers);
  QDialog::accept();
}

void TfrmSchedulePage::FocusInput(ScheduleInput input) {
  Controls& ui = *FControls;
  QWidget* focus = ui.btnAdvanced;
  switch (input) {
    case ScheduleInput::StartTime:
      focus = ui.edtStartTime;
      break;
    case ScheduleInput::EveryDays:
      focus = ui.spedtEveryDays;
      break;
    case ScheduleInput::EveryWeeks:
      focus = ui.spedtEveryWeeks;
      break;
    case ScheduleInput::Weekdays:
      focus = ui.weekdayBoxes[1];  // Monday, the first box
      break;
    case ScheduleInput::MonthDay:
      focus = ui.spedtMonthDay;
      break;
    case ScheduleInput::WeekOfMonth:
      focus = ui.cmbWhichWeek;
      break;
    case ScheduleInput::Months:
      focus = ui.btnSelectMonths;
      break;
    case ScheduleInput::RunOn:
      focus = ui.edtRunOn;
      break;
    case ScheduleInput::IdleMinutes:
      focus = ui.spedtIdleMinutes;
      break;
    case ScheduleInput::StartDate:
    case ScheduleInput::EndDate:
    case ScheduleInput::RepeatEvery:
    case ScheduleInput::RepeatUntil:
      break;
  }
  focus->setFocus(Qt::OtherFocusReason);
}

// --- The page as the program installs it -----------------------------------------------------

SchedulePageOnFirstShow::SchedulePageOnFirstShow(TfrmSchedulePage::Clock clock) : clock_(std::move(clock)) {}

SchedulePageOnFirstShow::~SchedulePageOnFirstShow() = default;

int SchedulePageOnFirstShow::show(tasks::NativeWindow owner, const std::string& caption,
                                  std::vector<TaskTrigger>& triggers) {
  if (!page_) page_ = std::make_unique<TfrmSchedulePage>(clock_);
  return page_->show(owner, caption, triggers);
}

tasks::NativeWindow nativeWindowOf(const QWidget* widget) {
  // The window's own: a control asked for its id would become a native window of its own.
  return static_cast<tasks::NativeWindow>(widget->window()->winId());
}

tasks::PageOwner pageOwner(const QWidget* form, tasks::SchedulePage* page) {
  return {page, nativeWindowOf(form)};
}

}  // namespace bv::forms
