// The server browser: a small modal dialog listing the SQL Server instances visible on the
// network, from which the user takes one into the main window's server box.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

#include "core/servers/server_enumerator.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace bv::forms {

class TfrmServerList : public QDialog {
  Q_OBJECT

 public:
  // The names come from the platform's enumerator (SQL-DMO, or the SSRP browser asking the
  // broadcast address).
  explicit TfrmServerList(QWidget* parent = nullptr);
  // The names come from enumerators made by `enumerators`, one per showing.
  explicit TfrmServerList(bv::servers::ServerEnumeratorFactory enumerators, QWidget* parent = nullptr);
  ~TfrmServerList() override;

  // Shows the dialog modally. The chosen name (possibly empty) when it closes with OK; nothing
  // on Cancel, and nothing when the list could not be made at this showing.
  std::optional<QString> ChooseServer();

  // Event handlers, each run through the application's error report.
  // On every showing: fills lstServer afresh from a new enumerator.
  void FormShow();
  // Closes with OK when an entry is selected; otherwise does nothing.
  void lstServerDblClick();

  // The text of the selected entry; empty when nothing is selected.
  QString GetSelectedServer() const;
  // The selected entry's index, -1 when nothing is selected.
  int ItemIndex() const;

  // Whether the list of the current (or last) showing could not be made; such a showing ends
  // with the Cancel result whichever button closes it.
  bool ListFailed() const noexcept { return FListFailed; }

  void done(int result) override;

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildControls();
  void CentreOnScreen();
  void FillList();

  bv::servers::ServerEnumeratorFactory FEnumerators;
  bool FListFailed = false;

  // Controls, each with its objectName.
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QListWidget* lstServer = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
};

}  // namespace bv::forms
