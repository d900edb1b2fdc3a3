// Placing a control the way the forms are drawn: a name (its objectName) and a place in pixels
// within its parent; without a size it takes the size its contents ask for.
#pragma once

#include <QString>
#include <QWidget>

namespace bv::widgets {

template <typename W>
W* place(W* widget, const char* name, int left, int top, int width = -1, int height = -1) {
  widget->setObjectName(QString::fromLatin1(name));
  if (width < 0) {
    widget->adjustSize();
    widget->move(left, top);
  } else {
    widget->setGeometry(left, top, width, height);
  }
  return widget;
}

}  // namespace bv::widgets
