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
#include <QTabWidget>
#include <QTest>
#include <memory>
#include <stdexcept>

#include "closed_port.h"
#include "gui/widgets/error_report.h"
#include "prompt_recorder.h"
#include "gui/forms/uBrackenvale.h"

namespace {

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
    window->cmbDatabase->addItems({QStringLiteral("<既定値>"), QStringLiteral("master"),
                                   QStringLiteral("Sales")});
    window->cmbDatabase->setCurrentIndex(2);
  }
  void chooseSqlAuth(const QString& user, const QString& password) {
    QTest::mouseClick(window->rbSQLServer, Qt::LeftButton);
    window->editUser->setText(user);
    window->editPass->setText(password);
  }
  QString unreachableServer() const {
    return QStringLiteral("127.0.0.1,%1").arg(bvtest::closedLoopbackPort());
  }
  // Types a server and leaves the box, as a user does (the local/remote decision runs).
  void enterServer(const QString& server) {
    window->editServer->setFocus(Qt::MouseFocusReason);
    window->editServer->setText(server);
    QTest::keyClick(window->editServer, Qt::Key_Tab);
  }
  void clickRunNow() { QTest::mouseClick(window->btnCreate, Qt::LeftButton); }

  bvtest::PromptRecorder prompts;
  std::unique_ptr<TfrmBrackenvale> window;
};

// --- Layout ---------------------------------------------------------------------------------

TEST_F(MainWindow, WindowFrameCaptionAndFont) {
  EXPECT_EQ(window->windowTitle(), QStringLiteral("Brackenvale"));
  EXPECT_EQ(window->size(), QSize(426, 511));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(QFontInfo(window->editServer->font()).pixelSize(), 12);
  EXPECT_EQ(QFontInfo(window->editServer->font()).family(), QStringLiteral("IPAPGothic"));
  EXPECT_TRUE(window->btnCreate->font().bold());
  EXPECT_TRUE(window->btnClose->font().bold());
  EXPECT_TRUE(window->btnSchedule->font().bold());
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
  EXPECT_EQ(at("pgOperation"), QRect(8, 224, 409, 241));
  EXPECT_EQ(at("btnCreate"), QRect(16, 476, 101, 25));
  EXPECT_EQ(at("btnClose"), QRect(313, 476, 97, 25));
  EXPECT_FALSE(window->imgGreen->isVisible());
  EXPECT_FALSE(window->imgBlue->isVisible());
}

