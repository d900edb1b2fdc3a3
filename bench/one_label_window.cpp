// What text alone costs at start-up: the empty window (empty_window.cpp) with one Japanese
// caption in the program's interface font. Compared with the empty window it measures
// fontconfig's start, the font's opening and one caption's shaping and drawing, which every
// window that shows Japanese text pays:
//   startup_bench --program build/bin/one_label_window
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include "exit_after_paint.h"
#include "gui/widgets/interface_font.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setFont(bv::widgets::interfaceFont());
  QWidget window;
  window.setFixedSize(426, 511);
  auto* caption = new QLabel(QStringLiteral("データベースサーバー"), &window);
  caption->move(16, 16);
  ExitAfterFirstPaint exitAfterPaint;
  window.installEventFilter(&exitAfterPaint);
  window.show();
  return QApplication::exec();
}
