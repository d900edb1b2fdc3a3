// The number of backup files to keep: 0 shown as "無制限", otherwise 2 to 365. The arrows and the
// page keys step over 1 (one generation is never offered: an INIT backup on the same day would
// overwrite the only copy); typing 1 is possible and refused by the request's check.
#pragma once

#include <QSpinBox>

namespace bv::widgets {

class GenerationsSpinBox : public QSpinBox {
 public:
  explicit GenerationsSpinBox(QWidget* parent = nullptr);
  void stepBy(int steps) override;
};

}  // namespace bv::widgets
