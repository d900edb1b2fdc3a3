// "タスクに追加" driven as a user drives it: the main window, the real account dialog (its boxes
// read and answered by the recorder), a scripted schedule page, and a task store of the test's
// own whose account proof reads a test PAM configuration (no real password anywhere).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "controls.h"
#include "core/sys/system_info.h"
#include "core/tasks/TaskScdl.h"
#include "core/tasks/crontab_posix.h"
#include "core/tasks/task_argument.h"
#include "core/tasks/task_registration.h"
#include "core/tasks/task_store_posix.h"
#include "gui/forms/uAccount.h"
#include "gui/forms/uBrackenvale.h"
#include "gui/forms/uSchedulePage.h"
#include "modal.h"
#include "prompt_recorder.h"
#include "task_store_fixture.h"

namespace {

using namespace bv::forms;
namespace fs = std::filesystem;
using bvtest::PamPolicy;
using Kind = bvtest::RecordedPrompt::Kind;

QString qs(const std::string& text) { return QString::fromStdString(text); }

class TaskRegistration : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<TfrmBrackenvale>();
    account = std::make_unique<TfrmAccount>(window.get());
    window->SetAccountDialog(account.get());
    window->SetSchedulePage(&page);
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    // The server typed and left as a user leaves it: a remote server empties the backup file, so
    // the file is typed after.
    control<QLineEdit>("editServer")->setFocus(Qt::MouseFocusReason);
    control<QLineEdit>("editServer")->setText(QStringLiteral("dbhost"));
    QTest::keyClick(control<QLineEdit>("editServer"), Qt::Key_Tab);
    control<QComboBox>("cmbDatabase")->addItems({QStringLiteral("<既定値>"), QStringLiteral("売上")});
    control<QComboBox>("cmbDatabase")->setCurrentIndex(1);
    control<QLineEdit>("editBackFilePath")->setText(QStringLiteral("D:\\backup\\売上 %date%.bak"));
    page.edit = [](std::vector<bv::tasks::TaskTrigger>& triggers) {
      triggers = {bvtest::dailyTrigger(2026, 12, 8, 2, 0)};
    };
  }
  void TearDown() override {
    account.reset();
    window.reset();
  }

  template <typename W>
  W* control(const char* name) const {
    return bvtest::control<W>(window, name);
  }
  template <typename W>
  W* accountControl(const char* name) const {
    return bvtest::control<W>(account, name);
  }

  // Answers the account dialog when it shows: the user, the two passwords, then OK.
  void answerAccount(const QString& user, const QString& password, const QString& confirmation) {
    bvtest::whenShown(account.get(), [=, this] {
      accountControl<QLineEdit>("editUserName")->setText(user);
      QTest::keyClicks(accountControl<QLineEdit>("editPasswd0"), password);
      QTest::keyClicks(accountControl<QLineEdit>("editPasswd1"), confirmation);
      QTest::mouseClick(accountControl<QPushButton>("btnOK"), Qt::LeftButton);
    });
  }
  void answerAccountWithCancel() {
    bvtest::whenShown(account.get(), [this] {
      QTest::mouseClick(accountControl<QPushButton>("btnChancel"), Qt::LeftButton);
    });
  }
  void clickAddTask() { QTest::mouseClick(control<QPushButton>("btnMakeScdl"), Qt::LeftButton); }

  std::vector<std::string> storedFiles() const {
    std::vector<std::string> names;
    if (!fs::exists(store.storeFolder())) return names;
    for (const auto& entry : fs::directory_iterator(store.storeFolder())) {
      const std::string name = entry.path().filename().string();
      if (entry.path().extension() == ".job") names.push_back(name);
    }
    return names;
  }
  std::vector<std::string> taskNames() const {
    std::vector<std::string> names;
    bv::tasks::GetTaskNames(names);
    return names;
  }

  const QString me = qs(bvtest::TaskStoreFixture::currentUser());
  bvtest::TaskStoreFixture store{PamPolicy::PermitCounting};
  bvtest::ScriptedSchedulePage page;
  bvtest::PromptRecorder prompts;
  const bv::tasks::CronProbeOverride cronRuns{[] { return true; }};
  std::unique_ptr<TfrmBrackenvale> window;
  std::unique_ptr<TfrmAccount> account;
};

