// The run-now road of the main window end to end: real widgets, the real driver stack and the
// stand-in server doing the backups, restores and shrinks for real.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "controls.h"
#include "modal.h"
#include "core/db/database.h"
#include "core/maintenance/proof.h"
#include "gui/forms/uBrackenvale.h"
#include "prompt_recorder.h"
#include "sockets.h"
#include "standin_fixture.h"

namespace {

using namespace bv::forms;

using Kind = bvtest::RecordedPrompt::Kind;
namespace fs = std::filesystem;

class RunNow : public ::testing::Test {
 protected:
  explicit RunNow(bvtest::StandinOptions options = {}) : standin(options) {}

  void SetUp() override {
    window = std::make_unique<TfrmBrackenvale>();
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  void TearDown() override { window.reset(); }

  QString qs(const std::string& text) const { return QString::fromStdString(text); }

  // Logs in as sa and enters the database box, as a user does.
  void logIn() {
    bvtest::control<QLineEdit>(window, "editServer")->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(bvtest::control<QLineEdit>(window, "editServer"), qs(standin.serverText()));
    QTest::mouseClick(bvtest::control<QRadioButton>(window, "rbSQLServer"), Qt::LeftButton);
    bvtest::control<QLineEdit>(window, "editUser")->setText(QStringLiteral("sa"));
    bvtest::control<QLineEdit>(window, "editPass")->setText(qs(standin.saPassword()));
    QTest::mouseClick(bvtest::control<QComboBox>(window, "cmbDatabase"), Qt::LeftButton);
    QApplication::processEvents();
    if (auto* popup = QApplication::activePopupWidget()) popup->close();
  }
  void choose(const std::string& database) {
    const int index = bvtest::control<QComboBox>(window, "cmbDatabase")->findText(qs(database));
    ASSERT_GE(index, 0) << database;
    bvtest::control<QComboBox>(window, "cmbDatabase")->setCurrentIndex(index);
  }
  void runNow() {
    prompts.boxes.clear();
    QTest::mouseClick(bvtest::control<QPushButton>(window, "btnCreate"), Qt::LeftButton);
  }
  QString lastBox() const { return prompts.boxes.empty() ? QString() : prompts.boxes.back().text; }
  std::string today() const {
    return QDate::currentDate().toString(QStringLiteral("yyyyMMdd")).toStdString();
  }

  bvtest::StandinFixture standin;
  bvtest::PromptRecorder prompts;
  std::unique_ptr<TfrmBrackenvale> window;
};

TEST_F(RunNow, EnteringTheDatabaseBoxLogsInAndListsTheDefaultEntryFirst) {
  logIn();
  EXPECT_TRUE(prompts.boxes.empty()) << lastBox().toStdString();
  ASSERT_GE(bvtest::control<QComboBox>(window, "cmbDatabase")->count(), 6);
  EXPECT_EQ(bvtest::control<QComboBox>(window, "cmbDatabase")->itemText(0), QStringLiteral("<既定値>"));
  EXPECT_EQ(bvtest::control<QComboBox>(window, "cmbDatabase")->itemText(1), QStringLiteral("master"));
  EXPECT_GE(bvtest::control<QComboBox>(window, "cmbDatabase")->findText(qs(standin.sampleDatabase())), 0);
  EXPECT_EQ(bvtest::control<QComboBox>(window, "cmbDatabase")->currentIndex(), 0);
  EXPECT_EQ(window->DefaultDatabase(), QStringLiteral("master"));
  EXPECT_EQ(window->GetDatabaseName(bvtest::control<QComboBox>(window, "cmbDatabase")),
            QStringLiteral("master"));
}

TEST_F(RunNow, EveryEntryIntoTheBoxLogsInAgainAndResetsTheChoice) {
  logIn();
  choose(standin.sampleDatabase());
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setFocus(Qt::MouseFocusReason);
  QTest::mouseClick(bvtest::control<QComboBox>(window, "cmbDatabase"), Qt::LeftButton);
  QApplication::processEvents();
  if (auto* popup = QApplication::activePopupWidget()) popup->close();
  EXPECT_EQ(bvtest::control<QComboBox>(window, "cmbDatabase")->currentIndex(), 0);
}

TEST_F(RunNow, AWrongPasswordSaysTheLoginFailed) {
  bvtest::control<QLineEdit>(window, "editServer")->setText(qs(standin.serverText()));
  QTest::mouseClick(bvtest::control<QRadioButton>(window, "rbSQLServer"), Qt::LeftButton);
  bvtest::control<QLineEdit>(window, "editUser")->setText(QStringLiteral("sa"));
  bvtest::control<QLineEdit>(window, "editPass")->setText(QStringLiteral("not it"));
  QTest::mouseClick(bvtest::control<QPushButton>(window, "bbnReloadList"), Qt::LeftButton);
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("サーバにログインできませんでした。"));
  EXPECT_EQ(bvtest::control<QComboBox>(window, "cmbDatabase")->count(), 0);
}

TEST_F(RunNow, WindowsAuthenticationWithoutATicketSaysTheLoginFailed) {
  bvtest::control<QLineEdit>(window, "editServer")->setText(qs(standin.serverText()));
  QTest::mouseClick(bvtest::control<QPushButton>(window, "bbnReloadList"), Qt::LeftButton);
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("サーバにログインできませんでした。"));
}

