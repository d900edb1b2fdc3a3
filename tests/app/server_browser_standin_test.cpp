// The server browser end to end against the stand-in's SSRP responder on an ephemeral
// loopback port, announcing one default and two named instances.
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "server_browser_fixture.h"
#include "standin/ssrp.h"

namespace {

using bvtest::kBrowseCollect;

class ServerBrowserStandin : public bvtest::ServerBrowserRoad {
 protected:
  void SetUp() override {
    ServerBrowserRoad::SetUp();
    // Not in alphabetical order, so a sorted list would show.
    responder = std::make_unique<standin::SsrpResponder>(
        "STANDIN",
        std::vector<standin::SsrpInstance>{{"ZETA", 14381, "9.00.5000.00"},
                                           {"MSSQLSERVER", 14380, "9.00.5000.00"},
                                           {"ALPHA", 14382, "9.00.5000.00"}},
        0);
    responder->start();
    browse({"127.0.0.1", responder->port(), kBrowseCollect});
  }
  void TearDown() override {
    responder.reset();
    ServerBrowserRoad::TearDown();
  }

  std::unique_ptr<standin::SsrpResponder> responder;
};

const QStringList kStandinNames = {"STANDIN\\ZETA", "STANDIN", "STANDIN\\ALPHA"};

TEST_F(ServerBrowserStandin, ListsTheInstancesInReplyOrderAndOkTakesTheFirst) {
  QStringList seen;
  int selected = -2;
  pressServerListButton([&] {
    seen = listed();
    selected = dialog->itemIndex();
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
  });
  EXPECT_EQ(seen, kStandinNames);
  EXPECT_EQ(selected, 0);
  EXPECT_EQ(window->editServer->text(), QStringLiteral("STANDIN\\ZETA"));
  EXPECT_EQ(window->focusWidget(), window->editServer);
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(ServerBrowserStandin, CancelChangesNothing) {
  window->rbWindows->setFocus(Qt::OtherFocusReason);
  ASSERT_EQ(window->focusWidget(), static_cast<QWidget*>(window->rbWindows));
  QStringList seen;
  pressServerListButton([&] {
    seen = listed();
    QTest::mouseClick(dialog->BitBtn2, Qt::LeftButton);
  });
  EXPECT_EQ(seen, kStandinNames);
  EXPECT_EQ(window->editServer->text(), QStringLiteral("BEFORE"));
  EXPECT_EQ(window->focusWidget(), static_cast<QWidget*>(window->rbWindows));
}

// The stand-in stops answering between two showings: the second lists nothing of the first.
TEST_F(ServerBrowserStandin, ASecondShowingListsAfresh) {
  QStringList first;
  pressServerListButton([&] {
    first = listed();
    QTest::mouseClick(dialog->BitBtn2, Qt::LeftButton);
  });
  responder->stop();
  QStringList second{"not shown"};
  pressServerListButton([&] {
    second = listed();
    QTest::mouseClick(dialog->BitBtn2, Qt::LeftButton);
  });
  EXPECT_EQ(first, kStandinNames);
  EXPECT_TRUE(second.isEmpty()) << second.join(',').toStdString();
}

TEST_F(ServerBrowserStandin, NoAnswerListsNothingAndOkEmptiesTheServerBox) {
  responder->stop();
  int count = -1;
  int selected = -2;
  bool stayedOpen = false;
  pressServerListButton([&] {
    count = dialog->lstServer->count();
    selected = dialog->itemIndex();
    // A double click on the empty list does nothing.
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

}  // namespace
