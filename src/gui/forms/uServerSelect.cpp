#include "gui/forms/uServerSelect.h"

#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QWindow>
#include <memory>
#include <utility>

#include "gui/widgets/error_report.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/wait_cursor.h"

namespace bv::forms {

using widgets::guarded;
using widgets::place;

TfrmServerList::TfrmServerList(QWidget* parent)
    : TfrmServerList(servers::platformEnumeratorFactory(), parent) {}

TfrmServerList::TfrmServerList(servers::ServerEnumeratorFactory enumerators, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      FEnumerators(std::move(enumerators)) {
  setObjectName(QStringLiteral("frmServerList"));
  setWindowTitle(QStringLiteral("サーバの選択"));
  setFixedSize(250, 226);
  BuildControls();
}

TfrmServerList::~TfrmServerList() = default;

void TfrmServerList::BuildControls() {
  Label1 = place(new QLabel(QStringLiteral("現在、ネットワーク上で以下のサーバが"), this), "Label1", 20, 8);
  Label2 = place(new QLabel(QStringLiteral("利用できます。"), this), "Label2", 20, 24);
  Label1->setFocusPolicy(Qt::NoFocus);
  Label2->setFocusPolicy(Qt::NoFocus);

  lstServer = place(new QListWidget(this), "lstServer", 12, 44, 225, 145);
  lstServer->setSelectionMode(QAbstractItemView::SingleSelection);
  // A double click anywhere in the box, on an entry or below the last one.
  lstServer->viewport()->installEventFilter(this);

  BitBtn1 = place(new QPushButton(QStringLiteral("OK"), this), "BitBtn1", 24, 196, 75, 25);
  BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  BitBtn1->setDefault(true);
  BitBtn2 = place(new QPushButton(QStringLiteral("キャンセル"), this), "BitBtn2", 152, 196, 75, 25);
  BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

  setTabOrder(lstServer, BitBtn1);
  setTabOrder(BitBtn1, BitBtn2);
  lstServer->setFocus(Qt::OtherFocusReason);
}

std::optional<QString> TfrmServerList::ChooseServer() {
  if (exec() != QDialog::Accepted) return std::nullopt;
  return GetSelectedServer();
}

void TfrmServerList::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous()) return;  // the window system's re-show, not a new showing
  CentreOnScreen();
  guarded(this, &TfrmServerList::FormShow)();
}

void TfrmServerList::CentreOnScreen() {
  const QScreen* where = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
  if (where == nullptr) return;
  // The frame's size where the window system already knows it; the client area's otherwise.
  const QMargins frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
  const QSize outer = size().grownBy(frame);
  const QPoint centre = where->availableGeometry().center();
  move(centre.x() - outer.width() / 2 + 1, centre.y() - outer.height() / 2 + 1);
}

void TfrmServerList::FormShow() {
  FListFailed = false;
  lstServer->clear();
  try {
    FillList();
  } catch (...) {
    // The error goes on to the application's report; this showing lists nothing.
    lstServer->clear();
    FListFailed = true;
    throw;
  }
}

void TfrmServerList::FillList() {
  const widgets::WaitCursor wait;
  // Declared in this order, the name list is released before the enumerator, on every path.
  const std::unique_ptr<servers::ServerEnumerator> application = FEnumerators ? FEnumerators() : nullptr;
  if (!application) throw servers::EnumerationError("no server enumerator");
  const std::unique_ptr<servers::ServerNameList> names = application->ListAvailableSQLServers();
  if (!names) throw servers::EnumerationError("ListAvailableSQLServers returned no list");

  const long count = names->Count();
  for (long index = 1; index <= count; ++index) {
    lstServer->addItem(QString::fromStdString(names->Item(index)));
  }
  if (names->Count() >= 1) lstServer->setCurrentRow(0);
}

void TfrmServerList::lstServerDblClick() {
  if (ItemIndex() >= 0) accept();
}

int TfrmServerList::ItemIndex() const {
  const QList<QListWidgetItem*> selected = lstServer->selectedItems();
  return selected.isEmpty() ? -1 : lstServer->row(selected.first());
}

QString TfrmServerList::GetSelectedServer() const {
  const int index = ItemIndex();
  return index < 0 ? QString() : lstServer->item(index)->text();
}

void TfrmServerList::done(int result) { QDialog::done(FListFailed ? QDialog::Rejected : result); }

bool TfrmServerList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lstServer->viewport() && event->type() == QEvent::MouseButtonDblClick &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    guarded(this, &TfrmServerList::lstServerDblClick)();
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace bv::forms
