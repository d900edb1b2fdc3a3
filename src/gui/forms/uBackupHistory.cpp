#include "gui/forms/uBackupHistory.h"

#include <QLabel>
#include <QTreeWidget>

#include "gui/widgets/form_layout.h"
#include "gui/widgets/qt_text.h"

namespace bv::forms {

using widgets::named;
using widgets::toQString;

namespace {

const widgets::ListColumn kColumns[] = {
    {"終了日時", 150}, {"種類", 50}, {"ファイル", 300}, {"サイズ", 80}, {"テストレストア", 100}, {"後続", 120},
};

}  // namespace

TfrmBackupHistory::TfrmBackupHistory(QWidget* parent)
    : HistoryDialog(parent, "frmBackupHistory", "lvHistory", kColumns, 300), lvHistory(list()) {
  lblSummary = named(new QLabel(this), "lblSummary");
  addAboveList(lblSummary);
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
    item->setText(5, toQString(maintenance::followingText(row)));
    items.append(item);
  }
  lvHistory->addTopLevelItems(items);  // in one go: a thousand rows open at once
}

}  // namespace bv::forms
