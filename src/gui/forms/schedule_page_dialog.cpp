#include "gui/forms/schedule_page_dialog.h"

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
#include "gui/widgets/error_report.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"

namespace bv::forms {

using tasks::CivilDate;
using tasks::MonthlyMode;
using tasks::RepeatEnd;
using tasks::RepeatUnit;
using tasks::Schedule;
using tasks::ScheduleInput;
using tasks::ScheduleKind;
using tasks::TaskTrigger;
using widgets::guarded;
using widgets::prompts;
using widgets::toQString;

namespace {

using widgets::named;

Qt::WindowFlags dialogFlags() {
  return Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
}

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

QDate toQDate(const CivilDate& date) { return QDate(date.year, date.month, date.day); }
CivilDate toCivil(const QDate& date) { return {date.year(), date.month(), date.day()}; }

void setUpDateEdit(QDateEdit* edit) {
  edit->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
  edit->setCalendarPopup(true);
  // SYSTEMTIME's first year; QDate's last one is the page's.
  edit->setMinimumDate(QDate(1601, 1, 1));
  edit->setMaximumDate(QDate(9999, 12, 31));
}

// A date edit shows the date, or `fallback` when the date is not a real one.
void showDate(QDateEdit* edit, const CivilDate& date, const CivilDate& fallback) {
  const QDate shown = toQDate(date);
  edit->setDate(shown.isValid() ? shown : toQDate(fallback));
}

QSpinBox* numberBox(QWidget* parent, const char* name, int minimum, int maximum) {
  auto* box = named(new QSpinBox(parent), name);
  box->setRange(minimum, maximum);
  return box;
}

// Enter in an edit box presses OK only; no other button takes it.
void makeOkTheDefault(QDialog* dialog, QPushButton* ok) {
  for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  ok->setDefault(true);
}

// OK and キャンセル at the bottom right.
QHBoxLayout* okCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel) {
  ok = named(new QPushButton(QStringLiteral("OK"), dialog), "btnOK");
  cancel = named(new QPushButton(QStringLiteral("キャンセル"), dialog), "btnCancel");
  QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, dialog, &QDialog::reject);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(ok);
  row->addWidget(cancel);
  return row;
}

// --- The advanced options ------------------------------------------------------------------

class AdvancedOptionsDialog : public QDialog {
 public:
  AdvancedOptionsDialog(const Schedule& schedule, QWidget* parent);
  // The schedule with the dialog's inputs.
  Schedule edited() const;
  void accept() override;

 private:
  struct Controls {
    QDateEdit* edtStartDate = nullptr;
    QCheckBox* chkEndDate = nullptr;
    QDateEdit* edtEndDate = nullptr;
    QCheckBox* chkRepeat = nullptr;
    QSpinBox* spedtRepeatEvery = nullptr;
    QComboBox* cmbRepeatUnit = nullptr;
    QRadioButton* rbUntilTime = nullptr;
    QTimeEdit* edtUntilTime = nullptr;
    QRadioButton* rbUntilDuration = nullptr;
    QSpinBox* spedtDurationHours = nullptr;
    QSpinBox* spedtDurationMinutes = nullptr;
    QCheckBox* chkStopAtEnd = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;
  };

  void buildDates(QVBoxLayout* root);
  void buildRepetition(QVBoxLayout* root);
  void showSchedule(const Schedule& schedule);
  void showEnabled();

  Schedule schedule_;
  Controls ui_;
  std::vector<QWidget*> repeatInputs_;
};

