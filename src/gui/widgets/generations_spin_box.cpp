#include "gui/widgets/generations_spin_box.h"

#include <algorithm>

namespace bv::widgets {

GenerationsSpinBox::GenerationsSpinBox(int fewest, int most, QWidget* parent) : QSpinBox(parent), fewest_(fewest) {
  setRange(0, most);
  setSpecialValueText(QStringLiteral("無制限"));
  setValue(0);
}

void GenerationsSpinBox::stepBy(int steps) {
  int next = value() + steps;
  if (next > 0 && next < fewest_) next = steps > 0 ? fewest_ : 0;
  if (value() >= fewest_ && next < fewest_) next = 0;
  setValue(std::clamp(next, minimum(), maximum()));
}

}  // namespace bv::widgets
