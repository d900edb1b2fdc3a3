// The restore-point dialog on the offscreen platform against the stand-in, through the real
// driver: the plan from the history for the latest and for a moment, a moment before every full
// refused, the restore under a new name, the plan from the files in a folder (another database's
// sets named apart), and SQL Server 2000, where the dialog is not offered.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "controls.h"
#include "core/maintenance/restore_plan.h"
#include "core/maintenance/restore_run.h"
#include "core/maintenance/restore_sets.h"
#include "gui/forms/uRestorePoint.h"
#include "odbc_client.h"
#include "prompt_recorder.h"
#include "standin_fixture.h"

namespace {

namespace fs = std::filesystem;
using bv::forms::TfrmRestorePoint;

QDateTime todayAt(int hour, int minute) { return QDateTime(QDate::currentDate(), QTime(hour, minute)); }

struct Dialog {
  explicit Dialog(bvtest::StandinFixture& standin) {
    ok = dialog.HandOver({standin.serverText(), true, "sa", standin.saPassword()}, QStringLiteral("Sample"));
  }
  QString cell(int row, int column) {
    return bvtest::control<QTreeWidget>(&dialog, "lvPlan")->topLevelItem(row)->text(column);
  }
  int rows() { return bvtest::control<QTreeWidget>(&dialog, "lvPlan")->topLevelItemCount(); }
  QString text(const char* label) { return bvtest::control<QLabel>(&dialog, label)->text(); }
  void moment(int hour, int minute) {
    bvtest::control<QRadioButton>(&dialog, "rbMoment")->click();
    bvtest::control<QDateTimeEdit>(&dialog, "dtpMoment")->setDateTime(todayAt(hour, minute));
  }
  TfrmRestorePoint dialog;
  bool ok = false;
};

TEST(RestorePointDialog, ShowsThePlanAndRestoresUnderANewName) {
  bvtest::PromptRecorder prompts;
  bvtest::StandinFixture standin;
  bvtest::odbc::Connection client;
  ASSERT_TRUE(client.connect(standin.odbcConnectionString("Database=master;")));
  const fs::path folder = standin.scratchDir() / "backups";
  fs::create_directories(folder);
  const auto run = [&](int hour, int minute, const std::string& sql) {
    standin.setClockOffset(bvtest::offsetToLocalTime(hour, minute));
    const auto r = client.execute(sql);
    ASSERT_FALSE(r.anyError) << sql << ": " << r.diags.front().text;
  };
  const auto to = [&](const char* file) { return "TO DISK = N'" + (folder / file).string() + "' WITH INIT"; };
  run(14, 0, "ALTER DATABASE [Sample] SET RECOVERY FULL; CREATE DATABASE [Other]");
  run(14, 40, "BACKUP DATABASE [Sample] " + to("Sample.bak") + "; BACKUP DATABASE [Other] " + to("Other.bak"));
  run(14, 50, "INSERT INTO Sample.dbo.Customers (CustomerID, Name) VALUES (1450, N'at 14:50')");
  run(15, 0, "BACKUP LOG [Sample] " + to("Sample_1500.trn"));
  run(15, 10, "INSERT INTO Sample.dbo.Customers (CustomerID, Name) VALUES (1510, N'at 15:10')");
  run(15, 15, "BACKUP LOG [Sample] " + to("Sample_1515.trn"));
  standin.setClockOffset(bvtest::offsetToLocalTime(15, 30));

  Dialog d(standin);
  ASSERT_TRUE(d.ok) << (prompts.boxes.empty() ? "" : prompts.boxes[0].text.toStdString());
  ASSERT_EQ(d.rows(), 3);
  EXPECT_EQ(d.cell(0, 0), QStringLiteral("完全"));
  EXPECT_EQ(d.cell(2, 0), QStringLiteral("ログ"));
  EXPECT_EQ(d.cell(2, 4), QString());
  const QString day = QDate::currentDate().toString(QStringLiteral("yyyy/MM/dd"));
  EXPECT_EQ(d.text("lblRange"), QStringLiteral("復元できる範囲：%1 14:40 〜 %1 15:15").arg(day));

  d.moment(15, 5);
  ASSERT_EQ(d.rows(), 3);
  EXPECT_EQ(d.cell(2, 4), day + QStringLiteral(" 15:05"));
  EXPECT_TRUE(d.text("lblPlan").endsWith(day + QStringLiteral(" 15:05 の状態"))) << d.text("lblPlan").toStdString();
  d.moment(14, 30);
  EXPECT_EQ(d.rows(), 0);
  EXPECT_EQ(d.text("lblPlan").toStdString(),
            bv::maintenance::noFullBeforeText(todayAt(14, 30).toString("yyyy-MM-dd HH:mm:ss").toStdString(),
                                              todayAt(14, 40).toString("yyyy-MM-dd HH:mm:ss").toStdString()));
  EXPECT_FALSE(bvtest::control<QPushButton>(&d.dialog, "btnRestore")->isEnabled());

  d.moment(15, 5);
  bvtest::control<QLineEdit>(&d.dialog, "editNewName")->setText(QStringLiteral("Sample_1505"));
  bvtest::control<QCheckBox>(&d.dialog, "chkCheckAfter")->setChecked(true);
  prompts.boxes.clear();
  bvtest::control<QPushButton>(&d.dialog, "btnRestore")->click();
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text.toStdString(),
            bv::maintenance::restoredText("Sample_1505", todayAt(15, 5).toString("yyyy-MM-dd HH:mm:ss").toStdString()));
  const auto restored = client.execute("SELECT COUNT(*) FROM Sample_1505.dbo.Customers WHERE CustomerID IN (1450, 1510)");
  ASSERT_FALSE(restored.sets.empty());
  EXPECT_EQ(restored.sets[0].rows[0][0].value_or(""), "1");

  // From the files: the same plan; the other database's set is named and left alone.
  bvtest::control<QRadioButton>(&d.dialog, "rbFromFiles")->click();
  EXPECT_EQ(d.text("lblPlan"), QStringLiteral("このデータベースのバックアップがありません。"));
  bvtest::control<QLineEdit>(&d.dialog, "editFolder")->setText(QString::fromStdString(folder.string()));
  bvtest::control<QPushButton>(&d.dialog, "btnReadFiles")->click();
  EXPECT_EQ(d.text("lblOtherSets"), QStringLiteral("ほかのデータベースのバックアップ（使用しません）：Other"));
  ASSERT_EQ(d.rows(), 3);
  EXPECT_EQ(d.cell(2, 5), QString::fromStdString((folder / "Sample_1515.trn").string()));
}

TEST(RestorePointDialog, IsNotOfferedOnSqlServer2000) {
  bvtest::PromptRecorder prompts;
  bvtest::StandinOptions options;
  options.serverVersion = 2000;
  bvtest::StandinFixture standin(options);
  Dialog d(standin);
  EXPECT_FALSE(d.ok);
  ASSERT_EQ(prompts.boxes.size(), 1u);
  EXPECT_EQ(prompts.boxes[0].text.toStdString(), bv::maintenance::kRestorePointNeedsNewerServer);
}

}  // namespace
