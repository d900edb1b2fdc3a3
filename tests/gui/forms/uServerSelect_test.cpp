// The server browser dialog driven as a user drives it, over a scripted enumerator that logs
// every call the dialog makes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "controls.h"
#include "core/servers/server_enumerator.h"
#include "gui/forms/uServerSelect.h"
#include "prompt_recorder.h"

namespace {

using namespace bv::forms;

using bv::servers::EnumerationError;
using bv::servers::ServerEnumerator;
using bv::servers::ServerNameList;
using Calls = std::vector<std::string>;

// What the scripted enumerator answers, and where it fails.
struct Script {
  std::vector<std::string> names;
  std::optional<long> firstCount;   // Count's first answer; the number of names by default
  std::optional<long> secondCount;  // Count's second answer; the first one by default
  std::string failAt;               // the call that throws, as it appears in the log
};

Script listing(std::vector<std::string> names) {
  Script script;
  script.names = std::move(names);
  return script;
}

Script failingAt(std::vector<std::string> names, std::string call) {
  Script script = listing(std::move(names));
  script.failAt = std::move(call);
  return script;
}

// Count answers `first`, then `second`.
Script counting(std::vector<std::string> names, long first, long second) {
  Script script = listing(std::move(names));
  script.firstCount = first;
  script.secondCount = second;
  return script;
}

struct Log {
  Calls calls;
  std::vector<bool> hourglass;  // whether the wait cursor showed at each call
  void add(const std::string& call) {
    calls.push_back(call);
    const QCursor* cursor = QApplication::overrideCursor();
    hourglass.push_back(cursor != nullptr && cursor->shape() == Qt::WaitCursor);
  }
  void step(const Script& script, const std::string& call) {
    add(call);
    if (script.failAt == call) throw EnumerationError("failed at " + call);
  }
};

class ScriptedList final : public ServerNameList {
 public:
  ScriptedList(Script script, Log& log) : script_(std::move(script)), log_(log) {}
  ~ScriptedList() override { log_.add("release list"); }
  long Count() override {
    const bool first = counted_++ == 0;
    log_.step(script_, first ? "Count" : "Count again");
    const long names = static_cast<long>(script_.names.size());
    const long answer = script_.firstCount.value_or(names);
    return first ? answer : script_.secondCount.value_or(answer);
  }
  std::string Item(long index) override {
    log_.step(script_, "Item(" + std::to_string(index) + ")");
    return script_.names.at(static_cast<std::size_t>(index - 1));
  }

 private:
  Script script_;
  Log& log_;
  int counted_ = 0;
};

class ScriptedEnumerator final : public ServerEnumerator {
 public:
  ScriptedEnumerator(Script script, Log& log) : script_(std::move(script)), log_(log) {}
  ~ScriptedEnumerator() override { log_.add("release application"); }
  std::unique_ptr<ServerNameList> ListAvailableSQLServers() override {
    log_.step(script_, "ListAvailableSQLServers");
    return std::make_unique<ScriptedList>(script_, log_);
  }

 private:
  Script script_;
  Log& log_;
};

class ServerListDialog : public ::testing::Test {
 protected:
  // Each showing takes the next script (the last one repeats).
  void useScripts(std::vector<Script> scripts) {
    scripts_ = std::move(scripts);
    showings_ = 0;
  }
  std::unique_ptr<TfrmServerList> makeDialog() {
    return std::make_unique<TfrmServerList>([this]() -> std::unique_ptr<ServerEnumerator> {
      const Script& script = scripts_.at(std::min(showings_++, scripts_.size() - 1));
      log.step(script, "create");
      return std::make_unique<ScriptedEnumerator>(script, log);
    });
  }
  // Shows the dialog without blocking, as its modal showing does.
  std::unique_ptr<TfrmServerList> shown(std::vector<Script> scripts) {
    useScripts(std::move(scripts));
    auto dialog = makeDialog();
    dialog->show();
    return dialog;
  }
  static QStringList entries(const TfrmServerList& dialog) {
    QStringList texts;
    for (int row = 0; row < bvtest::control<QListWidget>(&dialog, "lstServer")->count(); ++row) {
      texts << bvtest::control<QListWidget>(&dialog, "lstServer")->item(row)->text();
    }
    return texts;
  }
  static QPoint centreOfRow(const TfrmServerList& dialog, int row) {
    return bvtest::control<QListWidget>(&dialog, "lstServer")
        ->visualItemRect(bvtest::control<QListWidget>(&dialog, "lstServer")->item(row))
        .center();
  }

