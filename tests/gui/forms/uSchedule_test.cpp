// The Agent job dialog driven through real widgets on the offscreen platform: its controls,
// the schedule kinds, the checks of a new job, the start-time mask, and the connection road
// (a refused loopback port, and the stand-in server when it is built).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <memory>

#include "closed_port.h"
#include "controls.h"
#include "gui/forms/uSchedule.h"
#include "gui/widgets/mask_edit.h"
#include "prompt_recorder.h"
#include "standin_fixture.h"

namespace {

using namespace bv::forms;

using Kind = bvtest::RecordedPrompt::Kind;

QString qs(const std::string& text) { return QString::fromStdString(text); }

class ScheduleDialog : public ::testing::Test {
 protected:
  void SetUp() override { dialog = std::make_unique<TfrmSchedule>(); }
  void TearDown() override { dialog.reset(); }

  // A new job that passes every check, on a local server.
  void fillValidJob() {
    dialog->HandOver(QStringLiteral("somehost"), QStringLiteral("Sales"), QStringLiteral("C:\\backup\\s.bak"),
                     QStringLiteral("sa"), QStringLiteral("pw"), true, true);
    bvtest::control<QLineEdit>(dialog, "editJobName")->setText(QStringLiteral("nightly"));
    bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")
        ->setMaskedText(QStringLiteral("02:00:00"));
    bvtest::control<QRadioButton>(dialog, "rbRunDaily")->setChecked(true);
  }
  QString unreachableServer() const {
    return QStringLiteral("127.0.0.1,%1").arg(bvtest::closedLoopbackPort());
  }
  // Shows the dialog modally as the main window does; gives up (result 99) if it never closes.
  int execUntilClosed() {
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, dialog.get(), [this] { dialog->done(99); });
    guard.start(60000);
    return dialog->exec();
  }

  bvtest::PromptRecorder prompts;
  std::unique_ptr<TfrmSchedule> dialog;
};

// --- Form and controls ----------------------------------------------------------------------

TEST_F(ScheduleDialog, IsTheModalAgentScheduleDialog) {
  EXPECT_EQ(dialog->objectName(), QStringLiteral("frmSchedule"));
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("エージェント スケジュール登録"));
  EXPECT_TRUE(dialog->isModal());
  EXPECT_EQ(bvtest::control<QGroupBox>(dialog, "gbxJobList")->title(),
            QStringLiteral("現在登録されているジョブ一覧"));
  EXPECT_EQ(bvtest::control<QGroupBox>(dialog, "gbxNewJob")->title(),
            QStringLiteral("今回追加するバックアップジョブ"));
  EXPECT_TRUE(bvtest::control<QGroupBox>(dialog, "gbxJobList")
                  ->isAncestorOf(bvtest::control<QTreeWidget>(dialog, "lvScdlList")));
  EXPECT_TRUE(bvtest::control<QGroupBox>(dialog, "gbxJobList")
                  ->isAncestorOf(bvtest::control<QPushButton>(dialog, "btnDelete")));
  EXPECT_TRUE(bvtest::control<QGroupBox>(dialog, "gbxNewJob")
                  ->isAncestorOf(bvtest::control<QPushButton>(dialog, "btnInsert")));
  EXPECT_FALSE(bvtest::control<QGroupBox>(dialog, "gbxNewJob")
                   ->isAncestorOf(bvtest::control<QPushButton>(dialog, "btnEnd")));
}

