#include "gui/forms/uRestorePoint.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <set>

#include "core/maintenance/backup_history.h"
#include "core/maintenance/restore_run.h"
#include "core/maintenance/restore_sets.h"
#include "gui/widgets/error_report.h"
#include "gui/widgets/form_layout.h"
#include "gui/widgets/progress_window.h"
#include "gui/widgets/prompts.h"
#include "gui/widgets/qt_text.h"
#include "gui/widgets/wait_cursor.h"

namespace bv::forms {

using widgets::guarded;
using widgets::named;
using widgets::prompts;
using widgets::toQString;
using widgets::toUtf8;

namespace {

const widgets::ListColumn kPlanColumns[] = {
    {"種類", 50}, {"終了日時", 130}, {"サイズ", 80}, {"位置", 40}, {"停止時点", 130}, {"ファイル", 330},
};

const QString kBreak = QStringLiteral("\r\n\r\n");

}  // namespace

TfrmRestorePoint::TfrmRestorePoint(QWidget* parent) : QDialog(parent, widgets::dialogFlags()) {
  setObjectName(QStringLiteral("frmRestorePoint"));
  setWindowTitle(QStringLiteral("復元ポイントを選んで復元"));
  auto* root = new QVBoxLayout(this);

  gbxSource = named(new QGroupBox(QStringLiteral("復元元"), this), "gbxSource");
  auto* source = new QGridLayout(gbxSource);
  rbFromHistory = named(new QRadioButton(QStringLiteral("サーバーの履歴から"), gbxSource), "rbFromHistory");
  rbFromFiles = named(new QRadioButton(QStringLiteral("バックアップファイルから"), gbxSource), "rbFromFiles");
  editFolder = named(new QLineEdit(gbxSource), "editFolder");
  editFolder->setPlaceholderText(QStringLiteral("サーバー上のフォルダ"));
  btnReadFiles = named(new QPushButton(QStringLiteral("読み込む"), gbxSource), "btnReadFiles");
  lblOtherSets = named(new QLabel(gbxSource), "lblOtherSets");
  lblOtherSets->setWordWrap(true);
  rbFromHistory->setChecked(true);
  source->addWidget(rbFromHistory, 0, 0, 1, 3);
  source->addWidget(rbFromFiles, 1, 0);
  source->addWidget(editFolder, 1, 1);
  source->addWidget(btnReadFiles, 1, 2);
  source->addWidget(lblOtherSets, 2, 0, 1, 3);
  root->addWidget(gbxSource);

  gbxMoment = named(new QGroupBox(QStringLiteral("復元する時点"), this), "gbxMoment");
  auto* momentBox = new QGridLayout(gbxMoment);
  rbLatest = named(new QRadioButton(QStringLiteral("最新の状態"), gbxMoment), "rbLatest");
  rbMoment = named(new QRadioButton(QStringLiteral("日時を指定（サーバーの時計）"), gbxMoment), "rbMoment");
  dtpMoment = named(new QDateTimeEdit(QDateTime::currentDateTime(), gbxMoment), "dtpMoment");
  dtpMoment->setDisplayFormat(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
  dtpMoment->setCalendarPopup(true);
  lblRange = named(new QLabel(gbxMoment), "lblRange");
  lblRange->setWordWrap(true);
  rbLatest->setChecked(true);
  momentBox->addWidget(rbLatest, 0, 0);
  momentBox->addWidget(rbMoment, 1, 0);
  momentBox->addWidget(dtpMoment, 1, 1, Qt::AlignLeft);
  momentBox->addWidget(lblRange, 2, 0, 1, 2);
  root->addWidget(gbxMoment);

  root->addWidget(named(new QLabel(QStringLiteral("復元するバックアップ（この順に復元します）"), this), "lblPlanCaption"));
  lvPlan = named(new QTreeWidget(this), "lvPlan");
  widgets::makeReportList(lvPlan, kPlanColumns, 150);
  lvPlan->setUniformRowHeights(true);  // years of logs: rows of one height are laid out at once
  root->addWidget(lvPlan, 1);
  lblPlan = named(new QLabel(this), "lblPlan");
  lblPlan->setWordWrap(true);
  root->addWidget(lblPlan);

  gbxTarget = named(new QGroupBox(QStringLiteral("復元先（別の名前で復元）"), this), "gbxTarget");
  auto* target = new QGridLayout(gbxTarget);
  lblNewName = named(new QLabel(QStringLiteral("新しいデータベース名"), gbxTarget), "lblNewName");
  editNewName = named(new QLineEdit(gbxTarget), "editNewName");
  editNewName->setMaxLength(128);
  chkCheckAfter = named(new QCheckBox(QStringLiteral("復元後に整合性チェックを行う"), gbxTarget), "chkCheckAfter");
  target->addWidget(lblNewName, 0, 0);
  target->addWidget(editNewName, 0, 1);
  target->addWidget(chkCheckAfter, 1, 0, 1, 2);
  target->addWidget(named(new QLabel(QStringLiteral("※元のデータベースは変更しません。"), gbxTarget), "lblTargetNote"),
                    2, 0, 1, 2);
  root->addWidget(gbxTarget);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  btnRestore = named(new QPushButton(QStringLiteral("復元"), this), "btnRestore");
  btnClose = named(new QPushButton(QStringLiteral("閉じる"), this), "btnClose");
  buttons->addWidget(btnRestore);
  buttons->addWidget(btnClose);
  root->addLayout(buttons);

  for (QRadioButton* button : {rbFromHistory, rbFromFiles})
    connect(button, &QRadioButton::toggled, this, guarded(this, &TfrmRestorePoint::rbSourceClick));
  for (QRadioButton* button : {rbLatest, rbMoment})
    connect(button, &QRadioButton::toggled, this, guarded(this, &TfrmRestorePoint::MomentChange));
  connect(dtpMoment, &QDateTimeEdit::dateTimeChanged, this, guarded(this, &TfrmRestorePoint::MomentChange));
  connect(btnReadFiles, &QPushButton::clicked, this, guarded(this, &TfrmRestorePoint::btnReadFilesClick));
  connect(btnRestore, &QPushButton::clicked, this, guarded(this, &TfrmRestorePoint::btnRestoreClick));
  connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
  rbSourceClick();
  resize(780, 620);
}

bool TfrmRestorePoint::HandOver(const db::LoginSettings& login, const QString& databaseName) {
  FLogin = login;
  FDatabaseName = databaseName;
  setWindowTitle(QStringLiteral("復元ポイントを選んで復元 - ") + databaseName);
  editNewName->setText(databaseName + QStringLiteral("_restored"));
  maintenance::RestoreSource source;
  try {
    widgets::WaitCursor hourglass;
    source = maintenance::readRestoreSource(db::loginConnectionSettings(FLogin), toUtf8(databaseName));
  } catch (const db::ProviderError& error) {
    prompts().error(this, QStringLiteral("バックアップ履歴の取得でエラーが発生しました。") + kBreak +
                              QString::fromUtf8(error.what()));
    return false;
  }
  if (source.tooOld) {
    prompts().information(this, toQString(maintenance::kRestorePointNeedsNewerServer));
    return false;
  }
  FSimpleRecovery = source.simpleRecovery;
  FHistorySets = std::move(source.sets);
  // A moment to start from: the latest the history reaches.
  const auto latest = maintenance::planRestore(toUtf8(databaseName), FHistorySets, {}, FSimpleRecovery);
  if (const auto* plan = std::get_if<maintenance::RestorePlan>(&latest)) {
    const QDateTime reaches = QDateTime::fromString(toQString(plan->reaches), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (reaches.isValid()) dtpMoment->setDateTime(reaches);
  }
  FillRange();
  FillPlan();
  return true;
}

void TfrmRestorePoint::rbSourceClick() {
  const bool files = rbFromFiles->isChecked();
  editFolder->setEnabled(files);
  btnReadFiles->setEnabled(files);
  lblOtherSets->setVisible(files);
  FillRange();
  FillPlan();
}

void TfrmRestorePoint::btnReadFilesClick() {
  const std::string folder = toUtf8(editFolder->text().trimmed());
  if (folder.empty()) {
    prompts().error(this, QStringLiteral("バックアップファイルのあるフォルダを入力してください。"));
    editFolder->setFocus(Qt::OtherFocusReason);
    return;
  }
  maintenance::FileSets read;
  std::optional<std::string> failure;
  widgets::runWithProgress(this, QStringLiteral("バックアップファイルの読み込み"), [&](const widgets::ProgressReport& report) {
    try {
      read = maintenance::readFolderSets(db::loginConnectionSettings(FLogin), folder, [&](std::size_t i, std::size_t n) {
        report(QStringLiteral("%1 / %2").arg(i + 1).arg(n));
        return true;
      });
    } catch (const db::ProviderError& error) {
      failure = error.what();
    }
  });
  if (failure) {
    prompts().error(this, QStringLiteral("バックアップファイルの読み込みでエラーが発生しました。") + kBreak +
                              QString::fromUtf8(failure->c_str()));
    return;
  }
  FFileSets = std::move(read.sets);
  // Sets of other databases are named apart and never used.
  std::set<std::string> others;
  for (const auto& set : FFileSets)
    if (QString::fromUtf8(set.database.c_str()).compare(FDatabaseName, Qt::CaseInsensitive) != 0)
      others.insert(set.database);
  QString note;
  if (!others.empty()) {
    note = QStringLiteral("ほかのデータベースのバックアップ（使用しません）：");
    for (const auto& name : others) note += toQString(name) + QStringLiteral(" ");
  }
  for (const auto& unreadable : read.unreadable) note += QStringLiteral("\n読めないファイル：") + toQString(unreadable);
  lblOtherSets->setText(note.trimmed());
  FillRange();
  FillPlan();
}

void TfrmRestorePoint::MomentChange() {
  dtpMoment->setEnabled(rbMoment->isChecked());
  FillPlan();
}

void TfrmRestorePoint::FillRange() {
  const auto& sets = rbFromFiles->isChecked() ? FFileSets : FHistorySets;
  lblRange->setText(toQString(maintenance::reachableText(toUtf8(FDatabaseName), sets, FSimpleRecovery)));
}

void TfrmRestorePoint::FillPlan() {
  const auto& sets = rbFromFiles->isChecked() ? FFileSets : FHistorySets;
  const std::string database = toUtf8(FDatabaseName);
  maintenance::RestoreMoment moment;
  if (rbMoment->isChecked())
    moment.at = toUtf8(dtpMoment->dateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
  lvPlan->clear();
  FPlan.reset();
  const maintenance::PlanOutcome outcome = maintenance::planRestore(database, sets, moment, FSimpleRecovery);
  if (const auto* refusal = std::get_if<maintenance::PlanRefusal>(&outcome)) {
    lblPlan->setStyleSheet(QStringLiteral("color: red"));
    lblPlan->setText(toQString(refusal->message));
    btnRestore->setEnabled(false);
    return;
  }
  FPlan = std::get<maintenance::RestorePlan>(outcome);
  // In one go: a plan of years of logs is listed at once.
  QList<QTreeWidgetItem*> items;
  items.reserve(static_cast<qsizetype>(FPlan->steps.size()));
  for (const auto& step : FPlan->steps) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, toQString(maintenance::backupTypeText(step.set.type)));
    item->setText(1, toQString(maintenance::momentText(step.set.finished)));
    item->setText(2, toQString(maintenance::sizeText(step.set.sizeBytes)));
    item->setText(3, QString::number(step.set.position));
    if (step.stopAt) item->setText(4, toQString(maintenance::momentText(*step.stopAt)));
    item->setText(5, toQString(step.set.file));
    item->setToolTip(5, item->text(5));  // the whole path where the column cuts it off
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    items.append(item);
  }
  lvPlan->addTopLevelItems(items);
  QString summary = toQString(maintenance::planSummaryText(*FPlan));
  if (!FPlan->skippedDifferentials.empty())
    summary += QStringLiteral("（古い差分バックアップ %1 個は使用しません）").arg(FPlan->skippedDifferentials.size());
  lblPlan->setStyleSheet(QString());
  lblPlan->setText(summary);
  btnRestore->setEnabled(true);
}

void TfrmRestorePoint::btnRestoreClick() {
  if (!FPlan) return;
  const QString newName = editNewName->text().trimmed();
  if (newName.isEmpty()) {
    prompts().error(this, QStringLiteral("新しいデータベース名を入力してください。"));
    editNewName->setFocus(Qt::OtherFocusReason);
    return;
  }
  maintenance::RestoreRunOutcome outcome;
  const maintenance::RestorePlan plan = *FPlan;
  widgets::runWithProgress(this, QStringLiteral("復元"), [&](const widgets::ProgressReport& report) {
    outcome = maintenance::restoreUnderNewName(
        db::loginConnectionSettings(FLogin), toUtf8(FDatabaseName), toUtf8(newName), plan, chkCheckAfter->isChecked(),
        [&](std::size_t index, std::size_t count, const maintenance::BackupSetEntry& set) {
          report(QStringLiteral("%1 / %2  %3").arg(index + 1).arg(count).arg(toQString(set.file)));
        });
  });
  if (outcome.succeeded) {
    prompts().information(this, toQString(outcome.message));
  } else {
    prompts().error(this, toQString(outcome.message));
  }
}

}  // namespace bv::forms