AdvancedOptionsDialog::AdvancedOptionsDialog(const Schedule& schedule, QWidget* parent)
    : QDialog(parent, dialogFlags()), schedule_(schedule) {
  setObjectName(QStringLiteral("frmAdvancedSchedule"));
  setWindowTitle(QStringLiteral("詳細スケジュール オプション"));
  setModal(true);

  auto* root = new QVBoxLayout(this);
  buildDates(root);
  buildRepetition(root);
  root->addStretch();
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  root->addLayout(okCancelRow(this, ok, cancel));
  ui_.btnOK = ok;
  ui_.btnCancel = cancel;
  makeOkTheDefault(this, ok);

  showSchedule(schedule);
  for (QCheckBox* box : {ui_.chkEndDate, ui_.chkRepeat}) {
    connect(box, &QCheckBox::toggled, this, [this] { showEnabled(); });
  }
  for (QRadioButton* button : {ui_.rbUntilTime, ui_.rbUntilDuration}) {
    connect(button, &QRadioButton::toggled, this, [this] { showEnabled(); });
  }
  showEnabled();
}

// The start date, and the end date with its check box.
void AdvancedOptionsDialog::buildDates(QVBoxLayout* root) {
  auto* dates = new QGridLayout;
  dates->addWidget(named(new QLabel(QStringLiteral("開始日"), this), "lblStartDate"), 0, 0);
  ui_.edtStartDate = named(new QDateEdit(this), "edtStartDate");
  setUpDateEdit(ui_.edtStartDate);
  dates->addWidget(ui_.edtStartDate, 0, 1);
  ui_.chkEndDate = named(new QCheckBox(QStringLiteral("終了日"), this), "chkEndDate");
  ui_.edtEndDate = named(new QDateEdit(this), "edtEndDate");
  setUpDateEdit(ui_.edtEndDate);
  dates->addWidget(ui_.chkEndDate, 1, 0);
  dates->addWidget(ui_.edtEndDate, 1, 1);
  dates->setColumnStretch(2, 1);
  root->addLayout(dates);
}

// The check box and, indented under it, the interval, the end (a time or a duration) and the
// stop at the end.
void AdvancedOptionsDialog::buildRepetition(QVBoxLayout* root) {
  ui_.chkRepeat = named(new QCheckBox(QStringLiteral("タスクを繰り返し実行する"), this), "chkRepeat");
  root->addWidget(ui_.chkRepeat);
  auto* repeat = new QGridLayout;
  repeat->setContentsMargins(20, 0, 0, 0);
  auto* lblRepeatEvery = named(new QLabel(QStringLiteral("間隔"), this), "lblRepeatEvery");
  ui_.spedtRepeatEvery = numberBox(this, "spedtRepeatEvery", 1, tasks::kMaxRepeatEvery);
  ui_.cmbRepeatUnit = named(new QComboBox(this), "cmbRepeatUnit");
  ui_.cmbRepeatUnit->addItems({QStringLiteral("分"), QStringLiteral("時間")});
  auto* everyRow = new QHBoxLayout;
  everyRow->addWidget(ui_.spedtRepeatEvery);
  everyRow->addWidget(ui_.cmbRepeatUnit);
  everyRow->addStretch();
  repeat->addWidget(lblRepeatEvery, 0, 0);
  repeat->addLayout(everyRow, 0, 1, 1, 2);

  auto* lblRepeatUntil = named(new QLabel(QStringLiteral("繰り返しの終了"), this), "lblRepeatUntil");
  ui_.rbUntilTime = named(new QRadioButton(QStringLiteral("時刻"), this), "rbUntilTime");
  ui_.edtUntilTime = named(new QTimeEdit(this), "edtUntilTime");
  ui_.edtUntilTime->setDisplayFormat(QStringLiteral("H:mm"));
  ui_.rbUntilDuration = named(new QRadioButton(QStringLiteral("継続時間"), this), "rbUntilDuration");
  ui_.spedtDurationHours = numberBox(this, "spedtDurationHours", 0, tasks::kMaxDurationHours);
  ui_.spedtDurationMinutes = numberBox(this, "spedtDurationMinutes", 0, 59);
  auto* lblDurationHours = named(new QLabel(QStringLiteral("時間"), this), "lblDurationHours");
  auto* lblDurationMinutes = named(new QLabel(QStringLiteral("分"), this), "lblDurationMinutes");
  auto* untilTimeRow = new QHBoxLayout;
  untilTimeRow->addWidget(ui_.edtUntilTime);
  untilTimeRow->addStretch();
  auto* durationRow = new QHBoxLayout;
  durationRow->addWidget(ui_.spedtDurationHours);
  durationRow->addWidget(lblDurationHours);
  durationRow->addWidget(ui_.spedtDurationMinutes);
  durationRow->addWidget(lblDurationMinutes);
  durationRow->addStretch();
  repeat->addWidget(lblRepeatUntil, 1, 0);
  repeat->addWidget(ui_.rbUntilTime, 1, 1);
  repeat->addLayout(untilTimeRow, 1, 2);
  repeat->addWidget(ui_.rbUntilDuration, 2, 1);
  repeat->addLayout(durationRow, 2, 2);
  ui_.chkStopAtEnd =
      named(new QCheckBox(QStringLiteral("この時刻にタスクが実行中の場合は停止する"), this), "chkStopAtEnd");
  repeat->addWidget(ui_.chkStopAtEnd, 3, 0, 1, 3);
  repeat->setColumnStretch(2, 1);
  root->addLayout(repeat);
  repeatInputs_ = {lblRepeatEvery,   ui_.spedtRepeatEvery,     ui_.cmbRepeatUnit,   lblRepeatUntil,
                   ui_.rbUntilTime,  ui_.edtUntilTime,         ui_.rbUntilDuration, ui_.spedtDurationHours,
                   lblDurationHours, ui_.spedtDurationMinutes, lblDurationMinutes,  ui_.chkStopAtEnd};
}

