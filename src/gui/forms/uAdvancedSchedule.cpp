#include "gui/forms/uAdvancedSchedule.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>
#include <QVBoxLayout>

#include "gui/widgets/form_layout.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"

namespace bv::forms {

using tasks::CivilDate;
using tasks::RepeatEnd;
using tasks::RepeatUnit;
using tasks::Schedule;
using tasks::ScheduleInput;
using widgets::named;
using widgets::prompts;
using widgets::toQString;

QDate toQDate(const CivilDate& date) { return QDate(date.year, date.month, date.day); }
CivilDate toCivil(const QDate& date) { return {date.year(), date.month(), date.day()}; }

void showDate(QDateEdit* edit, const CivilDate& date, const CivilDate& fallback) {
  const QDate shown = toQDate(date);
  edit->setDate(shown.isValid() ? shown : toQDate(fallback));
}

TfrmAdvancedSchedule::TfrmAdvancedSchedule(const Schedule& schedule, QWidget* parent)
    : QDialog(parent, widgets::dialogFlags()), FSchedule(schedule) {
  setObjectName(QStringLiteral("frmAdvancedSchedule"));
  setWindowTitle(QStringLiteral("詳細スケジュール オプション"));
  setModal(true);

  auto* root = new QVBoxLayout(this);
  BuildDates(root);
  BuildRepetition(root);
  root->addStretch();
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  root->addLayout(widgets::okCancelRow(this, ok, cancel));
  btnOK = ok;
  btnCancel = cancel;
  widgets::makeOkTheDefault(this, ok);

  ShowSchedule(schedule);
  for (QCheckBox* box : {chkEndDate, chkRepeat}) {
    connect(box, &QCheckBox::toggled, this, [this] { ShowEnabled(); });
  }
  for (QRadioButton* button : {rbUntilTime, rbUntilDuration}) {
    connect(button, &QRadioButton::toggled, this, [this] { ShowEnabled(); });
  }
  ShowEnabled();
}

// The start date, and the end date with its check box.
void TfrmAdvancedSchedule::BuildDates(QVBoxLayout* root) {
  auto* dates = new QGridLayout;
  dates->addWidget(named(new QLabel(QStringLiteral("開始日"), this), "lblStartDate"), 0, 0);
  edtStartDate = named(new QDateEdit(this), "edtStartDate");
  widgets::setUpDateEdit(edtStartDate);
  dates->addWidget(edtStartDate, 0, 1);
  chkEndDate = named(new QCheckBox(QStringLiteral("終了日"), this), "chkEndDate");
  edtEndDate = named(new QDateEdit(this), "edtEndDate");
  widgets::setUpDateEdit(edtEndDate);
  dates->addWidget(chkEndDate, 1, 0);
  dates->addWidget(edtEndDate, 1, 1);
  dates->setColumnStretch(2, 1);
  root->addLayout(dates);
}

// The check box and, indented under it, the interval, the end (a time or a duration) and the
// stop at the end.
void TfrmAdvancedSchedule::BuildRepetition(QVBoxLayout* root) {
  chkRepeat = named(new QCheckBox(QStringLiteral("タスクを繰り返し実行する"), this), "chkRepeat");
  root->addWidget(chkRepeat);
  auto* repeat = new QGridLayout;
  repeat->setContentsMargins(20, 0, 0, 0);
  auto* lblRepeatEvery = named(new QLabel(QStringLiteral("間隔"), this), "lblRepeatEvery");
  spedtRepeatEvery = widgets::numberBox(this, "spedtRepeatEvery", 1, tasks::kMaxRepeatEvery);
  cmbRepeatUnit = named(new QComboBox(this), "cmbRepeatUnit");
  cmbRepeatUnit->addItems({QStringLiteral("分"), QStringLiteral("時間")});
  auto* everyRow = new QHBoxLayout;
  everyRow->addWidget(spedtRepeatEvery);
  everyRow->addWidget(cmbRepeatUnit);
  everyRow->addStretch();
  repeat->addWidget(lblRepeatEvery, 0, 0);
  repeat->addLayout(everyRow, 0, 1, 1, 2);

  auto* lblRepeatUntil = named(new QLabel(QStringLiteral("繰り返しの終了"), this), "lblRepeatUntil");
  rbUntilTime = named(new QRadioButton(QStringLiteral("時刻"), this), "rbUntilTime");
  edtUntilTime = named(new QTimeEdit(this), "edtUntilTime");
  edtUntilTime->setDisplayFormat(QStringLiteral("H:mm"));
  rbUntilDuration = named(new QRadioButton(QStringLiteral("継続時間"), this), "rbUntilDuration");
  spedtDurationHours = widgets::numberBox(this, "spedtDurationHours", 0, tasks::kMaxDurationHours);
  spedtDurationMinutes = widgets::numberBox(this, "spedtDurationMinutes", 0, 59);
  auto* lblDurationHours = named(new QLabel(QStringLiteral("時間"), this), "lblDurationHours");
  auto* lblDurationMinutes = named(new QLabel(QStringLiteral("分"), this), "lblDurationMinutes");
  auto* untilTimeRow = new QHBoxLayout;
  untilTimeRow->addWidget(edtUntilTime);
  untilTimeRow->addStretch();
  auto* durationRow = new QHBoxLayout;
  durationRow->addWidget(spedtDurationHours);
  durationRow->addWidget(lblDurationHours);
  durationRow->addWidget(spedtDurationMinutes);
  durationRow->addWidget(lblDurationMinutes);
  durationRow->addStretch();
  repeat->addWidget(lblRepeatUntil, 1, 0);
  repeat->addWidget(rbUntilTime, 1, 1);
  repeat->addLayout(untilTimeRow, 1, 2);
  repeat->addWidget(rbUntilDuration, 2, 1);
  repeat->addLayout(durationRow, 2, 2);
  chkStopAtEnd =
      named(new QCheckBox(QStringLiteral("この時刻にタスクが実行中の場合は停止する"), this), "chkStopAtEnd");
  repeat->addWidget(chkStopAtEnd, 3, 0, 1, 3);
  repeat->setColumnStretch(2, 1);
  root->addLayout(repeat);
  FRepeatInputs = {lblRepeatEvery,   spedtRepeatEvery,     cmbRepeatUnit,      lblRepeatUntil,
                   rbUntilTime,      edtUntilTime,         rbUntilDuration,    spedtDurationHours,
                   lblDurationHours, spedtDurationMinutes, lblDurationMinutes, chkStopAtEnd};
}

// The inputs as the schedule has them.
void TfrmAdvancedSchedule::ShowSchedule(const Schedule& schedule) {
  edtStartDate->setDate(toQDate(schedule.startDate));
  chkEndDate->setChecked(schedule.hasEndDate);
  showDate(edtEndDate, schedule.endDate, schedule.startDate);
  chkRepeat->setChecked(schedule.repeat);
  spedtRepeatEvery->setValue(schedule.repeatEvery);
  cmbRepeatUnit->setCurrentIndex(schedule.repeatUnit == RepeatUnit::Hours ? 1 : 0);
  rbUntilTime->setChecked(schedule.repeatEnd == RepeatEnd::AtTime);
  rbUntilDuration->setChecked(schedule.repeatEnd == RepeatEnd::AfterDuration);
  edtUntilTime->setTime(QTime(schedule.untilHour, schedule.untilMinute));
  spedtDurationHours->setValue(schedule.durationHours);
  spedtDurationMinutes->setValue(schedule.durationMinutes);
  chkStopAtEnd->setChecked(schedule.stopAtEnd);
  // Once runs on its one day; an end date means nothing to it.
  chkEndDate->setEnabled(tasks::takesEndDate(schedule.kind));
}

void TfrmAdvancedSchedule::ShowEnabled() {
  edtEndDate->setEnabled(chkEndDate->isEnabled() && chkEndDate->isChecked());
  const bool repeat = chkRepeat->isChecked();
  for (QWidget* input : FRepeatInputs) input->setEnabled(repeat);
  edtUntilTime->setEnabled(repeat && rbUntilTime->isChecked());
  for (QWidget* input :
       {static_cast<QWidget*>(spedtDurationHours), static_cast<QWidget*>(spedtDurationMinutes)}) {
    input->setEnabled(repeat && rbUntilDuration->isChecked());
  }
}

Schedule TfrmAdvancedSchedule::Edited() const {
  Schedule schedule = FSchedule;
  schedule.startDate = toCivil(edtStartDate->date());
  schedule.hasEndDate = chkEndDate->isChecked();
  // An end date that is off keeps what the trigger had.
  if (schedule.hasEndDate) schedule.endDate = toCivil(edtEndDate->date());
  schedule.repeat = chkRepeat->isChecked();
  schedule.repeatEvery = spedtRepeatEvery->value();
  schedule.repeatUnit = cmbRepeatUnit->currentIndex() == 1 ? RepeatUnit::Hours : RepeatUnit::Minutes;
  schedule.repeatEnd = rbUntilDuration->isChecked() ? RepeatEnd::AfterDuration : RepeatEnd::AtTime;
  schedule.untilHour = edtUntilTime->time().hour();
  schedule.untilMinute = edtUntilTime->time().minute();
  schedule.durationHours = spedtDurationHours->value();
  schedule.durationMinutes = spedtDurationMinutes->value();
  schedule.stopAtEnd = chkStopAtEnd->isChecked();
  return schedule;
}

void TfrmAdvancedSchedule::accept() {
  const auto problem = tasks::validateAdvancedOptions(Edited());
  if (!problem) {
    QDialog::accept();
    return;
  }
  prompts().error(this, toQString(problem->message));
  QWidget* focus = edtStartDate;
  switch (problem->input) {
    case ScheduleInput::EndDate:
      focus = edtEndDate;
      break;
    case ScheduleInput::RepeatEvery:
      focus = spedtRepeatEvery;
      break;
    case ScheduleInput::RepeatUntil:
      focus = rbUntilTime->isChecked() ? static_cast<QWidget*>(edtUntilTime) : spedtDurationHours;
      break;
    default:
      break;
  }
  focus->setFocus(Qt::OtherFocusReason);
}

}  // namespace bv::forms