TEST_F(ScheduleDialog, EveryControlCarriesItsName) {
  for (const char* name :
       {"lvScdlList",   "btnDelete",     "editJobName", "editBackFile", "bbnBackFilePathOpen",
        "editDesc",     "medtStartTime", "rbRunOnce",   "rbRunDaily",   "rbRunWeekly",
        "rbRunMonthly", "dtpStartDate",  "chkSun",      "chkMon",       "chkTue",
        "chkWed",       "chkThu",        "chkFri",      "chkSat",       "spedtDay",
        "btnInsert",    "btnEnd"}) {
    EXPECT_NE(dialog->findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
  }
  EXPECT_NE(qobject_cast<QDateEdit*>(bvtest::control<QDateEdit>(dialog, "dtpStartDate")), nullptr);
  EXPECT_NE(qobject_cast<QLineEdit*>(bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")),
            nullptr);
}

TEST_F(ScheduleDialog, TheJobListHasItsEightColumns) {
  QTreeWidget* list = bvtest::control<QTreeWidget>(dialog, "lvScdlList");
  const std::pair<const char*, int> columns[] = {{"No", 30},
                                                 {"ジョブ名", 80},
                                                 {"バックアップファイル", 120},
                                                 {"設定実行日", 80},
                                                 {"実行時間", 65},
                                                 {"最終実行状態（日時）", 150},
                                                 {"次回実行日時", 120},
                                                 {"説明", 150}};
  ASSERT_EQ(list->columnCount(), 8);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(list->headerItem()->text(i), QString::fromUtf8(columns[i].first)) << i;
    EXPECT_EQ(list->header()->sectionSize(i), columns[i].second) << i;
  }
  EXPECT_EQ(list->headerItem()->textAlignment(4) & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  EXPECT_FALSE(list->rootIsDecorated());
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(list->topLevelItemCount(), 0);
  EXPECT_FALSE(bvtest::control<QPushButton>(dialog, "btnDelete")->isEnabled())
      << "no rows, nothing to delete";
}

TEST_F(ScheduleDialog, TheNewJobControlsHaveTheirCaptionsLimitsAndTags) {
  EXPECT_EQ(bvtest::control<QPushButton>(dialog, "btnInsert")->text(), QStringLiteral("追加"));
  EXPECT_EQ(bvtest::control<QPushButton>(dialog, "btnDelete")->text(), QStringLiteral("削除"));
  EXPECT_EQ(bvtest::control<QPushButton>(dialog, "btnEnd")->text(), QStringLiteral("戻る"));
  EXPECT_EQ(bvtest::control<QRadioButton>(dialog, "rbRunOnce")->text(),
            QStringLiteral("指定日に１回のみ実行"));
  EXPECT_EQ(bvtest::control<QRadioButton>(dialog, "rbRunDaily")->text(),
            QStringLiteral("毎日の指定時間に実行"));
  EXPECT_EQ(bvtest::control<QRadioButton>(dialog, "rbRunWeekly")->text(),
            QStringLiteral("毎週の指定曜日に実行"));
  EXPECT_EQ(bvtest::control<QRadioButton>(dialog, "rbRunMonthly")->text(),
            QStringLiteral("毎月の指定日に実行"));
  EXPECT_EQ(TfrmSchedule::TagOf(bvtest::control<QRadioButton>(dialog, "rbRunOnce")), 1);
  EXPECT_EQ(TfrmSchedule::TagOf(bvtest::control<QRadioButton>(dialog, "rbRunDaily")), 4);
  EXPECT_EQ(TfrmSchedule::TagOf(bvtest::control<QRadioButton>(dialog, "rbRunWeekly")), 8);
  EXPECT_EQ(TfrmSchedule::TagOf(bvtest::control<QRadioButton>(dialog, "rbRunMonthly")), 16);
  EXPECT_EQ(bvtest::control<QLineEdit>(dialog, "editJobName")->maxLength(), 128);
  EXPECT_EQ(bvtest::control<QLineEdit>(dialog, "editDesc")->maxLength(), 512);
  EXPECT_EQ(bvtest::control<QSpinBox>(dialog, "spedtDay")->minimum(), 1);
  EXPECT_EQ(bvtest::control<QSpinBox>(dialog, "spedtDay")->maximum(), 31);
  EXPECT_EQ(bvtest::control<QSpinBox>(dialog, "spedtDay")->value(), 1);
  EXPECT_EQ(bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")->maskedText(),
            QStringLiteral("00:00:00"));
  EXPECT_TRUE(bvtest::control<QRadioButton>(dialog, "rbRunOnce")->isChecked());
}

TEST_F(ScheduleDialog, NoCaptionIsClipped) {
  // Shown once (against a refused port, so it closes again at once); the layout stays.
  dialog->HandOver(unreachableServer(), QStringLiteral("Sales"), QString(), QStringLiteral("sa"),
                   QStringLiteral("pw"), true, true);
  execUntilClosed();
  for (QLabel* label : dialog->findChildren<QLabel*>()) {
    EXPECT_GE(label->width(), label->sizeHint().width()) << label->objectName().toStdString();
  }
  for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
    if (button->text().isEmpty()) continue;
    EXPECT_GE(button->width(), button->minimumSizeHint().width()) << button->objectName().toStdString();
    EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width() - 4)
        << button->objectName().toStdString();
  }
  for (QGroupBox* group : dialog->findChildren<QGroupBox*>()) {
    EXPECT_GE(group->width(), group->minimumSizeHint().width()) << group->objectName().toStdString();
  }
  const QRect list = bvtest::control<QTreeWidget>(dialog, "lvScdlList")->geometry();
  EXPECT_GE(bvtest::control<QTreeWidget>(dialog, "lvScdlList")->viewport()->width(),
            bvtest::control<QTreeWidget>(dialog, "lvScdlList")->header()->length())
      << "every column is in view without scrolling: " << list.width();
}