  bvtest::PromptRecorder prompts;
  Log log;
  std::vector<Script> scripts_;
  std::size_t showings_ = 0;
};

const Calls kThreeNamesCalls = {
    "create",       "ListAvailableSQLServers", "Count", "Item(1)", "Item(2)", "Item(3)", "Count again",
    "release list", "release application"};

// --- Layout ---------------------------------------------------------------------------------

TEST_F(ServerListDialog, FrameCaptionAndControls) {
  useScripts({Script{}});
  const auto dialog = makeDialog();
  EXPECT_EQ(dialog->objectName(), QStringLiteral("frmServerList"));
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("サーバの選択"));
  EXPECT_EQ(dialog->size(), QSize(250, 226));
  EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
  EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);

  EXPECT_EQ(bvtest::control<QLabel>(dialog, "Label1")->objectName(), QStringLiteral("Label1"));
  EXPECT_EQ(bvtest::control<QLabel>(dialog, "Label1")->text(),
            QStringLiteral("現在、ネットワーク上で以下のサーバが"));
  EXPECT_EQ(bvtest::control<QLabel>(dialog, "Label1")->pos(), QPoint(20, 8));
  EXPECT_EQ(bvtest::control<QLabel>(dialog, "Label2")->objectName(), QStringLiteral("Label2"));
  EXPECT_EQ(bvtest::control<QLabel>(dialog, "Label2")->text(), QStringLiteral("利用できます。"));
  EXPECT_EQ(bvtest::control<QLabel>(dialog, "Label2")->pos(), QPoint(20, 24));
  EXPECT_EQ(bvtest::control<QListWidget>(dialog, "lstServer")->objectName(), QStringLiteral("lstServer"));
  EXPECT_EQ(bvtest::control<QListWidget>(dialog, "lstServer")->geometry(), QRect(12, 44, 225, 145));
  EXPECT_EQ(bvtest::control<QListWidget>(dialog, "lstServer")->selectionMode(),
            QAbstractItemView::SingleSelection);
  EXPECT_EQ(bvtest::control<QPushButton>(dialog, "BitBtn1")->objectName(), QStringLiteral("BitBtn1"));
  EXPECT_EQ(bvtest::control<QPushButton>(dialog, "BitBtn1")->text(), QStringLiteral("OK"));
  EXPECT_EQ(bvtest::control<QPushButton>(dialog, "BitBtn1")->geometry(), QRect(24, 196, 75, 25));
  EXPECT_TRUE(bvtest::control<QPushButton>(dialog, "BitBtn1")->isDefault());
  EXPECT_EQ(bvtest::control<QPushButton>(dialog, "BitBtn2")->objectName(), QStringLiteral("BitBtn2"));
  EXPECT_EQ(bvtest::control<QPushButton>(dialog, "BitBtn2")->text(), QStringLiteral("キャンセル"));
  EXPECT_EQ(bvtest::control<QPushButton>(dialog, "BitBtn2")->geometry(), QRect(152, 196, 75, 25));
  // Nothing is listed before the first showing.
  EXPECT_EQ(bvtest::control<QListWidget>(dialog, "lstServer")->count(), 0);
  EXPECT_TRUE(log.calls.empty());
}

TEST_F(ServerListDialog, NoCaptionIsClipped) {
  const auto dialog = shown({listing({"A"})});
  for (const QLabel* label :
       {bvtest::control<QLabel>(dialog, "Label1"), bvtest::control<QLabel>(dialog, "Label2")}) {
    EXPECT_GE(label->width(), label->sizeHint().width()) << label->objectName().toStdString();
    EXPECT_LE(label->geometry().right(), dialog->width()) << label->objectName().toStdString();
  }
  for (const QPushButton* button :
       {bvtest::control<QPushButton>(dialog, "BitBtn1"), bvtest::control<QPushButton>(dialog, "BitBtn2")}) {
    const int needed = button->fontMetrics().horizontalAdvance(button->text()) + button->iconSize().width();
    EXPECT_LE(needed, button->width() - 4) << button->objectName().toStdString();
  }
}

