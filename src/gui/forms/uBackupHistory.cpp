#include "gui/forms/uBackupHistory.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "gui/widgets/error_report.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/qt_text.h"

namespace bv::forms {

using widgets::guarded;
using widgets::named;
using widgets::toQString;

namespace {

const widgets::ListColumn kColumns[] = {
    {"終了日時", 150}, {"種類", 50}, {"ファイル", 300}, {"サイズ", 80}, {"テストレストア", 100},
};

}  // namespace

TfrmBackupHistory::TfrmBackupHistory(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("frmBackupHistory"));
  setModal(true);
  auto* root = new QVBoxLayout(this);
  lblSummary = named(new QLabel(this), "lblSummary");
  root->addWidget(lblSummary);
  lvHistory = named(new QTreeWidget(this), "lvHistory");
  widgets::makeReportList(lvHistory, kColumns, 300);
  lvHistory->setSelectionMode(QAbstractItemView::ExtendedSelection);
  root->addWidget(lvHistory, 1);
  const widgets::CopyCloseRow buttons =
      widgets::makeCopyCloseRow(this, lvHistory, guarded(this, &TfrmBackupHistory::btnCopyClick));
  btnCopy = buttons.copy;
  btnClose = buttons.close;
  root->addLayout(buttons.row);
}

void TfrmBackupHistory::FillHistory(const QString& databaseName, const maintenance::BackupHistory& history) {
  setWindowTitle(QStringLiteral("バックアップ履歴 - ") + databaseName);
  lblSummary->setText(toQString(maintenance::historyHeader(history)));
  lvHistory->clear();
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<int>(history.rows.size()));
  for (const maintenance::HistoryRow& row : history.rows) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, toQString(row.finished));
    item->setText(1, toQString(maintenance::backupTypeText(row.type)));
    item->setText(2, toQString(row.file));
    item->setText(3, toQString(maintenance::sizeText(row.sizeBytes)));
    item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    item->setText(4, toQString(maintenance::proofVerdictText(row.proof)));
    items.append(item);
  }
  lvHistory->addTopLevelItems(items);  // in one go: a thousand rows open at once
}

QString TfrmBackupHistory::HistoryText() const { return widgets::reportListText(lvHistory); }

void TfrmBackupHistory::btnCopyClick() { QApplication::clipboard()->setText(HistoryText()); }

}  // namespace bv::forms