TEST_F(MainWindow, CaptionsHintsAndNotes) {
  EXPECT_EQ(window->gbxTarget->title(), QStringLiteral("対象データベース"));
  EXPECT_EQ(window->bbnSvrList->text(), QStringLiteral("..."));
  EXPECT_EQ(window->bbnSvrList->toolTip(), QStringLiteral("一覧からサーバを選択します"));
  EXPECT_EQ(window->rbWindows->text(), QStringLiteral("Windows 認証"));
  EXPECT_EQ(window->rbSQLServer->text(), QStringLiteral("SQL Server 認証"));
  EXPECT_EQ(window->lblLoginName->text(), QStringLiteral("ログイン名"));
  EXPECT_EQ(window->lblPassword->text(), QStringLiteral("パスワード"));
  EXPECT_EQ(window->bbnReloadList->text(), QStringLiteral("最新"));
  EXPECT_EQ(window->bbnReloadList->toolTip(),
            QStringLiteral("現在の接続情報を用い、データベース一覧を最新の状態へ更新します"));
  EXPECT_EQ(window->pgOperation->count(), 3);
  EXPECT_EQ(window->pgOperation->tabText(0), QStringLiteral("バックアップ"));
  EXPECT_EQ(window->pgOperation->tabText(1), QStringLiteral("レストア"));
  EXPECT_EQ(window->pgOperation->tabText(2), QStringLiteral("ログの切り捨て"));
  EXPECT_EQ(window->pgOperation->currentIndex(), 0);
  EXPECT_EQ(window->gbxOutput->title(), QStringLiteral("出力先"));
  EXPECT_EQ(window->gbxRestore->title(), QStringLiteral("復元元"));
  EXPECT_EQ(window->lblServerAlert->text(), QStringLiteral("※サーバ上の有効なファイル名を入力してください"));
  EXPECT_EQ(window->lblServerAlert2->text(), window->lblServerAlert->text());
  EXPECT_EQ(window->lblDateNote1->text(), QStringLiteral("※ファイル名中に「%date%」を指定すると実行した"));
  EXPECT_EQ(window->lblDateNote2->text(), QStringLiteral("   年月日に置換されます。"));
  EXPECT_EQ(window->lblDateNote3->text(), QStringLiteral(" （例：emp_%date%.dmp→emp_20080101.dmp）"));
  EXPECT_EQ(window->lblDateNote1->palette().color(QPalette::WindowText), QColor(Qt::red));
  EXPECT_EQ(window->chkVerify->text(), QStringLiteral("完了時にベリファイを行う"));
  EXPECT_EQ(window->btnSchedule->text(), QStringLiteral("エージェントに登録"));
  EXPECT_EQ(window->btnSchedule->toolTip(),
            QStringLiteral("SQLServerエージェントへ、バックアップジョブの登録を行います"));
  EXPECT_EQ(window->btnMakeScdl->text(), QStringLiteral("タスクに追加"));
  EXPECT_EQ(window->btnEditScdl->text(), QStringLiteral("タスクの編集"));
  EXPECT_EQ(window->lblTransaction1->text(),
            QStringLiteral("トランザクションログの切り捨てと、データファイルの圧縮を行い、"));
  EXPECT_EQ(window->lblTransaction2->text(), QStringLiteral("ディスクの空き容量を増加させます。"));
  EXPECT_EQ(window->btnCreate->text(), QStringLiteral("今すぐ実行"));
  EXPECT_EQ(window->btnCreate->toolTip(), QStringLiteral("現在選択されているタブの処理を実行します"));
  EXPECT_EQ(window->btnClose->text(), QStringLiteral("終了"));
  EXPECT_EQ(window->btnClose->toolTip(), QStringLiteral("プログラムを終了します"));
  EXPECT_EQ(window->bbnBackFilePathOpen->toolTip(), QStringLiteral("ファイルを選択します"));
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
  EXPECT_TRUE(window->rbWindows->isChecked());
  EXPECT_FALSE(window->useSqlAuth());
  EXPECT_FALSE(window->editUser->isEnabled());
  EXPECT_FALSE(window->editPass->isEnabled());
  EXPECT_FALSE(window->lblLoginName->isEnabled());
  EXPECT_FALSE(window->lblPassword->isEnabled());
  EXPECT_TRUE(window->serverIsLocal());
  EXPECT_TRUE(window->lblServerAlert->isVisible());
  EXPECT_TRUE(window->bbnBackFilePathOpen->isEnabled());
  EXPECT_EQ(QApplication::focusWidget(), window->editServer);
  EXPECT_EQ(window->editPass->echoMode(), QLineEdit::Password);
  EXPECT_FALSE(window->IsWindowsVista());
  // What is not built yet cannot be pressed.
  EXPECT_TRUE(window->bbnSvrList->isEnabled());
  EXPECT_TRUE(window->btnSchedule->isEnabled());
  EXPECT_FALSE(window->btnMakeScdl->isEnabled());
  EXPECT_FALSE(window->btnEditScdl->isEnabled());
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(MainWindow, KeyboardOrderRunsThroughTheLoginGroupThenTheTabsAndButtons) {
  QTest::mouseClick(window->rbSQLServer, Qt::LeftButton);
  window->editServer->setFocus();
  std::vector<QWidget*> visited;
  for (int i = 0; i < 6; ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    visited.push_back(QApplication::focusWidget());
    if (!prompts.boxes.empty()) break;  // entering the database box tries to log in
  }
  ASSERT_GE(visited.size(), 4u);
  EXPECT_EQ(visited[0], window->bbnSvrList);
  EXPECT_EQ(visited[1], window->rbSQLServer);  // the radio buttons are one stop
  EXPECT_EQ(visited[2], window->editUser);
  EXPECT_EQ(visited[3], window->editPass);
}

// --- Authentication -------------------------------------------------------------------------

TEST_F(MainWindow, SqlAuthenticationEnablesTheFieldsAndWindowsAuthenticationEmptiesThem) {
  chooseSqlAuth(QStringLiteral("sa"), QStringLiteral("pw"));
  EXPECT_TRUE(window->useSqlAuth());
  EXPECT_TRUE(window->editUser->isEnabled());
  EXPECT_TRUE(window->lblPassword->isEnabled());
  QTest::mouseClick(window->rbWindows, Qt::LeftButton);
  EXPECT_FALSE(window->useSqlAuth());
  EXPECT_TRUE(window->editUser->text().isEmpty());
  EXPECT_TRUE(window->editPass->text().isEmpty());
  QTest::mouseClick(window->rbSQLServer, Qt::LeftButton);
  EXPECT_TRUE(window->editUser->text().isEmpty());
}

// --- Local or remote server -----------------------------------------------------------------

TEST_F(MainWindow, LeavingTheServerBoxDecidesLocalOrRemote) {
  window->editBackFilePath->setText(QStringLiteral("C:\\keep.bak"));
  window->editRestFilePath->setText(QStringLiteral("C:\\restore.bak"));
  QTest::keyClicks(window->editServer, QStringLiteral("farhost"));
  QTest::keyClick(window->editServer, Qt::Key_Tab);
  EXPECT_FALSE(window->serverIsLocal());
  EXPECT_TRUE(window->lblServerAlert->isVisible());
  EXPECT_FALSE(window->bbnBackFilePathOpen->isEnabled());
  EXPECT_FALSE(window->bbnRestFilePathOpen->isEnabled());
  EXPECT_TRUE(window->editBackFilePath->text().isEmpty());
  EXPECT_EQ(window->editRestFilePath->text(), QStringLiteral("C:\\restore.bak"));

  // Remote to remote changes nothing.
  window->editBackFilePath->setText(QStringLiteral("\\\\far\\share\\b.bak"));
  window->editServer->setFocus(Qt::MouseFocusReason);
  window->editServer->setText(QStringLiteral("otherhost"));
  QTest::keyClick(window->editServer, Qt::Key_Tab);
  EXPECT_EQ(window->editBackFilePath->text(), QStringLiteral("\\\\far\\share\\b.bak"));

  // The computer's name in lower case is this computer.
  window->editServer->setFocus(Qt::MouseFocusReason);
  window->editServer->setText(window->computerName().toLower());
  QTest::keyClick(window->editServer, Qt::Key_Tab);
  EXPECT_TRUE(window->serverIsLocal());
  EXPECT_FALSE(window->lblServerAlert->isVisible());
  EXPECT_FALSE(window->lblServerAlert2->isVisible());
  EXPECT_TRUE(window->bbnBackFilePathOpen->isEnabled());
  EXPECT_TRUE(window->editBackFilePath->text().isEmpty());
}

TEST_F(MainWindow, FocusMovesOfBoxesAndWindowActivationAreNotLeavingTheBox) {
  window->editBackFilePath->setText(QStringLiteral("C:\\keep.bak"));
  window->editServer->setText(QStringLiteral("farhost"));
  QFocusEvent out(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
  QApplication::sendEvent(window->editServer, &out);
  QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
  QApplication::sendEvent(window->editServer, &popup);
  EXPECT_TRUE(window->serverIsLocal());
  EXPECT_EQ(window->editBackFilePath->text(), QStringLiteral("C:\\keep.bak"));

  QFocusEvent in(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
  QApplication::sendEvent(window->cmbDatabase, &in);
  EXPECT_TRUE(prompts.boxes.empty()) << "a window activation must not log in";
}

// --- Database list --------------------------------------------------------------------------

TEST_F(MainWindow, EnteringTheDatabaseBoxWithoutAServerSendsTheFocusBack) {
  QTest::mouseClick(window->cmbDatabase, Qt::LeftButton);
  QApplication::processEvents();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("データベースサーバーを選択してください。"));
  EXPECT_EQ(QApplication::focusWidget(), window->editServer);
}

TEST_F(MainWindow, TheRefreshAsksForTheLoginNameThenThePassword) {
  window->editServer->setText(QStringLiteral("somehost"));
  QTest::mouseClick(window->rbSQLServer, Qt::LeftButton);
  QTest::mouseClick(window->bbnReloadList, Qt::LeftButton);
  window->editUser->setText(QStringLiteral("sa"));
  QTest::mouseClick(window->bbnReloadList, Qt::LeftButton);
  ASSERT_EQ(prompts.errors().size(), 2u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("ユーザー名を入力してください。"));
  EXPECT_EQ(prompts.errors()[1], QStringLiteral("パスワードを入力してください。"));
  EXPECT_EQ(QApplication::focusWidget(), window->editPass);
}

TEST_F(MainWindow, AFailedLoginSaysSoOnceAndLeavesTheListEmpty) {
  pretendDatabaseList();
  window->editServer->setText(unreachableServer());
  chooseSqlAuth(QStringLiteral("sa"), QStringLiteral("pw"));
  QTest::mouseClick(window->cmbDatabase, Qt::LeftButton);
  QApplication::processEvents();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("サーバにログインできませんでした。"));
  EXPECT_EQ(window->cmbDatabase->count(), 0);
  EXPECT_EQ(window->cmbDatabase->currentIndex(), -1);
}

TEST_F(MainWindow, GetDatabaseNameResolvesOnlyTheDefaultEntry) {
  pretendDatabaseList();
  window->cmbDatabase->setCurrentIndex(0);
  EXPECT_EQ(window->GetDatabaseName(window->cmbDatabase), window->defaultDatabase());
  window->cmbDatabase->setCurrentIndex(2);
  EXPECT_EQ(window->GetDatabaseName(window->cmbDatabase), QStringLiteral("Sales"));
}

// --- Run now: validation --------------------------------------------------------------------

TEST_F(MainWindow, RunNowChecksTheServerFirst) {
  clickRunNow();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("データベースサーバーを選択してください。"));
  EXPECT_EQ(QApplication::focusWidget(), window->editServer);
}