// The inputs as the schedule has them.
void AdvancedOptionsDialog::showSchedule(const Schedule& schedule) {
  ui_.edtStartDate->setDate(toQDate(schedule.startDate));
  ui_.chkEndDate->setChecked(schedule.hasEndDate);
  showDate(ui_.edtEndDate, schedule.endDate, schedule.startDate);
  ui_.chkRepeat->setChecked(schedule.repeat);
  ui_.spedtRepeatEvery->setValue(schedule.repeatEvery);
  ui_.cmbRepeatUnit->setCurrentIndex(schedule.repeatUnit == RepeatUnit::Hours ? 1 : 0);
  ui_.rbUntilTime->setChecked(schedule.repeatEnd == RepeatEnd::AtTime);
  ui_.rbUntilDuration->setChecked(schedule.repeatEnd == RepeatEnd::AfterDuration);
  ui_.edtUntilTime->setTime(QTime(schedule.untilHour, schedule.untilMinute));
  ui_.spedtDurationHours->setValue(schedule.durationHours);
  ui_.spedtDurationMinutes->setValue(schedule.durationMinutes);
  ui_.chkStopAtEnd->setChecked(schedule.stopAtEnd);
  // Once runs on its one day; an end date means nothing to it.
  ui_.chkEndDate->setEnabled(tasks::takesEndDate(schedule.kind));
}

void AdvancedOptionsDialog::showEnabled() {
  ui_.edtEndDate->setEnabled(ui_.chkEndDate->isEnabled() && ui_.chkEndDate->isChecked());
  const bool repeat = ui_.chkRepeat->isChecked();
  for (QWidget* input : repeatInputs_) input->setEnabled(repeat);
  ui_.edtUntilTime->setEnabled(repeat && ui_.rbUntilTime->isChecked());
  for (QWidget* input :
       {static_cast<QWidget*>(ui_.spedtDurationHours), static_cast<QWidget*>(ui_.spedtDurationMinutes)}) {
    input->setEnabled(repeat && ui_.rbUntilDuration->isChecked());
  }
}

