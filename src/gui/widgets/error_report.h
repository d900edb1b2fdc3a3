// The application's default error report: an exception that leaves an event handler is shown
// as an error box with its message, from this one place. Qt leaves an exception thrown out of
// a slot undefined, so handlers are connected through guarded(); the application's notify()
// catches whatever else escapes, as a last resort.
#pragma once

#include <QApplication>
#include <QPointer>
#include <exception>
#include <functional>
#include <utility>

class QWidget;

namespace bv::widgets {

// Shows the exception's message in an error box (owner: the active window).
void reportException(std::exception_ptr error) noexcept;

// Wraps a handler so that an exception it raises reaches reportException. The wrapper takes
// no arguments, so it connects to any signal and drops what the signal carries.
template <typename Fn>
auto guarded(Fn fn) {
  return [fn = std::move(fn)]() {
    try {
      std::invoke(fn);
    } catch (...) {
      reportException(std::current_exception());
    }
  };
}

// A member handler taking nothing, guarded; the receiver is checked before the call.
template <typename Receiver>
auto guarded(Receiver* receiver, void (Receiver::*handler)()) {
  QPointer<Receiver> target(receiver);
  return guarded([target, handler]() {
    if (target) (target.data()->*handler)();
  });
}

class Application : public QApplication {
 public:
  Application(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace bv::widgets
