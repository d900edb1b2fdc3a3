// The schedule page driven through real widgets on the offscreen platform, as the scheduler shows
// it: modal, over a copy of the task's triggers. Each kind set through its controls, the advanced
// options and the months, several schedules, OK, Cancel and closing, and the page's refusals.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <functional>
#include <vector>

#include "controls.h"
#include "core/tasks/schedule_mapping.h"
#include "core/tasks/trigger_text.h"
#include "gui/forms/uSchedulePage.h"
#include "modal.h"
#include "prompt_recorder.h"

namespace {

using namespace bv::forms;
using namespace bv::tasks;

// Tuesday 2026-12-08, 1:41.
LocalMinute fixedNow() { return LocalMinute::at(2026, 12, 8, 1, 41); }

TaskTrigger from20261208(TriggerType type, std::uint16_t hour = 2, std::uint16_t minute = 0) {
  TaskTrigger trigger;
  trigger.beginYear = 2026;
  trigger.beginMonth = 12;
  trigger.beginDay = 8;
  trigger.startHour = hour;
  trigger.startMinute = minute;
  trigger.type = type;
  return trigger;
}

TaskTrigger daily(std::uint16_t every) {
  TaskTrigger trigger = from20261208(TriggerType::Daily);
  trigger.daysInterval = every;
  return trigger;
}

TaskTrigger weekly(std::uint16_t every, std::uint16_t days) {
  TaskTrigger trigger = from20261208(TriggerType::Weekly);
  trigger.weeksInterval = every;
  trigger.daysOfTheWeek = days;
  return trigger;
}

QString qs(const std::string& text) { return QString::fromStdString(text); }
QString qs(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// --- Driving the controls as a user does -------------------------------------------------------

void press(QAbstractButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

// Check boxes and radio buttons toggle with the space bar, as with a click on their caption.
void toggle(QAbstractButton* box) {
  box->setFocus(Qt::TabFocusReason);
  QTest::keyClick(box, Qt::Key_Space);
}

void choose(QComboBox* combo, const QString& item) {
  const int target = combo->findText(item);
  ASSERT_GE(target, 0) << item.toStdString();
  combo->setFocus(Qt::TabFocusReason);
  while (combo->currentIndex() < target) QTest::keyClick(combo, Qt::Key_Down);
  while (combo->currentIndex() > target) QTest::keyClick(combo, Qt::Key_Up);
}

void typeNumber(QSpinBox* box, const char* digits) {
  box->setFocus(Qt::TabFocusReason);
  QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(box, QString::fromLatin1(digits));
}

// Tabbing into a date or time edit selects its first section; typing fills the sections in turn
// ("2:30" for a time, "20270131" for a date). An edit that has the focus is left and entered
// again, as a user tabs away and back.
void typeInto(QDateTimeEdit* edit, const char* keys) {
  if (edit->hasFocus()) edit->clearFocus();
  edit->setFocus(Qt::TabFocusReason);
  QTest::keyClicks(edit, QString::fromLatin1(keys));
}

template <typename W>
W* in(const QObject* form, const char* name) {
  return bvtest::control<W>(form, name);
}

// The window takes the keyboard, as the one the user works in.
void activate(QWidget* window) {
  window->activateWindow();
  // A dialog may count as active with its owner already (shared activation); wait for the
  // window itself.
  EXPECT_TRUE(QTest::qWaitFor([window] { return QApplication::activeWindow() == window; }))
      << window->objectName().toStdString();
}

// Runs `act` on the modal window that opens next (the advanced options, the months).
void onNextModal(std::function<void(QDialog&)> act) {
  QTimer::singleShot(0, [act = std::move(act)] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      ADD_FAILURE() << "no modal window opened";
      return;
    }
    activate(dialog);
    act(*dialog);
  });
}

class SchedulePageTest : public ::testing::Test {
 protected:
  // Shows the page as the scheduler does and runs `user` on it once it is up. Gives up (the page
  // ends with 99, show() answers 0) if it never closes.
  int showPage(std::vector<TaskTrigger>& triggers, std::function<void()> user,
               NativeWindow owner = NativeWindow::None) {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &page, [this] { page.done(99); });
    guard.start(60000);
    QTimer::singleShot(0, &page, [this, user = std::move(user)] {
      activate(&page);
      user();
    });
    return page.show(owner, "nightly_backup", triggers);
  }

  template <typename W>
  W* find(const char* name) {
    return bvtest::control<W>(&page, name);
  }
  QString summary() { return find<QLabel>("lblSummary")->text(); }
  void pressOk() { press(find<QPushButton>("btnOK")); }

  bvtest::PromptRecorder prompts;
  TfrmSchedulePage page{fixedNow};
};

// --- The page and its controls ------------------------------------------------------------------

TEST_F(SchedulePageTest, IsAPropertySheetWithTheScheduleTabOkAndCancel) {
  std::vector<TaskTrigger> triggers{daily(1)};
  const int result = showPage(triggers, [&] {
    EXPECT_TRUE(page.isVisible());
    EXPECT_TRUE(page.isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), &page);
    EXPECT_EQ(page.windowTitle(), QStringLiteral("nightly_backup"));
    QTabWidget* pages = find<QTabWidget>("pgcPages");
    ASSERT_EQ(pages->count(), 1);
    EXPECT_EQ(pages->tabText(0), QStringLiteral("スケジュール"));
    EXPECT_EQ(pages->widget(0), find<QWidget>("tsSchedule"));
    EXPECT_EQ(find<QPushButton>("btnOK")->text(), QStringLiteral("OK"));
    EXPECT_EQ(find<QPushButton>("btnCancel")->text(), QStringLiteral("キャンセル"));
    EXPECT_TRUE(find<QPushButton>("btnOK")->isDefault());
    QStringList buttons;
    for (QPushButton* button : page.findChildren<QPushButton*>()) {
      if (!pages->isAncestorOf(button)) buttons << button->text();
    }
    EXPECT_EQ(buttons, QStringList({QStringLiteral("OK"), QStringLiteral("キャンセル")})) << "no Apply";
    press(find<QPushButton>("btnCancel"));
  });
  EXPECT_EQ(result, 0);
}