TEST_F(ServerListDialog, CentredOnTheScreen) {
  const auto dialog = shown({listing({"A"})});
  const QPoint screen = dialog->screen()->availableGeometry().center();
  // Within the rounding of halving odd sizes.
  EXPECT_LE((dialog->frameGeometry().center() - screen).manhattanLength(), 2)
      << dialog->frameGeometry().center().x() << "," << dialog->frameGeometry().center().y();
  EXPECT_LE((dialog->geometry().center() - screen).manhattanLength(), 4);
}

// --- Filling the list -------------------------------------------------------------------------

TEST_F(ServerListDialog, AsksTheEnumeratorInItsOrderAndSelectsTheFirstName) {
  const auto dialog = shown({listing({"ZED\\B", "サーバ\\インスタンス", "ZED\\B"})});
  EXPECT_EQ(log.calls, kThreeNamesCalls);
  // As returned (UTF-8): not sorted, duplicates kept.
  EXPECT_EQ(entries(*dialog), (QStringList{"ZED\\B", QStringLiteral("サーバ\\インスタンス"), "ZED\\B"}));
  EXPECT_EQ(dialog->ItemIndex(), 0);
  EXPECT_EQ(dialog->GetSelectedServer(), QStringLiteral("ZED\\B"));
  EXPECT_FALSE(dialog->ListFailed());
}

TEST_F(ServerListDialog, NoNamesMeansNoItemCallsAndNothingSelected) {
  const Script none;
  const Script negative = counting({}, -1, -1);
  for (const Script& script : {none, negative}) {
    log.calls.clear();
    const auto dialog = shown({script});
    EXPECT_EQ(log.calls, (Calls{"create", "ListAvailableSQLServers", "Count", "Count again", "release list",
                                "release application"}));
    EXPECT_EQ(bvtest::control<QListWidget>(dialog, "lstServer")->count(), 0);
    EXPECT_EQ(dialog->ItemIndex(), -1);
    EXPECT_EQ(dialog->GetSelectedServer(), QString());
  }
}

TEST_F(ServerListDialog, TheSecondCountDecidesWhetherTheFirstEntryIsSelected) {
  const Script shrinks = counting({"A", "B"}, 2, 0);
  const auto dialog = shown({shrinks});
  EXPECT_EQ(entries(*dialog), (QStringList{"A", "B"}));
  EXPECT_EQ(dialog->ItemIndex(), -1);
  EXPECT_EQ(dialog->GetSelectedServer(), QString());
}