TEST_F(RunNow, BackupWithDateAndVerifyWritesTheFileAndSaysFinished) {
  logIn();
  choose(standin.sampleDatabase());
  const fs::path pattern = standin.scratchDir() / "emp_%date%.bak";
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(qs(pattern.string()));
  bvtest::control<QCheckBox>(window, "chkVerify")->setChecked(true);
  runNow();
  ASSERT_EQ(prompts.boxes.size(), 2u) << lastBox().toStdString();
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("バックアップを開始します。よろしいですか？"));
  EXPECT_EQ(prompts.boxes[1].kind, Kind::Information);
  EXPECT_EQ(prompts.boxes[1].text, QStringLiteral("バックアップが終了しました。"));
  EXPECT_TRUE(fs::exists(standin.scratchDir() / ("emp_" + today() + ".bak")));
  EXPECT_FALSE(fs::exists(pattern));
}

TEST_F(RunNow, AQuoteInThePathBacksUpToExactlyThatPath) {
  logIn();
  choose(standin.sampleDatabase());
  const fs::path path = standin.scratchDir() / "O'Brien's backup.bak";
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(qs(path.string()));
  runNow();
  EXPECT_EQ(lastBox(), QStringLiteral("バックアップが終了しました。"));
  EXPECT_TRUE(fs::exists(path));
}

TEST_F(RunNow, ABackupToAMissingFolderShowsTheServersTexts) {
  logIn();
  choose(standin.sampleDatabase());
  bvtest::control<QLineEdit>(window, "editBackFilePath")
      ->setText(qs((standin.scratchDir() / "no such dir" / "x.bak").string()));
  runNow();
  ASSERT_EQ(prompts.errors().size(), 1u);
  const QString message = prompts.errors()[0];
  EXPECT_TRUE(message.startsWith(QStringLiteral("バックアップ中にエラーが発生しました。\r\n\r\n")));
  EXPECT_TRUE(message.contains(QStringLiteral("Cannot open backup device"))) << message.toStdString();
  EXPECT_TRUE(message.contains(QStringLiteral("BACKUP DATABASE is terminating abnormally.\r\n")));
  EXPECT_FALSE(message.contains(QStringLiteral("[FreeTDS]")));
  EXPECT_TRUE(prompts.texts(Kind::Information).empty());
}

TEST_F(RunNow, RestoreBringsBackTheBackedUpData) {
  logIn();
  choose(standin.sampleDatabase());
  const fs::path file = standin.scratchDir() / "round.bak";
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(qs(file.string()));
  runNow();
  ASSERT_EQ(lastBox(), QStringLiteral("バックアップが終了しました。"));

  const auto before = standin.rowCount(standin.sampleDatabase(), standin.sampleTable());
  ASSERT_GT(before, 0);
  standin.executeSqlite(standin.sampleDatabase(), "DELETE FROM " + standin.sampleTable());
  ASSERT_EQ(standin.rowCount(standin.sampleDatabase(), standin.sampleTable()), 0);

  bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(1);
  bvtest::control<QLineEdit>(window, "editRestFilePath")->setText(qs(file.string()));
  runNow();
  ASSERT_EQ(prompts.boxes.size(), 2u) << lastBox().toStdString();
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("レストアを開始します。よろしいですか？"));
  EXPECT_EQ(prompts.boxes[1].text, QStringLiteral("レストアが終了しました。"));
  EXPECT_EQ(standin.rowCount(standin.sampleDatabase(), standin.sampleTable()), before);
}

TEST_F(RunNow, RestoreOfTheDefaultDatabaseWorksBecauseItRunsFromMaster) {
  // The login's default database is restored over while the restore itself runs in master.
  logIn();
  choose(standin.sampleDatabase());
  const fs::path file = standin.scratchDir() / "sample.bak";
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(qs(file.string()));
  runNow();
  bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(1);
  bvtest::control<QLineEdit>(window, "editRestFilePath")->setText(qs(file.string()));
  runNow();
  EXPECT_EQ(lastBox(), QStringLiteral("レストアが終了しました。"));
}

