// The server browser end to end: the real dialog over the platform's SSRP browser, asking the
// stand-in's SSRP responder on an ephemeral loopback port, which announces one default and
// two named instances; the chosen name taken into the main window's server box.
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
#include <optional>

#include "controls.h"
#include "core/servers/server_enumerator.h"
#include "gui/forms/uBrackenvale.h"
#include "gui/forms/uServerSelect.h"
#include "prompt_recorder.h"
#include "standin/wire/ssrp.h"

namespace {

using namespace bv::forms;

// Long enough for a loopback answer on a busy machine; every showing waits this long.
constexpr std::chrono::milliseconds kBrowseCollect{1000};

class ServerBrowserStandin : public ::testing::Test {
 protected:
  void SetUp() override {
    // Not in alphabetical order, so a sorted list would show.
    responder = std::make_unique<standin::wire::SsrpResponder>(
        "STANDIN",
        std::vector<standin::wire::SsrpInstance>{{"ZETA", 14381, "9.00.5000.00"},
                                                 {"MSSQLSERVER", 14380, "9.00.5000.00"},
                                                 {"ALPHA", 14382, "9.00.5000.00"}},
        0);
    responder->start();

    window = std::make_unique<TfrmBrackenvale>();
    window->show();
    QApplication::setActiveWindow(window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    bvtest::control<QLineEdit>(window, "editServer")->setText(QStringLiteral("BEFORE"));
    browse({"127.0.0.1", responder->port(), kBrowseCollect});
  }
  void TearDown() override {
    dialog.reset();
    window.reset();
    responder.reset();
  }

  void browse(const bv::servers::SsrpTarget& target) {
    dialog = std::make_unique<TfrmServerList>(bv::servers::platformEnumeratorFactory(target), window.get());
    window->SetServerList(dialog.get());
  }

  // Presses "..." on the main window; `user` acts in the browser while it is shown.
  void pressServerListButton(const std::function<void()>& user) {
    QTimer::singleShot(0, dialog.get(), user);
    QTest::mouseClick(bvtest::control<QPushButton>(window, "bbnSvrList"), Qt::LeftButton);
  }

  QStringList listed() const {
    QStringList names;
    for (int row = 0; row < bvtest::control<QListWidget>(dialog, "lstServer")->count(); ++row) {
      names << bvtest::control<QListWidget>(dialog, "lstServer")->item(row)->text();
    }
    return names;
  }

  bvtest::PromptRecorder prompts;
  std::unique_ptr<standin::wire::SsrpResponder> responder;
  std::unique_ptr<TfrmBrackenvale> window;
  std::unique_ptr<TfrmServerList> dialog;
};

const QStringList kStandinNames = {"STANDIN\\ZETA", "STANDIN", "STANDIN\\ALPHA"};

TEST_F(ServerBrowserStandin, ListsTheInstancesInReplyOrderAndOkTakesTheFirst) {
  QStringList seen;
  int selected = -2;
  pressServerListButton([&] {
    EXPECT_TRUE(dialog->isModal());
    seen = listed();
    selected = dialog->ItemIndex();
    QTest::mouseClick(bvtest::control<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);
  });
  EXPECT_EQ(seen, kStandinNames);
  EXPECT_EQ(selected, 0);
  EXPECT_EQ(bvtest::control<QLineEdit>(window, "editServer")->text(), QStringLiteral("STANDIN\\ZETA"));
  EXPECT_EQ(window->focusWidget(), bvtest::control<QLineEdit>(window, "editServer"));
  EXPECT_TRUE(prompts.boxes.empty());
}

TEST_F(ServerBrowserStandin, CancelChangesNothing) {
  bvtest::control<QRadioButton>(window, "rbWindows")->setFocus(Qt::OtherFocusReason);
  ASSERT_EQ(window->focusWidget(), static_cast<QWidget*>(bvtest::control<QRadioButton>(window, "rbWindows")));
  QStringList seen;
  pressServerListButton([&] {
    seen = listed();
    QTest::mouseClick(bvtest::control<QPushButton>(dialog, "BitBtn2"), Qt::LeftButton);
  });
  EXPECT_EQ(seen, kStandinNames);
  EXPECT_EQ(bvtest::control<QLineEdit>(window, "editServer")->text(), QStringLiteral("BEFORE"));
  // The focus stays on the button the user pressed; it does not jump to the server box.
  EXPECT_EQ(window->focusWidget(), static_cast<QWidget*>(bvtest::control<QPushButton>(window, "bbnSvrList")));
}

// The stand-in stops answering between two showings: the second lists nothing of the first.
TEST_F(ServerBrowserStandin, ASecondShowingListsAfresh) {
  QStringList first;
  pressServerListButton([&] {
    first = listed();
    QTest::mouseClick(bvtest::control<QPushButton>(dialog, "BitBtn2"), Qt::LeftButton);
  });
  responder->stop();
  QStringList second{"not shown"};
  pressServerListButton([&] {
    second = listed();
    QTest::mouseClick(bvtest::control<QPushButton>(dialog, "BitBtn2"), Qt::LeftButton);
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
    count = bvtest::control<QListWidget>(dialog, "lstServer")->count();
    selected = dialog->ItemIndex();
    // A double click on the empty list does nothing.
    QTest::mouseDClick(bvtest::control<QListWidget>(dialog, "lstServer")->viewport(), Qt::LeftButton, {},
                       QPoint(30, 30));
    stayedOpen = dialog->isVisible();
    QTest::mouseClick(bvtest::control<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);
  });
  EXPECT_EQ(count, 0);
  EXPECT_EQ(selected, -1);
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(bvtest::control<QLineEdit>(window, "editServer")->text(), QString());
  EXPECT_EQ(window->focusWidget(), bvtest::control<QLineEdit>(window, "editServer"));
  EXPECT_TRUE(prompts.boxes.empty());
}

// Not the stand-in's doing: a browser that cannot even send its request.
TEST_F(ServerBrowserStandin, AFailedEnumerationIsReportedAndLeavesTheServerBoxAlone) {
  browse({"not an address", 1434, kBrowseCollect});
  int count = -1;
  pressServerListButton([&] {
    count = bvtest::control<QListWidget>(dialog, "lstServer")->count();
    QTest::mouseClick(bvtest::control<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);
  });
  EXPECT_EQ(count, 0);
  ASSERT_EQ(prompts.errors().size(), 1u);
  EXPECT_TRUE(prompts.errors()[0].startsWith(QStringLiteral("サーバの一覧を取得できませんでした。\r\n\r\n")));
  EXPECT_EQ(bvtest::control<QLineEdit>(window, "editServer")->text(), QStringLiteral("BEFORE"));
}

}  // namespace
