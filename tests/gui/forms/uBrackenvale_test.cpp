// The main window driven as a user drives it: real widgets, real focus moves, the real data
// road (a refused connection needs no server), and every box read from the prompt recorder.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <memory>
#include <stdexcept>

#include "closed_port.h"
#include "controls.h"
#include "gui/forms/uBrackenvale.h"
#include "gui/widgets/error_report.h"
#include "prompt_recorder.h"

namespace {

using namespace bv::forms;

using Kind = bvtest::RecordedPrompt::Kind;

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<TfrmBrackenvale>();
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    QApplication::processEvents();
  }
  void TearDown() override { window.reset(); }

  // A list as a successful refresh leaves it, without a server.
  void pretendDatabaseList() {
    bvtest::control<QComboBox>(window, "cmbDatabase")
        ->addItems({QStringLiteral("<既定値>"), QStringLiteral("master"), QStringLiteral("Sales")});
    bvtest::control<QComboBox>(window, "cmbDatabase")->setCurrentIndex(2);
  }
  void chooseSqlAuth(const QString& user, const QString& password) {
    QTest::mouseClick(bvtest::control<QRadioButton>(window, "rbSQLServer"), Qt::LeftButton);
    bvtest::control<QLineEdit>(window, "editUser")->setText(user);
    bvtest::control<QLineEdit>(window, "editPass")->setText(password);
  }
  QString unreachableServer() const {
    return QStringLiteral("127.0.0.1,%1").arg(bvtest::closedLoopbackPort());
  }
  // Types a server and leaves the box, as a user does (the local/remote decision runs).
  void enterServer(const QString& server) {
    bvtest::control<QLineEdit>(window, "editServer")->setFocus(Qt::MouseFocusReason);
    bvtest::control<QLineEdit>(window, "editServer")->setText(server);
    QTest::keyClick(bvtest::control<QLineEdit>(window, "editServer"), Qt::Key_Tab);
  }
  void clickRunNow() { QTest::mouseClick(bvtest::control<QPushButton>(window, "btnCreate"), Qt::LeftButton); }

  bvtest::PromptRecorder prompts;
  std::unique_ptr<TfrmBrackenvale> window;
};

// --- Layout ---------------------------------------------------------------------------------

TEST_F(MainWindow, WindowFrameCaptionAndFont) {
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Brackenvale"));
  EXPECT_EQ(window->size(), QSize(426, 549));  // with the row of what follows a backup
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(QFontInfo(bvtest::control<QLineEdit>(window, "editServer")->font()).pixelSize(), 12);
  EXPECT_EQ(QFontInfo(bvtest::control<QLineEdit>(window, "editServer")->font()).family(),
            QStringLiteral("IPAPGothic"));
  EXPECT_TRUE(bvtest::control<QPushButton>(window, "btnCreate")->font().bold());
  EXPECT_TRUE(bvtest::control<QPushButton>(window, "btnClose")->font().bold());
  EXPECT_TRUE(bvtest::control<QPushButton>(window, "btnSchedule")->font().bold());
}