TEST_F(RunNow, RestoreWhileAnotherSessionUsesTheDatabaseShowsTheRefusal) {
  logIn();
  choose(standin.sampleDatabase());
  const fs::path file = standin.scratchDir() / "busy.bak";
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(qs(file.string()));
  runNow();
  ASSERT_EQ(lastBox(), QStringLiteral("バックアップが終了しました。"));

  bv::db::Connection holder(bv::db::loginConnectionSettings(
      {standin.serverText(), true, "sa", standin.saPassword()}, standin.sampleDatabase()));
  holder.open();
  bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(1);
  bvtest::control<QLineEdit>(window, "editRestFilePath")->setText(qs(file.string()));
  runNow();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_TRUE(prompts.errors()[0].startsWith(QStringLiteral("レストア中にエラーが発生しました。\r\n\r\n")));
  EXPECT_TRUE(prompts.errors()[0].contains(QStringLiteral("Exclusive access could not be obtained")))
      << prompts.errors()[0].toStdString();
}

// The stand-in's request log, to see what reached the server and in which order.
struct TraceFolder {
  bvtest::TempDir folder{"bv-trace"};
  fs::path file() const { return folder.path() / "requests.log"; }
  std::string text() const {
    std::ifstream in(file(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

class RunNowTraced : protected TraceFolder, public RunNow {
 protected:
  explicit RunNowTraced(int version = 2005)
      : RunNow(bvtest::StandinOptions{.serverVersion = version, .traceFile = file()}) {}
};

TEST_F(RunNowTraced, TheLogTabTruncatesThenShrinksOnAFreshConnection) {
  logIn();
  choose(standin.sampleDatabase());
  bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(2);
  runNow();
  ASSERT_EQ(prompts.boxes.size(), 2u) << lastBox().toStdString();
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("ログの切り捨てを開始します。よろしいですか？"));
  EXPECT_EQ(prompts.boxes[1].text, QStringLiteral("ログの切り捨てが終了しました。"));

  const std::string trace = text();
  const auto truncate = trace.find("BACKUP LOG [Sample] WITH TRUNCATE_ONLY \r\n");
  const auto shrink = trace.find("DBCC  SHRINKDATABASE([Sample],1) \r\n");
  ASSERT_NE(truncate, std::string::npos) << trace;
  ASSERT_NE(shrink, std::string::npos) << trace;
  EXPECT_LT(truncate, shrink);
  EXPECT_NE(trace.substr(truncate, shrink - truncate).find(" login:"), std::string::npos)
      << "the shrink runs on a connection of its own";
}

TEST_F(RunNowTraced, TheServerReceivesTheBackupBatchAsBuiltFollowedByCrLf) {
  logIn();
  choose(standin.sampleDatabase());
  bvtest::control<QLineEdit>(window, "editBackFilePath")
      ->setText(qs((standin.scratchDir() / "t.bak").string()));
  bvtest::control<QCheckBox>(window, "chkVerify")->setChecked(true);
  const std::string batch = window->BuildBackupCommand();
  runNow();
  EXPECT_EQ(lastBox(), QStringLiteral("バックアップが終了しました。"));
  EXPECT_NE(text().find("batch:\n" + batch + "\r\n\n-- end --"), std::string::npos) << text();
}

// Before 2008, when the history holds log backups, a box says TRUNCATE_ONLY breaks their chain
// before the specified one: いいえ sends nothing; はい goes on as always.
TEST_F(RunNowTraced, ATruncationThatBreaksALogChainAsksFirst) {
  bv::db::Connection connection(bv::db::loginConnectionSettings({standin.serverText(), true, "sa", standin.saPassword()}));
  connection.open();
  bv::db::Query query(connection);
  const std::string scratch = standin.scratchDir().string();
  query.addLine("ALTER DATABASE [Sample] SET RECOVERY FULL BACKUP DATABASE [Sample] TO DISK = N'" + scratch +
                "/f.bak' BACKUP LOG [Sample] TO DISK = N'" + scratch + "/l.trn'");
  query.execute();
  logIn();
  choose(standin.sampleDatabase());
  bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(2);
  const std::string before = text();
  prompts.confirmAnswers = {false};  // いいえ
  runNow();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, QString::fromStdString(bv::maintenance::truncationBreaksChainQuestion("Sample")));
  EXPECT_EQ(text().substr(before.size()).find("TRUNCATE_ONLY"), std::string::npos);

  prompts.boxes.clear();
  prompts.confirmAnswers = {true, true};
  runNow();
  ASSERT_EQ(prompts.boxes.size(), 3u) << lastBox().toStdString();
  EXPECT_EQ(prompts.boxes[1].text, QStringLiteral("ログの切り捨てを開始します。よろしいですか？"));
  EXPECT_EQ(prompts.boxes[2].text, QStringLiteral("ログの切り捨てが終了しました。"));
  EXPECT_NE(text().find("BACKUP LOG [Sample] WITH TRUNCATE_ONLY \r\n"), std::string::npos);
}

// From SQL Server 2008 on, TRUNCATE_ONLY is refused: the database's recovery model decides.
class RunNowOn2019 : public RunNowTraced {
 protected:
  RunNowOn2019() : RunNowTraced(2019) {}
  void setRecovery(const char* model) {
    bv::db::Connection connection(bv::db::loginConnectionSettings({standin.serverText(), true, "sa", standin.saPassword()}));
    connection.open();
    bv::db::Query query(connection);
    query.addLine(std::string("ALTER DATABASE [Sample] SET RECOVERY ") + model);
    query.execute();
  }
  void truncateOnTheLogTab() {
    if (bvtest::control<QComboBox>(window, "cmbDatabase")->count() == 0) logIn();
    choose(standin.sampleDatabase());
    bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(2);
    runNow();
  }
  // Answers the log backup file's dialog with the path, or cancels it.
  void answerLogBackupFile(std::optional<std::string> path) {
    bvtest::whenShown("frmLogBackup", [path](QDialog* dialog) {
      for (const QLabel* label : dialog->findChildren<QLabel*>()) {  // no caption runs off the dialog
        EXPECT_LE(label->x() + label->sizeHint().width(), dialog->width()) << label->objectName().toStdString();
      }
      if (!path) {
        QTest::mouseClick(bvtest::control<QPushButton>(dialog, "btnCancel"), Qt::LeftButton);
        return;
      }
      bvtest::control<QLineEdit>(dialog, "editLogBackFile")->setText(QString::fromStdString(*path));
      QTest::mouseClick(bvtest::control<QPushButton>(dialog, "btnOK"), Qt::LeftButton);
    });
  }
};

TEST_F(RunNowOn2019, ASimpleDatabaseIsTruncatedByACheckpointThenShrunk) {
  setRecovery("SIMPLE");
  truncateOnTheLogTab();
  ASSERT_EQ(prompts.boxes.size(), 2u) << lastBox().toStdString();
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("ログの切り捨てを開始します。よろしいですか？"));
  EXPECT_TRUE(prompts.boxes[1].text.startsWith(QStringLiteral("ログの切り捨てが終了しました。\n（単純復旧モデルのため")))
      << lastBox().toStdString();
  const std::string trace = text();
  EXPECT_EQ(trace.find("TRUNCATE_ONLY"), std::string::npos);
  const auto checkpoint = trace.find("USE [Sample] CHECKPOINT");
  const auto shrink = trace.find("DBCC  SHRINKDATABASE([Sample],1) \r\n");
  ASSERT_NE(checkpoint, std::string::npos) << trace;
  EXPECT_LT(checkpoint, shrink);
}

TEST_F(RunNowOn2019, AFullDatabaseBacksItsLogUpOnRequestAppendingThenShrinks) {
  setRecovery("FULL");
  logIn();
  choose(standin.sampleDatabase());
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(qs((standin.scratchDir() / "full.bak").string()));
  runNow();  // the full backup the log chain starts from
  ASSERT_EQ(lastBox(), QStringLiteral("バックアップが終了しました。"));
  const fs::path logFile = standin.scratchDir() / "Sample_log_%date%.trn";
  const fs::path written = standin.scratchDir() / ("Sample_log_" + today() + ".trn");
  for (int run = 0; run < 2; ++run) {
    answerLogBackupFile(logFile.string());
    truncateOnTheLogTab();
    ASSERT_EQ(prompts.boxes.size(), 2u) << lastBox().toStdString();
    EXPECT_EQ(prompts.boxes[0].kind, Kind::ConfirmYesNo);
    EXPECT_EQ(prompts.boxes[0].text,
              QStringLiteral("データベース [Sample] は完全復旧モデルです。ログを切り捨てるとログ バックアップのチェーンが"
                             "途切れます。代わりにログをバックアップしてから、データベースを圧縮しますか？"));
    // Nothing was truncated: the box says where the log went, the server's date in its name.
    EXPECT_EQ(prompts.boxes[1].text, QStringLiteral("ログを ") + qs(written.string()) +
                                         QStringLiteral(" にバックアップし、データベースのファイルを圧縮しました。"));
  }
  // Both log backups are in the file: the second appended, the first still restorable.
  bv::db::Connection connection(bv::db::loginConnectionSettings({standin.serverText(), true, "sa", standin.saPassword()}));
  connection.open();
  bv::db::Query headers(connection);
  headers.addLine("RESTORE HEADERONLY FROM DISK = N'" + written.string() + "'");
  headers.open();
  EXPECT_EQ(headers.rowCount(), 2u);
  bv::db::Query verify(connection);
  verify.addLine("RESTORE VERIFYONLY FROM DISK = N'" + written.string() + "' WITH FILE = 1");
  EXPECT_NO_THROW(verify.execute());
  const std::string trace = text();
  EXPECT_EQ(trace.find("TRUNCATE_ONLY"), std::string::npos);
  EXPECT_NE(trace.find("WITH NOINIT"), std::string::npos);
}

TEST_F(RunNowOn2019, AFullDatabaseNeverBackedUpIsExplainedAndNoAnswerSendsNothing) {
  setRecovery("FULL");
  answerLogBackupFile((standin.scratchDir() / "never.trn").string());
  truncateOnTheLogTab();
  ASSERT_EQ(prompts.errors().size(), 1u) << lastBox().toStdString();
  EXPECT_TRUE(prompts.errors()[0].contains(QStringLiteral("まだ一度も完全バックアップされていない"))) << lastBox().toStdString();
  EXPECT_EQ(text().find("SHRINKDATABASE"), std::string::npos);

  const std::string before = text();
  prompts.confirmAnswers = {false};  // いいえ
  truncateOnTheLogTab();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  const std::string sent = text().substr(before.size());
  EXPECT_EQ(sent.find("BACKUP LOG"), std::string::npos) << sent;
  EXPECT_EQ(sent.find("SHRINKDATABASE"), std::string::npos) << sent;
}

// The server fails under the window on purpose (the stand-in's faults on demand): each failure
// ends in the program's own message, nothing on the server or on disk is lost, and the program
// lets go of its connection.
class RunNowWithFaults : public RunNow {
 protected:
  explicit RunNowWithFaults(std::vector<std::string> faults)
      : RunNow(bvtest::StandinOptions{.faults = std::move(faults)}) {}

