// The number of backup files to keep: 0 shown as "無制限", otherwise `fewest` to `most` (the form
// hands in the core's range). The arrows and the page keys step over the counts below `fewest`
// (one generation is never offered: an INIT backup on the same day would overwrite the only
// copy); typing one is possible and refused by the request's check.
#pragma once

#include <QSpinBox>

namespace bv::widgets {

class GenerationsSpinBox : public QSpinBox {
 public:
  GenerationsSpinBox(int fewest, int most, QWidget* parent = nullptr);
  void stepBy(int steps) override;

 private:
  int fewest_;
};

}  // namespace bv::widgets