TEST_F(MainWindow, ControlsSitWhereTheLayoutPutsThem) {
  const auto at = [&](const char* name) {
    auto* widget = window->findChild<QWidget*>(QString::fromLatin1(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget ? widget->geometry() : QRect();
  };
  EXPECT_EQ(at("Panel1"), QRect(104, 8, 217, 33));
  EXPECT_EQ(at("imgView"), QRect(342, 10, 76, 15));
  EXPECT_EQ(at("lbWin"), QRect(342, 10, 76, 15));
  EXPECT_EQ(at("pnlTarget"), QRect(8, 48, 409, 169));
  EXPECT_EQ(at("gbxTarget"), QRect(8, 8, 393, 157));
  EXPECT_EQ(at("editServer"), QRect(128, 16, 121, 20));
  EXPECT_EQ(at("bbnSvrList"), QRect(249, 16, 24, 20));
  EXPECT_EQ(at("rbWindows").topLeft(), QPoint(16, 40));
  EXPECT_EQ(at("rbSQLServer").topLeft(), QPoint(128, 40));
  EXPECT_EQ(at("lblLoginName").topLeft(), QPoint(12, 78));
  EXPECT_EQ(at("editUser"), QRect(128, 74, 121, 20));
  EXPECT_EQ(at("lblPassword").topLeft(), QPoint(12, 104));
  EXPECT_EQ(at("editPass"), QRect(128, 100, 121, 20));
  EXPECT_EQ(at("cmbDatabase"), QRect(128, 124, 145, 20));
  EXPECT_EQ(at("bbnReloadList"), QRect(276, 124, 45, 20));
  // The backup tab's row of what follows a backup (generations kept, test restore) adds 38 pixels
  // below it; everything else keeps its place relative to the rest.
  EXPECT_EQ(at("pgOperation"), QRect(8, 224, 409, 279));
  EXPECT_EQ(at("btnCreate"), QRect(16, 514, 101, 25));
  EXPECT_EQ(at("btnClose"), QRect(313, 514, 97, 25));
  EXPECT_EQ(at("spedtGenerations"), QRect(80, 170, 70, 20));
  EXPECT_EQ(at("btnSchedule"), QRect(8, 214, 125, 25));
  EXPECT_FALSE(bvtest::control<QLabel>(window, "imgGreen")->isVisible());
  EXPECT_FALSE(bvtest::control<QLabel>(window, "imgBlue")->isVisible());
}

// The generations kept apply only to a path whose file name carries %date%: the field is off
// otherwise, with its note once a path is typed; "1" is never stepped to, and typed it is refused.
TEST_F(MainWindow, TheGenerationsFieldFollowsThePath) {
  auto* path = bvtest::control<QLineEdit>(window, "editBackFilePath");
  auto* generations = bvtest::control<QSpinBox>(window, "spedtGenerations");
  auto* note = bvtest::control<QLabel>(window, "lblGenerationsNote");
  EXPECT_EQ(bvtest::control<QLabel>(window, "lblGenerations")->text(), QStringLiteral("保存世代数"));
  EXPECT_EQ(bvtest::control<QCheckBox>(window, "chkTestRestore")->text(), QStringLiteral("完了時にテストレストアを行う"));
  EXPECT_EQ(generations->text(), QStringLiteral("無制限"));
  const std::pair<const char*, bool> paths[] = {
      {"", false}, {"D:\\bk\\Sample.bak", false}, {"D:\\bk\\Sample_%DATE%.bak", true},
      {"D:\\%date%\\Sample_%date%.bak", false}, {"/srv/bk/%Date%-Sample.bak", true}};
  for (const auto& [text, applies] : paths) {
    path->setText(QString::fromUtf8(text));
    EXPECT_EQ(generations->isEnabled(), applies) << text;
    EXPECT_EQ(note->isVisibleTo(window.get()), !applies && *text != '\0') << text;
  }
  EXPECT_EQ(note->text(), QStringLiteral("※世代管理は、ファイル名に %date% を含む場合のみ使用できます"));
  generations->stepBy(1);
  EXPECT_EQ(generations->value(), 2);
  generations->stepBy(-1);
  EXPECT_EQ(generations->value(), 0);
}

TEST_F(MainWindow, CaptionsHintsAndNotes) {
  EXPECT_EQ(bvtest::control<QGroupBox>(window, "gbxTarget")->title(), QStringLiteral("対象データベース"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "bbnSvrList")->text(), QStringLiteral("..."));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "bbnSvrList")->toolTip(),
            QStringLiteral("一覧からサーバを選択します"));
  EXPECT_EQ(bvtest::control<QRadioButton>(window, "rbWindows")->text(), QStringLiteral("Windows 認証"));
  EXPECT_EQ(bvtest::control<QRadioButton>(window, "rbSQLServer")->text(), QStringLiteral("SQL Server 認証"));
  EXPECT_EQ(bvtest::control<QLabel>(window, "lblLoginName")->text(), QStringLiteral("ログイン名"));
  EXPECT_EQ(bvtest::control<QLabel>(window, "lblPassword")->text(), QStringLiteral("パスワード"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "bbnReloadList")->text(), QStringLiteral("最新"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "bbnReloadList")->toolTip(),
            QStringLiteral("現在の接続情報を用い、データベース一覧を最新の状態へ更新します"));
  EXPECT_EQ(bvtest::control<QTabWidget>(window, "pgOperation")->count(), 3);
  EXPECT_EQ(bvtest::control<QTabWidget>(window, "pgOperation")->tabText(0), QStringLiteral("バックアップ"));
  EXPECT_EQ(bvtest::control<QTabWidget>(window, "pgOperation")->tabText(1), QStringLiteral("レストア"));
  EXPECT_EQ(bvtest::control<QTabWidget>(window, "pgOperation")->tabText(2), QStringLiteral("ログの切り捨て"));
  EXPECT_EQ(bvtest::control<QTabWidget>(window, "pgOperation")->currentIndex(), 0);
  EXPECT_EQ(bvtest::control<QGroupBox>(window, "gbxOutput")->title(), QStringLiteral("出力先"));
  EXPECT_EQ(bvtest::control<QGroupBox>(window, "gbxRestore")->title(), QStringLiteral("復元元"));
  EXPECT_EQ(bvtest::control<QLabel>(window, "lblServerAlert")->text(),
            QStringLiteral("※サーバ上の有効なファイル名を入力してください"));
  EXPECT_EQ(bvtest::control<QLabel>(window, "lblServerAlert2")->text(),
            bvtest::control<QLabel>(window, "lblServerAlert")->text());
  EXPECT_EQ(bvtest::control<QLabel>(window, "lblDateNote1")->text(),
            QStringLiteral("※ファイル名中に「%date%」を指定すると実行した"));
  EXPECT_EQ(bvtest::control<QLabel>(window, "lblDateNote2")->text(),
            QStringLiteral("   年月日に置換されます。"));
  EXPECT_EQ(bvtest::control<QLabel>(window, "lblDateNote3")->text(),
            QStringLiteral(" （例：emp_%date%.dmp→emp_20080101.dmp）"));
  EXPECT_EQ(bvtest::control<QLabel>(window, "lblDateNote1")->palette().color(QPalette::WindowText),
            QColor(Qt::red));
  EXPECT_EQ(bvtest::control<QCheckBox>(window, "chkVerify")->text(),
            QStringLiteral("完了時にベリファイを行う"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "btnSchedule")->text(),
            QStringLiteral("エージェントに登録"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "btnSchedule")->toolTip(),
            QStringLiteral("SQLServerエージェントへ、バックアップジョブの登録を行います"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "btnMakeScdl")->text(), QStringLiteral("タスクに追加"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "btnEditScdl")->text(), QStringLiteral("タスクの編集"));
  EXPECT_EQ(bvtest::control<QLabel>(window, "lblTransaction1")->text(),
            QStringLiteral("トランザクションログの切り捨てと、データファイルの圧縮を行い、"));
  EXPECT_EQ(bvtest::control<QLabel>(window, "lblTransaction2")->text(),
            QStringLiteral("ディスクの空き容量を増加させます。"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "btnCreate")->text(), QStringLiteral("今すぐ実行"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "btnCreate")->toolTip(),
            QStringLiteral("現在選択されているタブの処理を実行します"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "btnClose")->text(), QStringLiteral("終了"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "btnClose")->toolTip(),
            QStringLiteral("プログラムを終了します"));
  EXPECT_EQ(bvtest::control<QPushButton>(window, "bbnBackFilePathOpen")->toolTip(),
            QStringLiteral("ファイルを選択します"));
}