  // The program holds no socket toward the server and the server no session, once both sides
  // have seen the connection go (a dropped connection is noticed by the server's thread a moment
  // later).
  void expectNoConnectionLeft() {
    for (int i = 0; i < 100; ++i) {
      if (bvtest::openClientSockets(standin.port()).empty() && standin.engine().activeSessions() == 0) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (const auto& socket : bvtest::openClientSockets(standin.port()))
      ADD_FAILURE() << "left open: " << socket;
    EXPECT_EQ(standin.engine().activeSessions(), 0);
  }

  static std::string bytesOf(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> scratchFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(standin.scratchDir()))
      names.push_back(entry.path().filename());
    return names;
  }

  // A backup that goes through, for the failures to keep intact.
  fs::path backUpOnce(const std::string& name) {
    const fs::path file = standin.scratchDir() / name;
    bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(qs(file.string()));
    bvtest::control<QCheckBox>(window, "chkVerify")->setChecked(false);
    runNow();
    EXPECT_EQ(lastBox(), QStringLiteral("バックアップが終了しました。"));
    return file;
  }
};

// The verify line rides in the backup's batch, so a backup with verify is a request of its own
// for the fault to pick while the plain one before it goes through.
class ServerGoneMidBackup : public RunNowWithFaults {
 protected:
  ServerGoneMidBackup() : RunNowWithFaults({"drop:match=VERIFYONLY"}) {}
};

TEST_F(ServerGoneMidBackup, TheSocketProbeSeesAConnectionThatIsOpen) {
  // What expectNoConnectionLeft relies on: an open connection is seen, a closed one is not.
  bv::db::Connection held(
      bv::db::loginConnectionSettings({standin.serverText(), true, "sa", standin.saPassword()}, {}));
  held.open();
  EXPECT_EQ(bvtest::openClientSockets(standin.port()).size(), 1u);
  held.close();
  expectNoConnectionLeft();
}

TEST_F(ServerGoneMidBackup, ShowsTheDriversTextKeepsTheEarlierFileAndLetsGoOfTheConnection) {
  logIn();
  choose(standin.sampleDatabase());
  const fs::path file = backUpOnce("kept.bak");
  const std::string earlier = bytesOf(file);
  ASSERT_FALSE(earlier.empty());

  bvtest::control<QCheckBox>(window, "chkVerify")->setChecked(true);
  runNow();
  ASSERT_EQ(prompts.errors().size(), 1u) << lastBox().toStdString();
  const QString message = prompts.errors()[0];
  EXPECT_TRUE(message.startsWith(QStringLiteral("バックアップ中にエラーが発生しました。\r\n\r\n")))
      << message.toStdString();
  EXPECT_TRUE(message.contains(QStringLiteral("EOF"))) << message.toStdString();
  EXPECT_TRUE(prompts.texts(Kind::Information).empty());

  EXPECT_EQ(bytesOf(file), earlier);
  EXPECT_EQ(scratchFiles(), std::vector<std::string>{"kept.bak"});
  expectNoConnectionLeft();

  // The earlier set still restores.
  bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(1);
  bvtest::control<QLineEdit>(window, "editRestFilePath")->setText(qs(file.string()));
  runNow();
  EXPECT_EQ(lastBox(), QStringLiteral("レストアが終了しました。"));
}

class ReplyCutOffMidway : public RunNowWithFaults {
 protected:
  ReplyCutOffMidway() : RunNowWithFaults({"drop-after-bytes=20:match=VERIFYONLY"}) {}
};

TEST_F(ReplyCutOffMidway, IsAnErrorNeverAFinishedBackup) {
  // The server did the work but the answer never arrived whole: the program cannot know the
  // outcome and must not claim success.
  logIn();
  choose(standin.sampleDatabase());
  bvtest::control<QLineEdit>(window, "editBackFilePath")
      ->setText(qs((standin.scratchDir() / "cut.bak").string()));
  bvtest::control<QCheckBox>(window, "chkVerify")->setChecked(true);
  runNow();
  ASSERT_EQ(prompts.errors().size(), 1u) << lastBox().toStdString();
  EXPECT_TRUE(
      prompts.errors()[0].startsWith(QStringLiteral("バックアップ中にエラーが発生しました。\r\n\r\n")));
  EXPECT_TRUE(prompts.texts(Kind::Information).empty());
  expectNoConnectionLeft();
}

class RestoreCutOff : public RunNowWithFaults {
 protected:
  RestoreCutOff() : RunNowWithFaults({"drop:times=1:match=RESTORE DATABASE"}) {}
};

TEST_F(RestoreCutOff, LeavesTheDatabaseAsItWasAndTheNextRestoreWorks) {
  logIn();
  choose(standin.sampleDatabase());
  const fs::path file = backUpOnce("before.bak");
  const auto backedUp = standin.rowCount(standin.sampleDatabase(), standin.sampleTable());
  ASSERT_GT(backedUp, 0);
  standin.executeSqlite(standin.sampleDatabase(), "DELETE FROM " + standin.sampleTable());

  bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(1);
  bvtest::control<QLineEdit>(window, "editRestFilePath")->setText(qs(file.string()));
  runNow();
  ASSERT_EQ(prompts.errors().size(), 1u) << lastBox().toStdString();
  EXPECT_TRUE(prompts.errors()[0].startsWith(QStringLiteral("レストア中にエラーが発生しました。\r\n\r\n")))
      << prompts.errors()[0].toStdString();
  EXPECT_TRUE(prompts.errors()[0].contains(QStringLiteral("EOF"))) << prompts.errors()[0].toStdString();
  EXPECT_EQ(standin.rowCount(standin.sampleDatabase(), standin.sampleTable()), 0);
  expectNoConnectionLeft();

  runNow();
  EXPECT_EQ(lastBox(), QStringLiteral("レストアが終了しました。"));
  EXPECT_EQ(standin.rowCount(standin.sampleDatabase(), standin.sampleTable()), backedUp);
}

class StalledLogin : public RunNowWithFaults {
 protected:
  // Held far past the program's login timeout.
  StalledLogin() : RunNowWithFaults({"stall-login=120s:times=1"}) {}
};

TEST_F(StalledLogin, EndsAtTheLoginTimeoutWithTheLoginMessageAndTheNextLoginWorks) {
  logIn();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("サーバにログインできませんでした。"));
  EXPECT_EQ(bvtest::control<QComboBox>(window, "cmbDatabase")->count(), 0);
  expectNoConnectionLeft();