Schedule AdvancedOptionsDialog::edited() const {
  Schedule schedule = schedule_;
  schedule.startDate = toCivil(ui_.edtStartDate->date());
  schedule.hasEndDate = ui_.chkEndDate->isChecked();
  // An end date that is off keeps what the trigger had.
  if (schedule.hasEndDate) schedule.endDate = toCivil(ui_.edtEndDate->date());
  schedule.repeat = ui_.chkRepeat->isChecked();
  schedule.repeatEvery = ui_.spedtRepeatEvery->value();
  schedule.repeatUnit = ui_.cmbRepeatUnit->currentIndex() == 1 ? RepeatUnit::Hours : RepeatUnit::Minutes;
  schedule.repeatEnd = ui_.rbUntilDuration->isChecked() ? RepeatEnd::AfterDuration : RepeatEnd::AtTime;
  schedule.untilHour = ui_.edtUntilTime->time().hour();
  schedule.untilMinute = ui_.edtUntilTime->time().minute();
  schedule.durationHours = ui_.spedtDurationHours->value();
  schedule.durationMinutes = ui_.spedtDurationMinutes->value();
  schedule.stopAtEnd = ui_.chkStopAtEnd->isChecked();
  return schedule;
}

void AdvancedOptionsDialog::accept() {
  const auto problem = tasks::validateAdvancedOptions(edited());
  if (!problem) {
    QDialog::accept();
    return;
  }
  prompts().error(this, toQString(problem->message));
  QWidget* focus = ui_.edtStartDate;
  switch (problem->input) {
    case ScheduleInput::EndDate:
      focus = ui_.edtEndDate;
      break;
    case ScheduleInput::RepeatEvery:
      focus = ui_.spedtRepeatEvery;
      break;
    case ScheduleInput::RepeatUntil:
      focus = ui_.rbUntilTime->isChecked() ? static_cast<QWidget*>(ui_.edtUntilTime) : ui_.spedtDurationHours;
      break;
    default:
      break;
  }
  focus->setFocus(Qt::OtherFocusReason);
}

// --- The months of a monthly schedule ------------------------------------------------------

class SelectMonthsDialog : public QDialog {
 public:
  SelectMonthsDialog(std::uint16_t months, QWidget* parent);
  std::uint16_t months() const;
  void accept() override;

 private:
  std::array<QCheckBox*, 12> monthBoxes_{};
};

SelectMonthsDialog::SelectMonthsDialog(std::uint16_t months, QWidget* parent)
    : QDialog(parent, dialogFlags()) {
  setObjectName(QStringLiteral("frmSelectMonths"));
  setWindowTitle(QStringLiteral("月の選択"));
  setModal(true);
  auto* root = new QVBoxLayout(this);
  auto* group = named(new QGroupBox(QStringLiteral("実行する月"), this), "gbxMonths");
  auto* grid = new QGridLayout(group);
  for (int month = 1; month <= 12; ++month) {
    const QByteArray name = "chkMonth" + QByteArray::number(month);
    auto* box = named(new QCheckBox(QStringLiteral("%1月").arg(month), group), name.constData());
    box->setChecked((months >> (month - 1) & 1u) != 0);
    // Three columns of four, down first: January to April, May to August, September to
    // December.
    grid->addWidget(box, (month - 1) % 4, (month - 1) / 4);
    monthBoxes_[static_cast<std::size_t>(month - 1)] = box;
  }
  root->addWidget(group);
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  root->addLayout(okCancelRow(this, ok, cancel));
  makeOkTheDefault(this, ok);
}

std::uint16_t SelectMonthsDialog::months() const {
  std::uint16_t months = 0;
  for (std::size_t month = 0; month < monthBoxes_.size(); ++month) {
    if (monthBoxes_[month]->isChecked()) months = static_cast<std::uint16_t>(months | (1u << month));
  }
  return months;
}

void SelectMonthsDialog::accept() {
  if (months() == 0) {
    prompts().error(this, toQString(tasks::kScheduleNoMonth));
    monthBoxes_[0]->setFocus(Qt::OtherFocusReason);
    return;
  }
  QDialog::accept();
}

