// The start-up benchmark's yardsticks end as the program does under
// BRACKENVALE_EXIT_AFTER_PAINT=1: once their window's first paint is done (and flushed to the
// screen) they write "painted" on their standard output and end.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <cstdio>

class ExitAfterFirstPaint : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      watched->removeEventFilter(this);
      QMetaObject::invokeMethod(
          qApp,
          [] {
            std::fputs("painted\n", stdout);
            std::fflush(stdout);
            QCoreApplication::exit(0);
          },
          Qt::QueuedConnection);
    }
    return false;
  }
};