TEST_F(MainWindow, RunNowUnderSqlAuthenticationChecksLoginNameThenPassword) {
  window->editServer->setText(QStringLiteral("somehost"));
  chooseSqlAuth({}, {});
  clickRunNow();
  window->editUser->setText(QStringLiteral("sa"));
  clickRunNow();
  ASSERT_EQ(prompts.errors().size(), 2u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("ユーザー名を入力してください。"));
  EXPECT_EQ(prompts.errors()[1], QStringLiteral("パスワードを入力してください。"));
  EXPECT_EQ(QApplication::focusWidget(), window->editPass);
}

TEST_F(MainWindow, UnderWindowsAuthenticationEmptyLoginFieldsNeverBlock) {
  window->editServer->setText(QStringLiteral("somehost"));
  clickRunNow();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("データベース名を選択してください。"));
  EXPECT_EQ(QApplication::focusWidget(), window->btnCreate) << "the focus is not moved";
}

TEST_F(MainWindow, TheBackupTabNeedsItsFileAndTheRestoreTabOnlyItsOwn) {
  window->editServer->setText(QStringLiteral("somehost"));
  pretendDatabaseList();
  prompts.confirmAnswers = {false};
  clickRunNow();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("バックアップファイルを指定してください。"));
  EXPECT_EQ(QApplication::focusWidget(), window->editBackFilePath);

  window->pgOperation->setCurrentIndex(1);
  window->editRestFilePath->setText(QStringLiteral("C:\\r.bak"));
  clickRunNow();
  EXPECT_EQ(prompts.errors().size(), 1u) << "an empty backup path does not matter on the restore tab";
  ASSERT_EQ(prompts.texts(Kind::ConfirmOkCancel).size(), 1u);
  EXPECT_EQ(prompts.texts(Kind::ConfirmOkCancel)[0], QStringLiteral("レストアを開始します。よろしいですか？"));

  window->editRestFilePath->clear();
  clickRunNow();
  EXPECT_EQ(prompts.errors().back(), QStringLiteral("バックアップファイルを指定してください。"));
  EXPECT_EQ(QApplication::focusWidget(), window->editRestFilePath);
}