  prompts.boxes.clear();
  bvtest::control<QLineEdit>(window, "editUser")->setFocus(Qt::MouseFocusReason);
  QTest::mouseClick(bvtest::control<QComboBox>(window, "cmbDatabase"), Qt::LeftButton);
  QApplication::processEvents();
  if (auto* popup = QApplication::activePopupWidget()) popup->close();
  EXPECT_TRUE(prompts.errors().empty());
  EXPECT_GE(bvtest::control<QComboBox>(window, "cmbDatabase")->findText(qs(standin.sampleDatabase())), 0);
}

class LongBackup : public RunNowWithFaults {
 protected:
  LongBackup() : RunNowWithFaults({"stall=2600ms:match=BACKUP"}) {}
};

TEST_F(LongBackup, ShowsTheProgressWindowWithTheTimeGoingOnUntilTheServerAnswers) {
  logIn();
  choose(standin.sampleDatabase());
  bvtest::control<QLineEdit>(window, "editBackFilePath")
      ->setText(qs((standin.scratchDir() / "long.bak").string()));

  // Looked at while the server holds the backup: the window's own event loop keeps running.
  QString operation;
  QStringList elapsed;
  bool visible = false;
  const auto look = [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() != QStringLiteral("frmProgress") || !top->isVisible()) continue;
      visible = true;
      operation = bvtest::control<QLabel>(top, "lblOperation")->text();
      elapsed << bvtest::control<QLabel>(top, "lblElapsed")->text();
    }
  };
  // Counts what the progress window paints while the server holds the backup.
  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (event->type() == QEvent::Paint && widget != nullptr &&
          widget->window()->objectName() == QStringLiteral("frmProgress"))
        ++paints;
      return false;
    }
  } counter;
  QTimer::singleShot(300, [&] {
    look();
    qApp->installEventFilter(&counter);
  });
  QTimer::singleShot(2100, [&] {
    look();
    qApp->removeEventFilter(&counter);
  });
  runNow();

  EXPECT_TRUE(visible);
  EXPECT_GT(counter.paints, 0) << "the window repaints while the command runs";
  EXPECT_EQ(operation, QStringLiteral("バックアップを実行しています..."));
  ASSERT_EQ(elapsed.size(), 2) << elapsed.join(u'|').toStdString();
  EXPECT_EQ(elapsed[0], QStringLiteral("経過時間 00:00:00"));
  EXPECT_TRUE(elapsed[1] == QStringLiteral("経過時間 00:00:01") ||
              elapsed[1] == QStringLiteral("経過時間 00:00:02"))
      << elapsed[1].toStdString();
  EXPECT_EQ(lastBox(), QStringLiteral("バックアップが終了しました。"));
  EXPECT_TRUE(fs::exists(standin.scratchDir() / "long.bak"));
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->objectName() == QStringLiteral("frmProgress")) {
      EXPECT_FALSE(top->isVisible());
    }
  }
}

