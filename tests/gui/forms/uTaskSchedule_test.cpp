// The task list dialog "タスク編集" driven as a user drives it, over a task store of the test's
// own: the rows with their schedule texts and runs, the prefix filter, changing a schedule on a
// scripted page, deleting through the stored file; and end to end, a task registered through the
// main window, run by one tick against the stand-in, and seen in the list with its last run.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <QApplication>
#include <QClipboard>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <QTreeWidget>

#include <ctime>
#include <filesystem>
#include <memory>

#include "controls.h"
#include "core/tasks/TaskScdl.h"
#include "core/tasks/crontab_posix.h"
#include "core/tasks/task_flags.h"
#include "core/tasks/task_store_posix.h"
#include "gui/forms/uAccount.h"
#include "gui/forms/uBrackenvale.h"
#include "gui/forms/uSchedulePage.h"
#include "gui/forms/uTaskSchedule.h"
#include "modal.h"
#include "prompt_recorder.h"
#include "standin_fixture.h"
#include "task_store_fixture.h"
#include "tick/tick.h"

namespace {

using namespace bv::forms;
namespace fs = std::filesystem;
using bv::tasks::LocalMinute;
using bv::tasks::TaskTrigger;
using Kind = bvtest::RecordedPrompt::Kind;

QString qs(const std::string& text) { return QString::fromStdString(text); }

class TaskList : public ::testing::Test {
 protected:
  void SetUp() override {
    store.setNow(LocalMinute::at(2026, 12, 8, 1, 0));
    dialog = std::make_unique<TfrmTaskSchedule>();
    dialog->SetSchedulePage(&page);
  }
  void TearDown() override { dialog.reset(); }

  // A stored task with these triggers (set through the scripted page).
  void addTask(const std::string& name, std::vector<TaskTrigger> triggers) {
    {
      bv::tasks::TTask task(name, true);
      task.SetApplicationName("/opt/brackenvale/Brackenrun");
      task.Save();
    }
    page.edit = [triggers](std::vector<TaskTrigger>& shown) { shown = triggers; };
    bv::tasks::TTask task(name, false);
    task.ShowPropertyPages(page.owner(), "", bv::tasks::kTaskPageSchedule);
    task.Save();
    page.edit = nullptr;
  }
  // Shows the dialog, lets the action run while it shows, then closes it with "戻る".
  void showAnd(const std::function<void()>& action) {
    bvtest::whenShown(dialog.get(), [&] {
      action();
      QTest::mouseClick(control<QPushButton>("btnEnd"), Qt::LeftButton);
    });
    dialog->exec();
  }
  template <typename W>
  W* control(const char* name) const {
    return bvtest::control<W>(dialog, name);
  }
  QTreeWidget* list() const { return control<QTreeWidget>("lvScdlList"); }
  QStringList row(int index) const {
    QStringList texts;
    for (int column = 0; column < 5; ++column) texts << list()->topLevelItem(index)->text(column);
    return texts;
  }
  void select(int index) { list()->setCurrentItem(list()->topLevelItem(index)); }

  bvtest::TaskStoreFixture store;
  bvtest::ScriptedSchedulePage page;
  bvtest::PromptRecorder prompts;
  const bv::tasks::CronProbeOverride cronRuns{[] { return true; }};
  std::unique_ptr<TfrmTaskSchedule> dialog;
};

TEST_F(TaskList, IsTheTaskEditingDialogWithItsColumnsAndButtons) {
  EXPECT_EQ(dialog->objectName(), QStringLiteral("frmTaskSchedule"));
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("タスク編集"));
  EXPECT_EQ(control<QGroupBox>("gbxJobList")->title(), QStringLiteral("現在登録されているタスク一覧"));
  EXPECT_TRUE(control<QGroupBox>("gbxJobList")->isAncestorOf(list()));
  const QStringList captions{QStringLiteral("No"), QStringLiteral("タスク名"), QStringLiteral("スケジュール"),
                             QStringLiteral("次回実行日時"), QStringLiteral("最終実行日時")};
  const int widths[] = {30, 200, 150, 120, 120};
  for (int column = 0; column < 5; ++column) {
    EXPECT_EQ(list()->headerItem()->text(column), captions[column]);
    EXPECT_GE(list()->header()->sectionSize(column), widths[column]);  // wider only where the font needs it
  }
  const std::pair<const char*, const char*> buttons[] = {
      {"btnEdit", "変更"}, {"btnDelete", "削除"}, {"btnEnd", "戻る"}};
  for (const auto& [name, caption] : buttons) {
    EXPECT_EQ(control<QPushButton>(name)->text(), QString::fromUtf8(caption));
    EXPECT_TRUE(control<QPushButton>(name)->font().bold());
  }
  EXPECT_EQ(control<QCheckBox>("chkDispAll")->text(), QStringLiteral("全てのタスクを表示"));
  EXPECT_FALSE(control<QCheckBox>("chkDispAll")->isChecked());
}