// --- Schedule kinds -------------------------------------------------------------------------

TEST_F(ScheduleDialog, EachScheduleKindEnablesOnlyItsOwnInput) {
  const auto days = [&] {
    return std::vector<QCheckBox*>{
        bvtest::control<QCheckBox>(dialog, "chkSun"), bvtest::control<QCheckBox>(dialog, "chkMon"),
        bvtest::control<QCheckBox>(dialog, "chkTue"), bvtest::control<QCheckBox>(dialog, "chkWed"),
        bvtest::control<QCheckBox>(dialog, "chkThu"), bvtest::control<QCheckBox>(dialog, "chkFri"),
        bvtest::control<QCheckBox>(dialog, "chkSat")};
  };
  bvtest::control<QRadioButton>(dialog, "rbRunWeekly")->click();
  for (QCheckBox* box : days()) EXPECT_TRUE(box->isEnabled()) << box->objectName().toStdString();
  EXPECT_FALSE(bvtest::control<QDateEdit>(dialog, "dtpStartDate")->isEnabled());
  EXPECT_FALSE(bvtest::control<QSpinBox>(dialog, "spedtDay")->isEnabled());
  bvtest::control<QCheckBox>(dialog, "chkWed")->setChecked(true);
  bvtest::control<QSpinBox>(dialog, "spedtDay")->setValue(20);

  bvtest::control<QRadioButton>(dialog, "rbRunMonthly")->click();
  EXPECT_TRUE(bvtest::control<QSpinBox>(dialog, "spedtDay")->isEnabled());
  EXPECT_FALSE(bvtest::control<QDateEdit>(dialog, "dtpStartDate")->isEnabled());
  for (QCheckBox* box : days()) EXPECT_FALSE(box->isEnabled());
  EXPECT_TRUE(bvtest::control<QCheckBox>(dialog, "chkWed")->isChecked()) << "checked states stay";

  bvtest::control<QRadioButton>(dialog, "rbRunDaily")->click();
  EXPECT_FALSE(bvtest::control<QDateEdit>(dialog, "dtpStartDate")->isEnabled());
  EXPECT_FALSE(bvtest::control<QSpinBox>(dialog, "spedtDay")->isEnabled());
  for (QCheckBox* box : days()) EXPECT_FALSE(box->isEnabled());

  bvtest::control<QRadioButton>(dialog, "rbRunOnce")->click();
  EXPECT_TRUE(bvtest::control<QDateEdit>(dialog, "dtpStartDate")->isEnabled());
  EXPECT_FALSE(bvtest::control<QSpinBox>(dialog, "spedtDay")->isEnabled());
  EXPECT_EQ(bvtest::control<QSpinBox>(dialog, "spedtDay")->value(), 20) << "values stay";
  EXPECT_FALSE(bvtest::control<QRadioButton>(dialog, "rbRunMonthly")->isChecked());
}