// The request is built once, on the window's thread, before the run: what the controls say once
// the progress window is up (the server holding the backup) changes nothing that is sent.
TEST_F(LongBackup, ControlsChangedWhileTheBackupRunsChangeNothingSent) {
  logIn();
  choose(standin.sampleDatabase());
  auto* path = bvtest::control<QLineEdit>(window, "editBackFilePath");
  path->setText(qs((standin.scratchDir() / "asked.bak").string()));
  // Changed the moment the progress window shows, before its worker begins.
  struct OnProgressShown : QObject {
    std::function<void()> change;
    bool eventFilter(QObject* watched, QEvent* event) override {
      if (event->type() == QEvent::Show && watched->objectName() == QStringLiteral("frmProgress") && change) {
        std::exchange(change, nullptr)();
      }
      return false;
    }
  } changer;
  changer.change = [&] {
    path->setText(qs((standin.scratchDir() / "changed.bak").string()));
    bvtest::control<QCheckBox>(window, "chkVerify")->setChecked(true);
  };
  qApp->installEventFilter(&changer);
  runNow();
  qApp->removeEventFilter(&changer);
  EXPECT_EQ(lastBox(), QStringLiteral("バックアップが終了しました。"));
  EXPECT_TRUE(fs::exists(standin.scratchDir() / "asked.bak"));
  EXPECT_FALSE(fs::exists(standin.scratchDir() / "changed.bak"));
}