TEST_F(MainWindow, NoCaptionIsClipped) {
  for (QLabel* label : window->findChildren<QLabel*>()) {
    if (label->text().isEmpty() || label->parentWidget() == nullptr) continue;
    const QRect inParent = label->geometry();
    EXPECT_GE(label->width(), label->sizeHint().width()) << label->objectName().toStdString();
    EXPECT_LE(inParent.right(), label->parentWidget()->width()) << label->objectName().toStdString();
  }
  for (QPushButton* button : window->findChildren<QPushButton*>()) {
    if (button->text().isEmpty()) continue;
    const int textWidth = button->fontMetrics().horizontalAdvance(button->text());
    EXPECT_LE(textWidth, button->width() - 4) << button->objectName().toStdString();
  }
}

TEST_F(MainWindow, StartsInWindowsAuthenticationWithTheFocusInTheServerBox) {
  EXPECT_TRUE(bvtest::control<QRadioButton>(window, "rbWindows")->isChecked());
  EXPECT_FALSE(window->UseSqlAuth());
  EXPECT_FALSE(bvtest::control<QLineEdit>(window, "editUser")->isEnabled());
  EXPECT_FALSE(bvtest::control<QLineEdit>(window, "editPass")->isEnabled());
  EXPECT_FALSE(bvtest::control<QLabel>(window, "lblLoginName")->isEnabled());
  EXPECT_FALSE(bvtest::control<QLabel>(window, "lblPassword")->isEnabled());
  EXPECT_TRUE(window->ServerIsLocal());
  EXPECT_TRUE(bvtest::control<QLabel>(window, "lblServerAlert")->isVisible());
  EXPECT_TRUE(bvtest::control<QPushButton>(window, "bbnBackFilePathOpen")->isEnabled());
  EXPECT_EQ(QApplication::focusWidget(), bvtest::control<QLineEdit>(window, "editServer"));
  EXPECT_EQ(bvtest::control<QLineEdit>(window, "editPass")->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(window->IsWindowsVista());
  for (const char* button : {"bbnSvrList", "btnSchedule", "btnMakeScdl", "btnEditScdl", "btnCreate"}) {
    EXPECT_TRUE(bvtest::control<QPushButton>(window, button)->isEnabled()) << button;
  }
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(MainWindow, KeyboardOrderRunsThroughTheLoginGroupThenTheTabsAndButtons) {
  QTest::mouseClick(bvtest::control<QRadioButton>(window, "rbSQLServer"), Qt::LeftButton);
  bvtest::control<QLineEdit>(window, "editServer")->setFocus();
  std::vector<QWidget*> visited;
  for (int i = 0; i < 6; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(QApplication::focusWidget());
    if (!prompts.boxes.empty()) break;  // entering the database box tries to log in
  }
  ASSERT_GE(visited.size(), 4u);
  EXPECT_EQ(visited[0], bvtest::control<QPushButton>(window, "bbnSvrList"));
  EXPECT_EQ(visited[1],
            bvtest::control<QRadioButton>(window, "rbSQLServer"));  // the radio buttons are one stop
  EXPECT_EQ(visited[2], bvtest::control<QLineEdit>(window, "editUser"));
  EXPECT_EQ(visited[3], bvtest::control<QLineEdit>(window, "editPass"));
}

// --- Authentication -------------------------------------------------------------------------

TEST_F(MainWindow, SqlAuthenticationEnablesTheFieldsAndWindowsAuthenticationEmptiesThem) {
  chooseSqlAuth(QStringLiteral("sa"), QStringLiteral("pw"));
  EXPECT_TRUE(window->UseSqlAuth());
  EXPECT_TRUE(bvtest::control<QLineEdit>(window, "editUser")->isEnabled());
  EXPECT_TRUE(bvtest::control<QLabel>(window, "lblPassword")->isEnabled());
  QTest::mouseClick(bvtest::control<QRadioButton>(window, "rbWindows"), Qt::LeftButton);
  EXPECT_FALSE(window->UseSqlAuth());
  EXPECT_TRUE(bvtest::control<QLineEdit>(window, "editUser")->text().isEmpty());
  EXPECT_TRUE(bvtest::control<QLineEdit>(window, "editPass")->text().isEmpty());
  QTest::mouseClick(bvtest::control<QRadioButton>(window, "rbSQLServer"), Qt::LeftButton);
  EXPECT_TRUE(bvtest::control<QLineEdit>(window, "editUser")->text().isEmpty());
}

// --- Local or remote server -----------------------------------------------------------------

TEST_F(MainWindow, LeavingTheServerBoxDecidesLocalOrRemote) {
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(QStringLiteral("C:\\keep.bak"));
  bvtest::control<QLineEdit>(window, "editRestFilePath")->setText(QStringLiteral("C:\\restore.bak"));
  QTest::keyClicks(bvtest::control<QLineEdit>(window, "editServer"), QStringLiteral("farhost"));
  QTest::keyClick(bvtest::control<QLineEdit>(window, "editServer"), Qt::Key_Tab);
  EXPECT_FALSE(window->ServerIsLocal());
  EXPECT_TRUE(bvtest::control<QLabel>(window, "lblServerAlert")->isVisible());
  EXPECT_FALSE(bvtest::control<QPushButton>(window, "bbnBackFilePathOpen")->isEnabled());
  EXPECT_FALSE(bvtest::control<QPushButton>(window, "bbnRestFilePathOpen")->isEnabled());
  EXPECT_TRUE(bvtest::control<QLineEdit>(window, "editBackFilePath")->text().isEmpty());
  EXPECT_EQ(bvtest::control<QLineEdit>(window, "editRestFilePath")->text(),
            QStringLiteral("C:\\restore.bak"));

  // Remote to remote changes nothing.
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(QStringLiteral("\\\\far\\share\\b.bak"));
  bvtest::control<QLineEdit>(window, "editServer")->setFocus(Qt::MouseFocusReason);
  bvtest::control<QLineEdit>(window, "editServer")->setText(QStringLiteral("otherhost"));
  QTest::keyClick(bvtest::control<QLineEdit>(window, "editServer"), Qt::Key_Tab);
  EXPECT_EQ(bvtest::control<QLineEdit>(window, "editBackFilePath")->text(),
            QStringLiteral("\\\\far\\share\\b.bak"));

  // The computer's name in lower case is this computer.
  bvtest::control<QLineEdit>(window, "editServer")->setFocus(Qt::MouseFocusReason);
  bvtest::control<QLineEdit>(window, "editServer")->setText(window->ComputerName().toLower());
  QTest::keyClick(bvtest::control<QLineEdit>(window, "editServer"), Qt::Key_Tab);
  EXPECT_TRUE(window->ServerIsLocal());
  EXPECT_FALSE(bvtest::control<QLabel>(window, "lblServerAlert")->isVisible());
  EXPECT_FALSE(bvtest::control<QLabel>(window, "lblServerAlert2")->isVisible());
  EXPECT_TRUE(bvtest::control<QPushButton>(window, "bbnBackFilePathOpen")->isEnabled());
  EXPECT_TRUE(bvtest::control<QLineEdit>(window, "editBackFilePath")->text().isEmpty());
}

TEST_F(MainWindow, FocusMovesOfBoxesAndWindowActivationAreNotLeavingTheBox) {
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(QStringLiteral("C:\\keep.bak"));
  bvtest::control<QLineEdit>(window, "editServer")->setText(QStringLiteral("farhost"));
  QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
  QApplication::sendEvent(bvtest::control<QLineEdit>(window, "editServer"), &out);
  QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
  QApplication::sendEvent(bvtest::control<QLineEdit>(window, "editServer"), &popup);
  EXPECT_TRUE(window->ServerIsLocal());
  EXPECT_EQ(bvtest::control<QLineEdit>(window, "editBackFilePath")->text(), QStringLiteral("C:\\keep.bak"));

  QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
  QApplication::sendEvent(bvtest::control<QComboBox>(window, "cmbDatabase"), &in);
  EXPECT_TRUE(prompts.boxes.empty()) << "a window activation must not log in";
}

// --- Database list --------------------------------------------------------------------------

TEST_F(MainWindow, EnteringTheDatabaseBoxWithoutAServerSendsTheFocusBack) {
  QTest::mouseClick(bvtest::control<QComboBox>(window, "cmbDatabase"), Qt::LeftButton);
  QApplication::processEvents();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("データベースサーバーを選択してください。"));
  EXPECT_EQ(QApplication::focusWidget(), bvtest::control<QLineEdit>(window, "editServer"));
}

TEST_F(MainWindow, TheRefreshAsksForTheLoginNameThenThePassword) {
  bvtest::control<QLineEdit>(window, "editServer")->setText(QStringLiteral("somehost"));
  QTest::mouseClick(bvtest::control<QRadioButton>(window, "rbSQLServer"), Qt::LeftButton);
  QTest::mouseClick(bvtest::control<QPushButton>(window, "bbnReloadList"), Qt::LeftButton);
  bvtest::control<QLineEdit>(window, "editUser")->setText(QStringLiteral("sa"));
  QTest::mouseClick(bvtest::control<QPushButton>(window, "bbnReloadList"), Qt::LeftButton);
  ASSERT_EQ(prompts.errors().size(), 2u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("ユーザー名を入力してください。"));
  EXPECT_EQ(prompts.errors()[1], QStringLiteral("パスワードを入力してください。"));
  EXPECT_EQ(QApplication::focusWidget(), bvtest::control<QLineEdit>(window, "editPass"));
}

TEST_F(MainWindow, AFailedLoginSaysSoOnceAndLeavesTheListEmpty) {
  pretendDatabaseList();
  bvtest::control<QLineEdit>(window, "editServer")->setText(unreachableServer());
  chooseSqlAuth(QStringLiteral("sa"), QStringLiteral("pw"));
  QTest::mouseClick(bvtest::control<QComboBox>(window, "cmbDatabase"), Qt::LeftButton);
  QApplication::processEvents();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("サーバにログインできませんでした。"));
  EXPECT_EQ(bvtest::control<QComboBox>(window, "cmbDatabase")->count(), 0);
  EXPECT_EQ(bvtest::control<QComboBox>(window, "cmbDatabase")->currentIndex(), -1);
}

