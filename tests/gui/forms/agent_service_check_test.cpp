// The Agent service check that the scheduling button runs before it opens the job dialog,
// driven through the function the main window calls, with a fake service manager installed
// and every box read from the prompt recorder.
#include <gtest/gtest.h>

#include <QWidget>

#include "fake_service_manager.h"
// GCC 12 at -O2 sees the recorder's unused file answer as maybe uninitialized when nothing in
// this file asks for a file; it is a false alarm.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "prompt_recorder.h"
#pragma GCC diagnostic pop
#include "core/agent/service_control.h"
#include "gui/forms/agent_service_check.h"
#include "gui/forms/uSchedule.h"

namespace {

using namespace bv::forms;

using Kind = bvtest::RecordedPrompt::Kind;
using Calls = std::vector<std::string>;
using namespace bv::agent;

const QString kQuestion = QStringLiteral(
    "スケジュール機能を利用するにはSQLServerAgentサービスが動作している必要があります。\r\n"
    "今ここで自動起動に設定しますか？");

class AgentServiceCheck : public ::testing::Test {
 protected:
  bool check(bool serverIsLocal) { return bv::forms::checkAgentService(&owner, serverIsLocal); }

  QWidget owner;
  bvtest::PromptRecorder prompts;
  bvtest::FakeServiceManager manager;
  ServiceManagerOverride installed{manager};
};

TEST_F(AgentServiceCheck, ARemoteServersServiceIsNeverLookedAt) {
  manager.state = kServiceStopped;
  EXPECT_TRUE(check(false));
  EXPECT_TRUE(manager.calls.empty());
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(AgentServiceCheck, ARunningAutomaticServicePassesWithoutAWord) {
  manager.state = kServiceRunning;
  manager.startType = kServiceAutoStart;
  EXPECT_TRUE(check(true));
  EXPECT_EQ(manager.requests(), (Calls{"state", "start type"}));
  EXPECT_EQ(manager.openSessions, 0);
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(AgentServiceCheck, RunningButManualAsksAndYesSetsAutomaticWithoutAStart) {
  manager.state = kServiceRunning;
  manager.startType = kServiceDemandStart;
  prompts.confirmAnswers = {true};
  EXPECT_TRUE(check(true));
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].kind, Kind::ConfirmYesNo);
  EXPECT_EQ(prompts.boxes[0].text, kQuestion);
  EXPECT_EQ(manager.requests(), (Calls{"state", "start type", "set automatic", "state"}));
  EXPECT_EQ(manager.startType, kServiceAutoStart);
}

TEST_F(AgentServiceCheck, StoppedAndNoLeavesTheServiceAloneAndOpensTheDialog) {
  manager.state = kServiceStopped;
  manager.startType = kServiceDemandStart;
  prompts.confirmAnswers = {false};
  EXPECT_TRUE(check(true));
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text, kQuestion);
  EXPECT_EQ(manager.requests(), (Calls{"state"})) << "the start type is asked only of a running service";
  EXPECT_EQ(manager.state, kServiceStopped);
  EXPECT_EQ(manager.startType, kServiceDemandStart);
}

TEST_F(AgentServiceCheck, StoppedAndYesSetsAutomaticThenStarts) {
  manager.state = kServiceStopped;
  prompts.confirmAnswers = {true};
  EXPECT_TRUE(check(true));
  EXPECT_EQ(manager.requests(), (Calls{"state", "set automatic", "state", "start"}));
  EXPECT_EQ(prompts.boxes.size(), 1u);
}

TEST_F(AgentServiceCheck, WithoutTheRightToChangeServicesYesEndsWithTheAutoStartError) {
  manager.fullAccess = false;  // every open fails, so both queries read 0
  manager.state = kServiceRunning;
  manager.startType = kServiceAutoStart;
  prompts.confirmAnswers = {true};
  EXPECT_FALSE(check(true));
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[0].text, kQuestion);
  EXPECT_EQ(prompts.boxes[1].kind, Kind::Error);
  EXPECT_EQ(prompts.boxes[1].text, QStringLiteral("Agentサービスの自動開始設定に失敗しました。"));
  EXPECT_TRUE(manager.requests().empty());
}

TEST_F(AgentServiceCheck, AMissingServiceEndsTheSameWay) {
  manager.serviceName = "MSSQLSERVER";
  prompts.confirmAnswers = {true};
  EXPECT_FALSE(check(true));
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("Agentサービスの自動開始設定に失敗しました。"));
}

TEST_F(AgentServiceCheck, ARefusedChangeIsReportedAndNothingIsStarted) {
  manager.state = kServiceStopped;
  manager.refuseChange = true;
  prompts.confirmAnswers = {true};
  EXPECT_FALSE(check(true));
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_EQ(prompts.errors()[0], QStringLiteral("Agentサービスの自動開始設定に失敗しました。"));
  EXPECT_EQ(manager.requests(), (Calls{"state", "set automatic"}));
}

TEST_F(AgentServiceCheck, ARefusedStartIsReportedAndTheAutomaticStartStays) {
  manager.state = kServiceStopped;
  manager.refuseStart = true;
  prompts.confirmAnswers = {true};
  EXPECT_FALSE(check(true));
  ASSERT_EQ(prompts.boxes.size(), 2u);
  EXPECT_EQ(prompts.boxes[1].kind, Kind::Error);
  EXPECT_EQ(prompts.boxes[1].text, QStringLiteral("Agentサービスの開始に失敗しました。"));
  EXPECT_EQ(manager.requests(), (Calls{"state", "set automatic", "state", "start"}));
  EXPECT_EQ(manager.startType, kServiceAutoStart) << "nothing is undone";
}

}  // namespace
