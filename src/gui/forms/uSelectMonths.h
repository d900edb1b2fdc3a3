// The dialog "月の選択" that the schedule page's "月の選択..." opens for a monthly schedule: the
// twelve months as check boxes in three columns of four. OK with no month checked is refused.
#pragma once

#include <QDialog>
#include <array>
#include <cstdint>

class QCheckBox;

namespace bv::forms {

class TfrmSelectMonths : public QDialog {
  Q_OBJECT

 public:
  // `months`: the months checked at first, January in bit 0.
  TfrmSelectMonths(std::uint16_t months, QWidget* parent);
  // The months checked, January in bit 0.
  std::uint16_t Months() const;
  void accept() override;

 private:
  // Controls, each with its objectName (chkMonth1 ... chkMonth12).
  std::array<QCheckBox*, 12> FMonthBoxes{};
};

}  // namespace bv::forms
