// Widget tests run the real forms on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

#include "gui/widgets/interface_font.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  QApplication::setFont(bv::widgets::interfaceFont());
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
