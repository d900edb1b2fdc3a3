// The Agent job dialog end to end: the real TfrmSchedule on the offscreen platform, through
// unixODBC + FreeTDS, against the stand-in's msdb and Agent. Jobs of every schedule kind are
// registered and listed with their next run, a failing procedure leaves no half job, a
// duplicate name is refused, deletion asks first, and a job started with sp_start_job shows
// its outcome and has written its backup file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDateEdit>
#include <QTime>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "controls.h"
#include "core/maintenance/operations.h"
#include "gui/forms/uSchedule.h"
#include "gui/widgets/mask_edit.h"
#include "odbc_client.h"
#include "prompt_recorder.h"
#include "standin/backup/backup_file.h"
#include "standin_fixture.h"

namespace {

using namespace bv::forms;

using Kind = bvtest::RecordedPrompt::Kind;

QString qs(const std::string& text) { return QString::fromStdString(text); }
QString qs(const std::filesystem::path& path) { return QString::fromStdString(path.string()); }

// "yyyy/mm/dd hh:nn:ss" of msdb's packed date and time.
QString packedText(const std::string& date, const std::string& time) {
  const int d = std::stoi(date);
  const int t = std::stoi(time);
  return QStringLiteral("%1/%2/%3 %4:%5:%6")
      .arg(d / 10000, 4, 10, QLatin1Char('0'))
      .arg(d / 100 % 100, 2, 10, QLatin1Char('0'))
      .arg(d % 100, 2, 10, QLatin1Char('0'))
      .arg(t / 10000, 2, 10, QLatin1Char('0'))
      .arg(t / 100 % 100, 2, 10, QLatin1Char('0'))
      .arg(t % 100, 2, 10, QLatin1Char('0'));
}

QString dayText(const QDate& d) { return d.toString(QStringLiteral("yyyy/MM/dd")); }

class ScheduleOnStandin : public ::testing::Test {
 protected:
  void start(int version, std::filesystem::path trace = {}) {
    bvtest::StandinOptions options;
    options.serverVersion = version;
    options.traceFile = std::move(trace);
    standin = std::make_unique<bvtest::StandinFixture>(options);
    dialog = std::make_unique<TfrmSchedule>();
    dialog->HandOver(qs(standin->serverText()), qs(standin->sampleDatabase()), QString(),
                     QStringLiteral("sa"), qs(standin->saPassword()), true, true);
    dialog->show();
    ASSERT_TRUE(dialog->IsConnected());
    ASSERT_TRUE(prompts.boxes.empty()) << prompts.boxes[0].text.toStdString();
  }
  void TearDown() override {
    if (dialog && dialog->isVisible()) bvtest::control<QPushButton>(dialog, "btnEnd")->click();
    dialog.reset();
    standin.reset();
  }

  // The new-job group filled in as a user would; `kind` is the radio button to click.
  void fill(const QString& name, QRadioButton* kind, const QString& startTime) {
    bvtest::control<QLineEdit>(dialog, "editJobName")->setText(name);
    bvtest::control<QLineEdit>(dialog, "editDesc")->setText(QStringLiteral("説明 ") + name);
    bvtest::control<QLineEdit>(dialog, "editBackFile")->setText(qs(backupPattern(name)));
    bvtest::control<bv::widgets::MaskEdit>(dialog, "medtStartTime")->setMaskedText(startTime);
    kind->click();
  }
  std::filesystem::path backupPattern(const QString& name) const {
    return standin->scratchDir() / (name.toStdString() + "_%date%.bak");
  }

  // Presses 追加; true when the dialog said the job was registered.
  bool add() {
    prompts.boxes.clear();
    bvtest::control<QPushButton>(dialog, "btnInsert")->click();
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    return prompts.boxes.size() == 1 && prompts.boxes[0].kind == Kind::Information &&
           prompts.boxes[0].text == QStringLiteral("新しいジョブを登録しました。");
  }
  QString boxes() const {
    QString out;
    for (const auto& b : prompts.boxes) out += b.text + QStringLiteral(" | ");
    return out;
  }

  int rows() const { return bvtest::control<QTreeWidget>(dialog, "lvScdlList")->topLevelItemCount(); }
  QString cell(int row, int column) const {
    return bvtest::control<QTreeWidget>(dialog, "lvScdlList")->topLevelItem(row)->text(column);
  }
  int rowOf(const QString& name) const {
    for (int i = 0; i < rows(); ++i)
      if (cell(i, 1) == name) return i;
    return -1;
  }