// A full date and time and a generated task name (with the mark of a failed run before it) fit
// their columns as the list draws them: the interface font, the style's text margins, the icon.
TEST_F(TaskList, AFullDateAndAGeneratedNameFitTheirColumns) {
  QTreeWidget* view = list();
  const QFontMetrics metrics(view->font());
  QChar widest = QLatin1Char('0');
  for (char digit = '0'; digit <= '9'; ++digit) {
    if (metrics.horizontalAdvance(QLatin1Char(digit)) > metrics.horizontalAdvance(widest)) widest = QLatin1Char(digit);
  }
  const auto digits = [&](int count) { return QString(count, widest); };
  const QString date = digits(4) + "/" + digits(2) + "/" + digits(2) + " " + digits(2) + ":" + digits(2) + ":" + digits(2);
  const QString name = QStringLiteral("Brackenvale_") + digits(14);
  const int margins = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1);
  const int icon = view->iconSize().isValid() && view->iconSize().width() > 0
                       ? view->iconSize().width()
                       : view->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, view);
  const struct {
    int column;
    int needed;
  } cells[] = {
      {1, metrics.horizontalAdvance(name) + margins + icon + margins},
      {3, metrics.horizontalAdvance(date) + margins},
      {4, metrics.horizontalAdvance(date) + margins},
  };
  for (const auto& cell : cells) {
    EXPECT_LE(cell.needed, view->header()->sectionSize(cell.column))
        << view->headerItem()->text(cell.column).toStdString() << " in " << view->font().family().toStdString() << " "
        << view->font().pixelSize() << "px";
  }
}

