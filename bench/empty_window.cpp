// The start-up benchmark's yardstick: the least a Qt Widgets program does to put a window of the
// main window's size on the screen. One application, one empty widget of 426 x 511, shown; it
// ends after its first paint (exit_after_paint.h). It shares no code with the program on purpose.
#include <QApplication>
#include <QWidget>

#include "exit_after_paint.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QWidget window;
  window.setFixedSize(426, 511);
  ExitAfterFirstPaint exitAfterPaint;
  window.installEventFilter(&exitAfterPaint);
  window.show();
  return QApplication::exec();
}
