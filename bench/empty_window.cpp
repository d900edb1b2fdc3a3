// The start-up benchmark's yardstick: the least a Qt Widgets program does to put a window of the
// main window's size on the screen. One application, one empty widget of 426 x 511, shown; once
// its first paint is done it writes "painted" on its standard output and ends, as Brackenvale
// does under BRACKENVALE_EXIT_AFTER_PAINT=1. It shares no code with the program on purpose.
#include <QApplication>
#include <QEvent>
#include <QWidget>
#include <cstdio>

namespace {

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

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setFixedSize(426, 511);
  ExitAfterFirstPaint exitAfterPaint;
  window.installEventFilter(&exitAfterPaint);
  window.show();
  return QApplication::exec();
}