TEST_F(ScheduleDialog, CollectedSettingsFollowTheCheckedKind) {
  fillValidJob();
  bvtest::control<QLineEdit>(dialog, "editJobName")->setText(QStringLiteral(" nightly "));
  bvtest::control<QRadioButton>(dialog, "rbRunWeekly")->setChecked(true);
  bvtest::control<QCheckBox>(dialog, "chkSun")->setChecked(true);
  bvtest::control<QCheckBox>(dialog, "chkSat")->setChecked(true);
  bv::agent::TJobEntry entry = dialog->CollectJobSettings();
  EXPECT_EQ(entry.Name, " nightly ");
  EXPECT_EQ(entry.FreqType, 8);
  EXPECT_EQ(entry.WeekDays, 65);
  EXPECT_EQ(entry.BackupFile, "C:\\backup\\s.bak");
  const QDate today = QDate::currentDate();
  EXPECT_EQ(entry.StartDate, bv::agent::AgentDateTime::fromDate({today.year(), today.month(), today.day()}));

  bvtest::control<QRadioButton>(dialog, "rbRunOnce")->setChecked(true);
  bvtest::control<QDateEdit>(dialog, "dtpStartDate")->setDate(QDate(2031, 7, 9));
  entry = dialog->CollectJobSettings();
  EXPECT_EQ(entry.FreqType, 1);
  EXPECT_EQ(entry.StartDate.format("yyyymmdd"), "20310709");
  EXPECT_EQ(entry.WeekDays, 0);

  bvtest::control<QRadioButton>(dialog, "rbRunMonthly")->setChecked(true);
  bvtest::control<QSpinBox>(dialog, "spedtDay")->setValue(31);
  EXPECT_EQ(dialog->CollectJobSettings().MonthDay, 31);
}

// --- Checks of a new job --------------------------------------------------------------------

TEST_F(ScheduleDialog, TheChecksRunInOrderAndFocusTheField) {
  dialog->HandOver(QStringLiteral("somehost"), QStringLiteral("Sales"), QStringLiteral("s.bak"),
                   QStringLiteral("sa"), QStringLiteral("pw"), true, true);
  bvtest::control<QLineEdit>(dialog, "editJobName")->setText(QStringLiteral("   "));
  bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")->clear();
  bvtest::control<QRadioButton>(dialog, "rbRunWeekly")->setChecked(true);

  const auto press = [&] {
    prompts.boxes.clear();
    bvtest::control<QPushButton>(dialog, "btnInsert")->click();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is back to normal";
    return prompts.boxes.size() == 1 && prompts.boxes[0].kind == Kind::Error
               ? prompts.boxes[0].text
               : QStringLiteral("<no single error>");
  };
  EXPECT_EQ(press(), QStringLiteral("ジョブ名が設定されていません。"));
  EXPECT_EQ(dialog->focusWidget(), bvtest::control<QLineEdit>(dialog, "editJobName"));

  bvtest::control<QLineEdit>(dialog, "editJobName")->setText(QStringLiteral("nightly"));
  EXPECT_EQ(press(), QStringLiteral("実行開始時間には、有効な時間を入力してください。"));
  EXPECT_EQ(dialog->focusWidget(), bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime"));
  bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")->setMaskedText(QStringLiteral("24:00:00"));
  EXPECT_EQ(press(), QStringLiteral("実行開始時間には、有効な時間を入力してください。"));
  bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")->setMaskedText(QStringLiteral("12:60:00"));
  EXPECT_EQ(press(), QStringLiteral("実行開始時間には、有効な時間を入力してください。"));

  bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")->setMaskedText(QStringLiteral(" 9:05:00"));
  EXPECT_EQ(press(), QStringLiteral("バックアップファイルの指定が正しくありません。"));
  EXPECT_EQ(dialog->focusWidget(), bvtest::control<QLineEdit>(dialog, "editBackFile"));

  bvtest::control<QLineEdit>(dialog, "editBackFile")->setText(QStringLiteral("/var/opt/backup/s.bak"));
  EXPECT_EQ(press(), QStringLiteral("月～日曜日を１つ以上チェックしてください。"));
  EXPECT_EQ(dialog->focusWidget(), bvtest::control<QCheckBox>(dialog, "chkMon"));

  bvtest::control<QCheckBox>(dialog, "chkSat")->setChecked(true);
  EXPECT_TRUE(dialog->ValidateInput());
}

TEST_F(ScheduleDialog, ARemoteServersFileIsOnlyRequiredToBeGiven) {
  dialog->HandOver(QStringLiteral("farhost"), QStringLiteral("Sales"), QString(), QStringLiteral("sa"),
                   QStringLiteral("pw"), false, true);
  bvtest::control<QLineEdit>(dialog, "editJobName")->setText(QStringLiteral("nightly"));
  EXPECT_FALSE(dialog->ValidateInput());
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("バックアップファイルが設定されていません。"));
  EXPECT_EQ(dialog->focusWidget(), bvtest::control<QLineEdit>(dialog, "editBackFile"));
  bvtest::control<QLineEdit>(dialog, "editBackFile")->setText(QStringLiteral("s.bak"));
  EXPECT_TRUE(dialog->ValidateInput());
}