TEST_F(MainWindow, GetDatabaseNameResolvesOnlyTheDefaultEntry) {
  pretendDatabaseList();
  bvtest::control<QComboBox>(window, "cmbDatabase")->setCurrentIndex(0);
  EXPECT_EQ(window->GetDatabaseName(bvtest::control<QComboBox>(window, "cmbDatabase")),
            window->DefaultDatabase());
  bvtest::control<QComboBox>(window, "cmbDatabase")->setCurrentIndex(2);
  EXPECT_EQ(window->GetDatabaseName(bvtest::control<QComboBox>(window, "cmbDatabase")),
            QStringLiteral("Sales"));
}

// --- Run now: validation --------------------------------------------------------------------

TEST_F(MainWindow, RunNowChecksTheServerFirst) {
  clickRunNow();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("データベースサーバーを選択してください。"));
  EXPECT_EQ(QApplication::focusWidget(), bvtest::control<QLineEdit>(window, "editServer"));
}

TEST_F(MainWindow, RunNowUnderSqlAuthenticationChecksLoginNameThenPassword) {
  bvtest::control<QLineEdit>(window, "editServer")->setText(QStringLiteral("somehost"));
  chooseSqlAuth({}, {});
  clickRunNow();
  bvtest::control<QLineEdit>(window, "editUser")->setText(QStringLiteral("sa"));
  clickRunNow();
  ASSERT_EQ(prompts.errors().size(), 2u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("ユーザー名を入力してください。"));
  EXPECT_EQ(prompts.errors()[1], QStringLiteral("パスワードを入力してください。"));
  EXPECT_EQ(QApplication::focusWidget(), bvtest::control<QLineEdit>(window, "editPass"));
}