TEST_F(TaskList, EachRowShowsItsScheduleAndItsRuns) {
  TaskTrigger second = bvtest::dailyTrigger(2026, 12, 9, 3, 30);
  addTask("Brackenvale_20261208010000", {bvtest::dailyTrigger(2026, 12, 8, 2, 0)});
  addTask("Brackenvale_20261208010001", {bvtest::dailyTrigger(2026, 12, 8, 2, 0), second});
  addTask("Brackenvale_20261208010002", {});
  // A run the executor recorded for the first task.
  bv::tasks::TaskStore(store.storeFolder())
      .update("Brackenvale_20261208010000", [](const std::optional<bv::tasks::JobFile>& current) {
        bv::tasks::JobFile out = *current;
        out.lastRunTime = LocalMinute::at(2026, 12, 7, 2, 0).toSystemTime();
        return std::optional<bv::tasks::JobFile>(out);
      });

  showAnd([&] {
    ASSERT_EQ(list()->topLevelItemCount(), 3);
    EXPECT_EQ(row(0),
              (QStringList{QStringLiteral("1"), QStringLiteral("Brackenvale_20261208010000"),
                           QStringLiteral("毎日 2:00 に開始、開始日: 2026/12/08"),
                           QStringLiteral("2026/12/08 02:00:00"), QStringLiteral("2026/12/07 02:00:00")}));
    EXPECT_EQ(row(1)[2], QStringLiteral("自由設定"));
    EXPECT_EQ(row(1)[3], QStringLiteral("2026/12/08 02:00:00"));
    EXPECT_EQ(row(1)[4], QStringLiteral("なし"));  // never ran
    EXPECT_EQ(row(2)[2], QStringLiteral("タスクがスケジュールされていません"));
    EXPECT_EQ(row(2)[3], QStringLiteral("なし"));
    EXPECT_EQ(row(2)[4], QStringLiteral("なし"));
  });
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(TaskList, OnlyTheProgramsTasksUnlessAllAreAskedFor) {
  addTask("Brackenvale_1", {});
  addTask("brackenvale_2", {});  // the prefix in other letter case
  addTask("Other_program", {});
  showAnd([&] {
    ASSERT_EQ(list()->topLevelItemCount(), 1);
    EXPECT_EQ(row(0)[1], QStringLiteral("Brackenvale_1"));
    QTest::mouseClick(control<QCheckBox>("chkDispAll"), Qt::LeftButton);
    ASSERT_EQ(list()->topLevelItemCount(), 3);
  });
  // The choice stays for the next showing.
  showAnd([&] { EXPECT_EQ(list()->topLevelItemCount(), 3); });
}

TEST_F(TaskList, ChangeAndDeleteWithNothingSelectedWarnAndChangeNothing) {
  addTask("Brackenvale_1", {bvtest::dailyTrigger(2026, 12, 8, 2, 0)});
  const int pagesBefore = page.shown;
  showAnd([&] {
    QTest::mouseClick(control<QPushButton>("btnEdit"), Qt::LeftButton);
    QTest::mouseClick(control<QPushButton>("btnDelete"), Qt::LeftButton);
  });
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Warning);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("変更するタスクを一覧より選択してください。"));
  EXPECT_EQ(prompts.boxes[1].kind, Kind::Warning);
  EXPECT_EQ(prompts.boxes[1].text, QStringLiteral("削除するタスクを一覧より選択してください。"));
  EXPECT_EQ(page.shown, pagesBefore);
  EXPECT_TRUE(bv::tasks::TaskExists("Brackenvale_1"));
}

TEST_F(TaskList, AReScheduleOnThePageIsSavedAndTheListRefreshed) {
  addTask("Brackenvale_1", {bvtest::dailyTrigger(2026, 12, 8, 2, 0)});
  showAnd([&] {
    select(0);
    page.answer = 2;
    QTest::mouseClick(control<QPushButton>("btnEdit"), Qt::LeftButton);
    EXPECT_EQ(row(0)[2], QStringLiteral("毎日 2:00 に開始、開始日: 2026/12/08"));
    page.answer = 1;
    page.edit = [](std::vector<TaskTrigger>& triggers) {
      triggers = {bvtest::dailyTrigger(2026, 12, 8, 4, 15, 3)};
    };
    select(0);
    QTest::mouseClick(control<QPushButton>("btnEdit"), Qt::LeftButton);
    EXPECT_EQ(page.lastCaption, "Brackenvale_1");
    EXPECT_EQ(page.lastOwner, nativeWindowOf(dialog.get()));
    EXPECT_EQ(row(0)[2], QStringLiteral("3 日ごと 4:15 に開始、開始日: 2026/12/08"));
    EXPECT_EQ(row(0)[3], QStringLiteral("2026/12/08 04:15:00"));
  });
  bv::tasks::TTask task("Brackenvale_1", false);
  EXPECT_EQ(task.Triggers().Items(0).TriggerString(), "3 日ごと 4:15 に開始、開始日: 2026/12/08");
}

TEST_F(TaskList, DeletingAsksFirstAndRemovesTheStoredFile) {
  addTask("Brackenvale_1", {});
  addTask("Brackenvale_2", {});
  showAnd([&] {
    select(1);
    prompts.confirmAnswers = {false};
    QTest::mouseClick(control<QPushButton>("btnDelete"), Qt::LeftButton);
    EXPECT_EQ(list()->topLevelItemCount(), 2);
    select(1);
    prompts.confirmAnswers = {true};
    QTest::mouseClick(control<QPushButton>("btnDelete"), Qt::LeftButton);
    ASSERT_EQ(list()->topLevelItemCount(), 1);
    EXPECT_EQ(row(0)[1], QStringLiteral("Brackenvale_1"));
  });
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::ConfirmOkCancel);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("タスク[Brackenvale_2]を削除してもよろしいですか？"));
  EXPECT_FALSE(fs::exists(store.storeFolder() / "Brackenvale_2.job"));
  EXPECT_TRUE(fs::exists(store.storeFolder() / "Brackenvale_1.job"));
}