TEST_F(ScheduleDialog, WithoutAConnectionTheLookupFailsToTheErrorReportAndNothingIsRegistered) {
  fillValidJob();
  bvtest::control<QPushButton>(dialog, "btnInsert")->click();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("The connection is not open."));
  EXPECT_TRUE(prompts.texts(Kind::Information).empty());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// --- The start-time mask --------------------------------------------------------------------

TEST_F(ScheduleDialog, TheStartTimeMaskKeepsEightCharacters) {
  bv::widgets::MaskEdit* edit = bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime");
  edit->clear();
  EXPECT_EQ(edit->maskedText(), QStringLiteral("  :  :  ")) << "blanks when untouched";
  EXPECT_EQ(edit->displayText(), QStringLiteral("__:__:__"));
  EXPECT_TRUE(dialog->ParseStartTime(edit->maskedText()).isNone());

  edit->setCursorPosition(0);
  QTest::keyClicks(edit, QStringLiteral("0905"));
  EXPECT_EQ(edit->maskedText(), QStringLiteral("09:05:  "));
  EXPECT_TRUE(dialog->ParseStartTime(edit->maskedText()).isNone());
  QTest::keyClicks(edit, QStringLiteral("3x0"));
  EXPECT_EQ(edit->maskedText(), QStringLiteral("09:05:30")) << "only digits are taken";
  EXPECT_EQ(dialog->ParseStartTime(edit->maskedText()).format("hh:nn:ss"), "09:05:30");
}

TEST_F(ScheduleDialog, TheFirstHourDigitIsOptional) {
  bv::widgets::MaskEdit* edit = bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime");
  edit->setMaskedText(QStringLiteral("19:05:00"));
  edit->setCursorPosition(0);
  QTest::keyClick(edit, Qt::Key_Delete);
  EXPECT_EQ(edit->maskedText(), QStringLiteral(" 9:05:00"));
  EXPECT_TRUE(edit->hasAcceptableInput());
  EXPECT_EQ(dialog->ParseStartTime(edit->maskedText()).format("hh:nn:ss"), "09:05:00");

  edit->setMaskedText(QStringLiteral("19:05:00"));
  edit->setCursorPosition(1);
  QTest::keyClick(edit, Qt::Key_Delete);  // the second hour digit is required
  EXPECT_EQ(edit->maskedText(), QStringLiteral("1 :05:00"));
  EXPECT_FALSE(edit->hasAcceptableInput());
  EXPECT_TRUE(dialog->ParseStartTime(edit->maskedText()).isNone());
}

// --- Hand-over, file dialog and deletion without rows -----------------------------------------

TEST_F(ScheduleDialog, TheHandOverFillsTheFieldsAndTheBackupFile) {
  dialog->HandOver(QStringLiteral("SRV\\INST"), QStringLiteral("Sales"), QStringLiteral("D:\\b_%date%.bak"),
                   QStringLiteral("sa"), QStringLiteral("p;w"), false, true);
  EXPECT_EQ(dialog->ServerName(), QStringLiteral("SRV\\INST"));
  EXPECT_EQ(dialog->DatabaseName(), QStringLiteral("Sales"));
  EXPECT_EQ(bvtest::control<QLineEdit>(dialog, "editBackFile")->text(), QStringLiteral("D:\\b_%date%.bak"));
  EXPECT_EQ(dialog->UserName(), QStringLiteral("sa"));
  EXPECT_EQ(dialog->Password(), QStringLiteral("p;w"));
  EXPECT_FALSE(dialog->ServerIsLocal());
  EXPECT_TRUE(dialog->UseSqlAuth());
  EXPECT_EQ(dialog->GetConnectionSettings().text(),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Pooling=false;Initial Catalog=Sales;"
            "User ID=sa;Password=\"p;w\";Data Source=SRV\\INST");
  dialog->HandOver(QStringLiteral("SRV"), QStringLiteral("Sales"), QString(), QStringLiteral("sa"), QString(),
                   true, false);
  EXPECT_EQ(dialog->GetConnectionSettings().text(),
            "Provider=SQLOLEDB.1;Persist Security Info=False;Trusted_Connection=yes;Pooling=false;"
            "Initial Catalog=master;Data Source=SRV");
}