  std::string msdbValue(const std::string& sql) const {
    const auto r = standin->querySqlite("msdb", sql);
    return r.empty() || r[0].empty() || !r[0][0] ? std::string("<none>") : *r[0][0];
  }
  std::int64_t count(const char* table) const { return standin->rowCount("msdb", table); }

  bvtest::PromptRecorder prompts;
  std::unique_ptr<bvtest::StandinFixture> standin;
  std::unique_ptr<TfrmSchedule> dialog;
};

class ScheduleOnEachRelease : public ScheduleOnStandin, public ::testing::WithParamInterface<int> {};

// ---------- registering and listing ----------

TEST_P(ScheduleOnEachRelease, EachScheduleKindIsRegisteredAndListedWithItsScheduleAndNextRun) {
  start(GetParam());
  const QDate today = QDate::currentDate();

  fill(QStringLiteral("once"), bvtest::control<QRadioButton>(dialog, "rbRunOnce"),
       QStringLiteral("02:00:00"));
  bvtest::control<QDateEdit>(dialog, "dtpStartDate")->setDate(QDate(2031, 7, 9));
  ASSERT_TRUE(add()) << boxes().toStdString();

  fill(QStringLiteral("daily"), bvtest::control<QRadioButton>(dialog, "rbRunDaily"),
       QStringLiteral("00:00:00"));
  ASSERT_TRUE(add()) << boxes().toStdString();

  // The day after tomorrow's weekday: its next run is that day whatever the time now.
  const QDate weekDay = today.addDays(2);
  fill(QStringLiteral("weekly"), bvtest::control<QRadioButton>(dialog, "rbRunWeekly"),
       QStringLiteral("12:00:00"));
  for (QCheckBox* box :
       {bvtest::control<QCheckBox>(dialog, "chkSun"), bvtest::control<QCheckBox>(dialog, "chkMon"),
        bvtest::control<QCheckBox>(dialog, "chkTue"), bvtest::control<QCheckBox>(dialog, "chkWed"),
        bvtest::control<QCheckBox>(dialog, "chkThu"), bvtest::control<QCheckBox>(dialog, "chkFri"),
        bvtest::control<QCheckBox>(dialog, "chkSat")})
    box->setChecked(false);
  QCheckBox* const days[] = {
      bvtest::control<QCheckBox>(dialog, "chkMon"), bvtest::control<QCheckBox>(dialog, "chkTue"),
      bvtest::control<QCheckBox>(dialog, "chkWed"), bvtest::control<QCheckBox>(dialog, "chkThu"),
      bvtest::control<QCheckBox>(dialog, "chkFri"), bvtest::control<QCheckBox>(dialog, "chkSat"),
      bvtest::control<QCheckBox>(dialog, "chkSun")};
  days[weekDay.dayOfWeek() - 1]->setChecked(true);
  ASSERT_TRUE(add()) << boxes().toStdString();

  fill(QStringLiteral("monthly"), bvtest::control<QRadioButton>(dialog, "rbRunMonthly"),
       QStringLiteral(" 9:05:00"));
  bvtest::control<QSpinBox>(dialog, "spedtDay")->setValue(31);
  ASSERT_TRUE(add()) << boxes().toStdString();

  // Every 15 minutes within an hour that starts at least an hour from now, so that its next run
  // is that hour's start whenever the check runs.
  const int hour = (QTime::currentTime().hour() + 2) % 24;
  const QDate quarterDay = hour > QTime::currentTime().hour() ? today : today.addDays(1);
  const QString hh = QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0'));
  fill(QStringLiteral("quarter"), bvtest::control<QRadioButton>(dialog, "rbRunEveryMinutes"), hh + ":00:00");
  bvtest::control<QSpinBox>(dialog, "spedtEveryMinutes")->setValue(15);
  bvtest::control<bv::widgets::MaskEdit>(dialog, "medtEndTime")->setMaskedText(hh + ":45:00");
  ASSERT_TRUE(add()) << boxes().toStdString();

  ASSERT_EQ(rows(), 5);
  EXPECT_TRUE(bvtest::control<QPushButton>(dialog, "btnDelete")->isEnabled());
  const QString letters = QStringLiteral("日月火水木金土");
  QDate day31 = today.addDays(1);
  while (day31.day() != 31) day31 = day31.addDays(1);
  const struct {
    const char* name;
    QString schedule, time, next;
  } expected[] = {
      {"once", QStringLiteral("2031/07/09"), QStringLiteral("02:00:00"),
       QStringLiteral("2031/07/09 02:00:00")},
      {"daily", QStringLiteral("毎日"), QStringLiteral("00:00:00"),
       dayText(today.addDays(1)) + QStringLiteral(" 00:00:00")},
      {"weekly", QStringLiteral("毎週 ") + letters[weekDay.dayOfWeek() % 7] + QStringLiteral("曜日"),
       QStringLiteral("12:00:00"), dayText(weekDay) + QStringLiteral(" 12:00:00")},
      {"monthly", QStringLiteral("毎月 31日"), QStringLiteral("09:05:00"),
       dayText(day31) + QStringLiteral(" 09:05:00")},
      {"quarter", QStringLiteral("毎日 15 分ごと ") + hh + ":00〜" + hh + ":45", hh + ":00:00",
       dayText(quarterDay) + " " + hh + ":00:00"},
  };
  for (int i = 0; i < 5; ++i) {
    const QString name = QString::fromLatin1(expected[i].name);
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(cell(i, 0), QString::number(i + 1));
    EXPECT_EQ(cell(i, 1), name) << "in the order of creation";
    EXPECT_EQ(cell(i, 2), qs(backupPattern(name)));
    EXPECT_EQ(cell(i, 3), expected[i].schedule);
    EXPECT_EQ(cell(i, 4), expected[i].time);
    EXPECT_EQ(cell(i, 5), QStringLiteral("(未実行)"));
    EXPECT_EQ(cell(i, 6), expected[i].next);
    EXPECT_EQ(cell(i, 7), QStringLiteral("説明 ") + name);
  }
  EXPECT_EQ(count("sysjobs"), 5);
  EXPECT_EQ(msdbValue("SELECT delete_level FROM sysjobs WHERE name = 'once'"), "3");
  EXPECT_EQ(msdbValue("SELECT group_concat(delete_level) FROM sysjobs WHERE name <> 'once'"), "0,0,0,0");
  EXPECT_TRUE(prompts.errors().empty());
}

INSTANTIATE_TEST_SUITE_P(Releases, ScheduleOnEachRelease, ::testing::Values(2000, 2005, 2019));

TEST_F(ScheduleOnStandin, TheRelease2000StandinIsListedThroughTheOlderQuery) {
  const bvtest::TempDir traceDir("bv-trace");
  const auto trace = traceDir.path() / "requests.log";
  start(2000, trace);
  EXPECT_EQ(dialog->ServerVersion(), 200);
  fill(QStringLiteral("nightly"), bvtest::control<QRadioButton>(dialog, "rbRunDaily"),
       QStringLiteral("23:30:00"));
  ASSERT_TRUE(add()) << boxes().toStdString();
  ASSERT_EQ(rows(), 1);
  EXPECT_EQ(cell(0, 3), QStringLiteral("毎日"));
  EXPECT_EQ(cell(0, 4), QStringLiteral("23:30:00"));
  EXPECT_TRUE(
      standin->querySqlite("msdb", "SELECT name FROM sqlite_master WHERE name = 'sysschedules'").empty());
  std::ifstream in(trace);
  std::stringstream requests;
  requests << in.rdbuf();
  EXPECT_NE(requests.str().find("  INNER JOIN msdb.dbo.sysjobschedules as scdl "), std::string::npos);
  EXPECT_EQ(requests.str().find("msdb.dbo.sysschedules"), std::string::npos);
}

// ---------- what is refused ----------

TEST_F(ScheduleOnStandin, AFailingProcedureRollsTheRegistrationBackAndLeavesNoHalfJob) {
  start(2005);
  // The Agent takes no start date before 1990: the third of the four calls fails.
  fill(QStringLiteral("too early"), bvtest::control<QRadioButton>(dialog, "rbRunOnce"),
       QStringLiteral("02:00:00"));
  bvtest::control<QDateEdit>(dialog, "dtpStartDate")->setDate(QDate(1989, 12, 31));
  EXPECT_FALSE(add());
  ASSERT_EQ(prompts.boxes.size(), 1u) << boxes().toStdString();
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
  EXPECT_TRUE(prompts.boxes[0].text.startsWith(
      QStringLiteral("ジョブスケジュールの登録でエラーが発生しました。\r\n\r\n")))
      << prompts.boxes[0].text.toStdString();
  EXPECT_TRUE(prompts.boxes[0].text.contains(QStringLiteral(
      "The specified '@active_start_date' is invalid (valid values are: 19900101..99991231).")))
      << prompts.boxes[0].text.toStdString();
  EXPECT_EQ(rows(), 0);
  for (const char* table : {"sysjobs", "sysjobsteps", "sysschedules", "sysjobschedules", "sysjobservers"})
    EXPECT_EQ(count(table), 0) << table;
  EXPECT_TRUE(dialog->isVisible()) << "the dialog stays with the user's input";
  EXPECT_EQ(bvtest::control<QLineEdit>(dialog, "editJobName")->text(), QStringLiteral("too early"));

  bvtest::control<QDateEdit>(dialog, "dtpStartDate")->setDate(QDate(2031, 1, 1));
  EXPECT_TRUE(add()) << boxes().toStdString();
  EXPECT_EQ(rows(), 1);
  EXPECT_EQ(count("sysjobs"), 1);
}

TEST_F(ScheduleOnStandin, ADuplicateNameIsRefused) {
  start(2005);
  fill(QStringLiteral("nightly"), bvtest::control<QRadioButton>(dialog, "rbRunDaily"),
       QStringLiteral("02:00:00"));
  ASSERT_TRUE(add()) << boxes().toStdString();
  bvtest::control<QLineEdit>(dialog, "editJobName")->setText(QStringLiteral(" nightly "));
  EXPECT_FALSE(add());
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("既に同じ名前のジョブが存在します。"));
  EXPECT_EQ(dialog->focusWidget(), bvtest::control<QLineEdit>(dialog, "editJobName"));
  EXPECT_EQ(rows(), 1);
  EXPECT_EQ(count("sysjobs"), 1);