TEST_F(TaskRegistration, ADailyBackupIsRegisteredWithItsProgramParametersAccountAndSchedule) {
  control<QCheckBox>("chkVerify")->setChecked(true);
  answerAccount(QStringLiteral("  ") + me + QStringLiteral(" "), QStringLiteral("pw "),
                QStringLiteral("pw "));
  clickAddTask();

  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Information);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("タスクを追加しました。"));
  const auto names = taskNames();
  ASSERT_EQ(names.size(), 1u);  // the probe is gone
  std::ifstream proofs(store.proofsFile());
  const std::string asked{std::istreambuf_iterator<char>(proofs), std::istreambuf_iterator<char>()};
  // PAM asked once: the registration's save took the account dialog's proof.
  EXPECT_EQ(std::count(asked.begin(), asked.end(), '\n'), 2) << asked;  // pam_exec's header and "proof"
  EXPECT_EQ(names[0].rfind("Brackenvale_", 0), 0u);
  EXPECT_EQ(names[0].size(), 12u + 14u);
  EXPECT_EQ(page.lastCaption, names[0]);
  EXPECT_EQ(page.lastOwner, nativeWindowOf(window.get()));

  bv::tasks::TTask task(names[0], false);
  std::string program, parameters, user;
  task.Item().GetApplicationName(program);
  task.Item().GetParameters(parameters);
  task.Item().GetAccountInformation(user);
  EXPECT_EQ(fs::path(program), bv::sys::executableFolder() / "Brackenrun");
  EXPECT_EQ(parameters, "1 0 0 " + bv::tasks::EncodeTaskArgument("dbhost") + " " +
                            bv::tasks::EncodeTaskArgument("売上") + " " +
                            bv::tasks::EncodeTaskArgument("D:\\backup\\売上 %date%.bak") + " 1 ");
  EXPECT_EQ(user, bvtest::TaskStoreFixture::currentUser());  // trimmed
  EXPECT_EQ(task.Triggers().Count(), 1);
  std::uint32_t flags = 0;
  task.Item().GetFlags(flags);
  EXPECT_EQ(flags & 4u, 0u);  // enabled
}

TEST_F(TaskRegistration, SqlServerAuthenticationEncodesTheLoginAndTheParametersCarryNoClearPassword) {
  QTest::mouseClick(control<QRadioButton>("rbSQLServer"), Qt::LeftButton);
  control<QLineEdit>("editUser")->setText(QStringLiteral("sa"));
  control<QLineEdit>("editPass")->setText(QStringLiteral("p;w'd"));
  answerAccount(me, QStringLiteral("x"), QStringLiteral("x"));
  clickAddTask();
  const auto names = taskNames();
  ASSERT_EQ(names.size(), 1u);
  bv::tasks::TTask task(names[0], false);
  std::string parameters;
  task.Item().GetParameters(parameters);
  const auto arguments = bv::tasks::splitTaskParameters(parameters);
  ASSERT_EQ(arguments.size(), 7u);
  EXPECT_EQ(arguments[0], "2");
  EXPECT_EQ(bv::tasks::decodeTaskArgument(arguments[1]), "sa");
  EXPECT_EQ(bv::tasks::decodeTaskArgument(arguments[2]), "p;w'd");
  EXPECT_EQ(parameters.find("p;w'd"), std::string::npos);
  EXPECT_EQ(arguments[6], "0");
}

TEST_F(TaskRegistration, WindowsAuthenticationAlwaysGivesOneZeroZeroWhateverTheLoginFieldsHold) {
  control<QLineEdit>("editUser")->setText(QStringLiteral("ignored"));
  control<QLineEdit>("editPass")->setText(QStringLiteral("ignored too"));
  EXPECT_EQ(window->BuildTaskCommandLine().rfind("1 0 0 ", 0), 0u);
  EXPECT_EQ(window->BuildTaskCommandLine().back(), ' ');
}

TEST_F(TaskRegistration, TextsCodePage932CannotCarryAreRefusedBeforeTheAccountIsAskedFor) {
  for (const QString& server : {QStringLiteral("café"), QStringLiteral("srv😀")}) {
    prompts.boxes.clear();
    control<QLineEdit>("editServer")->setText(server);
    clickAddTask();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
    EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("タスク登録用コマンドの生成に失敗しました。"));
    EXPECT_FALSE(account->isVisible());
  }
  QTest::mouseClick(control<QRadioButton>("rbSQLServer"), Qt::LeftButton);
  control<QLineEdit>("editServer")->setText(QStringLiteral("dbhost"));
  control<QLineEdit>("editUser")->setText(QStringLiteral("ユーザー〜"));  // a look-alike in code page 932
  control<QLineEdit>("editPass")->setText(QStringLiteral("pw"));
  prompts.boxes.clear();
  clickAddTask();
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("タスク登録用コマンドの生成に失敗しました。"));
  EXPECT_TRUE(storedFiles().empty());
}