TEST_F(TaskList, WhereNoCronDaemonRunsTheDialogSaysTheTasksWillNotRun) {
  showAnd([&] { EXPECT_FALSE(control<QLabel>("lblCronNotice")->isVisible()); });
  const bv::tasks::CronProbeOverride noCron([] { return false; });
  showAnd([&] {
    EXPECT_TRUE(control<QLabel>("lblCronNotice")->isVisible());
    EXPECT_EQ(control<QLabel>("lblCronNotice")->text(),
              QStringLiteral("cronが動作していないため、登録したタスクは実行されません。"));
  });
}

TEST_F(TaskList, TheMainWindowOpensItAndOnlyVistaIsRefused) {
  TfrmBrackenvale window;
  window.SetTaskScheduleDialog(dialog.get());
  addTask("Brackenvale_1", {});
  bool shown = false;
  bvtest::whenShown(dialog.get(), [&] {
    shown = list()->topLevelItemCount() == 1;
    QTest::mouseClick(control<QPushButton>("btnEnd"), Qt::LeftButton);
  });
  window.btnEditScdlClick();
  EXPECT_TRUE(shown);
  EXPECT_TRUE(prompts.boxes.empty());
}

// A task whose failure could not be mailed is marked until a later mail names it, whatever its
// last run came to (the tick keeps it beside the task's history; tests/tick runs that road).
TEST_F(TaskList, ATaskWhoseFailureMailCouldNotBeSentIsMarked) {
  bv::tasks::JobFile job;
  job.uuid = bv::tasks::randomJobUuid();
  job.applicationName = "/bin/true";
  job.triggers = {bvtest::dailyTrigger(2026, 12, 8, 2, 0)};
  bv::tasks::recordScheduleSaved(job, LocalMinute::at(2026, 12, 1, 0, 0));
  const bv::tasks::TaskStore tasks(store.storeFolder());
  ASSERT_EQ(tasks.update("Brackenvale_unheard", [&](const auto&) { return std::optional<bv::tasks::JobFile>(job); }),
            bv::tasks::kOk);
  bv::tick::TickOptions options;
  options.storeFolder = store.storeFolder();
  options.now = LocalMinute::at(2026, 12, 9, 2, 0);
  for (const pid_t watcher : bv::tick::runTick(options).watchers) ::waitpid(watcher, nullptr, 0);
  ASSERT_EQ(tasks.keepUnreportedFailure("Brackenvale_unheard",
                                        {LocalMinute::at(2026, 12, 8, 2, 0), 0, 1, bv::tasks::kOk, false, "失敗"}),
            bv::tasks::kOk);
  showAnd([&] {
    ASSERT_EQ(list()->topLevelItemCount(), 1);
    EXPECT_FALSE(list()->topLevelItem(0)->icon(1).isNull());
    EXPECT_EQ(list()->topLevelItem(0)->toolTip(1),
              QStringLiteral("通知メールを送信できませんでした（2026/12/08 02:00:00 の失敗から）"));
  });
}