// The program's widget an opaque owner handle names, or null for any other handle (a native
// window, a stale pointer): the handle is only compared, never followed.
QWidget* ownerWidget(void* handle, const QWidget* self) {
  if (handle == nullptr) return nullptr;
  for (QWidget* widget : QApplication::allWidgets()) {
    if (static_cast<void*>(widget) != handle) continue;
    QWidget* window = widget->window();
    return window == self ? nullptr : window;
  }
  return nullptr;
}

}  // namespace

// --- The page --------------------------------------------------------------------------------

struct SchedulePageDialog::Controls {
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

SchedulePageDialog::SchedulePageDialog(Clock clock, QWidget* parent)
    : QDialog(parent, dialogFlags()), clock_(std::move(clock)), ui_(std::make_unique<Controls>()) {
  setObjectName(QStringLiteral("frmSchedulePage"));
  setModal(true);
  buildControls();
  connectHandlers();
  loadTriggers({});
}

SchedulePageDialog::~SchedulePageDialog() = default;

// --- Building the page -----------------------------------------------------------------------

// Creation order is the tab order: each group is built top to bottom, in the page's order.
void SchedulePageDialog::buildControls() {
  Controls& ui = *ui_;
  auto* root = new QVBoxLayout(this);
  ui.pgcPages = named(new QTabWidget(this), "pgcPages");
  ui.tsSchedule = named(new QWidget(ui.pgcPages), "tsSchedule");
  ui.pgcPages->addTab(ui.tsSchedule, QStringLiteral("スケジュール"));
  root->addWidget(ui.pgcPages, 1);
  auto* column = new QVBoxLayout(ui.tsSchedule);

  buildSchedulesRow(column);
  buildKindAndStartTime(column);
  buildKindGroup(column);
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
void SchedulePageDialog::buildSchedulesRow(QVBoxLayout* column) {
  Controls& ui = *ui_;
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
void SchedulePageDialog::buildKindAndStartTime(QVBoxLayout* column) {
  Controls& ui = *ui_;
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
void SchedulePageDialog::buildKindGroup(QVBoxLayout* column) {
  Controls& ui = *ui_;
  ui.gbxSchedule = named(new QGroupBox(ui.tsSchedule), "gbxSchedule");
  QSizePolicy groupPolicy = ui.gbxSchedule->sizePolicy();
  groupPolicy.setRetainSizeWhenHidden(true);
  ui.gbxSchedule->setSizePolicy(groupPolicy);
  auto* groupLayout = new QVBoxLayout(ui.gbxSchedule);
  ui.pnlKinds = named(new QStackedWidget(ui.gbxSchedule), "pnlKinds");
  groupLayout->addWidget(ui.pnlKinds);
  column->addWidget(ui.gbxSchedule);

  buildDailyPanel();
  buildWeeklyPanel();
  buildMonthlyPanel();
  buildOncePanel();
  buildIdlePanel();
  ui.pnlNone = named(new QWidget(ui.pnlKinds), "pnlNone");
  for (QWidget* panel : {ui.pnlDaily, ui.pnlWeekly, ui.pnlMonthly, ui.pnlOnce, ui.pnlIdle, ui.pnlNone}) {
    // The group is as tall as its tallest panel; the shorter ones start at its top.
    if (panel->layout() != nullptr) panel->layout()->setAlignment(Qt::AlignTop);
    ui.pnlKinds->addWidget(panel);
  }
  ui.kindPanels = {ui.pnlDaily, ui.pnlWeekly, ui.pnlMonthly, ui.pnlOnce, ui.pnlNone, ui.pnlNone, ui.pnlIdle};
}

void SchedulePageDialog::buildDailyPanel() {
  Controls& ui = *ui_;
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
void SchedulePageDialog::buildWeeklyPanel() {
  Controls& ui = *ui_;
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
void SchedulePageDialog::buildMonthlyPanel() {
  Controls& ui = *ui_;
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

void SchedulePageDialog::buildOncePanel() {
  Controls& ui = *ui_;
  ui.pnlOnce = named(new QWidget(ui.pnlKinds), "pnlOnce");
  auto* row = new QHBoxLayout(ui.pnlOnce);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(named(new QLabel(QStringLiteral("実行日"), ui.pnlOnce), "lblRunOn"));
  ui.edtRunOn = named(new QDateEdit(ui.pnlOnce), "edtRunOn");
  setUpDateEdit(ui.edtRunOn);
  row->addWidget(ui.edtRunOn);
  row->addStretch();
}

void SchedulePageDialog::buildIdlePanel() {
  Controls& ui = *ui_;
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

void SchedulePageDialog::connectHandlers() {
  Controls& ui = *ui_;
  connect(ui.cmbScheduleKind, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index < 0) return;
    edit([index](Schedule& s) { s.kind = static_cast<ScheduleKind>(index); });
    if (!filling_) showKind();
  });
  connect(ui.edtStartTime, &QTimeEdit::timeChanged, this, [this](const QTime& time) {
    edit([&time](Schedule& s) {
      s.startHour = time.hour();
      s.startMinute = time.minute();
    });
  });
  connect(ui.spedtEveryDays, &QSpinBox::valueChanged, this,
          [this](int value) { edit([value](Schedule& s) { s.everyDays = value; }); });
  connect(ui.spedtEveryWeeks, &QSpinBox::valueChanged, this,
          [this](int value) { edit([value](Schedule& s) { s.everyWeeks = value; }); });
  for (int weekday = 0; weekday < 7; ++weekday) {
    connect(ui.weekdayBoxes[static_cast<std::size_t>(weekday)], &QCheckBox::toggled, this,
            [this, weekday](bool checked) {
              edit([weekday, checked](Schedule& s) {
                const auto bit = static_cast<std::uint16_t>(1u << weekday);
                s.weekdays = static_cast<std::uint16_t>(checked ? s.weekdays | bit : s.weekdays & ~bit);
              });
            });
  }
  connect(ui.rbMonthlyDay, &QRadioButton::toggled, this, [this](bool checked) {
    edit([checked](Schedule& s) {
      s.monthlyMode = checked ? MonthlyMode::DayOfMonth : MonthlyMode::WeekdayOfMonth;
    });
    if (!filling_) showMonthlyMode();
  });
  connect(ui.spedtMonthDay, &QSpinBox::valueChanged, this,
          [this](int value) { edit([value](Schedule& s) { s.monthDay = value; }); });
  connect(ui.cmbWhichWeek, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) edit([index](Schedule& s) { s.whichWeek = index + 1; });
  });
  connect(ui.cmbWeekday, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0) edit([index](Schedule& s) { s.weekday = weekdayOfIndex(index); });
  });
  connect(ui.edtRunOn, &QDateEdit::dateChanged, this,
          [this](const QDate& date) { edit([&date](Schedule& s) { s.startDate = toCivil(date); }); });
  connect(ui.spedtIdleMinutes, &QSpinBox::valueChanged, this,
          [this](int value) { edit([value](Schedule& s) { s.idleMinutes = value; }); });

  connect(ui.cmbSchedules, &QComboBox::currentIndexChanged, this,
          guarded(this, &SchedulePageDialog::cmbSchedulesChange));
  connect(ui.chkShowMultiple, &QCheckBox::toggled, this,
          guarded(this, &SchedulePageDialog::chkShowMultipleClick));
  connect(ui.btnNew, &QPushButton::clicked, this, guarded(this, &SchedulePageDialog::btnNewClick));
  connect(ui.btnDelete, &QPushButton::clicked, this, guarded(this, &SchedulePageDialog::btnDeleteClick));
  connect(ui.btnAdvanced, &QPushButton::clicked, this, guarded(this, &SchedulePageDialog::btnAdvancedClick));
  connect(ui.btnSelectMonths, &QPushButton::clicked, this,
          guarded(this, &SchedulePageDialog::btnSelectMonthsClick));
}

tasks::LocalMinute SchedulePageDialog::now() const {
  if (clock_) return clock_();
  const QDateTime local = QDateTime::currentDateTime();
  const QDate date = local.date();
  const QTime time = local.time();
  return tasks::LocalMinute::at(date.year(), date.month(), date.day(), time.hour(), time.minute());
}

Schedule SchedulePageDialog::newSchedule() const { return tasks::defaultSchedule(now().toSystemTime()); }

TaskTrigger SchedulePageDialog::triggerOf(const Entry& entry) const {
  return entry.fromTask ? tasks::updatedTrigger(entry.original, entry.schedule)
                        : tasks::triggerFromSchedule(entry.schedule);
}

bool SchedulePageDialog::isWrittenFromSchedule(const Entry& entry) const {
  return !entry.fromTask || !tasks::showsTrigger(entry.schedule, entry.original);
}

void SchedulePageDialog::loadTriggers(const std::vector<TaskTrigger>& triggers) {
  entries_.clear();
  for (const TaskTrigger& trigger : triggers) {
    entries_.push_back({true, trigger, tasks::scheduleFromTrigger(trigger)});
  }
  // A task without triggers opens on the schedule a new one gets.
  if (entries_.empty()) entries_.push_back({false, {}, newSchedule()});
  current_ = 0;
  accepted_.clear();
  {
    const QSignalBlocker quiet(ui_->chkShowMultiple);
    ui_->chkShowMultiple->setChecked(entries_.size() > 1);
  }
  showMultiple();
  showSchedule();
}

int SchedulePageDialog::show(void* ownerWindow, const std::string& caption,
                             std::vector<TaskTrigger>& triggers) {
  loadTriggers(triggers);
  setWindowTitle(toQString(caption));
  ui_->pgcPages->setCurrentIndex(0);
  ui_->cmbScheduleKind->setFocus(Qt::OtherFocusReason);
  // Over the owner's window while shown; never its child after, so that the owner's end does
  // not end the page.
  setParent(ownerWidget(ownerWindow, this), dialogFlags());
  const int result = exec();
  setParent(nullptr, dialogFlags());
  if (result != QDialog::Accepted) return 0;
  triggers = accepted_;
  return 1;
}

// --- Showing the current schedule ------------------------------------------------------------

void SchedulePageDialog::showSchedule() {
  Controls& ui = *ui_;
  const Schedule& schedule = current();
  filling_ = true;
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
  filling_ = false;
  showKind();
  showMonthlyMode();
  refreshSummary();
}

void SchedulePageDialog::showKind() {
  Controls& ui = *ui_;
  const ScheduleKind kind = current().kind;
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

void SchedulePageDialog::showMonthlyMode() {
  Controls& ui = *ui_;
  const bool byDay = current().monthlyMode == MonthlyMode::DayOfMonth;
  ui.spedtMonthDay->setEnabled(byDay);
  ui.cmbWhichWeek->setEnabled(!byDay);
  ui.cmbWeekday->setEnabled(!byDay);
}

void SchedulePageDialog::showMultiple() {
  Controls& ui = *ui_;
  const bool several = entries_.size() > 1;
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

void SchedulePageDialog::refreshSummary() {
  Controls& ui = *ui_;
  ui.lblSummary->setText(
      toQString(tasks::triggerText(triggerOf(entries_[static_cast<std::size_t>(current_)]))));
  const QSignalBlocker quiet(ui.cmbSchedules);
  while (ui.cmbSchedules->count() > static_cast<int>(entries_.size())) {
    ui.cmbSchedules->removeItem(ui.cmbSchedules->count() - 1);
  }
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const QString item =
        QStringLiteral("%1. %2").arg(i + 1).arg(toQString(tasks::triggerText(triggerOf(entries_[i]))));
    if (static_cast<int>(i) < ui.cmbSchedules->count()) {
      ui.cmbSchedules->setItemText(static_cast<int>(i), item);
    } else {
      ui.cmbSchedules->addItem(item);
    }
  }
  ui.cmbSchedules->setCurrentIndex(current_);
  // The list opens as wide as its longest text; the closed box may cut it, its tip does not.
  ui.cmbSchedules->setToolTip(ui.cmbSchedules->currentText());
  QAbstractItemView* list = ui.cmbSchedules->view();
  list->setMinimumWidth(list->sizeHintForColumn(0) + list->verticalScrollBar()->sizeHint().width() +
                        2 * list->frameWidth());
}

void SchedulePageDialog::edit(const std::function<void(Schedule&)>& change) {
  if (filling_) return;
  change(current());
  refreshSummary();
}

// --- Handlers ----------------------------------------------------------------------------------

void SchedulePageDialog::cmbSchedulesChange() {
  const int index = ui_->cmbSchedules->currentIndex();
  if (index < 0 || index >= static_cast<int>(entries_.size()) || index == current_) return;
  current_ = index;
  showSchedule();
}

void SchedulePageDialog::chkShowMultipleClick() {
  showMultiple();
  refreshSummary();
}

void SchedulePageDialog::btnNewClick() {
  entries_.push_back({false, {}, newSchedule()});
  current_ = static_cast<int>(entries_.size()) - 1;
  showMultiple();
  showSchedule();
  ui_->cmbScheduleKind->setFocus(Qt::OtherFocusReason);
}

void SchedulePageDialog::btnDeleteClick() {
  // The last schedule stays: a task leaves the page with at least one.
  if (entries_.size() <= 1) return;
  entries_.erase(entries_.begin() + current_);
  current_ = std::min(current_, static_cast<int>(entries_.size()) - 1);
  showMultiple();
  showSchedule();
}

void SchedulePageDialog::btnAdvancedClick() {
  AdvancedOptionsDialog dialog(current(), this);
  if (dialog.exec() != QDialog::Accepted) return;
  const Schedule edited = dialog.edited();
  edit([&edited](Schedule& s) { s = edited; });
  // The start date is also the "run on" date of Once.
  showSchedule();
}

void SchedulePageDialog::btnSelectMonthsClick() {
  SelectMonthsDialog dialog(current().months, this);
  if (dialog.exec() != QDialog::Accepted) return;
  const std::uint16_t months = dialog.months();
  edit([months](Schedule& s) { s.months = months; });
}

void SchedulePageDialog::accept() {
  std::vector<TaskTrigger> triggers;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& entry = entries_[i];
    // A trigger the user left alone goes back as it was, unchecked.
    if (isWrittenFromSchedule(entry)) {
      if (const auto problem = tasks::validateSchedule(entry.schedule)) {
        if (static_cast<int>(i) != current_) {
          current_ = static_cast<int>(i);
          showSchedule();
        }
        prompts().error(this, toQString(problem->message));
        focusInput(problem->input);
        return;
      }
    }
    triggers.push_back(triggerOf(entry));
  }
  accepted_ = std::move(triggers);
  QDialog::accept();
}

void SchedulePageDialog::focusInput(ScheduleInput input) {
  Controls& ui = *ui_;
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

SchedulePageOnFirstShow::SchedulePageOnFirstShow(SchedulePageDialog::Clock clock)
    : clock_(std::move(clock)) {}

SchedulePageOnFirstShow::~SchedulePageOnFirstShow() = default;

int SchedulePageOnFirstShow::show(void* ownerWindow, const std::string& caption,
                                  std::vector<TaskTrigger>& triggers) {
  if (!page_) page_ = std::make_unique<SchedulePageDialog>(clock_);
  return page_->show(ownerWindow, caption, triggers);
}

}  // namespace bv::forms
