// The main window's "エージェントに登録": the shared validation, the Agent service check for a
// local server, and the hand-over to the job dialog, which then connects on its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "closed_port.h"
#include "controls.h"
#include "fake_service_manager.h"
#include "gui/forms/uBrackenvale.h"
#include "gui/forms/uSchedule.h"
#include "prompt_recorder.h"
#include "standin_fixture.h"

namespace {

using namespace bv::forms;

using Kind = bvtest::RecordedPrompt::Kind;

class AgentButton : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<TfrmBrackenvale>();
    dialog = std::make_unique<TfrmSchedule>(window.get());
    window->SetScheduleDialog(dialog.get());
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }
  void TearDown() override {
    dialog.reset();
    window.reset();
  }
  void fillInputs(const QString& server) {
    bvtest::control<QLineEdit>(window, "editServer")->setFocus(Qt::MouseFocusReason);
    bvtest::control<QLineEdit>(window, "editServer")->setText(server);
    QTest::keyClick(bvtest::control<QLineEdit>(window, "editServer"),
                    Qt::Key_Tab);  // the local-server decision runs
    QTest::mouseClick(bvtest::control<QRadioButton>(window, "rbSQLServer"), Qt::LeftButton);
    bvtest::control<QLineEdit>(window, "editUser")->setText(QStringLiteral("sa"));
    bvtest::control<QLineEdit>(window, "editPass")->setText(QStringLiteral("pw"));
    bvtest::control<QComboBox>(window, "cmbDatabase")
        ->addItems({QStringLiteral("<既定値>"), QStringLiteral("Sales")});
    bvtest::control<QComboBox>(window, "cmbDatabase")->setCurrentIndex(1);
  }
  bool dialogConnectionFailed() const {
    for (const auto& error : prompts.errors()) {
      if (error.startsWith(QStringLiteral("データベースの接続でエラーが発生しました。"))) return true;
    }
    return false;
  }

  bvtest::PromptRecorder prompts;
  bvtest::FakeServiceManager services;
  bv::agent::ServiceManagerOverride serviceOverride{services};
  std::unique_ptr<TfrmBrackenvale> window;
  std::unique_ptr<TfrmSchedule> dialog;
};

TEST_F(AgentButton, ARemoteServerOpensTheDialogWithoutTouchingTheService) {
  fillInputs(QStringLiteral("127.0.0.1,%1").arg(bvtest::closedLoopbackPort()));
  ASSERT_FALSE(window->ServerIsLocal());
  QTest::mouseClick(bvtest::control<QPushButton>(window, "btnSchedule"), Qt::LeftButton);
  EXPECT_TRUE(services.calls.empty());
  EXPECT_TRUE(prompts.texts(Kind::ConfirmYesNo).empty());
  EXPECT_TRUE(dialogConnectionFailed()) << "the dialog was shown and connected with the handed-over login";
  EXPECT_FALSE(dialog->isVisible());
}

TEST_F(AgentButton, ALocalServerWithAStoppedServiceAsksAndNoStillOpensTheDialog) {
  fillInputs(QStringLiteral("(local)"));
  ASSERT_TRUE(window->ServerIsLocal());
  prompts.confirmAnswers = {false};
  QTest::mouseClick(bvtest::control<QPushButton>(window, "btnSchedule"), Qt::LeftButton);
  ASSERT_FALSE(prompts.texts(Kind::ConfirmYesNo).empty());
  EXPECT_EQ(
      prompts.texts(Kind::ConfirmYesNo)[0],
      QStringLiteral("スケジュール機能を利用するにはSQLServerAgentサービスが動作している必要があります。\r\n"
                     "今ここで自動起動に設定しますか？"));
  EXPECT_EQ(services.requests(), std::vector<std::string>{"state"});
  // The dialog opened (and, with no server listening on 1433 here or a refused login, it
  // reports its connection error or lists what the local server has).
  EXPECT_GE(prompts.boxes.size(), 2u);
}