TEST_F(SchedulePageTest, CaptionsAndChoices) {
  EXPECT_EQ(find<QLabel>("lblScheduleKind")->text(), QStringLiteral("タスクのスケジュール"));
  EXPECT_EQ(find<QLabel>("lblStartTime")->text(), QStringLiteral("開始時刻"));
  EXPECT_EQ(find<QPushButton>("btnAdvanced")->text(), QStringLiteral("詳細設定..."));
  EXPECT_EQ(find<QPushButton>("btnSelectMonths")->text(), QStringLiteral("月の選択..."));
  EXPECT_EQ(find<QCheckBox>("chkShowMultiple")->text(), QStringLiteral("複数のスケジュールを表示する"));
  EXPECT_EQ(find<QPushButton>("btnNew")->text(), QStringLiteral("新規"));
  EXPECT_EQ(find<QPushButton>("btnDelete")->text(), QStringLiteral("削除"));
  QComboBox* kinds = find<QComboBox>("cmbScheduleKind");
  QStringList items;
  const auto* model = qobject_cast<QStandardItemModel*>(kinds->model());
  for (int i = 0; i < kinds->count(); ++i) {
    if (model->item(i)->isEnabled()) items << kinds->itemText(i);
  }
  // Nothing here can start a task when the computer is idle: that kind is not offered.
  EXPECT_EQ(items, QStringList({"毎日", "毎週", "毎月", "一回限り", "システム起動時", "ログオン時"}));
  QComboBox* weeks = find<QComboBox>("cmbWhichWeek");
  items.clear();
  for (int i = 0; i < weeks->count(); ++i) items << weeks->itemText(i);
  EXPECT_EQ(items, QStringList({"第 1", "第 2", "第 3", "第 4", "最終"}));
  EXPECT_EQ(find<QComboBox>("cmbWeekday")->itemText(0), QStringLiteral("月曜日"));
  EXPECT_EQ(find<QComboBox>("cmbWeekday")->itemText(6), QStringLiteral("日曜日"));
  EXPECT_EQ(find<QSpinBox>("spedtEveryDays")->maximum(), kMaxEveryDays);
  EXPECT_EQ(find<QSpinBox>("spedtEveryWeeks")->maximum(), kMaxEveryWeeks);
  EXPECT_EQ(find<QSpinBox>("spedtMonthDay")->minimum(), 1);
  EXPECT_EQ(find<QSpinBox>("spedtMonthDay")->maximum(), 31);
  EXPECT_EQ(find<QTimeEdit>("edtStartTime")->displayFormat(), QStringLiteral("H:mm"));
  EXPECT_EQ(find<QDateEdit>("edtRunOn")->displayFormat(), QStringLiteral("yyyy/MM/dd"));
}