TEST_F(ServerListDialog, TheHourglassShowsWhileTheEnumeratorWorks) {
  const auto dialog = shown({listing({"A"})});
  ASSERT_FALSE(log.hourglass.empty());
  for (std::size_t i = 0; i < log.hourglass.size(); ++i) {
    EXPECT_TRUE(log.hourglass[i]) << log.calls[i];
  }
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(ServerListDialog, EveryShowingListsAfreshFromANewEnumerator) {
  useScripts({listing({"OLD1", "OLD2", "OLD3"}), listing({"NEW"})});
  const auto dialog = makeDialog();
  dialog->show();
  bvtest::control<QListWidget>(dialog, "lstServer")->setCurrentRow(2);
  dialog->hide();
  log.calls.clear();
  dialog->show();
  EXPECT_EQ(log.calls, (Calls{"create", "ListAvailableSQLServers", "Count", "Item(1)", "Count again",
                              "release list", "release application"}));
  EXPECT_EQ(entries(*dialog), QStringList{"NEW"});
  EXPECT_EQ(dialog->ItemIndex(), 0);
}

// --- Failures ---------------------------------------------------------------------------------

// Whatever call fails: its message reaches the error report, what was taken is released, and
// this showing lists nothing and ends with Cancel even when OK is pressed.
TEST_F(ServerListDialog, AFailingCallIsReportedReleasesWhatWasTakenAndListsNothing) {
  const std::vector<std::pair<std::string, Calls>> cases = {
      {"create", {"create"}},
      {"ListAvailableSQLServers", {"create", "ListAvailableSQLServers", "release application"}},
      {"Count", {"create", "ListAvailableSQLServers", "Count", "release list", "release application"}},
      {"Item(2)",
       {"create", "ListAvailableSQLServers", "Count", "Item(1)", "Item(2)", "release list",
        "release application"}},
      {"Count again",
       {"create", "ListAvailableSQLServers", "Count", "Item(1)", "Item(2)", "Item(3)", "Count again",
        "release list", "release application"}},
  };
  for (const auto& [failAt, calls] : cases) {
    SCOPED_TRACE(failAt);
    log.calls.clear();
    prompts.boxes.clear();
    const auto dialog = shown({failingAt({"A", "B", "C"}, failAt)});
    EXPECT_EQ(log.calls, calls);
    ASSERT_EQ(prompts.errors().size(), 1u);
    EXPECT_EQ(prompts.errors()[0],
              QString::fromStdString("サーバの一覧を取得できませんでした。\r\n\r\nfailed at " + failAt));
    EXPECT_FALSE(prompts.boxes[0].hourglass);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(bvtest::control<QListWidget>(dialog, "lstServer")->count(), 0);
    EXPECT_TRUE(dialog->ListFailed());
    QTest::mouseClick(bvtest::control<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
  }
}

TEST_F(ServerListDialog, AShowingAfterAFailureListsAgain) {
  const Script failing = failingAt({"A"}, "ListAvailableSQLServers");
  useScripts({failing, listing({"B"})});
  const auto dialog = makeDialog();
  dialog->show();
  EXPECT_TRUE(dialog->ListFailed());
  dialog->reject();
  dialog->show();
  EXPECT_FALSE(dialog->ListFailed());
  EXPECT_EQ(entries(*dialog), QStringList{"B"});
  QTest::mouseClick(bvtest::control<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

// --- Buttons, keys and the double click -----------------------------------------------------

TEST_F(ServerListDialog, OkClosesWithOkAndTheSelectedName) {
  const auto dialog = shown({listing({"A", "B", "C"})});
  QTest::mouseClick(bvtest::control<QListWidget>(dialog, "lstServer")->viewport(), Qt::LeftButton, {},
                    centreOfRow(*dialog, 1));
  EXPECT_EQ(dialog->GetSelectedServer(), QStringLiteral("B"));
  QTest::mouseClick(bvtest::control<QPushButton>(dialog, "BitBtn1"), Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->GetSelectedServer(), QStringLiteral("B"));
}

TEST_F(ServerListDialog, CancelAndEscapeCloseWithCancel) {
  const auto dialog = shown({listing({"A"})});
  QTest::mouseClick(bvtest::control<QPushButton>(dialog, "BitBtn2"), Qt::LeftButton);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);

  dialog->show();
  dialog->setResult(QDialog::Accepted);
  QTest::keyClick(bvtest::control<QListWidget>(dialog, "lstServer"), Qt::Key_Escape);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(ServerListDialog, EnterInTheListPressesOk) {
  const auto dialog = shown({listing({"A", "B"})});
  QTest::keyClick(bvtest::control<QListWidget>(dialog, "lstServer"), Qt::Key_Down);
  QTest::keyClick(bvtest::control<QListWidget>(dialog, "lstServer"), Qt::Key_Return);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->GetSelectedServer(), QStringLiteral("B"));
}

TEST_F(ServerListDialog, DoubleClickOnAnEntryClosesWithOk) {
  const auto dialog = shown({listing({"A", "B", "C"})});
  QTest::mouseDClick(bvtest::control<QListWidget>(dialog, "lstServer")->viewport(), Qt::LeftButton, {},
                     centreOfRow(*dialog, 2));
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->GetSelectedServer(), QStringLiteral("C"));
}

TEST_F(ServerListDialog, DoubleClickOnAnEmptyListDoesNothing) {
  const auto dialog = shown({Script{}});
  dialog->setResult(-1);
  QTest::mouseDClick(bvtest::control<QListWidget>(dialog, "lstServer")->viewport(), Qt::LeftButton, {},
                     QPoint(40, 40));
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), -1);
  EXPECT_EQ(dialog->ItemIndex(), -1);
}

TEST_F(ServerListDialog, DoubleClickBelowTheEntriesTakesTheSelectedOne) {
  const auto dialog = shown({listing({"A", "B"})});
  bvtest::control<QListWidget>(dialog, "lstServer")->setCurrentRow(1);
  QTest::mouseDClick(bvtest::control<QListWidget>(dialog, "lstServer")->viewport(), Qt::LeftButton, {},
                     QPoint(40, 120));
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Accepted);
  EXPECT_EQ(dialog->GetSelectedServer(), QStringLiteral("B"));
}

TEST_F(ServerListDialog, DoubleClickWithNothingSelectedDoesNothing) {
  const Script unselected = counting({"A", "B"}, 2, 0);
  const auto dialog = shown({unselected});
  dialog->setResult(-1);
  dialog->lstServerDblClick();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), -1);
}

}  // namespace