  // A log backup of a SIMPLE database is refused as the dialog reads the recovery model.
  bvtest::odbc::Connection client;
  ASSERT_TRUE(client.connect(standin->odbcConnectionString("Database=master;")));
  client.execute("ALTER DATABASE [Sample] SET RECOVERY SIMPLE");
  fill(QStringLiteral("logs"), bvtest::control<QRadioButton>(dialog, "rbRunDaily"), QStringLiteral("02:00:00"));
  bvtest::control<QLineEdit>(dialog, "editBackFile")->setText(qs(standin->scratchDir() / "logs_%time%.trn"));
  bvtest::control<QComboBox>(dialog, "cmbBackupKind")->setCurrentIndex(2);
  EXPECT_FALSE(add());
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, qs(bv::maintenance::logOfSimpleDatabaseText("Sample")));
  EXPECT_EQ(dialog->focusWidget(), bvtest::control<QComboBox>(dialog, "cmbBackupKind"));
  EXPECT_EQ(count("sysjobs"), 1);
}

// ---------- deleting ----------

TEST_F(ScheduleOnStandin, DeletingAsksFirstAndCancelKeepsTheJob) {
  start(2005);
  fill(QStringLiteral("keep me"), bvtest::control<QRadioButton>(dialog, "rbRunDaily"),
       QStringLiteral("02:00:00"));
  ASSERT_TRUE(add());
  fill(QStringLiteral("drop me"), bvtest::control<QRadioButton>(dialog, "rbRunDaily"),
       QStringLiteral("03:00:00"));
  ASSERT_TRUE(add());
  ASSERT_EQ(rows(), 2);

  bvtest::control<QTreeWidget>(dialog, "lvScdlList")
      ->setCurrentItem(
          bvtest::control<QTreeWidget>(dialog, "lvScdlList")->topLevelItem(rowOf(QStringLiteral("drop me"))));
  prompts.boxes.clear();
  prompts.confirmAnswers = {false};
  bvtest::control<QPushButton>(dialog, "btnDelete")->click();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::ConfirmOkCancel);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("ジョブ[drop me]を削除してもよろしいですか？"));
  EXPECT_EQ(rows(), 2);
  EXPECT_EQ(count("sysjobs"), 2);

  prompts.boxes.clear();
  prompts.confirmAnswers = {true};
  bvtest::control<QPushButton>(dialog, "btnDelete")->click();
  ASSERT_EQ(prompts.boxes.size(), 1u) << boxes().toStdString();
  ASSERT_EQ(rows(), 1);
  EXPECT_EQ(cell(0, 1), QStringLiteral("keep me"));
  EXPECT_EQ(msdbValue("SELECT group_concat(name) FROM sysjobs"), "keep me");
  EXPECT_EQ(count("sysjobsteps"), 1);
  EXPECT_EQ(count("sysschedules"), 1);

  bvtest::control<QTreeWidget>(dialog, "lvScdlList")
      ->setCurrentItem(bvtest::control<QTreeWidget>(dialog, "lvScdlList")->topLevelItem(0));
  bvtest::control<QPushButton>(dialog, "btnDelete")->click();
  EXPECT_EQ(rows(), 0);
  EXPECT_FALSE(bvtest::control<QPushButton>(dialog, "btnDelete")->isEnabled());
  EXPECT_EQ(count("sysjobs"), 0);
}

