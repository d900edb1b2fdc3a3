// A long command (a backup or restore of a large database runs for minutes or hours) runs on a
// worker thread while a small modal window shows the operation, the time elapsed, a bar and the
// server's messages as they come; the bar is a busy bar until the server says how far it is, then
// its percentage, with the time left; the window's own thread keeps painting and the desktop
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
  // The server's own percentage (0 to 100) of the statement running, the time left when known,
  // and the step that statement is ("ベリファイしています..."; empty: the operation itself).
  void showPercent(double percent, const QString& timeLeft, const QString& step = {});

 private:
  void showElapsed();

  QElapsedTimer elapsed_;
  QLabel* operation_ = nullptr;
  QLabel* elapsedText_ = nullptr;
  QProgressBar* busy_ = nullptr;
  QLabel* timeLeft_ = nullptr;
  QPlainTextEdit* messages_ = nullptr;
  QTimer* ticker_ = nullptr;
  QString operationText_;
};

// What the worker hands to the progress window, from its own thread: a message, and the server's
// percentage with the time left and the step.
struct ProgressReport {
  std::function<void(const QString& message)> message;
  std::function<void(double percent, const QString& timeLeft, const QString& step)> percent;
  void operator()(const QString& text) const { message(text); }
};

// Runs `work` on a worker thread while the progress window shows over `owner` and this thread's
// event loop runs (painting, timers; user input is held back: the program takes no input while
// a command runs). Returns when the work has ended. An exception the work raises is raised again
// here, on the window's thread. Every widget is touched on this thread only.
void runWithProgress(QWidget* owner, const QString& operation,
                     const std::function<void(const ProgressReport&)>& work);

}  // namespace bv::widgets