TEST_F(MainWindow, UnderWindowsAuthenticationEmptyLoginFieldsNeverBlock) {
  bvtest::control<QLineEdit>(window, "editServer")->setText(QStringLiteral("somehost"));
  clickRunNow();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("データベース名を選択してください。"));
  EXPECT_EQ(QApplication::focusWidget(), bvtest::control<QPushButton>(window, "btnCreate"))
      << "the focus is not moved";
}

TEST_F(MainWindow, TheBackupTabNeedsItsFileAndTheRestoreTabOnlyItsOwn) {
  bvtest::control<QLineEdit>(window, "editServer")->setText(QStringLiteral("somehost"));
  pretendDatabaseList();
  prompts.confirmAnswers = {false};
  clickRunNow();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("バックアップファイルを指定してください。"));
  EXPECT_EQ(QApplication::focusWidget(), bvtest::control<QLineEdit>(window, "editBackFilePath"));

  bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(1);
  bvtest::control<QLineEdit>(window, "editRestFilePath")->setText(QStringLiteral("C:\\r.bak"));
  clickRunNow();
  EXPECT_EQ(prompts.errors().size(), 1u) << "an empty backup path does not matter on the restore tab";
  ASSERT_EQ(prompts.texts(Kind::ConfirmOkCancel).size(), 1u);
  EXPECT_EQ(prompts.texts(Kind::ConfirmOkCancel)[0],
            QStringLiteral("レストアを開始します。よろしいですか？"));

  bvtest::control<QLineEdit>(window, "editRestFilePath")->clear();
  clickRunNow();
  EXPECT_EQ(prompts.errors().back(), QStringLiteral("バックアップファイルを指定してください。"));
  EXPECT_EQ(QApplication::focusWidget(), bvtest::control<QLineEdit>(window, "editRestFilePath"));
}