TEST_F(MainWindow, CancelInTheConfirmationRunsNothing) {
  enterServer(unreachableServer());
  pretendDatabaseList();
  window->editBackFilePath->setText(QStringLiteral("/tmp/x_%date%.bak"));
  prompts.confirmAnswers = {false};
  window->btnCreate->setFocus(Qt::OtherFocusReason);
  clickRunNow();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::ConfirmOkCancel);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("バックアップを開始します。よろしいですか？"));
}

// --- Run now: execution ---------------------------------------------------------------------

TEST_F(MainWindow, AFailedRunShowsTheHeaderAndTheDriversTextsUnderTheHourglass) {
  window->editServer->setText(unreachableServer());
  chooseSqlAuth(QStringLiteral("sa"), QStringLiteral("pw"));
  pretendDatabaseList();
  window->editBackFilePath->setText(QStringLiteral("/tmp/x_%date%.bak"));
  clickRunNow();
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[1].kind, Kind::Error);
  EXPECT_TRUE(prompts.boxes[1].text.startsWith(QStringLiteral("バックアップ中にエラーが発生しました。\r\n\r\n")))
      << prompts.boxes[1].text.toStdString();
  EXPECT_TRUE(prompts.boxes[1].text.contains(QStringLiteral("Unable to connect")));
  EXPECT_TRUE(prompts.boxes[1].text.endsWith(QStringLiteral("\r\n")));
  EXPECT_TRUE(prompts.boxes[1].hourglass);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "the cursor is back to normal";
  EXPECT_TRUE(prompts.texts(Kind::Information).empty());
}

