#include "gui/forms/uAccount.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>

#include "core/tasks/TaskScdl.h"
#include "core/tasks/task_registration.h"
#include "gui/widgets/error_report.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/password_edit.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"
#include "gui/widgets/wait_cursor.h"

namespace bv::forms {

using widgets::guarded;
using widgets::place;
using widgets::prompts;
using widgets::toQString;
using widgets::toUtf8;

namespace {

const QString kPasswordsDiffer = QStringLiteral("パスワードが一致しません。もう一度やり直してください。");
const QString kAccountRefused = QStringLiteral("ユーザー名またはパスワードが間違っています。");

}  // namespace

TfrmAccount::TfrmAccount(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("frmAccount"));
  setWindowTitle(QStringLiteral("ユーザ情報入力"));
  setModal(true);
  BuildControls();
  setFixedSize(300, 150);
  connect(btnOK, &QPushButton::clicked, this, guarded(this, &TfrmAccount::btnOKClick));
  connect(btnChancel, &QPushButton::clicked, this, guarded(this, &TfrmAccount::btnChancelClick));
}

TfrmAccount::~TfrmAccount() = default;

void TfrmAccount::BuildControls() {
  lblGuide = place(new QLabel(QStringLiteral("タスクを実行するユーザを指定してください。"), this), "lblGuide",
                   12, 10);
  lblUserName = place(new QLabel(QStringLiteral("ユーザ名"), this), "lblUserName", 12, 38);
  editUserName = place(new QLineEdit(this), "editUserName", 140, 34, 146, 20);
  lblPasswd0 = place(new QLabel(QStringLiteral("パスワード"), this), "lblPasswd0", 12, 64);
  editPasswd0 = place(widgets::makePasswordEdit(this), "editPasswd0", 140, 60, 146, 20);
  lblPasswd1 = place(new QLabel(QStringLiteral("パスワードの確認入力"), this), "lblPasswd1", 12, 90);
  editPasswd1 = place(widgets::makePasswordEdit(this), "editPasswd1", 140, 86, 146, 20);
  btnOK = place(new QPushButton(QStringLiteral("OK"), this), "btnOK", 130, 116, 75, 25);
  btnChancel = place(new QPushButton(QStringLiteral("Cnacel"), this), "btnChancel", 211, 116, 75, 25);
  btnOK->setDefault(true);
  setTabOrder(editUserName, editPasswd0);
  setTabOrder(editPasswd0, editPasswd1);
  setTabOrder(editPasswd1, btnOK);
  setTabOrder(btnOK, btnChancel);
  for (QLabel* passive : findChildren<QLabel*>()) passive->setFocusPolicy(Qt::NoFocus);
}

void TfrmAccount::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) {
    // Centred on the window that opened it.
    if (QWidget* owner = parentWidget()) move(owner->frameGeometry().center() - rect().center());
    guarded(this, &TfrmAccount::FormShow)();
  }
}

void TfrmAccount::FormShow() {
  editUserName->setText(toQString(tasks::GetLogonUserName()));
  editPasswd0->clear();
  editPasswd1->clear();
  editPasswd0->setFocus(Qt::OtherFocusReason);
}

QString TfrmAccount::UserName() const { return editUserName->text().trimmed(); }

QString TfrmAccount::Password() const { return editPasswd0->text().trimmed(); }

void TfrmAccount::btnOKClick() {
  if (editPasswd0->text() != editPasswd1->text()) {
    prompts().error(this, kPasswordsDiffer);
    editPasswd0->clear();
    editPasswd1->clear();
    editPasswd0->setFocus(Qt::OtherFocusReason);
    return;
  }
  bool proved = false;
  {
    widgets::WaitCursor hourglass;
    proved = tasks::proveRunAsAccount(toUtf8(UserName()), toUtf8(Password()));
  }
  if (!proved) {
    prompts().error(this, kAccountRefused);
    return;
  }
  accept();
}

void TfrmAccount::btnChancelClick() { reject(); }

}  // namespace bv::forms
