// What the history dialogs share (the backups of a database, the runs of a task): a read-only
// report list, newest first, that takes several rows at once, "コピー" and "閉じる" under it, and
// the rows as text for the clipboard. A dialog of its own adds its texts above or below the list
// and fills the list. Its members keep the forms' names, as they are the history forms' own.
#pragma once

#include <QDialog>
#include <QString>
#include <span>

#include "gui/widgets/form_layout.h"

class QTreeWidget;
class QVBoxLayout;

namespace bv::widgets {

class HistoryDialog : public QDialog {
  Q_OBJECT

 public:
  // The rows as text, a line each, fields separated by tabs, the captions first: the selected
  // rows, or every row when none is selected.
  QString HistoryText() const;

  // コピー, and the copy keys on the list: the rows onto the clipboard.
  void btnCopyClick();

 protected:
  // A modal dialog named `name` whose list, named `listName`, has the columns and is at least
  // `listHeight` pixels high.
  HistoryDialog(QWidget* parent, const char* name, const char* listName, std::span<const ListColumn> columns,
                int listHeight);

  QTreeWidget* list() const { return list_; }
  // A text of the dialog's own, above the list or between it and the buttons.
  void addAboveList(QWidget* widget);
  void addBelowList(QWidget* widget);

 private:
  QVBoxLayout* root_ = nullptr;
  QTreeWidget* list_ = nullptr;
};

}  // namespace bv::widgets