TEST_F(MainWindow, OnTheLogTabAFailedTruncationRunsNoShrinkAndReportsNoSuccess) {
  window->editServer->setText(unreachableServer());
  pretendDatabaseList();
  window->pgOperation->setCurrentIndex(2);
  clickRunNow();
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("ログの切り捨てを開始します。よろしいですか？"));
  EXPECT_TRUE(prompts.boxes[1].text.startsWith(QStringLiteral("ログの切り捨て中にエラーが発生しました。")));
}

TEST_F(MainWindow, TheBuildersReadTheTabsAndTheResolvedDatabase) {
  pretendDatabaseList();
  window->editBackFilePath->setText(QStringLiteral("D:\\b_%date%.bak"));
  window->chkVerify->setChecked(true);
  EXPECT_TRUE(window->BuildBackupCommand().contains(QStringLiteral("  DATABASE [Sales]  ")));
  EXPECT_TRUE(window->BuildBackupCommand().endsWith(QStringLiteral("RESTORE VERIFYONLY FROM  DISK = @strFile  ")));
  window->editRestFilePath->setText(QStringLiteral("D:\\r.bak"));
  EXPECT_EQ(window->BuildRestoreCommand(),
            QStringLiteral("RESTORE  DATABASE [Sales] FROM DISK = N'D:\\r.bak' WITH REPLACE "));
  EXPECT_EQ(window->BuildTruncateLogCommand(), QStringLiteral("BACKUP LOG [Sales] WITH TRUNCATE_ONLY "));
  EXPECT_EQ(window->BuildShrinkCommand(), QStringLiteral("DBCC  SHRINKDATABASE([Sales],1) "));
}