TEST_F(ScheduleDialog, TheFileButtonReplacesThePathOnlyWhenAFileIsChosen) {
  bvtest::control<QLineEdit>(dialog, "editBackFile")->setText(QStringLiteral("/keep.bak"));
  bvtest::control<QPushButton>(dialog, "bbnBackFilePathOpen")->click();
  EXPECT_EQ(bvtest::control<QLineEdit>(dialog, "editBackFile")->text(), QStringLiteral("/keep.bak"));
  prompts.fileAnswers = {QStringLiteral("/var/backup/chosen.bak")};
  bvtest::control<QPushButton>(dialog, "bbnBackFilePathOpen")->click();
  EXPECT_EQ(bvtest::control<QLineEdit>(dialog, "editBackFile")->text(),
            QStringLiteral("/var/backup/chosen.bak"));
  EXPECT_EQ(prompts.texts(Kind::OpenFile).size(), 2u);
}

TEST_F(ScheduleDialog, DeletingWithoutASelectedRowAsksForOne) {
  dialog->btnDeleteClick();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Warning);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("削除するジョブを一覧より選択してください。"));
}

// --- Connecting -----------------------------------------------------------------------------

TEST_F(ScheduleDialog, AFailedConnectionSaysSoAndClosesTheDialog) {
  dialog->HandOver(unreachableServer(), QStringLiteral("Sales"), QStringLiteral("C:\\b.bak"),
                   QStringLiteral("sa"), QStringLiteral("pw"), false, true);
  // What the showing resets.
  bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")->setMaskedText(QStringLiteral("12:34:56"));
  bvtest::control<QRadioButton>(dialog, "rbRunMonthly")->setChecked(true);
  bvtest::control<QDateEdit>(dialog, "dtpStartDate")->setDate(QDate(2001, 1, 1));
  bvtest::control<QLineEdit>(dialog, "editJobName")->setText(QStringLiteral("kept"));

  EXPECT_EQ(execUntilClosed(), QDialog::Rejected);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(dialog->IsConnected());
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
  EXPECT_TRUE(
      prompts.boxes[0].text.startsWith(QStringLiteral("データベースの接続でエラーが発生しました。\r\n\r\n")))
      << prompts.boxes[0].text.toStdString();
  EXPECT_GT(prompts.boxes[0].text.size(),
            QStringLiteral("データベースの接続でエラーが発生しました。\r\n\r\n").size());
  EXPECT_FALSE(prompts.boxes[0].hourglass);
  // The version query that follows finds no connection and says so too.
  EXPECT_EQ(prompts.boxes[1].kind, Kind::Error);
  EXPECT_TRUE(prompts.boxes[1].text.startsWith(
      QStringLiteral("SQL SERVERバージョン情報の取得でエラーが発生しました。\r\n\r\n")))
      << prompts.boxes[1].text.toStdString();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  EXPECT_EQ(bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")->maskedText(),
            QStringLiteral("00:00:00"));
  EXPECT_TRUE(bvtest::control<QRadioButton>(dialog, "rbRunOnce")->isChecked());
  EXPECT_TRUE(bvtest::control<QDateEdit>(dialog, "dtpStartDate")->isEnabled());
  EXPECT_FALSE(bvtest::control<QSpinBox>(dialog, "spedtDay")->isEnabled());
  EXPECT_EQ(bvtest::control<QDateEdit>(dialog, "dtpStartDate")->date(), QDate::currentDate());
  EXPECT_FALSE(bvtest::control<QPushButton>(dialog, "bbnBackFilePathOpen")->isEnabled())
      << "a remote server's files cannot be browsed";
  EXPECT_EQ(bvtest::control<QLineEdit>(dialog, "editJobName")->text(), QStringLiteral("kept"));
  EXPECT_EQ(bvtest::control<QLineEdit>(dialog, "editBackFile")->text(), QStringLiteral("C:\\b.bak"));
  EXPECT_EQ(dialog->ServerVersion(), 0) << "no version was read";
}