TEST_F(MainWindow, CancelInTheConfirmationRunsNothing) {
  enterServer(unreachableServer());
  pretendDatabaseList();
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(QStringLiteral("/tmp/x_%date%.bak"));
  prompts.confirmAnswers = {false};
  bvtest::control<QPushButton>(window, "btnCreate")->setFocus(Qt::OtherFocusReason);
  clickRunNow();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::ConfirmOkCancel);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("バックアップを開始します。よろしいですか？"));
}

// --- Run now: execution ---------------------------------------------------------------------

TEST_F(MainWindow, AFailedRunShowsTheHeaderAndTheDriversTextsUnderTheHourglass) {
  bvtest::control<QLineEdit>(window, "editServer")->setText(unreachableServer());
  chooseSqlAuth(QStringLiteral("sa"), QStringLiteral("pw"));
  pretendDatabaseList();
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(QStringLiteral("/tmp/x_%date%.bak"));
  clickRunNow();
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[1].kind, Kind::Error);
  EXPECT_TRUE(
      prompts.boxes[1].text.startsWith(QStringLiteral("バックアップ中にエラーが発生しました。\r\n\r\n")))
      << prompts.boxes[1].text.toStdString();
  EXPECT_TRUE(prompts.boxes[1].text.contains(QStringLiteral("Unable to connect")));
  EXPECT_TRUE(prompts.boxes[1].text.endsWith(QStringLiteral("\r\n")));
  EXPECT_TRUE(prompts.boxes[1].hourglass);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is back to normal";
  EXPECT_TRUE(prompts.texts(Kind::Information).empty());
}

