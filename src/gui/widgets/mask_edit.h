// A line edit with an input mask whose text keeps the mask's shape: a position left empty
// reads as a blank, so the text always has the mask's full length (as a masked edit that
// saves its literals does). Empty positions show the mask's blank character.
#pragma once

#include <QLineEdit>
#include <QString>

namespace bv::widgets {

class MaskEdit : public QLineEdit {
  Q_OBJECT
 public:
  // qtMask: Qt's mask letters ("0" optional digit, "9" required digit); blank: the character
  // shown for an empty position.
  MaskEdit(const QString& qtMask, QChar blank, QWidget* parent = nullptr) : QLineEdit(parent), blank_(blank) {
    setInputMask(qtMask + QLatin1Char(';') + blank);
  }

  // Every position, an empty one as a blank: "  :  :  " for an untouched time mask.
  QString maskedText() const {
    QString text = displayText();
    text.replace(blank_, QLatin1Char(' '));
    return text;
  }

  // Fills the positions from a text of the mask's shape; a blank leaves its position empty.
  void setMaskedText(const QString& text) {
    QString shown = text;
    shown.replace(QLatin1Char(' '), blank_);
    setText(shown);
  }

 private:
  QChar blank_;
};

}  // namespace bv::widgets