// Runs of four tasks at once on two days, through the real tick: the ones whose last run failed
// are marked, and a task's history shows both runs, newest first, as text one can copy.
TEST_F(TaskList, AFailedLastRunIsMarkedAndTheHistoryShowsEveryRun) {
  struct Program {
    const char* name;
    const char* program;
    const char* parameters;
    std::uint32_t maxRunTimeMs;
  };
  const Program programs[] = {
      {"Brackenvale_failed", "/bin/false", "", 0},
      {"Brackenvale_killed", "/bin/sleep", "30", 300},
      {"Brackenvale_missing", "/nonexistent/program", "", 0},
      {"Brackenvale_ok", "/bin/true", "", 0},
  };
  const bv::tasks::TaskStore tasks(store.storeFolder());
  for (const Program& program : programs) {
    bv::tasks::JobFile job;
    job.uuid = bv::tasks::randomJobUuid();
    job.applicationName = program.program;
    job.parameters = program.parameters;
    if (program.maxRunTimeMs != 0) job.maxRunTimeMs = program.maxRunTimeMs;
    job.triggers = {bvtest::dailyTrigger(2026, 12, 8, 2, 0)};
    bv::tasks::recordScheduleSaved(job, LocalMinute::at(2026, 12, 1, 0, 0));
    ASSERT_EQ(tasks.update(program.name, [&](const auto&) { return std::optional<bv::tasks::JobFile>(job); }),
              bv::tasks::kOk);
  }
  for (const int day : {8, 9}) {
    bv::tick::TickOptions options;
    options.storeFolder = store.storeFolder();
    options.now = LocalMinute::at(2026, 12, day, 2, 0);
    options.terminationGrace = std::chrono::milliseconds(200);
    const bv::tick::TickResult ticked = bv::tick::runTick(options);
    ASSERT_EQ(ticked.started.size(), 4u);
    for (const pid_t watcher : ticked.watchers) ::waitpid(watcher, nullptr, 0);
  }

  QString historyText;
  QStringList shownRuns;
  showAnd([&] {
    ASSERT_EQ(list()->topLevelItemCount(), 4);
    for (int index = 0; index < 4; ++index) {
      const QTreeWidgetItem* item = list()->topLevelItem(index);
      const bool marked = !item->icon(1).isNull();
      EXPECT_EQ(marked, index != 3) << item->text(1).toStdString();
      EXPECT_EQ(item->toolTip(1).isEmpty(), index == 3) << item->text(1).toStdString();
    }
    EXPECT_EQ(list()->topLevelItem(1)->toolTip(1), QStringLiteral("前回の実行: 実行時間の上限に達したため終了させました"));
    EXPECT_EQ(list()->topLevelItem(2)->toolTip(1),
              QStringLiteral("前回の実行: 開始できませんでした（プログラムが見つかりません）"));
    select(1);
    bvtest::whenShown("frmRunHistory", [&](QDialog* history) {
      auto* runs = bvtest::control<QTreeWidget>(history, "lvRunList");
      for (int index = 0; index < runs->topLevelItemCount(); ++index) shownRuns << runs->topLevelItem(index)->text(0);
      QTest::mouseClick(bvtest::control<QPushButton>(history, "btnCopy"), Qt::LeftButton);
      historyText = QApplication::clipboard()->text();
      QTest::mouseClick(bvtest::control<QPushButton>(history, "btnClose"), Qt::LeftButton);
    });
    QTest::mouseClick(control<QPushButton>("btnHistory"), Qt::LeftButton);
  });
  EXPECT_EQ(shownRuns, QStringList({"2026/12/09 02:00:00", "2026/12/08 02:00:00"}));
  EXPECT_EQ(historyText.count(QStringLiteral("実行時間の上限に達したため終了させました")), 2) << historyText.toStdString();
  EXPECT_TRUE(historyText.startsWith(QStringLiteral("開始日時\t所要時間\t結果\t開始\n"))) << historyText.toStdString();
}

TEST_F(TaskList, TheMailSettingsAreReachedFromTheList) {
  bool shown = false;
  bvtest::whenShown("frmMailSettings", [&](QDialog* settings) {
    shown = true;
    settings->reject();
  });
  showAnd([&] { QTest::mouseClick(control<QPushButton>("btnMailSettings"), Qt::LeftButton); });
  EXPECT_TRUE(shown);
}

TEST_F(TaskList, TheHistoryButtonAsksForATaskFirst) {
  showAnd([&] { QTest::mouseClick(control<QPushButton>("btnHistory"), Qt::LeftButton); });
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Warning);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("実行履歴を表示するタスクを一覧より選択してください。"));
}