// The server copies slowly on purpose: from 2005 on the bar shows its percent_complete rising,
// with the time left; 2000 has no such view, and the busy bar stays.
class ThrottledBackup : public RunNow, public ::testing::WithParamInterface<int> {
 protected:
  ThrottledBackup()
      : RunNow(bvtest::StandinOptions{.serverVersion = GetParam(), .faults = {"throttle=9000:match=BACKUP DATABASE"}}) {}
};

TEST_P(ThrottledBackup, TheBarFollowsTheServersPercentageWhereTheServerTellsIt) {
  logIn();
  choose(standin.sampleDatabase());
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(qs((standin.scratchDir() / "slow.bak").string()));
  struct Look {
    int maximum;
    int value;
    QString timeLeft;
  };
  std::vector<Look> looks;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() != QStringLiteral("frmProgress") || !top->isVisible()) continue;
      const auto* bar = bvtest::control<QProgressBar>(top, "pbBusy");
      looks.push_back({bar->maximum(), bar->value(), bvtest::control<QLabel>(top, "lblTimeLeft")->text()});
    }
  });
  watch.start(250);
  runNow();
  watch.stop();
  EXPECT_EQ(lastBox(), QStringLiteral("バックアップが終了しました。"));
  ASSERT_GE(looks.size(), 4u) << "the backup took long enough to be watched";

  if (GetParam() == 2000) {
    for (const Look& look : looks) EXPECT_EQ(look.maximum, 0) << "the busy bar stays";
    return;
  }
  std::vector<int> percents;
  for (const Look& look : looks) {
    if (look.maximum == 0) continue;  // before the first reading
    EXPECT_EQ(look.maximum, 1000);
    EXPECT_TRUE(look.timeLeft.startsWith(QStringLiteral("残り "))) << look.timeLeft.toStdString();
    percents.push_back(look.value);
  }
  ASSERT_GE(percents.size(), 2u);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_LT(percents.front(), percents.back()) << "the percentage rose while the window looked";
}

