// Building a form the way the forms are drawn: a control's name (its objectName), its place in
// pixels within its parent, bold captions, the report-style lists of the dialogs, and a dialog's
// frame and its OK and キャンセル.
#pragma once

#include <QFont>
#include <QString>
#include <QWidget>
#include <span>

class QDateEdit;
class QDialog;
class QHBoxLayout;
class QPushButton;
class QSpinBox;
class QTreeWidget;

namespace bv::widgets {

// The control with its name.
template <typename W>
W* named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// The control with its name at its place; without a size it takes the size its contents ask for.
template <typename W>
W* place(W* widget, const char* name, int left, int top, int width = -1, int height = -1) {
  named(widget, name);
  if (width < 0) {
    widget->adjustSize();
    widget->move(left, top);
  } else {
    widget->setGeometry(left, top, width, height);
  }
  return widget;
}

inline void makeBold(QWidget* widget) {
  QFont font = widget->font();
  font.setBold(true);
  widget->setFont(font);
}

struct ListColumn {
  const char* caption;  // UTF-8
  int width;            // pixels
  // The widest text the column must show whole (UTF-8), and whether a mark's icon stands before
  // it; the column is widened to it only where the list's font needs more than `width`.
  const char* widest = nullptr;
  bool marked = false;
};

// A read-only list in report style: the columns with their captions and fixed widths, one
// whole row selected at a time, no sorting, wide enough for every column; at least
// `minimumHeight` pixels high.
void makeReportList(QTreeWidget* list, std::span<const ListColumn> columns, int minimumHeight);

// The width a cell of the list needs for `text` as the list draws it: its font, the style's
// text margins, and a small icon (with its own margins) before the text when `marked`.
int reportCellWidth(const QTreeWidget* list, const QString& text, bool marked);

// A dialog's frame: its title, the system menu and the close button, nothing else.
Qt::WindowFlags dialogFlags();

// OK and キャンセル (named btnOK and btnCancel) at the bottom right, accepting and rejecting the
// dialog.
QHBoxLayout* okCancelRow(QDialog* dialog, QPushButton*& ok, QPushButton*& cancel);

// Enter in an edit box presses OK only; no other button of the dialog takes it.
void makeOkTheDefault(QDialog* dialog, QPushButton* ok);

// A number box with its name and range.
QSpinBox* numberBox(QWidget* parent, const char* name, int minimum, int maximum);

// A date edit as the schedule's dates are typed: yyyy/MM/dd with a calendar, from 1601 (SYSTEMTIME's
// first year) to 9999.
void setUpDateEdit(QDateEdit* edit);

}  // namespace bv::widgets
