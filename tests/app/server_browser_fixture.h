// The main window with the server browser beside it, for the end-to-end tests: the real
// dialog over the platform's SSRP browser, asking a peer on 127.0.0.1, and the chosen name
// taken into the server box the way the "..." button's handler takes it.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

// GCC 12 at -O2 takes the recorder's optional<QString> copy for uninitialised (a false alarm).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include "prompt_recorder.h"
#pragma GCC diagnostic pop
#include "server_enumerator.h"
#include "uBrackenvale.h"
#include "uServerSelect.h"

namespace bvtest {

// Long enough for a loopback answer on a busy machine; every showing waits this long.
inline constexpr std::chrono::milliseconds kBrowseCollect{1000};

class ServerBrowserRoad : public ::testing::Test {
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

  PromptRecorder prompts;
  std::unique_ptr<TfrmBrackenvale> window;
  std::unique_ptr<TfrmServerList> dialog;
};

}  // namespace bvtest
