// The progress window around a long command: the caller's thread stays alive (timers fire, the
// window repaints) while the work runs elsewhere; messages reach the window in order; the call
// returns only when the work has ended; an exception of the work comes back on the caller's
// thread.
#include "gui/widgets/progress_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

namespace {

using bv::widgets::ProgressReport;
using bv::widgets::runWithProgress;

TEST(RunWithProgress, TheWindowLivesWhileTheWorkRunsAndShowsItsMessages) {
  QWidget owner;
  std::atomic<bool> done{false};
  int ticks = 0;
  QStringList elapsedTexts;
  QString shownMessages;
  QTimer sampler;
  sampler.setInterval(100);
  QObject::connect(&sampler, &QTimer::timeout, [&] {
    ++ticks;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->objectName() != QStringLiteral("frmProgress") || !widget->isVisible()) continue;
      const QString elapsed = widget->findChild<QLabel*>(QStringLiteral("lblElapsed"))->text();
      if (elapsedTexts.isEmpty() || elapsedTexts.back() != elapsed) elapsedTexts << elapsed;
      shownMessages = widget->findChild<QPlainTextEdit*>(QStringLiteral("memMessages"))->toPlainText();
    }
  });
  sampler.start();
  const auto caller = std::this_thread::get_id();
  std::thread::id worker;
  runWithProgress(&owner, QStringLiteral("バックアップ"), [&](const ProgressReport& report) {
    worker = std::this_thread::get_id();
    report(QStringLiteral("10 percent processed."));
    std::this_thread::sleep_for(std::chrono::milliseconds(1300));
    report(QStringLiteral("20 percent processed."));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    done = true;
  });
  EXPECT_TRUE(done);  // the call returned only after the work
  EXPECT_NE(worker, caller);
  EXPECT_GE(ticks, 10);               // the caller's timers kept firing throughout
  EXPECT_GE(elapsedTexts.size(), 2);  // and the time shown advanced
  EXPECT_TRUE(elapsedTexts.front().startsWith(QStringLiteral("経過時間 00:00:0")));
  EXPECT_EQ(shownMessages, QStringLiteral("10 percent processed.\n20 percent processed."));
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->objectName() == QStringLiteral("frmProgress")) {
      EXPECT_FALSE(widget->isVisible());
    }
  }
}

TEST(RunWithProgress, AnExceptionOfTheWorkIsRaisedAgainOnTheCallersThread) {
  const auto caller = std::this_thread::get_id();
  try {
    runWithProgress(nullptr, QStringLiteral("レストア"),
                    [](const ProgressReport&) { throw std::runtime_error("the worker failed"); });
    FAIL() << "nothing was raised";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "the worker failed");
    EXPECT_EQ(std::this_thread::get_id(), caller);
  }
}

TEST(RunWithProgress, TheWindowSitsInTheMiddleOfItsOwnerAtItsOwnSize) {
  QWidget owner;
  owner.setGeometry(100, 80, 426, 511);
  owner.show();
  QRect shown;
  runWithProgress(&owner, QStringLiteral("バックアップ"), [&](const ProgressReport&) {
    QMetaObject::invokeMethod(
        qApp,
        [&] {
          for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == QStringLiteral("frmProgress") && widget->isVisible())
              shown = widget->geometry();
          }
        },
        Qt::BlockingQueuedConnection);
  });
  ASSERT_TRUE(shown.isValid());
  EXPECT_EQ(shown.size(), shown.size().boundedTo(owner.size())) << "no larger than the main window";
  EXPECT_LE((shown.center() - owner.geometry().center()).manhattanLength(), 4)
      << shown.x() << "," << shown.y() << " " << shown.width() << "x" << shown.height();
}

}  // namespace