// ---------- running ----------

TEST_P(ScheduleOnEachRelease, AJobStartedWithStartJobShowsItsOutcomeAndHasWrittenTheDaysBackup) {
  start(GetParam());
  fill(QStringLiteral("run now"), bvtest::control<QRadioButton>(dialog, "rbRunDaily"),
       QStringLiteral("02:00:00"));
  ASSERT_TRUE(add()) << boxes().toStdString();
  fill(QStringLiteral("bad path"), bvtest::control<QRadioButton>(dialog, "rbRunDaily"),
       QStringLiteral("02:00:00"));
  bvtest::control<QLineEdit>(dialog, "editBackFile")
      ->setText(qs(standin->scratchDir() / "no such folder" / "x_%date%.bak"));
  ASSERT_TRUE(add()) << boxes().toStdString();

  bvtest::odbc::Connection client;
  ASSERT_TRUE(client.connect(standin->odbcConnectionString("Database=Sample;")));
  for (const char* job : {"run now", "bad path"}) {
    const auto r = client.execute(std::string("EXEC msdb.dbo.sp_start_job @job_name = N'") + job + "'");
    EXPECT_FALSE(r.anyError) << job;
    const auto* started = r.find(14243);
    ASSERT_NE(started, nullptr) << job;
    EXPECT_NE(started->text.find(std::string("Job '") + job + "' started successfully."), std::string::npos);
  }

  dialog->RefreshJobList();
  ASSERT_EQ(rows(), 2);
  const auto outcome = [&](const char* job) {
    const auto r = standin->querySqlite(
        "msdb",
        std::string(
            "SELECT h.run_date, h.run_time FROM sysjobhistory h JOIN sysjobs j ON j.job_id = h.job_id "
            "WHERE h.step_id = 0 AND j.name = '") +
            job + "'");
    return r.size() == 1 ? r[0] : std::vector<std::optional<std::string>>{};
  };
  const auto ran = outcome("run now");
  ASSERT_EQ(ran.size(), 2u);
  EXPECT_EQ(cell(rowOf(QStringLiteral("run now")), 5),
            QStringLiteral("成功(") + packedText(*ran[0], *ran[1]) + ")");
  const auto failed = outcome("bad path");
  ASSERT_EQ(failed.size(), 2u);
  EXPECT_EQ(cell(rowOf(QStringLiteral("bad path")), 5),
            QStringLiteral("失敗(") + packedText(*failed[0], *failed[1]) + ")");

  // The step's batch put the run day into the file name and backed Sample up.
  const auto file = standin->scratchDir() / ("run now_" + *ran[0] + ".bak");
  ASSERT_TRUE(std::filesystem::exists(file)) << file;
  const auto backup = standin::backup::readBackupFile(file, false);
  ASSERT_EQ(backup.status, standin::backup::BackupReadStatus::Ok);
  ASSERT_EQ(backup.sets.size(), 1u);
  EXPECT_EQ(backup.sets[0].info.databaseName, "Sample");
  EXPECT_EQ(backup.sets[0].info.backupName, "Brackenvale_" + *ran[0]);
  EXPECT_EQ(backup.sets[0].info.description, "Build by Brackenvale");
}

}  // namespace
