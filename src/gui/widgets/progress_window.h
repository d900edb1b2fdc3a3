// A long command (a backup or restore of a large database runs for minutes or hours) runs on a
// worker thread while a small modal window shows the operation, the time elapsed, a busy bar and
// the server's messages as they come; the window's own thread keeps painting and the desktop
// never sees the program hang. The caller still returns only after the command has ended.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QTimer;

namespace bv::widgets {

class ProgressWindow : public QDialog {
  Q_OBJECT

 public:
  ProgressWindow(const QString& operation, QWidget* owner);

  // On the window's thread only.
  void addMessage(const QString& text);

 private:
  void showElapsed();

  QElapsedTimer elapsed_;
  QLabel* operation_ = nullptr;
  QLabel* elapsedText_ = nullptr;
  QProgressBar* busy_ = nullptr;
  QPlainTextEdit* messages_ = nullptr;
  QTimer* ticker_ = nullptr;
};

// Hands a message to the progress window from the worker thread.
using ProgressReport = std::function<void(const QString& message)>;

// Runs `work` on a worker thread while the progress window shows over `owner` and this thread's
// event loop runs (painting, timers; user input is held back: the program takes no input while
// a command runs). Returns when the work has ended. An exception the work raises is raised again
// here, on the window's thread. Every widget is touched on this thread only.
void runWithProgress(QWidget* owner, const QString& operation,
                     const std::function<void(const ProgressReport&)>& work);

}  // namespace bv::widgets
