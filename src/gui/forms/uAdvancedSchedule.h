// The dialog "詳細スケジュール オプション" that the schedule page's "詳細設定..." opens: the start
// date, the end date with its check box, and the repetition (every n minutes or hours, until a
// time or for a duration, stopped at the end or not). It edits a copy of the schedule; OK checks
// it first. Also the schedule's dates as their date edits show them, which the page's run-on date
// shares.
#pragma once

#include <QDialog>
#include <vector>

#include "core/tasks/schedule_mapping.h"
#include "core/tasks/system_time.h"

class QCheckBox;
class QComboBox;
class QDate;
class QDateEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimeEdit;
class QVBoxLayout;

namespace bv::forms {

// A schedule's date as a date edit takes it, and back.
QDate toQDate(const tasks::CivilDate& date);
tasks::CivilDate toCivil(const QDate& date);
// A date edit shows the date, or `fallback` when the date is not a real one.
void showDate(QDateEdit* edit, const tasks::CivilDate& date, const tasks::CivilDate& fallback);

class TfrmAdvancedSchedule : public QDialog {
  Q_OBJECT

 public:
  TfrmAdvancedSchedule(const tasks::Schedule& schedule, QWidget* parent);
  // The schedule with the dialog's inputs.
  tasks::Schedule Edited() const;
  // OK: the first refusal of the inputs shows its box and puts the focus in its input.
  void accept() override;

 private:
  void BuildDates(QVBoxLayout* root);
  void BuildRepetition(QVBoxLayout* root);
  void ShowSchedule(const tasks::Schedule& schedule);
  void ShowEnabled();

  tasks::Schedule FSchedule;
  std::vector<QWidget*> FRepeatInputs;

  // Controls, each with its objectName.
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

}  // namespace bv::forms