TEST_F(TaskRegistration, ABackupFileTheBatchCannotCarryExactlyIsRefusedBeforeTheArgumentsAreBuilt) {
  auto* file = control<QLineEdit>("editBackFilePath");
  file->setText(QStringLiteral("D:\\〜.bak"));
  control<QPushButton>("btnClose")->setFocus();
  clickAddTask();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
  EXPECT_EQ(prompts.boxes[0].text,
            QStringLiteral("バックアップファイル名に使用できない文字が含まれています。"));
  EXPECT_EQ(QApplication::focusWidget(), file);
  EXPECT_TRUE(storedFiles().empty());
}

TEST_F(TaskRegistration, MismatchedPasswordsAreRefusedEmptiedAndAskedAgain) {
  bvtest::whenShown(account.get(), [this] {
    QTest::keyClicks(accountControl<QLineEdit>("editPasswd0"), QStringLiteral("pw"));
    QTest::keyClicks(accountControl<QLineEdit>("editPasswd1"), QStringLiteral("pw "));  // a trailing blank
    QTest::mouseClick(accountControl<QPushButton>("btnOK"), Qt::LeftButton);
    EXPECT_TRUE(account->isVisible());
    EXPECT_EQ(accountControl<QLineEdit>("editPasswd0")->text(), QString());
    EXPECT_EQ(accountControl<QLineEdit>("editPasswd1")->text(), QString());
    EXPECT_EQ(QApplication::focusWidget(), accountControl<QLineEdit>("editPasswd0"));
    QTest::keyClicks(accountControl<QLineEdit>("editPasswd0"), QStringLiteral("pw"));
    QTest::keyClicks(accountControl<QLineEdit>("editPasswd1"), QStringLiteral("pw"));
    QTest::mouseClick(accountControl<QPushButton>("btnOK"), Qt::LeftButton);
  });
  clickAddTask();
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("パスワードが一致しません。もう一度やり直してください。"));
  EXPECT_EQ(prompts.boxes[1].text, QStringLiteral("タスクを追加しました。"));
  EXPECT_EQ(taskNames().size(), 1u);
}

TEST_F(TaskRegistration, AWrongPasswordIsRefusedTheProbeRemovedAndTheRightOneAccepted) {
  store.setPolicy(PamPolicy::MatrixPassword);
  store.setPassword(bvtest::TaskStoreFixture::currentUser(), "right");
  bvtest::whenShown(account.get(), [this] {
    QTest::keyClicks(accountControl<QLineEdit>("editPasswd0"), QStringLiteral("wrong"));
    QTest::keyClicks(accountControl<QLineEdit>("editPasswd1"), QStringLiteral("wrong"));
    QTest::mouseClick(accountControl<QPushButton>("btnOK"), Qt::LeftButton);
    EXPECT_TRUE(account->isVisible());
    EXPECT_TRUE(storedFiles().empty()) << "the probe task stayed behind";
    EXPECT_EQ(accountControl<QLineEdit>("editPasswd0")->text(), QStringLiteral("wrong"));  // inputs kept
    accountControl<QLineEdit>("editPasswd0")->setText(QStringLiteral("right"));
    accountControl<QLineEdit>("editPasswd1")->setText(QStringLiteral("right"));
    QTest::mouseClick(accountControl<QPushButton>("btnOK"), Qt::LeftButton);
  });
  clickAddTask();
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("ユーザー名またはパスワードが間違っています。"));
  EXPECT_EQ(prompts.boxes[1].text, QStringLiteral("タスクを追加しました。"));
  EXPECT_EQ(taskNames().size(), 1u);
}

TEST_F(TaskRegistration, CancelOnTheAccountDialogRegistersNothing) {
  answerAccountWithCancel();
  clickAddTask();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::Information);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("キャンセルされました。"));
  EXPECT_TRUE(storedFiles().empty());
  EXPECT_EQ(page.shown, 0);
}