TEST_F(AgentButton, ARefusedChangeEndsBeforeTheDialog) {
  fillInputs(window->ComputerName());
  ASSERT_TRUE(window->ServerIsLocal());
  services.refuseChange = true;
  prompts.confirmAnswers = {true};
  QTest::mouseClick(bvtest::control<QPushButton>(window, "btnSchedule"), Qt::LeftButton);
  EXPECT_EQ(prompts.errors(),
            std::vector<QString>{QStringLiteral("Agentサービスの自動開始設定に失敗しました。")});
  EXPECT_FALSE(dialogConnectionFailed());
}

TEST_F(AgentButton, ValidationComesFirst) {
  QTest::mouseClick(bvtest::control<QPushButton>(window, "btnSchedule"), Qt::LeftButton);
  EXPECT_EQ(prompts.errors(),
            std::vector<QString>{QStringLiteral("データベースサーバーを選択してください。")});
  EXPECT_TRUE(services.calls.empty());
}

// Express has no Agent: the button offers the task instead, and only there.
struct EditionCase {
  int year;
  standin::base::Edition edition;
  bool offersTask;
};

class AgentButtonOnEdition : public AgentButton, public ::testing::WithParamInterface<EditionCase> {};

TEST_P(AgentButtonOnEdition, ExpressOffersTheTaskAndTheOthersOpenTheJobDialog) {
  bvtest::StandinOptions options;
  options.serverVersion = GetParam().year;
  options.edition = GetParam().edition;
  bvtest::StandinFixture standin(options);
  fillInputs(QString::fromStdString(standin.serverText()));
  bvtest::control<QLineEdit>(window, "editPass")->setText(QString::fromStdString(standin.saPassword()));
  bvtest::control<QComboBox>(window, "cmbDatabase")->setItemText(1, QString::fromStdString(standin.sampleDatabase()));
  ASSERT_FALSE(window->ServerIsLocal());
  bool dialogShown = false;
  // The job dialog is modal: it is closed as soon as it shows.
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (!dialog->isVisible()) return;
    dialogShown = true;
    bvtest::control<QPushButton>(dialog, "btnEnd")->click();
  });
  closer.start(20);
  const QString offer = QStringLiteral(
      "このサーバー（Express エディション）には SQL Server エージェントがないため、ジョブを登録しても実行されません。"
      "代わりにタスクとして登録しますか？");

  prompts.confirmAnswers = {false};
  QTest::mouseClick(bvtest::control<QPushButton>(window, "btnSchedule"), Qt::LeftButton);
  if (!GetParam().offersTask) {
    EXPECT_TRUE(prompts.texts(Kind::ConfirmYesNo).empty());
    EXPECT_TRUE(prompts.errors().empty()) << prompts.errors()[0].toStdString();
    EXPECT_TRUE(dialogShown);
    return;
  }
  EXPECT_EQ(prompts.texts(Kind::ConfirmYesNo), std::vector<QString>{offer});
  EXPECT_TRUE(prompts.errors().empty());
  EXPECT_FALSE(dialogShown);

  // はい takes the task road, which starts with its own validation: no backup file given.
  prompts.boxes.clear();
  prompts.confirmAnswers = {true};
  QTest::mouseClick(bvtest::control<QPushButton>(window, "btnSchedule"), Qt::LeftButton);
  EXPECT_EQ(prompts.texts(Kind::ConfirmYesNo), std::vector<QString>{offer});
  EXPECT_EQ(prompts.errors(), std::vector<QString>{QStringLiteral("バックアップファイルを指定してください。")});
  EXPECT_FALSE(dialogShown);
}

INSTANTIATE_TEST_SUITE_P(Editions, AgentButtonOnEdition,
                         ::testing::Values(EditionCase{2019, standin::base::Edition::Express, true},
                                           EditionCase{2005, standin::base::Edition::Express, true},
                                           EditionCase{2019, standin::base::Edition::Developer, false},
                                           EditionCase{2000, standin::base::Edition::DesktopEngine, false}));

}  // namespace