// --- Other buttons --------------------------------------------------------------------------

TEST_F(MainWindow, TheSchedulingButtonsShareTheValidation) {
  window->btnScheduleClick();
  EXPECT_EQ(prompts.errors().back(), QStringLiteral("データベースサーバーを選択してください。"));
  window->editServer->setText(QStringLiteral("somehost"));
  pretendDatabaseList();
  window->pgOperation->setCurrentIndex(2);
  window->btnMakeScdlClick();
  EXPECT_EQ(prompts.errors().back(), QStringLiteral("バックアップファイルを指定してください。"));
  EXPECT_EQ(QApplication::focusWidget(), window->editBackFilePath);
  const auto before = prompts.boxes.size();
  window->btnEditScdlClick();  // checks nothing; not the refused version here
  EXPECT_EQ(prompts.boxes.size(), before);
}

TEST_F(MainWindow, FileButtonsFillTheirEditAndCancelKeepsIt) {
  enterServer(QStringLiteral("(local)"));
  window->editBackFilePath->setText(QStringLiteral("old"));
  prompts.fileAnswers = {std::nullopt, QStringLiteral("/data/new.bak"), QStringLiteral("/data/r.bak")};
  QTest::mouseClick(window->bbnBackFilePathOpen, Qt::LeftButton);
  EXPECT_EQ(window->editBackFilePath->text(), QStringLiteral("old"));
  QTest::mouseClick(window->bbnBackFilePathOpen, Qt::LeftButton);
  EXPECT_EQ(window->editBackFilePath->text(), QStringLiteral("/data/new.bak"));
  window->pgOperation->setCurrentIndex(1);
  QTest::mouseClick(window->bbnRestFilePathOpen, Qt::LeftButton);
  EXPECT_EQ(window->editRestFilePath->text(), QStringLiteral("/data/r.bak"));
  EXPECT_EQ(prompts.texts(Kind::OpenFile).size(), 3u);
}

TEST_F(MainWindow, TheLinkOpensTheHelpPageAndChangesLookOnHover) {
  const QImage green = window->imgGreen->pixmap().toImage();
  const QImage blue = window->imgBlue->pixmap().toImage();
  ASSERT_NE(green, blue);
  EXPECT_EQ(green.size(), QSize(76, 15));
  EXPECT_EQ(window->imgView->pixmap().toImage(), green);
  QEvent enter(QEvent::Enter);
  QApplication::sendEvent(window->lbWin, &enter);
  EXPECT_EQ(window->imgView->pixmap().toImage(), blue);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(window->lbWin, &leave);
  EXPECT_EQ(window->imgView->pixmap().toImage(), green);

  QTest::mouseClick(window->lbWin, Qt::LeftButton);
  ASSERT_EQ(prompts.texts(Kind::OpenUrl).size(), 1u);
  const QUrl url(prompts.texts(Kind::OpenUrl)[0]);
  EXPECT_TRUE(url.isLocalFile());
  EXPECT_TRUE(QFileInfo::exists(url.toLocalFile())) << url.toLocalFile().toStdString();
  EXPECT_EQ(window->lbWin->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(MainWindow, CloseEndsTheWindow) {
  QTest::mouseClick(window->btnClose, Qt::LeftButton);
  EXPECT_FALSE(window->isVisible());
}

TEST(ErrorReport, AnExceptionLeavingAHandlerBecomesAnErrorBox) {
  bvtest::PromptRecorder prompts;
  bv::widgets::guarded([] { throw std::runtime_error("disk on fire"); })();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("disk on fire"));
}

}  // namespace