TEST_F(MainWindow, OnTheLogTabAFailedTruncationRunsNoShrinkAndReportsNoSuccess) {
  bvtest::control<QLineEdit>(window, "editServer")->setText(unreachableServer());
  pretendDatabaseList();
  bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(2);
  clickRunNow();
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("ログの切り捨てを開始します。よろしいですか？"));
  EXPECT_TRUE(prompts.boxes[1].text.startsWith(QStringLiteral("ログの切り捨て中にエラーが発生しました。")));
}

TEST_F(MainWindow, ABackupFileTheBatchCannotCarryExactlyIsRefusedBeforeAnythingIsSent) {
  enterServer(unreachableServer());
  pretendDatabaseList();
  auto* file = bvtest::control<QLineEdit>(window, "editBackFilePath");
  const std::pair<QString, QString> cases[] = {
      {QStringLiteral("D:\\") + QString(998, QLatin1Char('a')),
       QStringLiteral("バックアップファイル名が長すぎます。")},
      {QStringLiteral("D:\\café.bak"),
       QStringLiteral("バックアップファイル名に使用できない文字が含まれています。")},
  };
  for (const auto& [path, message] : cases) {
    prompts.boxes.clear();
    file->setText(path);
    bvtest::control<QPushButton>(window, "btnClose")->setFocus();
    clickRunNow();

    ASSERT_EQ(prompts.boxes.size(), 1u);  // no confirmation, no connection tried
    EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
    EXPECT_EQ(prompts.boxes[0].text, message);
    EXPECT_EQ(QApplication::focusWidget(), file);
  }
}

TEST_F(MainWindow, TheBuildersReadTheTabsAndTheResolvedDatabase) {
  pretendDatabaseList();
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(QStringLiteral("D:\\b_%date%.bak"));
  bvtest::control<QCheckBox>(window, "chkVerify")->setChecked(true);
  EXPECT_TRUE(window->BuildBackupCommand().find("  DATABASE [Sales]  ") != std::string::npos);
  EXPECT_TRUE(window->BuildBackupCommand().ends_with("RESTORE VERIFYONLY FROM  DISK = @strFile  "));
  bvtest::control<QLineEdit>(window, "editRestFilePath")->setText(QStringLiteral("D:\\r.bak"));
  EXPECT_EQ(window->BuildRestoreCommand(),
            "RESTORE  DATABASE [Sales] FROM DISK = N'D:\\r.bak' WITH REPLACE ");
  EXPECT_EQ(window->BuildTruncateLogCommand(), "BACKUP LOG [Sales] WITH TRUNCATE_ONLY ");
  EXPECT_EQ(window->BuildShrinkCommand(), "DBCC  SHRINKDATABASE([Sales],1) ");
}