TEST_F(TaskRegistration, CancelAfterARefusedAccountRegistersNothing) {
  store.setPolicy(PamPolicy::DenyPassword);
  bvtest::whenShown(account.get(), [this] {
    QTest::mouseClick(accountControl<QPushButton>("btnOK"), Qt::LeftButton);  // two empty passwords
    QTest::mouseClick(accountControl<QPushButton>("btnChancel"), Qt::LeftButton);
  });
  clickAddTask();
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("ユーザー名またはパスワードが間違っています。"));
  EXPECT_EQ(prompts.boxes[1].text, QStringLiteral("キャンセルされました。"));
  EXPECT_TRUE(storedFiles().empty());
}

TEST_F(TaskRegistration, CancelOnTheSchedulePageLeavesNothingRegistered) {
  page.answer = 2;
  answerAccount(me, QStringLiteral("pw"), QStringLiteral("pw"));
  clickAddTask();
  EXPECT_EQ(page.shown, 1);
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("キャンセルされました。"));
  EXPECT_TRUE(storedFiles().empty());
}

TEST_F(TaskRegistration, ATaskOfTheSameNameIsOpenedAndNeitherReplacedBeforeThePageNorRemovedOnCancel) {
  // Tasks already stored under the names a registration in the next few seconds would take.
  std::time_t now = std::time(nullptr);
  std::vector<std::string> existing;
  for (int second = 0; second < 5; ++second) {
    std::time_t then = now + second;
    std::tm local{};
    ::localtime_r(&then, &local);
    existing.push_back(bv::tasks::registrationTaskName(local));
    bv::tasks::TTask task(existing.back(), true);
    task.SetParameters("earlier");
    task.Save();
  }
  page.answer = 2;
  answerAccount(me, QStringLiteral("pw"), QStringLiteral("pw"));
  clickAddTask();
  EXPECT_EQ(prompts.boxes.back().text, QStringLiteral("キャンセルされました。"));
  for (const auto& name : existing) {
    bv::tasks::TTask task(name, false);
    std::string parameters;
    task.Item().GetParameters(parameters);
    EXPECT_EQ(parameters, "earlier") << name;
  }
}

TEST_F(TaskRegistration, WhereNoCronDaemonRunsASecondBoxSaysTheTaskWillNotRun) {
  const bv::tasks::CronProbeOverride noCron([] { return false; });
  answerAccount(me, QStringLiteral("pw"), QStringLiteral("pw"));
  clickAddTask();
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].text, QStringLiteral("タスクを追加しました。"));
  EXPECT_EQ(prompts.boxes[1].kind, Kind::Information);
  EXPECT_EQ(prompts.boxes[1].text,
            QStringLiteral("cronが動作していないため、登録したタスクは実行されません。"));
}

TEST_F(TaskRegistration, TheAccountDialogShowsTheUserAndEmptyPasswordsEveryTime) {
  EXPECT_EQ(account->objectName(), QStringLiteral("frmAccount"));
  EXPECT_EQ(account->windowTitle(), QStringLiteral("ユーザ情報入力"));
  bvtest::whenShown(account.get(), [this] {
    EXPECT_EQ(accountControl<QLineEdit>("editUserName")->text(), me);
    EXPECT_EQ(QApplication::focusWidget(), accountControl<QLineEdit>("editPasswd0"));
    EXPECT_EQ(accountControl<QPushButton>("btnOK")->text(), QStringLiteral("OK"));
    EXPECT_EQ(accountControl<QPushButton>("btnChancel")->text(), QStringLiteral("Cnacel"));
    accountControl<QLineEdit>("editUserName")->setText(QStringLiteral("someone else"));
    accountControl<QLineEdit>("editPasswd0")->setText(QStringLiteral("typed"));
    QTest::mouseClick(accountControl<QPushButton>("btnChancel"), Qt::LeftButton);
  });
  clickAddTask();
  bvtest::whenShown(account.get(), [this] {
    EXPECT_EQ(accountControl<QLineEdit>("editUserName")->text(), me);  // replaced at every showing
    EXPECT_EQ(accountControl<QLineEdit>("editPasswd0")->text(), QString());
    QTest::mouseClick(accountControl<QPushButton>("btnChancel"), Qt::LeftButton);
  });
  clickAddTask();
}

TEST_F(TaskRegistration, EveryPasswordBoxMasksWithAnAsterisk) {
  for (QLineEdit* edit : {control<QLineEdit>("editPass"), accountControl<QLineEdit>("editPasswd0"),
                          accountControl<QLineEdit>("editPasswd1")}) {
    EXPECT_EQ(edit->echoMode(), QLineEdit::Password) << edit->objectName().toStdString();
    EXPECT_EQ(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit), int{'*'})
        << edit->objectName().toStdString();
  }
}

}  // namespace
