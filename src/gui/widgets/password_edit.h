// A password box that masks each character with "*", as the system's password boxes do (Qt's
// own styles use a bullet).
#pragma once

#include <QLineEdit>

namespace bv::widgets {

inline constexpr QChar kPasswordCharacter = QLatin1Char('*');

inline void maskWithAsterisks(QLineEdit* edit) {
  edit->setEchoMode(QLineEdit::Password);
  edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

inline QLineEdit* makePasswordEdit(QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  maskWithAsterisks(edit);
  return edit;
}

}  // namespace bv::widgets
