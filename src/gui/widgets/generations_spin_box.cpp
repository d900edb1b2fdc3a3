#include "gui/widgets/generations_spin_box.h"

#include <algorithm>

namespace bv::widgets {

GenerationsSpinBox::GenerationsSpinBox(QWidget* parent) : QSpinBox(parent) {
  setRange(0, 365);
  setSpecialValueText(QStringLiteral("無制限"));
  setValue(0);
}

void GenerationsSpinBox::stepBy(int steps) {
  int next = value() + steps;
  if (next == 1) next = steps > 0 ? 2 : 0;
  if (value() >= 2 && next < 2) next = 0;
  setValue(std::clamp(next, minimum(), maximum()));
}

}  // namespace bv::widgets
