#include "gui/forms/uLogBackup.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "core/maintenance/operations.h"
#include "core/maintenance/truncation.h"
#include "gui/widgets/error_report.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"

namespace bv::forms {

using widgets::guarded;
using widgets::place;
using widgets::prompts;
using widgets::toQString;
using widgets::toUtf8;

TfrmLogBackup::TfrmLogBackup(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("frmLogBackup"));
  setWindowTitle(toQString(maintenance::kLogBackupFileCaption));
  setModal(true);
  lblLogBackFile =
      place(new QLabel(QStringLiteral("ログのバックアップ先（サーバ上のファイル）"), this), "lblLogBackFile", 12, 12);
  editLogBackFile = place(new QLineEdit(this), "editLogBackFile", 12, 32, 330, 20);
  bbnLogBackFileOpen = place(new QPushButton(this), "bbnLogBackFileOpen", 346, 32, 24, 20);
  bbnLogBackFileOpen->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  bbnLogBackFileOpen->setToolTip(QStringLiteral("ファイルを選択します"));
  lblDateNote = place(new QLabel(QStringLiteral("※「%date%」は実行した年月日に置換されます。\n　同じファイルには追記します。"), this),
                      "lblDateNote", 12, 58);
  QPalette palette = lblDateNote->palette();
  palette.setColor(QPalette::WindowText, Qt::red);
  lblDateNote->setPalette(palette);
  btnOK = place(new QPushButton(QStringLiteral("OK"), this), "btnOK", 214, 100, 75, 25);
  btnCancel = place(new QPushButton(QStringLiteral("キャンセル"), this), "btnCancel", 295, 100, 75, 25);
  btnOK->setDefault(true);
  setFixedSize(382, 136);
  connect(btnOK, &QPushButton::clicked, this, guarded(this, &TfrmLogBackup::btnOKClick));
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(bbnLogBackFileOpen, &QPushButton::clicked, this, guarded(this, &TfrmLogBackup::bbnLogBackFileOpenClick));
}

std::optional<QString> TfrmLogBackup::AskFile(const QString& initial, bool serverIsLocal) {
  editLogBackFile->setText(initial);
  bbnLogBackFileOpen->setEnabled(serverIsLocal);
  editLogBackFile->setFocus(Qt::OtherFocusReason);
  if (exec() != QDialog::Accepted) return std::nullopt;
  return editLogBackFile->text();
}

void TfrmLogBackup::btnOKClick() {
  // The checks of a backup file: given, and one the batch carries exactly.
  if (const auto problem = maintenance::checkBackupFile(toUtf8(editLogBackFile->text()))) {
    prompts().error(this, toQString(problem->message));
    editLogBackFile->setFocus(Qt::OtherFocusReason);
    return;
  }
  accept();
}

void TfrmLogBackup::bbnLogBackFileOpenClick() {
  if (const auto path = prompts().openFileName(this)) editLogBackFile->setText(*path);
}

}  // namespace bv::forms
