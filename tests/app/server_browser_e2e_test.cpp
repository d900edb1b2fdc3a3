// The server browser end to end: the real dialog with the platform's SSRP browser, asking a
// peer on 127.0.0.1 that announces one default and two named instances, and the chosen name
// taken into the main window's server box the way the "..." button's handler takes it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

// GCC 12 at -O2 takes the recorder's optional<QString> copy for uninitialised (a false alarm).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "prompt_recorder.h"
#pragma GCC diagnostic pop
#include "server_enumerator.h"
#include "ssrp_test_responder.h"
#include "uBrackenvale.h"
#include "uServerSelect.h"

namespace {

using bvtest::Datagram;
using bvtest::SsrpTestResponder;
using bvtest::ssrpRecord;
using bvtest::ssrpReply;

constexpr std::chrono::milliseconds kCollect{1000};

// One host, its instances in an order that is not alphabetical.
Datagram threeInstances() {
  return ssrpReply(ssrpRecord("STANDIN", "ZETA", "tcp;14381") +
                   ssrpRecord("STANDIN", "MSSQLSERVER", "tcp;14380") +
                   ssrpRecord("STANDIN", "ALPHA", "tcp;14382"));
}

class ServerBrowserEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_unique<TfrmBrackenvale>();
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->editServer->setText(QStringLiteral("BEFORE"));
  }
  void TearDown() override {
    dialog.reset();
    window.reset();
  }

  void browse(const bv::servers::SsrpTarget& target) {
    dialog = std::make_unique<TfrmServerList>(bv::servers::platformEnumeratorFactory(target),
                                              window.get());
  }

  // What the main window's bbnSvrListClick does: show the browser modally and, on OK only,
  // put the chosen name into the server box and the focus there. `user` acts in the dialog.
  void pressServerListButton(const std::function<void()>& user) {
    QTimer::singleShot(0, dialog.get(), user);
    if (const std::optional<QString> chosen = dialog->ChooseServer()) {
      window->editServer->setText(*chosen);
      window->editServer->setFocus(Qt::OtherFocusReason);
    }
  }

  QStringList listed() const {
    QStringList names;
    for (int row = 0; row < dialog->lstServer->count(); ++row) {
      names << dialog->lstServer->item(row)->text();
    }
    return names;
  }

  bvtest::PromptRecorder prompts;
  std::unique_ptr<TfrmBrackenvale> window;
  std::unique_ptr<TfrmServerList> dialog;
};

TEST_F(ServerBrowserEndToEnd, ListsTheInstancesInReplyOrderAndOkTakesTheFirst) {
  SsrpTestResponder responder({{threeInstances()}});
  browse(responder.target(kCollect));
  QStringList seen;
  int selected = -2;
  pressServerListButton([&] {
    seen = listed();
    selected = dialog->itemIndex();
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
  });
  EXPECT_EQ(seen, (QStringList{"STANDIN\\ZETA", "STANDIN", "STANDIN\\ALPHA"}));
  EXPECT_EQ(selected, 0);
  EXPECT_EQ(window->editServer->text(), QStringLiteral("STANDIN\\ZETA"));
  EXPECT_EQ(window->focusWidget(), window->editServer);
  EXPECT_TRUE(prompts.boxes.empty());
  EXPECT_EQ(responder.requests(), std::vector<Datagram>{Datagram{0x02}});
}

TEST_F(ServerBrowserEndToEnd, ADoubleClickTakesTheEntryClicked) {
  SsrpTestResponder responder({{threeInstances()}});
  browse(responder.target(kCollect));
  pressServerListButton([&] {
    const QRect row = dialog->lstServer->visualItemRect(dialog->lstServer->item(1));
    QTest::mouseDClick(dialog->lstServer->viewport(), Qt::LeftButton, {}, row.center());
  });
  EXPECT_EQ(window->editServer->text(), QStringLiteral("STANDIN"));
}

TEST_F(ServerBrowserEndToEnd, CancelChangesNothing) {
  SsrpTestResponder responder({{threeInstances()}});
  browse(responder.target(kCollect));
  window->rbWindows->setFocus(Qt::OtherFocusReason);
  ASSERT_EQ(window->focusWidget(), static_cast<QWidget*>(window->rbWindows));
  pressServerListButton([&] { QTest::mouseClick(dialog->BitBtn2, Qt::LeftButton); });
  EXPECT_EQ(window->editServer->text(), QStringLiteral("BEFORE"));
  EXPECT_EQ(window->focusWidget(), static_cast<QWidget*>(window->rbWindows));
}

TEST_F(ServerBrowserEndToEnd, ASecondShowingListsAfresh) {
  SsrpTestResponder responder(
      {{threeInstances()}, {ssrpReply(ssrpRecord("OTHER", "MSSQLSERVER"))}});
  browse(responder.target(kCollect));
  pressServerListButton([&] { QTest::mouseClick(dialog->BitBtn2, Qt::LeftButton); });
  QStringList second;
  pressServerListButton([&] {
    second = listed();
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
  });
  EXPECT_EQ(second, QStringList{"OTHER"});
  EXPECT_EQ(window->editServer->text(), QStringLiteral("OTHER"));
  EXPECT_EQ(responder.requests().size(), 2u);
}

TEST_F(ServerBrowserEndToEnd, NoAnswerListsNothingAndOkEmptiesTheServerBox) {
  SsrpTestResponder silent(bvtest::silentOnce());
  browse(silent.target(kCollect));
  int count = -1;
  int selected = -2;
  bool stayedOpen = false;
  pressServerListButton([&] {
    count = dialog->lstServer->count();
    selected = dialog->itemIndex();
    QTest::mouseDClick(dialog->lstServer->viewport(), Qt::LeftButton, {}, QPoint(30, 30));
    stayedOpen = dialog->isVisible();
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
  });
  EXPECT_EQ(count, 0);
  EXPECT_EQ(selected, -1);
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(window->editServer->text(), QString());
  EXPECT_EQ(window->focusWidget(), window->editServer);
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(ServerBrowserEndToEnd, AFailedEnumerationIsReportedAndLeavesTheServerBoxAlone) {
  browse({"not an address", 1434, kCollect});
  int count = -1;
  pressServerListButton([&] {
    count = dialog->lstServer->count();
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
  });
  EXPECT_EQ(count, 0);
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_TRUE(prompts.errors()[0].startsWith(
      QStringLiteral("サーバの一覧を取得できませんでした。\r\n\r\n")));
  EXPECT_EQ(window->editServer->text(), QStringLiteral("BEFORE"));
}

}  // namespace
