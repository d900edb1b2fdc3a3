// The server browser end to end over a scripted SSRP peer on 127.0.0.1: what only a script
// can show (different answers to successive requests, the entry double-clicked) and a
// browser that cannot ask at all.
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "server_browser_fixture.h"
#include "ssrp_test_responder.h"

namespace {

using bvtest::Datagram;
using bvtest::kBrowseCollect;
using bvtest::SsrpTestResponder;
using bvtest::ssrpRecord;
using bvtest::ssrpReply;

class ServerBrowserScripted : public bvtest::ServerBrowserRoad {};

Datagram threeInstances() {
  return ssrpReply(ssrpRecord("PEER", "ZETA") + ssrpRecord("PEER", "MSSQLSERVER") +
                   ssrpRecord("PEER", "ALPHA"));
}

TEST_F(ServerBrowserScripted, ADoubleClickTakesTheEntryClicked) {
  SsrpTestResponder responder({{threeInstances()}});
  browse(responder.target(kBrowseCollect));
  pressServerListButton([&] {
    const QRect row = dialog->lstServer->visualItemRect(dialog->lstServer->item(1));
    QTest::mouseDClick(dialog->lstServer->viewport(), Qt::LeftButton, {}, row.center());
  });
  EXPECT_EQ(window->editServer->text(), QStringLiteral("PEER"));
  EXPECT_EQ(window->focusWidget(), window->editServer);
}

TEST_F(ServerBrowserScripted, ASecondShowingListsTheNewAnswerOnly) {
  SsrpTestResponder responder(
      {{threeInstances()}, {ssrpReply(ssrpRecord("OTHER", "MSSQLSERVER"))}});
  browse(responder.target(kBrowseCollect));
  QStringList first;
  pressServerListButton([&] {
    first = listed();
    QTest::mouseClick(dialog->BitBtn2, Qt::LeftButton);
  });
  QStringList second;
  pressServerListButton([&] {
    second = listed();
    QTest::mouseClick(dialog->BitBtn1, Qt::LeftButton);
  });
  EXPECT_EQ(first, (QStringList{"PEER\\ZETA", "PEER", "PEER\\ALPHA"}));
  EXPECT_EQ(second, QStringList{"OTHER"});
  EXPECT_EQ(window->editServer->text(), QStringLiteral("OTHER"));
  EXPECT_EQ(responder.requests(), (std::vector<Datagram>{Datagram{0x02}, Datagram{0x02}}));
}

TEST_F(ServerBrowserScripted, AFailedEnumerationIsReportedAndLeavesTheServerBoxAlone) {
  browse({"not an address", 1434, kBrowseCollect});
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