INSTANTIATE_TEST_SUITE_P(Releases, ThrottledBackup, ::testing::Values(2019, 2000));

// The verify after a slowed backup: the window names it while its own percentage rises.
class ThrottledVerify : public RunNow {
 protected:
  ThrottledVerify()
      : RunNow(bvtest::StandinOptions{.serverVersion = 2019, .faults = {"throttle=9000:match=BACKUP DATABASE"}}) {}
};

TEST_F(ThrottledVerify, TheVerifyIsNamedInTheWindowWhileItRuns) {
  logIn();
  choose(standin.sampleDatabase());
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(qs((standin.scratchDir() / "named.bak").string()));
  bvtest::control<QCheckBox>(window, "chkVerify")->setChecked(true);
  QStringList labels;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() == QStringLiteral("frmProgress") && top->isVisible())
        labels << bvtest::control<QLabel>(top, "lblOperation")->text();
    }
  });
  watch.start(250);
  runNow();
  watch.stop();
  EXPECT_EQ(lastBox(), QStringLiteral("バックアップが終了しました。"));
  ASSERT_FALSE(labels.isEmpty());
  EXPECT_EQ(labels.front(), QStringLiteral("バックアップを実行しています..."));
  EXPECT_TRUE(labels.contains(QStringLiteral("ベリファイしています..."))) << labels.join(u'|').toStdString();
}

// The server answers the batch a statement at a time, holding the rest for a while.
class LongBatch : public RunNowWithFaults {
 protected:
  LongBatch() : RunNowWithFaults({"stall-between=2500ms:match=VERIFYONLY"}) {}
};

TEST_F(LongBatch, TheProgressWindowShowsTheServersMessagesAsTheyCome) {
  logIn();
  choose(standin.sampleDatabase());
  bvtest::control<QLineEdit>(window, "editBackFilePath")
      ->setText(qs((standin.scratchDir() / "batch.bak").string()));
  bvtest::control<QCheckBox>(window, "chkVerify")->setChecked(true);

  QString shownMeanwhile;
  QTimer::singleShot(1500, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() == QStringLiteral("frmProgress") && top->isVisible())
        shownMeanwhile = bvtest::control<QPlainTextEdit>(top, "memMessages")->toPlainText();
    }
  });
  runNow();

  EXPECT_TRUE(shownMeanwhile.contains(QStringLiteral("BACKUP DATABASE successfully processed")))
      << shownMeanwhile.toStdString();
  EXPECT_FALSE(shownMeanwhile.contains(QStringLiteral("is valid"))) << "the verify has not run yet";
  EXPECT_EQ(lastBox(), QStringLiteral("バックアップが終了しました。"));
}

class DamagedProof : public RunNowWithFaults {
 protected:
  DamagedProof() : RunNowWithFaults({"damage-restore:match=Brackenvale_check"}) {}
};

// A backup its proof found damaged: one error box that says the file cannot be used and what to
// do, then the server's lines; no box that says the backup finished.
TEST_F(DamagedProof, OneErrorBoxNamesTheFileAndWhatToDo) {
  logIn();
  choose(standin.sampleDatabase());
  const fs::path file = standin.scratchDir() / "damaged.bak";
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(qs(file.string()));
  bvtest::control<QCheckBox>(window, "chkTestRestore")->setChecked(true);
  runNow();
  ASSERT_EQ(prompts.boxes.size(), 2u) << lastBox().toStdString();
  EXPECT_EQ(prompts.boxes[1].kind, Kind::Error);
  EXPECT_TRUE(prompts.boxes[1].text.startsWith(qs(bv::maintenance::damagedBackupText(file.string()) + "\r\n\r\n")))
      << lastBox().toStdString();
  EXPECT_TRUE(prompts.boxes[1].text.contains(QStringLiteral("CHECKDB found 0 allocation errors"))) << lastBox().toStdString();
}

}  // namespace
