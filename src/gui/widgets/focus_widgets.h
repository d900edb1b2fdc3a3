// Edits that report focus moves within their window. Qt also moves the focus when a message
// box or popup opens or closes, or the window is (de)activated; those moves are not the user
// leaving or entering the control, so they are not reported (a failed login would otherwise
// repeat its box forever).
#pragma once

#include <QComboBox>
#include <QFocusEvent>
#include <QLineEdit>

namespace bv::widgets {

inline bool isMoveWithinWindow(Qt::FocusReason reason) {
  switch (reason) {
    case Qt::MouseFocusReason:
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
    case Qt::OtherFocusReason:
      return true;
    default:
      return false;
  }
}

class FocusReportingLineEdit : public QLineEdit {
  Q_OBJECT
 public:
  using QLineEdit::QLineEdit;
 signals:
  void focusEntered();
  void focusLeft();

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QLineEdit::focusInEvent(event);
    if (isMoveWithinWindow(event->reason())) emit focusEntered();
  }
  void focusOutEvent(QFocusEvent* event) override {
    QLineEdit::focusOutEvent(event);
    if (isMoveWithinWindow(event->reason())) emit focusLeft();
  }
};

class FocusReportingComboBox : public QComboBox {
  Q_OBJECT
 public:
  using QComboBox::QComboBox;
 signals:
  void focusEntered();
  void focusLeft();

 protected:
  void focusInEvent(QFocusEvent* event) override {
    QComboBox::focusInEvent(event);
    if (isMoveWithinWindow(event->reason())) emit focusEntered();
  }
  void focusOutEvent(QFocusEvent* event) override {
    QComboBox::focusOutEvent(event);
    if (isMoveWithinWindow(event->reason())) emit focusLeft();
  }
};

}  // namespace bv::widgets
