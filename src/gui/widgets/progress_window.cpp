#include "gui/widgets/progress_window.h"

#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <exception>
#include <thread>

namespace bv::widgets {

ProgressWindow::ProgressWindow(const QString& operation, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  setObjectName(QStringLiteral("frmProgress"));
  setWindowTitle(operation);
  setWindowModality(Qt::ApplicationModal);
  auto* layout = new QVBoxLayout(this);
  operationText_ = operation + QStringLiteral("を実行しています...");
  operation_ = new QLabel(operationText_, this);
  operation_->setObjectName(QStringLiteral("lblOperation"));
  elapsedText_ = new QLabel(this);
  elapsedText_->setObjectName(QStringLiteral("lblElapsed"));
  busy_ = new QProgressBar(this);
  busy_->setObjectName(QStringLiteral("pbBusy"));
  busy_->setRange(0, 0);  // a busy bar: how long the server needs is not known
  busy_->setTextVisible(false);
  timeLeft_ = new QLabel(this);
  timeLeft_->setObjectName(QStringLiteral("lblTimeLeft"));
  messages_ = new QPlainTextEdit(this);
  messages_->setObjectName(QStringLiteral("memMessages"));
  messages_->setReadOnly(true);
  messages_->setMinimumSize(360, 90);
  layout->addWidget(operation_);
  layout->addWidget(elapsedText_);
  layout->addWidget(busy_);
  layout->addWidget(timeLeft_);
  layout->addWidget(messages_);
  ticker_ = new QTimer(this);
  ticker_->setInterval(250);
  connect(ticker_, &QTimer::timeout, this, &ProgressWindow::showElapsed);
  elapsed_.start();
  ticker_->start();
  showElapsed();
}

void ProgressWindow::addMessage(const QString& text) { messages_->appendPlainText(text); }

void ProgressWindow::showPercent(double percent, const QString& timeLeft, const QString& step) {
  operation_->setText(step.isEmpty() ? operationText_ : step);
  if (busy_->maximum() == 0) {
    busy_->setRange(0, 1000);
    busy_->setTextVisible(true);
    busy_->setFormat(QStringLiteral("%p%"));
  }
  busy_->setValue(static_cast<int>(percent * 10));
  timeLeft_->setText(timeLeft);
}

void ProgressWindow::showElapsed() {
  const qint64 seconds = elapsed_.elapsed() / 1000;
  elapsedText_->setText(QStringLiteral("経過時間 %1:%2:%3")
                            .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
                            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                            .arg(seconds % 60, 2, 10, QLatin1Char('0')));
}

void runWithProgress(QWidget* owner, const QString& operation,
                     const std::function<void(const ProgressReport&)>& work) {
  ProgressWindow window(operation, owner);
  window.adjustSize();  // its own size first, so that it is centred by that size
  if (owner != nullptr) window.move(owner->frameGeometry().center() - window.rect().center());
  window.show();
  QEventLoop loop;
  std::exception_ptr failure;
  // Each queued to the window's thread; dropped if the window is gone by then.
  const ProgressReport report{
      [&window](const QString& message) {
        QMetaObject::invokeMethod(
            &window, [&window, message] { window.addMessage(message); }, Qt::QueuedConnection);
      },
      [&window](double percent, const QString& timeLeft, const QString& step) {
        QMetaObject::invokeMethod(
            &window, [&window, percent, timeLeft, step] { window.showPercent(percent, timeLeft, step); },
            Qt::QueuedConnection);
      }};
  std::thread worker([&] {
    try {
      work(report);
    } catch (...) {
      failure = std::current_exception();
    }
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  worker.join();
  window.hide();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace bv::widgets