// --- End to end ----------------------------------------------------------------------------------

TEST(TaskRoad, RegisteredThroughTheWindowRunByATickAndSeenInTheList) {
  bvtest::StandinFixture standin;
  bvtest::TaskStoreFixture store;
  bvtest::ScriptedSchedulePage page;
  bvtest::PromptRecorder prompts;
  const bv::tasks::CronProbeOverride cronRuns([] { return true; });
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  const LocalMinute today = LocalMinute::at(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, 2, 0);
  page.edit = [&](std::vector<TaskTrigger>& triggers) {
    const auto date = today.date();
    triggers = {bvtest::dailyTrigger(date.year, date.month, date.day, 2, 0)};
  };

  TfrmBrackenvale window;
  TfrmAccount account(&window);
  TfrmTaskSchedule list(&window);
  window.SetAccountDialog(&account);
  window.SetTaskScheduleDialog(&list);
  window.SetSchedulePage(&page);
  list.SetSchedulePage(&page);
  window.show();
  QApplication::setActiveWindow(&window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  auto* server = bvtest::control<QLineEdit>(window, "editServer");
  server->setFocus(Qt::MouseFocusReason);
  server->setText(qs(standin.serverText()));
  QTest::keyClick(server, Qt::Key_Tab);
  QTest::mouseClick(bvtest::control<QRadioButton>(window, "rbSQLServer"), Qt::LeftButton);
  bvtest::control<QLineEdit>(window, "editUser")->setText(QStringLiteral("sa"));
  bvtest::control<QLineEdit>(window, "editPass")->setText(qs(standin.saPassword()));
  window.RefreshDatabaseList();
  auto* databases = bvtest::control<QComboBox>(window, "cmbDatabase");
  databases->setCurrentIndex(databases->findText(qs(standin.sampleDatabase())));
  const fs::path pattern = standin.scratchDir() / "nightly_%date%.bak";
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(qs(pattern.string()));

  bvtest::whenShown(&account, [&] {
    QTest::keyClicks(bvtest::control<QLineEdit>(account, "editPasswd0"), QStringLiteral("pw"));
    QTest::keyClicks(bvtest::control<QLineEdit>(account, "editPasswd1"), QStringLiteral("pw"));
    QTest::mouseClick(bvtest::control<QPushButton>(account, "btnOK"), Qt::LeftButton);
  });
  QTest::mouseClick(bvtest::control<QPushButton>(window, "btnMakeScdl"), Qt::LeftButton);
  ASSERT_EQ(prompts.boxes.size(), 1u) << prompts.boxes[0].text.toStdString();
  ASSERT_EQ(prompts.boxes[0].text, QStringLiteral("タスクを追加しました。"));

  // The task was saved after today's 02:00: its first start is tomorrow's.
  const LocalMinute firstStart = today.plusDays(1);
  bv::tick::TickOptions options;
  options.storeFolder = store.storeFolder();
  options.now = firstStart;
  const bv::tick::TickResult ticked = bv::tick::runTick(options);
  ASSERT_EQ(ticked.started.size(), 1u);
  for (const pid_t watcher : ticked.watchers) ::waitpid(watcher, nullptr, 0);

  char day[16];
  std::strftime(day, sizeof day, "%Y%m%d", &local);
  EXPECT_TRUE(fs::exists(standin.scratchDir() / (std::string("nightly_") + day + ".bak")));

  QString lastRun;
  bvtest::whenShown(&list, [&] {
    auto* rows = bvtest::control<QTreeWidget>(list, "lvScdlList");
    if (rows->topLevelItemCount() == 1) lastRun = rows->topLevelItem(0)->text(4);
    QTest::mouseClick(bvtest::control<QPushButton>(list, "btnEnd"), Qt::LeftButton);
  });
  QTest::mouseClick(bvtest::control<QPushButton>(window, "btnEditScdl"), Qt::LeftButton);
  EXPECT_EQ(lastRun,
            qs(firstStart.toString()).replace(QLatin1Char('-'), QLatin1Char('/')) + QStringLiteral(":00"));
}

}  // namespace