// --- Other buttons --------------------------------------------------------------------------

TEST_F(MainWindow, TheSchedulingButtonsShareTheValidation) {
  window->btnScheduleClick();
  EXPECT_EQ(prompts.errors().back(), QStringLiteral("データベースサーバーを選択してください。"));
  bvtest::control<QLineEdit>(window, "editServer")->setText(QStringLiteral("somehost"));
  pretendDatabaseList();
  bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(2);
  window->btnMakeScdlClick();
  EXPECT_EQ(prompts.errors().back(), QStringLiteral("バックアップファイルを指定してください。"));
  EXPECT_EQ(QApplication::focusWidget(), bvtest::control<QLineEdit>(window, "editBackFilePath"));
  const auto before = prompts.boxes.size();
  window->btnEditScdlClick();  // checks nothing; not the refused version here
  EXPECT_EQ(prompts.boxes.size(), before);
}

TEST_F(MainWindow, FileButtonsFillTheirEditAndCancelKeepsIt) {
  enterServer(QStringLiteral("(local)"));
  bvtest::control<QLineEdit>(window, "editBackFilePath")->setText(QStringLiteral("old"));
  prompts.fileAnswers = {std::nullopt, QStringLiteral("/data/new.bak"), QStringLiteral("/data/r.bak")};
  QTest::mouseClick(bvtest::control<QPushButton>(window, "bbnBackFilePathOpen"), Qt::LeftButton);
  EXPECT_EQ(bvtest::control<QLineEdit>(window, "editBackFilePath")->text(), QStringLiteral("old"));
  QTest::mouseClick(bvtest::control<QPushButton>(window, "bbnBackFilePathOpen"), Qt::LeftButton);
  EXPECT_EQ(bvtest::control<QLineEdit>(window, "editBackFilePath")->text(), QStringLiteral("/data/new.bak"));
  bvtest::control<QTabWidget>(window, "pgOperation")->setCurrentIndex(1);
  QTest::mouseClick(bvtest::control<QPushButton>(window, "bbnRestFilePathOpen"), Qt::LeftButton);
  EXPECT_EQ(bvtest::control<QLineEdit>(window, "editRestFilePath")->text(), QStringLiteral("/data/r.bak"));
  EXPECT_EQ(prompts.texts(Kind::OpenFile).size(), 3u);
}

TEST_F(MainWindow, TheLinkOpensTheHelpPageAndChangesLookOnHover) {
  const QImage green = bvtest::control<QLabel>(window, "imgGreen")->pixmap().toImage();
  const QImage blue = bvtest::control<QLabel>(window, "imgBlue")->pixmap().toImage();
  ASSERT_NE(green, blue);
  EXPECT_EQ(green.size(), QSize(76, 15));
  EXPECT_EQ(bvtest::control<QLabel>(window, "imgView")->pixmap().toImage(), green);
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(bvtest::control<QLabel>(window, "lbWin"), &enter);
  EXPECT_EQ(bvtest::control<QLabel>(window, "imgView")->pixmap().toImage(), blue);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(bvtest::control<QLabel>(window, "lbWin"), &leave);
  EXPECT_EQ(bvtest::control<QLabel>(window, "imgView")->pixmap().toImage(), green);

  QTest::mouseClick(bvtest::control<QLabel>(window, "lbWin"), Qt::LeftButton);
  ASSERT_EQ(prompts.texts(Kind::OpenUrl).size(), 1u);
  const QUrl url(prompts.texts(Kind::OpenUrl)[0]);
  EXPECT_TRUE(url.isLocalFile());
  EXPECT_TRUE(QFileInfo::exists(url.toLocalFile())) << url.toLocalFile().toStdString();
  EXPECT_EQ(bvtest::control<QLabel>(window, "lbWin")->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(MainWindow, CloseEndsTheWindow) {
  QTest::mouseClick(bvtest::control<QPushButton>(window, "btnClose"), Qt::LeftButton);
  EXPECT_FALSE(window->isVisible());
}

TEST(ErrorReport, AnExceptionLeavingAHandlerBecomesAnErrorBox) {
  bvtest::PromptRecorder prompts;
  bv::widgets::guarded([] { throw std::runtime_error("disk on fire"); })();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("disk on fire"));
}

}  // namespace
