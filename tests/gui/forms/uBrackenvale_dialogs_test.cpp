// The main window as the program sets it up: no dialog exists until its button first needs it;
// the window then makes it, keeps it for every later click, and a dialog handed in through a
// setter is used instead of one of its own.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "controls.h"
#include "core/servers/server_enumerator.h"
#include "gui/forms/uAccount.h"
#include "gui/forms/uBrackenvale.h"
#include "gui/forms/uSchedule.h"
#include "gui/forms/uServerSelect.h"
#include "gui/forms/uTaskSchedule.h"
#include "modal.h"
#include "prompt_recorder.h"

namespace {

using namespace bv::forms;

class ListedServers final : public bv::servers::ServerEnumerator {
 public:
  std::unique_ptr<bv::servers::ServerNameList> ListAvailableSQLServers() override {
    return std::make_unique<bv::servers::FixedNameList>(std::vector<std::string>{"SRV1", "SRV2"});
  }
};

class DialogsOnFirstUse : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<TfrmBrackenvale>();
    window->MakeDialogsOnFirstUse([this] {
      ++enumerators;
      return std::make_unique<ListedServers>();
    });
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  }

  template <typename W>
  W* control(const char* name) {
    return bvtest::control<W>(window, name);
  }
  void click(const char* button) { QTest::mouseClick(control<QPushButton>(button), Qt::LeftButton); }
  // The dialogs the window has made, of every kind.
  std::vector<qsizetype> madeDialogs() const {
    return {window->findChildren<TfrmAccount*>().size(), window->findChildren<TfrmSchedule*>().size(),
            window->findChildren<TfrmServerList*>().size(), window->findChildren<TfrmTaskSchedule*>().size()};
  }

  bvtest::PromptRecorder prompts;
  int enumerators = 0;
  std::unique_ptr<TfrmBrackenvale> window;
};

TEST_F(DialogsOnFirstUse, NoneExistsAtTheStartAndEachIsMadeOnceWhenItsButtonFirstNeedsIt) {
  EXPECT_TRUE(window->findChildren<QDialog*>().isEmpty());
  EXPECT_EQ(enumerators, 0);

  // The server list: made at the first click, listing through the program's enumerators.
  bvtest::whenShown("frmServerList", [](QDialog* dialog) {
    auto* list = bvtest::control<QListWidget>(dialog, "lstServer");
    list->setCurrentRow(1);
    QTest::mouseClick(bvtest::control<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);  // OK
  });
  click("bbnSvrList");
  EXPECT_EQ(control<QLineEdit>("editServer")->text(), QStringLiteral("SRV2"));
  EXPECT_EQ(madeDialogs(), (std::vector<qsizetype>{0, 0, 1, 0}));
  TfrmServerList* serverList = window->findChild<TfrmServerList*>();

  // The second click shows the same dialog, which asks a new enumerator.
  bvtest::whenShown(serverList, [serverList] { serverList->reject(); });
  click("bbnSvrList");
  EXPECT_EQ(window->findChild<TfrmServerList*>(), serverList);
  EXPECT_EQ(enumerators, 2);
  EXPECT_EQ(control<QLineEdit>("editServer")->text(), QStringLiteral("SRV2"));

  // The account dialog of "タスクに追加", after the checks it follows; cancelled.
  control<QComboBox>("cmbDatabase")->addItems({QStringLiteral("<既定値>"), QStringLiteral("売上")});
  control<QComboBox>("cmbDatabase")->setCurrentIndex(1);
  control<QLineEdit>("editBackFilePath")->setText(QStringLiteral("D:\\backup\\売上.bak"));
  for (int round = 0; round < 2; ++round) {
    bvtest::whenShown("frmAccount", [](QDialog* dialog) {
      QTest::mouseClick(bvtest::control<QPushButton>(dialog, "btnChancel"), Qt::LeftButton);
    });
    click("btnMakeScdl");
    EXPECT_EQ(prompts.texts(bvtest::RecordedPrompt::Kind::Information).back(),
              QStringLiteral("キャンセルされました。"));
  }
  EXPECT_EQ(madeDialogs(), (std::vector<qsizetype>{1, 0, 1, 0}));
}

TEST_F(DialogsOnFirstUse, ADialogHandedInIsUsedAndNoneIsMade) {
  TfrmServerList handed([] { return std::make_unique<ListedServers>(); });
  window->SetServerList(&handed);
  bvtest::whenShown(&handed, [&handed] { handed.reject(); });
  click("bbnSvrList");
  EXPECT_TRUE(window->findChildren<QDialog*>().isEmpty());
  EXPECT_EQ(enumerators, 0);
}

}  // namespace