TEST_F(ScheduleDialog, TheFileButtonIsEnabledForALocalServer) {
  dialog->HandOver(unreachableServer(), QStringLiteral("Sales"), QString(), QStringLiteral("sa"),
                   QStringLiteral("pw"), true, true);
  execUntilClosed();
  EXPECT_TRUE(bvtest::control<QPushButton>(dialog, "bbnBackFilePathOpen")->isEnabled());
}

// The stand-in answers the login and the version; a fresh msdb holds no jobs, so the job list
// stays empty without a word (schedule_standin_test.cpp registers and runs jobs).
class ScheduleDialogOnTheStandin : public ScheduleDialog, public ::testing::WithParamInterface<int> {
 protected:
  void showFor(const bvtest::StandinFixture& standin) {
    dialog->HandOver(qs(standin.serverText()), qs(standin.sampleDatabase()), QStringLiteral("C:\\b.bak"),
                     QStringLiteral("sa"), qs(standin.saPassword()), true, true);
    dialog->show();
  }
};

TEST_P(ScheduleDialogOnTheStandin, ConnectsWithAQuotedPasswordAndReadsTheVersion) {
  bvtest::StandinFixture standin({GetParam()});
  showFor(standin);
  EXPECT_TRUE(prompts.boxes.empty()) << prompts.boxes[0].text.toStdString();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_TRUE(dialog->IsConnected());
  // 2000 prints two blanks before its year and so reads as 200.
  EXPECT_EQ(dialog->ServerVersion(), GetParam() == 2000 ? 200 : GetParam());
  EXPECT_EQ(bvtest::control<QTreeWidget>(dialog, "lvScdlList")->topLevelItemCount(), 0);
  EXPECT_FALSE(bvtest::control<QPushButton>(dialog, "btnDelete")->isEnabled());
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  bvtest::control<QPushButton>(dialog, "btnEnd")->click();
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_FALSE(dialog->IsConnected()) << "the connection lives only while the dialog is shown";
}

INSTANTIATE_TEST_SUITE_P(Versions, ScheduleDialogOnTheStandin, ::testing::Values(2000, 2005, 2019));

TEST_F(ScheduleDialog, AWrongPasswordGivesTheServersLoginError) {
  bvtest::StandinFixture standin;
  dialog->HandOver(qs(standin.serverText()), qs(standin.sampleDatabase()), QString(), QStringLiteral("sa"),
                   QStringLiteral("wrong"), true, true);
  EXPECT_EQ(execUntilClosed(), QDialog::Rejected);
  ASSERT_FALSE(prompts.boxes.empty());
  EXPECT_TRUE(
      prompts.boxes[0].text.startsWith(QStringLiteral("データベースの接続でエラーが発生しました。\r\n\r\n")));
  EXPECT_TRUE(prompts.boxes[0].text.contains(QStringLiteral("Login failed")))
      << prompts.boxes[0].text.toStdString();
}

TEST_F(ScheduleDialog, EachShowingConnectsAfreshAndResetsTheSchedule) {
  bvtest::StandinFixture standin;
  dialog->HandOver(qs(standin.serverText()), qs(standin.sampleDatabase()), QString(), QStringLiteral("sa"),
                   qs(standin.saPassword()), true, true);
  dialog->show();
  ASSERT_TRUE(dialog->IsConnected());
  bvtest::control<QRadioButton>(dialog, "rbRunWeekly")->click();
  bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")->setMaskedText(QStringLiteral("23:00:00"));
  dialog->close();  // the window's close box
  EXPECT_FALSE(dialog->IsConnected());
  dialog->show();
  EXPECT_TRUE(dialog->IsConnected());
  EXPECT_TRUE(bvtest::control<QRadioButton>(dialog, "rbRunOnce")->isChecked());
  EXPECT_EQ(bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")->maskedText(),
            QStringLiteral("00:00:00"));
  EXPECT_TRUE(prompts.boxes.empty());
  bvtest::control<QPushButton>(dialog, "btnEnd")->click();
}

}  // namespace