TEST_F(SchedulePageTest, EveryControlCarriesItsName) {
  for (const char* name :
       {"pgcPages",        "tsSchedule",       "lblSummary",      "cmbSchedules",     "btnNew",
        "btnDelete",       "lblScheduleKind",  "cmbScheduleKind", "lblStartTime",     "edtStartTime",
        "btnAdvanced",     "gbxSchedule",      "pnlDaily",        "spedtEveryDays",   "pnlWeekly",
        "spedtEveryWeeks", "chkMon",           "chkTue",          "chkWed",           "chkThu",
        "chkFri",          "chkSat",           "chkSun",          "pnlMonthly",       "rbMonthlyDay",
        "spedtMonthDay",   "rbMonthlyWeekday", "cmbWhichWeek",    "cmbWeekday",       "btnSelectMonths",
        "pnlOnce",         "edtRunOn",         "pnlIdle",         "spedtIdleMinutes", "chkShowMultiple",
        "btnOK",           "btnCancel"}) {
    EXPECT_NE(page.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
  }
  EXPECT_EQ(page.objectName(), QStringLiteral("frmSchedulePage"));
}

TEST_F(SchedulePageTest, ShowsOverTheOwnersWindowAndLetsGoAfter) {
  QWidget owner;
  auto* field = new QLineEdit(&owner);
  owner.show();
  std::vector<TaskTrigger> triggers{daily(1)};
  showPage(
      triggers,
      [&] {
        EXPECT_EQ(page.parentWidget(), &owner) << "a control's window is the owner";
        press(find<QPushButton>("btnCancel"));
      },
      nativeWindowOf(field));
  EXPECT_EQ(page.parentWidget(), nullptr);

  showPage(
      triggers,
      [&] {
        EXPECT_EQ(page.parentWidget(), nullptr) << "a window that is none of the program's is no owner";
        press(find<QPushButton>("btnCancel"));
      },
      static_cast<NativeWindow>(0x7FFF1234));
}

TEST_F(SchedulePageTest, NoCaptionIsClipped) {
  std::vector<TaskTrigger> triggers{daily(1), weekly(2, 0x22)};
  showPage(triggers, [&] {
    for (const char* kind : {"毎日", "毎週", "毎月", "一回限り"}) {
      choose(find<QComboBox>("cmbScheduleKind"), QString::fromUtf8(kind));
      for (QLabel* label : page.findChildren<QLabel*>()) {
        if (!label->isVisible() || label->wordWrap()) continue;
        EXPECT_GE(label->width(), label->sizeHint().width())
            << kind << " " << label->objectName().toStdString();
      }
      for (QAbstractButton* button : page.findChildren<QAbstractButton*>()) {
        if (!button->isVisible() || button->text().isEmpty()) continue;
        EXPECT_GE(button->width(), button->minimumSizeHint().width())
            << kind << " " << button->objectName().toStdString();
      }
    }
    press(find<QPushButton>("btnCancel"));
  });
}

// --- OK, Cancel, closing -------------------------------------------------------------------------

TEST_F(SchedulePageTest, ATaskWithoutTriggersOpensOnTheDefaultScheduleAndOkGivesItEnabled) {
  std::vector<TaskTrigger> triggers;
  const int result = showPage(triggers, [&] {
    EXPECT_EQ(find<QComboBox>("cmbScheduleKind")->currentText(), QStringLiteral("毎日"));
    EXPECT_EQ(find<QTimeEdit>("edtStartTime")->time(), QTime(1, 41));
    EXPECT_EQ(find<QSpinBox>("spedtEveryDays")->value(), 1);
    EXPECT_EQ(summary(), QStringLiteral("毎日 1:41 に開始、開始日: 2026/12/08"));
    EXPECT_FALSE(find<QCheckBox>("chkShowMultiple")->isChecked());
    EXPECT_TRUE(find<QLabel>("lblSummary")->isVisible());
    EXPECT_FALSE(find<QComboBox>("cmbSchedules")->isVisible());
    pressOk();
  });
  EXPECT_EQ(result, 1);
  TaskTrigger expected = from20261208(TriggerType::Daily, 1, 41);
  expected.daysInterval = 1;
  ASSERT_EQ(triggers.size(), 1u);
  EXPECT_EQ(triggers[0], expected);
  EXPECT_TRUE(triggers[0].isEnabled());
  EXPECT_EQ(validateTrigger(triggers[0]), kOk);
}

TEST_F(SchedulePageTest, CancelLeavesTheTriggersAsTheyWere) {
  const std::vector<TaskTrigger> before{daily(2)};
  std::vector<TaskTrigger> triggers = before;
  const int result = showPage(triggers, [&] {
    choose(find<QComboBox>("cmbScheduleKind"), QStringLiteral("毎週"));
    typeInto(find<QTimeEdit>("edtStartTime"), "4:15");
    press(find<QPushButton>("btnCancel"));
  });
  EXPECT_NE(result, 1);
  EXPECT_EQ(triggers, before);
}

TEST_F(SchedulePageTest, EscapeAndClosingTheWindowLeaveThemToo) {
  const std::vector<TaskTrigger> before{daily(2), weekly(1, 0x02)};
  std::vector<TaskTrigger> triggers = before;
  int result = showPage(triggers, [&] {
    typeNumber(find<QSpinBox>("spedtEveryDays"), "9");
    QTest::keyClick(&page, Qt::Key_Escape);
  });
  EXPECT_NE(result, 1);
  EXPECT_EQ(triggers, before);

  result = showPage(triggers, [&] {
    press(find<QPushButton>("btnNew"));
    page.close();
  });
  EXPECT_NE(result, 1);
  EXPECT_EQ(triggers, before);
  EXPECT_FALSE(page.isVisible());
}

TEST_F(SchedulePageTest, OkWithoutChangesGivesBackTheTriggersWhole) {
  // Several month days and a disabled flag: more than the page shows.
  TaskTrigger monthly = from20261208(TriggerType::MonthlyDate);
  monthly.monthDays = (1u << 0) | (1u << 14);
  monthly.months = kAllMonths;
  TaskTrigger disabled = daily(3);
  disabled.flags = kTriggerFlagDisabled;
  const std::vector<TaskTrigger> before{monthly, disabled};
  std::vector<TaskTrigger> triggers = before;
  const int result = showPage(triggers, [&] {
    EXPECT_EQ(find<QComboBox>("cmbSchedules")->itemText(0),
              QStringLiteral("1. 毎月 1, 15 日 2:00 に開始、開始日: 2026/12/08"));
    pressOk();
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(triggers, before);
}

// --- Each kind through its controls --------------------------------------------------------------

TEST_F(SchedulePageTest, DailyEveryNDaysAtATime) {
  std::vector<TaskTrigger> triggers{daily(1)};
  const int result = showPage(triggers, [&] {
    EXPECT_TRUE(find<QWidget>("pnlDaily")->isVisible());
    EXPECT_EQ(find<QGroupBox>("gbxSchedule")->title(), QStringLiteral("毎日のスケジュール"));
    typeInto(find<QTimeEdit>("edtStartTime"), "23:05");
    typeNumber(find<QSpinBox>("spedtEveryDays"), "3");
    EXPECT_EQ(summary(), QStringLiteral("3 日ごと 23:05 に開始、開始日: 2026/12/08")) << "follows each edit";
    pressOk();
  });
  ASSERT_EQ(result, 1);
  TaskTrigger expected = daily(3);
  expected.startHour = 23;
  expected.startMinute = 5;
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{expected});
}

TEST_F(SchedulePageTest, WeeklyOnTheCheckedDays) {
  std::vector<TaskTrigger> triggers{daily(1)};
  const int result = showPage(triggers, [&] {
    choose(find<QComboBox>("cmbScheduleKind"), QStringLiteral("毎週"));
    EXPECT_TRUE(find<QWidget>("pnlWeekly")->isVisible());
    EXPECT_FALSE(find<QWidget>("pnlDaily")->isVisible());
    EXPECT_EQ(find<QGroupBox>("gbxSchedule")->title(), QStringLiteral("毎週のスケジュール"));
    EXPECT_TRUE(find<QCheckBox>("chkTue")->isChecked()) << "the start date's weekday to begin with";
    toggle(find<QCheckBox>("chkTue"));
    toggle(find<QCheckBox>("chkMon"));
    toggle(find<QCheckBox>("chkFri"));
    toggle(find<QCheckBox>("chkSun"));
    typeNumber(find<QSpinBox>("spedtEveryWeeks"), "2");
    EXPECT_EQ(summary(), QStringLiteral("2 週ごと 日, 月, 金 曜日 2:00 に開始、開始日: 2026/12/08"));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{weekly(2, 0x01 | 0x02 | 0x20)});
}

TEST_F(SchedulePageTest, MonthlyOnADayOfTheSelectedMonths) {
  std::vector<TaskTrigger> triggers{daily(1)};
  const int result = showPage(triggers, [&] {
    choose(find<QComboBox>("cmbScheduleKind"), QStringLiteral("毎月"));
    EXPECT_TRUE(find<QWidget>("pnlMonthly")->isVisible());
    EXPECT_TRUE(find<QRadioButton>("rbMonthlyDay")->isChecked());
    EXPECT_TRUE(find<QSpinBox>("spedtMonthDay")->isEnabled());
    EXPECT_FALSE(find<QComboBox>("cmbWeekday")->isEnabled());
    EXPECT_EQ(find<QSpinBox>("spedtMonthDay")->value(), 8) << "the start date's day to begin with";
    typeNumber(find<QSpinBox>("spedtMonthDay"), "15");
    onNextModal([](QDialog& months) {
      EXPECT_EQ(months.windowTitle(), QStringLiteral("月の選択"));
      for (int month = 1; month <= 12; ++month) {
        const QByteArray name = "chkMonth" + QByteArray::number(month);
        QCheckBox* box = in<QCheckBox>(&months, name.constData());
        EXPECT_TRUE(box->isChecked()) << "every month to begin with";
        EXPECT_EQ(box->text(), QStringLiteral("%1月").arg(month));
        if (month % 3 != 1) toggle(box);
      }
      press(in<QPushButton>(&months, "btnOK"));
    });
    press(find<QPushButton>("btnSelectMonths"));
    EXPECT_EQ(summary(), QStringLiteral("1, 4, 7, 10 月の 15 日 2:00 に開始、開始日: 2026/12/08"));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  TaskTrigger expected = from20261208(TriggerType::MonthlyDate);
  expected.monthDays = 1u << 14;
  expected.months = 0x001 | 0x008 | 0x040 | 0x200;
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{expected});
}

TEST_F(SchedulePageTest, MonthlyOnTheLastWeekday) {
  std::vector<TaskTrigger> triggers{daily(1)};
  const int result = showPage(triggers, [&] {
    choose(find<QComboBox>("cmbScheduleKind"), QStringLiteral("毎月"));
    toggle(find<QRadioButton>("rbMonthlyWeekday"));
    EXPECT_FALSE(find<QSpinBox>("spedtMonthDay")->isEnabled());
    EXPECT_EQ(find<QComboBox>("cmbWhichWeek")->currentText(), QStringLiteral("第 2")) << "2026-12-08";
    EXPECT_EQ(find<QComboBox>("cmbWeekday")->currentText(), QStringLiteral("火曜日"));
    choose(find<QComboBox>("cmbWhichWeek"), QStringLiteral("最終"));
    choose(find<QComboBox>("cmbWeekday"), QStringLiteral("金曜日"));
    EXPECT_EQ(summary(), QStringLiteral("毎月 最終 金曜日 2:00 に開始、開始日: 2026/12/08"));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  TaskTrigger expected = from20261208(TriggerType::MonthlyDow);
  expected.whichWeek = kLastWeek;
  expected.daysOfTheWeek = 0x20;
  expected.months = kAllMonths;
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{expected});
}

TEST_F(SchedulePageTest, OnceOnItsDate) {
  std::vector<TaskTrigger> triggers{daily(1)};
  const int result = showPage(triggers, [&] {
    choose(find<QComboBox>("cmbScheduleKind"), QStringLiteral("一回限り"));
    EXPECT_TRUE(find<QWidget>("pnlOnce")->isVisible());
    EXPECT_EQ(find<QDateEdit>("edtRunOn")->date(), QDate(2026, 12, 8));
    typeInto(find<QDateEdit>("edtRunOn"), "20270131");
    typeInto(find<QTimeEdit>("edtStartTime"), "9:30");
    EXPECT_EQ(summary(), QStringLiteral("2027/01/31 9:30 に 1 回だけ開始"));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  TaskTrigger expected = from20261208(TriggerType::Once, 9, 30);
  expected.beginYear = 2027;
  expected.beginMonth = 1;
  expected.beginDay = 31;
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{expected});
}

TEST_F(SchedulePageTest, EventKindsHideTheStartTimeAndTheAdvancedOptions) {
  const std::pair<const char*, TriggerType> kinds[] = {
      {"システム起動時", TriggerType::AtSystemStart},
      {"ログオン時", TriggerType::AtLogon},
  };
  for (const auto& [caption, type] : kinds) {
    std::vector<TaskTrigger> triggers{daily(1)};
    const int result = showPage(triggers, [&] {
      choose(find<QComboBox>("cmbScheduleKind"), QString::fromUtf8(caption));
      EXPECT_FALSE(find<QTimeEdit>("edtStartTime")->isVisible()) << caption;
      EXPECT_FALSE(find<QLabel>("lblStartTime")->isVisible()) << caption;
      EXPECT_FALSE(find<QPushButton>("btnAdvanced")->isEnabled()) << caption;
      EXPECT_FALSE(find<QGroupBox>("gbxSchedule")->isVisible()) << caption;
      EXPECT_EQ(summary(), qs(triggerText(from20261208(type))));
      pressOk();
    });
    ASSERT_EQ(result, 1) << caption;
    EXPECT_EQ(triggers, std::vector<TaskTrigger>{from20261208(type)}) << caption;
  }
}

// A task written elsewhere with an idle trigger: listed as it is, read-only, never turned into a
// timed trigger, and kept on OK.
TEST_F(SchedulePageTest, AnIdleTriggerIsShownReadOnlyAndKept) {
  const std::vector<TaskTrigger> original{from20261208(TriggerType::OnIdle), daily(1)};
  std::vector<TaskTrigger> triggers = original;
  const int result = showPage(triggers, [&] {
    QComboBox* kinds = find<QComboBox>("cmbScheduleKind");
    EXPECT_EQ(kinds->currentText(), QStringLiteral("アイドル時"));
    EXPECT_FALSE(kinds->isEnabled());
    EXPECT_TRUE(find<QWidget>("pnlIdle")->isVisible());
    EXPECT_FALSE(find<QSpinBox>("spedtIdleMinutes")->isEnabled());
    EXPECT_FALSE(find<QTimeEdit>("edtStartTime")->isVisible());
    QComboBox* schedules = find<QComboBox>("cmbSchedules");
    choose(schedules, schedules->itemText(1));  // the daily one is edited as usual
    EXPECT_TRUE(kinds->isEnabled());
    EXPECT_TRUE(qobject_cast<QListView*>(kinds->view())->isRowHidden(static_cast<int>(ScheduleKind::WhenIdle)));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  EXPECT_EQ(triggers, original);
}

TEST_F(SchedulePageTest, BackToATimeKindShowsTheStartTimeAgain) {
  std::vector<TaskTrigger> triggers{from20261208(TriggerType::AtLogon, 3, 0)};
  const int result = showPage(triggers, [&] {
    EXPECT_FALSE(find<QTimeEdit>("edtStartTime")->isVisible());
    choose(find<QComboBox>("cmbScheduleKind"), QStringLiteral("毎日"));
    EXPECT_TRUE(find<QTimeEdit>("edtStartTime")->isVisible());
    EXPECT_TRUE(find<QPushButton>("btnAdvanced")->isEnabled());
    EXPECT_EQ(find<QTimeEdit>("edtStartTime")->time(), QTime(3, 0));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  TaskTrigger expected = daily(1);
  expected.startHour = 3;
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{expected});
}

// --- Advanced options ------------------------------------------------------------------------------

TEST_F(SchedulePageTest, AdvancedOptionsEndDateAndRepetitionForADuration) {
  std::vector<TaskTrigger> triggers{daily(1)};
  const int result = showPage(triggers, [&] {
    onNextModal([](QDialog& advanced) {
      EXPECT_EQ(advanced.windowTitle(), QStringLiteral("詳細スケジュール オプション"));
      EXPECT_EQ(in<QDateEdit>(&advanced, "edtStartDate")->date(), QDate(2026, 12, 8));
      EXPECT_FALSE(in<QDateEdit>(&advanced, "edtEndDate")->isEnabled());
      EXPECT_FALSE(in<QSpinBox>(&advanced, "spedtRepeatEvery")->isEnabled());
      toggle(in<QCheckBox>(&advanced, "chkEndDate"));
      EXPECT_TRUE(in<QDateEdit>(&advanced, "edtEndDate")->isEnabled());
      typeInto(in<QDateEdit>(&advanced, "edtEndDate"), "20270131");
      toggle(in<QCheckBox>(&advanced, "chkRepeat"));
      EXPECT_TRUE(in<QSpinBox>(&advanced, "spedtRepeatEvery")->isEnabled());
      typeNumber(in<QSpinBox>(&advanced, "spedtRepeatEvery"), "2");
      choose(in<QComboBox>(&advanced, "cmbRepeatUnit"), QStringLiteral("時間"));
      toggle(in<QRadioButton>(&advanced, "rbUntilDuration"));
      EXPECT_FALSE(in<QTimeEdit>(&advanced, "edtUntilTime")->isEnabled());
      typeNumber(in<QSpinBox>(&advanced, "spedtDurationHours"), "8");
      typeNumber(in<QSpinBox>(&advanced, "spedtDurationMinutes"), "30");
      toggle(in<QCheckBox>(&advanced, "chkStopAtEnd"));
      press(in<QPushButton>(&advanced, "btnOK"));
    });
    press(find<QPushButton>("btnAdvanced"));
    EXPECT_EQ(summary(),
              QStringLiteral(
                  "毎日 2:00 から 8 時間 30 分、2 時間ごとに開始、開始日: 2026/12/08、終了日: 2027/01/31"));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  TaskTrigger expected = daily(1);
  expected.flags = kTriggerFlagHasEndDate | kTriggerFlagKillAtDurationEnd;
  expected.endYear = 2027;
  expected.endMonth = 1;
  expected.endDay = 31;
  expected.minutesInterval = 120;
  expected.minutesDuration = 510;
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{expected});
}

TEST_F(SchedulePageTest, AdvancedOptionsRepetitionUntilATimeOfTheNextDay) {
  std::vector<TaskTrigger> triggers{daily(1)};  // 2:00
  const int result = showPage(triggers, [&] {
    onNextModal([](QDialog& advanced) {
      toggle(in<QCheckBox>(&advanced, "chkRepeat"));
      typeNumber(in<QSpinBox>(&advanced, "spedtRepeatEvery"), "30");
      EXPECT_TRUE(in<QRadioButton>(&advanced, "rbUntilTime")->isChecked());
      typeInto(in<QTimeEdit>(&advanced, "edtUntilTime"), "1:00");
      typeInto(in<QDateEdit>(&advanced, "edtStartDate"), "20261210");
      press(in<QPushButton>(&advanced, "btnOK"));
    });
    press(find<QPushButton>("btnAdvanced"));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  TaskTrigger expected = daily(1);
  expected.beginDay = 10;
  expected.minutesInterval = 30;
  expected.minutesDuration = 23 * 60;
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{expected});
}

TEST_F(SchedulePageTest, AdvancedOptionsShowWhatTheTriggerHas) {
  TaskTrigger trigger = daily(1);
  trigger.minutesInterval = 15;
  trigger.minutesDuration = 150;
  trigger.flags = kTriggerFlagKillAtDurationEnd;
  std::vector<TaskTrigger> triggers{trigger};
  const int result = showPage(triggers, [&] {
    onNextModal([](QDialog& advanced) {
      EXPECT_TRUE(in<QCheckBox>(&advanced, "chkRepeat")->isChecked());
      EXPECT_EQ(in<QSpinBox>(&advanced, "spedtRepeatEvery")->value(), 15);
      EXPECT_EQ(in<QComboBox>(&advanced, "cmbRepeatUnit")->currentText(), QStringLiteral("分"));
      EXPECT_TRUE(in<QRadioButton>(&advanced, "rbUntilDuration")->isChecked());
      EXPECT_EQ(in<QSpinBox>(&advanced, "spedtDurationHours")->value(), 2);
      EXPECT_EQ(in<QSpinBox>(&advanced, "spedtDurationMinutes")->value(), 30);
      EXPECT_EQ(in<QTimeEdit>(&advanced, "edtUntilTime")->time(), QTime(4, 30));
      EXPECT_TRUE(in<QCheckBox>(&advanced, "chkStopAtEnd")->isChecked());
      EXPECT_FALSE(in<QCheckBox>(&advanced, "chkEndDate")->isChecked());
      press(in<QPushButton>(&advanced, "btnOK"));
    });
    press(find<QPushButton>("btnAdvanced"));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{trigger}) << "OK in the options changes nothing by itself";
}

TEST_F(SchedulePageTest, AdvancedOptionsRefuseAnEndBeforeTheStart) {
  const std::vector<TaskTrigger> before{daily(1)};
  std::vector<TaskTrigger> triggers = before;
  const int result = showPage(triggers, [&] {
    onNextModal([this](QDialog& advanced) {
      toggle(in<QCheckBox>(&advanced, "chkEndDate"));
      typeInto(in<QDateEdit>(&advanced, "edtEndDate"), "20261207");
      press(in<QPushButton>(&advanced, "btnOK"));
      EXPECT_EQ(prompts.errors(),
                std::vector<QString>{QStringLiteral("終了日には開始日以降の日付を指定してください。")});
      EXPECT_TRUE(advanced.isVisible()) << "the options stay open";
      EXPECT_EQ(QApplication::activeModalWidget(), &advanced);
      press(in<QPushButton>(&advanced, "btnCancel"));
    });
    press(find<QPushButton>("btnAdvanced"));
    EXPECT_EQ(summary(), QStringLiteral("毎日 2:00 に開始、開始日: 2026/12/08")) << "cancelled: unchanged";
    pressOk();
  });
  ASSERT_EQ(result, 1);
  EXPECT_EQ(triggers, before);
}

TEST_F(SchedulePageTest, AdvancedOptionsRefuseAWindowNotLongerThanTheInterval) {
  std::vector<TaskTrigger> triggers{daily(1)};
  showPage(triggers, [&] {
    onNextModal([this](QDialog& advanced) {
      toggle(in<QCheckBox>(&advanced, "chkRepeat"));
      typeNumber(in<QSpinBox>(&advanced, "spedtRepeatEvery"), "1");
      choose(in<QComboBox>(&advanced, "cmbRepeatUnit"), QStringLiteral("時間"));
      toggle(in<QRadioButton>(&advanced, "rbUntilDuration"));
      typeNumber(in<QSpinBox>(&advanced, "spedtDurationHours"), "1");
      typeNumber(in<QSpinBox>(&advanced, "spedtDurationMinutes"), "0");
      press(in<QPushButton>(&advanced, "btnOK"));
      EXPECT_EQ(
          prompts.errors(),
          std::vector<QString>{QStringLiteral("継続時間には繰り返しの間隔より長い時間を指定してください。")});
      EXPECT_TRUE(advanced.isVisible());
      typeNumber(in<QSpinBox>(&advanced, "spedtDurationMinutes"), "1");
      press(in<QPushButton>(&advanced, "btnOK"));
      EXPECT_EQ(prompts.errors().size(), 1u);
    });
    press(find<QPushButton>("btnAdvanced"));
    EXPECT_EQ(summary(), QStringLiteral("毎日 2:00 から 1 時間 1 分、1 時間ごとに開始、開始日: 2026/12/08"));
    press(find<QPushButton>("btnCancel"));
  });
}

TEST_F(SchedulePageTest, OnceTakesNoEndDate) {
  std::vector<TaskTrigger> triggers{from20261208(TriggerType::Once)};
  showPage(triggers, [&] {
    onNextModal([](QDialog& advanced) {
      EXPECT_FALSE(in<QCheckBox>(&advanced, "chkEndDate")->isEnabled());
      EXPECT_TRUE(in<QCheckBox>(&advanced, "chkRepeat")->isEnabled());
      typeInto(in<QDateEdit>(&advanced, "edtStartDate"), "20270105");
      press(in<QPushButton>(&advanced, "btnOK"));
    });
    press(find<QPushButton>("btnAdvanced"));
    EXPECT_EQ(find<QDateEdit>("edtRunOn")->date(), QDate(2027, 1, 5)) << "the start date is the run-on date";
    press(find<QPushButton>("btnCancel"));
  });
}

// --- Months ------------------------------------------------------------------------------------------

TEST_F(SchedulePageTest, SelectingNoMonthIsRefused) {
  std::vector<TaskTrigger> triggers{daily(1)};
  showPage(triggers, [&] {
    choose(find<QComboBox>("cmbScheduleKind"), QStringLiteral("毎月"));
    onNextModal([this](QDialog& months) {
      for (int month = 1; month <= 12; ++month) {
        const QByteArray name = "chkMonth" + QByteArray::number(month);
        toggle(in<QCheckBox>(&months, name.constData()));
      }
      press(in<QPushButton>(&months, "btnOK"));
      EXPECT_EQ(prompts.errors(), std::vector<QString>{QStringLiteral("月を 1 つ以上選択してください。")});
      EXPECT_TRUE(months.isVisible());
      press(in<QPushButton>(&months, "btnCancel"));
    });
    press(find<QPushButton>("btnSelectMonths"));
    EXPECT_EQ(summary(), QStringLiteral("毎月 8 日 2:00 に開始、開始日: 2026/12/08"))
        << "cancelled: all months";
    press(find<QPushButton>("btnCancel"));
  });
}

// --- Refusals on OK ------------------------------------------------------------------------------------

TEST_F(SchedulePageTest, ARefusalShowsItsBoxAndKeepsThePageOpen) {
  std::vector<TaskTrigger> triggers{daily(1)};
  const int result = showPage(triggers, [&] {
    choose(find<QComboBox>("cmbScheduleKind"), QStringLiteral("毎週"));
    toggle(find<QCheckBox>("chkTue"));  // no day left
    pressOk();
    EXPECT_EQ(prompts.errors(), std::vector<QString>{qs(kScheduleNoWeekday)});
    EXPECT_EQ(prompts.errors().front(), QStringLiteral("曜日を 1 つ以上選択してください。"));
    EXPECT_TRUE(page.isVisible()) << "the page stays";
    EXPECT_EQ(QApplication::focusWidget(), find<QCheckBox>("chkMon")) << "at the days";
    toggle(find<QCheckBox>("chkThu"));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{weekly(1, 0x10)});
}

TEST_F(SchedulePageTest, ADayNoSelectedMonthHasIsRefused) {
  std::vector<TaskTrigger> triggers{daily(1)};
  showPage(triggers, [&] {
    choose(find<QComboBox>("cmbScheduleKind"), QStringLiteral("毎月"));
    typeNumber(find<QSpinBox>("spedtMonthDay"), "30");
    onNextModal([](QDialog& months) {
      for (int month = 1; month <= 12; ++month) {
        if (month == 2) continue;
        const QByteArray name = "chkMonth" + QByteArray::number(month);
        toggle(in<QCheckBox>(&months, name.constData()));
      }
      press(in<QPushButton>(&months, "btnOK"));
    });
    press(find<QPushButton>("btnSelectMonths"));
    pressOk();
    EXPECT_EQ(prompts.errors(), std::vector<QString>{QStringLiteral("選択した月には 30 日がありません。")});
    EXPECT_TRUE(page.isVisible());
    press(find<QPushButton>("btnCancel"));
  });
}

// --- Several schedules ---------------------------------------------------------------------------------

TEST_F(SchedulePageTest, SeveralSchedulesKeepEachOnesEdits) {
  std::vector<TaskTrigger> triggers{daily(1), weekly(2, 0x22)};
  const int result = showPage(triggers, [&] {
    QCheckBox* multiple = find<QCheckBox>("chkShowMultiple");
    QComboBox* list = find<QComboBox>("cmbSchedules");
    EXPECT_TRUE(multiple->isChecked());
    EXPECT_FALSE(multiple->isEnabled()) << "stays on while there are several";
    EXPECT_TRUE(list->isVisible());
    EXPECT_FALSE(find<QLabel>("lblSummary")->isVisible());
    EXPECT_TRUE(find<QPushButton>("btnNew")->isVisible());
    EXPECT_TRUE(find<QPushButton>("btnDelete")->isEnabled());
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(0), QStringLiteral("1. 毎日 2:00 に開始、開始日: 2026/12/08"));
    EXPECT_EQ(list->itemText(1), QStringLiteral("2. 2 週ごと 月, 金 曜日 2:00 に開始、開始日: 2026/12/08"));
    EXPECT_EQ(list->currentIndex(), 0);

    choose(list, list->itemText(1));
    EXPECT_EQ(find<QComboBox>("cmbScheduleKind")->currentText(), QStringLiteral("毎週"));
    typeNumber(find<QSpinBox>("spedtEveryWeeks"), "3");
    EXPECT_EQ(list->itemText(1), QStringLiteral("2. 3 週ごと 月, 金 曜日 2:00 に開始、開始日: 2026/12/08"));

    choose(list, list->itemText(0));
    EXPECT_EQ(find<QComboBox>("cmbScheduleKind")->currentText(), QStringLiteral("毎日"));
    typeNumber(find<QSpinBox>("spedtEveryDays"), "5");
    typeInto(find<QTimeEdit>("edtStartTime"), "6:45");

    choose(list, list->itemText(1));
    EXPECT_EQ(find<QSpinBox>("spedtEveryWeeks")->value(), 3) << "each schedule keeps its edits";
    EXPECT_EQ(find<QTimeEdit>("edtStartTime")->time(), QTime(2, 0));
    choose(list, list->itemText(0));
    EXPECT_EQ(find<QSpinBox>("spedtEveryDays")->value(), 5);
    EXPECT_EQ(find<QTimeEdit>("edtStartTime")->time(), QTime(6, 45));

    press(find<QPushButton>("btnNew"));
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->currentIndex(), 2);
    EXPECT_EQ(list->itemText(2), QStringLiteral("3. 毎日 1:41 に開始、開始日: 2026/12/08"));
    choose(find<QComboBox>("cmbScheduleKind"), QStringLiteral("ログオン時"));
    EXPECT_EQ(list->itemText(2), QStringLiteral("3. ログオン時に実行"));

    choose(list, list->itemText(1));
    press(find<QPushButton>("btnDelete"));
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->itemText(1), QStringLiteral("2. ログオン時に実行")) << "renumbered";
    EXPECT_EQ(list->currentIndex(), 1);
    EXPECT_EQ(find<QComboBox>("cmbScheduleKind")->currentText(), QStringLiteral("ログオン時"));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  TaskTrigger first = daily(5);
  first.startHour = 6;
  first.startMinute = 45;
  const TaskTrigger second = from20261208(TriggerType::AtLogon, 1, 41);
  EXPECT_EQ(triggers, (std::vector<TaskTrigger>{first, second}));
}

TEST_F(SchedulePageTest, TurningTheListOnForOneScheduleAndAddingAnother) {
  std::vector<TaskTrigger> triggers{daily(1)};
  const int result = showPage(triggers, [&] {
    QCheckBox* multiple = find<QCheckBox>("chkShowMultiple");
    toggle(multiple);
    EXPECT_TRUE(find<QComboBox>("cmbSchedules")->isVisible());
    EXPECT_FALSE(find<QLabel>("lblSummary")->isVisible());
    EXPECT_FALSE(find<QPushButton>("btnDelete")->isEnabled()) << "the last schedule stays";
    EXPECT_EQ(find<QComboBox>("cmbSchedules")->itemText(0),
              QStringLiteral("1. 毎日 2:00 に開始、開始日: 2026/12/08"));

    press(find<QPushButton>("btnNew"));
    EXPECT_FALSE(multiple->isEnabled());
    EXPECT_TRUE(find<QPushButton>("btnDelete")->isEnabled());
    press(find<QPushButton>("btnDelete"));
    EXPECT_TRUE(multiple->isEnabled()) << "one left: the list may go";
    EXPECT_FALSE(find<QPushButton>("btnDelete")->isEnabled());
    press(find<QPushButton>("btnNew"));
    choose(find<QComboBox>("cmbScheduleKind"), QStringLiteral("システム起動時"));
    pressOk();
  });
  ASSERT_EQ(result, 1);
  EXPECT_EQ(triggers, (std::vector<TaskTrigger>{daily(1), from20261208(TriggerType::AtSystemStart, 1, 41)}));
}

TEST_F(SchedulePageTest, TurningTheListOffShowsTheTextAgain) {
  std::vector<TaskTrigger> triggers{daily(1)};
  showPage(triggers, [&] {
    toggle(find<QCheckBox>("chkShowMultiple"));
    toggle(find<QCheckBox>("chkShowMultiple"));
    EXPECT_FALSE(find<QComboBox>("cmbSchedules")->isVisible());
    EXPECT_FALSE(find<QPushButton>("btnNew")->isVisible());
    EXPECT_TRUE(find<QLabel>("lblSummary")->isVisible());
    press(find<QPushButton>("btnCancel"));
  });
}

TEST_F(SchedulePageTest, ARefusalInAnotherScheduleSelectsThatSchedule) {
  std::vector<TaskTrigger> triggers{daily(1), weekly(1, 0x04)};
  showPage(triggers, [&] {
    QComboBox* list = find<QComboBox>("cmbSchedules");
    choose(list, list->itemText(1));
    toggle(find<QCheckBox>("chkTue"));
    choose(list, list->itemText(0));
    pressOk();
    EXPECT_EQ(prompts.errors(), std::vector<QString>{qs(kScheduleNoWeekday)});
    EXPECT_EQ(list->currentIndex(), 1);
    EXPECT_EQ(find<QComboBox>("cmbScheduleKind")->currentText(), QStringLiteral("毎週"));
    EXPECT_TRUE(page.isVisible());
    press(find<QPushButton>("btnCancel"));
  });
  EXPECT_EQ(triggers, (std::vector<TaskTrigger>{daily(1), weekly(1, 0x04)}));
}

TEST_F(SchedulePageTest, EachShowStartsFromTheTriggersItIsGiven) {
  std::vector<TaskTrigger> several{daily(1), weekly(1, 0x04)};
  showPage(several, [&] { press(find<QPushButton>("btnCancel")); });
  std::vector<TaskTrigger> one{weekly(3, 0x40)};
  const int result = showPage(one, [&] {
    EXPECT_FALSE(find<QCheckBox>("chkShowMultiple")->isChecked());
    EXPECT_TRUE(find<QCheckBox>("chkShowMultiple")->isEnabled());
    EXPECT_EQ(find<QComboBox>("cmbSchedules")->count(), 1);
    EXPECT_EQ(summary(), QStringLiteral("3 週ごと 土曜日 2:00 に開始、開始日: 2026/12/08"));
    pressOk();
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(one, std::vector<TaskTrigger>{weekly(3, 0x40)});
}

// --- The page as a form hands it to the scheduler -------------------------------------------------

TEST(SchedulePageOnFirstShow, MakesThePageAtItsFirstShowingAndKeepsIt) {
  bvtest::PromptRecorder prompts;
  SchedulePageOnFirstShow installed(fixedNow);
  SchedulePage& seam = installed;
  EXPECT_EQ(installed.page(), nullptr);
  for (QWidget* widget : QApplication::allWidgets()) {
    EXPECT_NE(widget->objectName(), QStringLiteral("frmSchedulePage"));
  }

  // The scheduler shows the page it was handed; the user takes the default schedule with OK.
  std::vector<TaskTrigger> triggers;
  bvtest::whenShown("frmSchedulePage", [](QDialog* page) {
    activate(page);
    EXPECT_EQ(in<QLabel>(page, "lblSummary")->text(), QStringLiteral("毎日 1:41 に開始、開始日: 2026/12/08"));
    press(in<QPushButton>(page, "btnOK"));
  });
  EXPECT_EQ(seam.show(NativeWindow::None, "nightly_backup", triggers), 1);
  TaskTrigger expected = from20261208(TriggerType::Daily, 1, 41);
  expected.daysInterval = 1;
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{expected});
  TfrmSchedulePage* made = installed.page();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->windowTitle(), QStringLiteral("nightly_backup"));

  // The next showing is the same page; Cancel leaves the triggers alone.
  bvtest::whenShown(made, [made] {
    activate(made);
    typeNumber(in<QSpinBox>(made, "spedtEveryDays"), "5");
    press(in<QPushButton>(made, "btnCancel"));
  });
  EXPECT_EQ(seam.show(NativeWindow::None, "weekly_backup", triggers), 0);
  EXPECT_EQ(installed.page(), made);
  EXPECT_EQ(made->windowTitle(), QStringLiteral("weekly_backup"));
  EXPECT_EQ(triggers, std::vector<TaskTrigger>{expected});
}

// What a form hands the scheduler: the page, over the window of whichever of its widgets asks;
// the page then shows over that window. No control is given a native window of its own.
TEST(PageOwner, IsThePageOverTheWindowOfTheWidgetThatAsks) {
  bvtest::PromptRecorder prompts;
  QWidget form;
  auto* field = new QLineEdit(&form);
  QDialog list(&form);
  auto* button = new QPushButton(&list);
  form.show();
  list.show();
  SchedulePageOnFirstShow page(fixedNow);
  struct Case {
    QWidget* asking;
    QWidget* window;
  };
  const Case cases[] = {{&form, &form}, {field, &form}, {&list, &list}, {button, &list}};
  for (const Case& c : cases) {
    const PageOwner owner = pageOwner(c.asking, &page);
    EXPECT_EQ(owner.page, &page);
    EXPECT_EQ(owner.window, static_cast<NativeWindow>(c.window->winId()));
    EXPECT_NE(owner.window, NativeWindow::None);
    for (QWidget* control : {static_cast<QWidget*>(field), static_cast<QWidget*>(button)}) {
      EXPECT_EQ(control->internalWinId(), WId{0}) << control->metaObject()->className();
    }
    std::vector<TaskTrigger> triggers;
    bvtest::whenShown("frmSchedulePage", [&c](QDialog* shown) {
      EXPECT_EQ(shown->parentWidget(), c.window);
      press(in<QPushButton>(shown, "btnCancel"));
    });
    EXPECT_EQ(owner.page->show(owner.window, "nightly_backup", triggers), 0);
  }
}

}  // namespace
