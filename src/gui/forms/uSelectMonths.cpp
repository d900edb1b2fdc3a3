#include "gui/forms/uSelectMonths.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/tasks/schedule_mapping.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"

namespace bv::forms {

using widgets::named;
using widgets::prompts;
using widgets::toQString;

TfrmSelectMonths::TfrmSelectMonths(std::uint16_t months, QWidget* parent)
    : QDialog(parent, widgets::dialogFlags()) {
  setObjectName(QStringLiteral("frmSelectMonths"));
  setWindowTitle(QStringLiteral("月の選択"));
  setModal(true);
  auto* root = new QVBoxLayout(this);
  auto* group = named(new QGroupBox(QStringLiteral("実行する月"), this), "gbxMonths");
  auto* grid = new QGridLayout(group);
  for (int month = 1; month <= 12; ++month) {
    const QByteArray name = "chkMonth" + QByteArray::number(month);
    auto* box = named(new QCheckBox(QStringLiteral("%1月").arg(month), group), name.constData());
    box->setChecked((months >> (month - 1) & 1u) != 0);
    // Three columns of four, down first: January to April, May to August, September to
    // December.
    grid->addWidget(box, (month - 1) % 4, (month - 1) / 4);
    FMonthBoxes[static_cast<std::size_t>(month - 1)] = box;
  }
  root->addWidget(group);
  QPushButton* ok = nullptr;
  QPushButton* cancel = nullptr;
  root->addLayout(widgets::okCancelRow(this, ok, cancel));
  widgets::makeOkTheDefault(this, ok);
}

std::uint16_t TfrmSelectMonths::Months() const {
  std::uint16_t months = 0;
  for (std::size_t month = 0; month < FMonthBoxes.size(); ++month) {
    if (FMonthBoxes[month]->isChecked()) months = static_cast<std::uint16_t>(months | (1u << month));
  }
  return months;
}

void TfrmSelectMonths::accept() {
  if (Months() == 0) {
    prompts().error(this, toQString(tasks::kScheduleNoMonth));
    FMonthBoxes[0]->setFocus(Qt::OtherFocusReason);
    return;
  }
  QDialog::accept();
}

}  // namespace bv::forms
