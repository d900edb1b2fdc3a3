// Acting on a modal dialog while it is showing: the action runs from the event loop as soon as
// the dialog is visible (a user's first look), and a guard closes it after a while so that a test
// that went wrong ends instead of waiting for ever.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>

namespace bvtest {

inline void whenShown(QDialog* dialog, std::function<void()> action, int giveUpMs = 20000) {
  auto* timer = new QTimer(qApp);
  auto waited = std::make_shared<int>(0);
  QPointer<QDialog> target(dialog);
  QObject::connect(timer, &QTimer::timeout, timer,
                   [timer, target, action = std::move(action), waited, giveUpMs] {
                     *waited += 10;
                     if (target && target->isVisible()) {
                       timer->stop();
                       timer->deleteLater();
                       action();
                       return;
                     }
                     if (*waited >= giveUpMs || !target) {
                       timer->stop();
                       timer->deleteLater();
                     }
                   });
  timer->start(10);
}

// The same for a dialog that does not exist yet (made on first use): the first visible dialog
// with that objectName.
inline void whenShown(const char* objectName, std::function<void(QDialog*)> action, int giveUpMs = 20000) {
  auto* timer = new QTimer(qApp);
  auto waited = std::make_shared<int>(0);
  const QString name = QString::fromLatin1(objectName);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, name, action = std::move(action), waited, giveUpMs] {
    *waited += 10;
    for (QWidget* widget : QApplication::allWidgets()) {
      auto* dialog = qobject_cast<QDialog*>(widget);
      if (dialog == nullptr || dialog->objectName() != name || !dialog->isVisible()) continue;
      timer->stop();
      timer->deleteLater();
      action(dialog);
      return;
    }
    if (*waited >= giveUpMs) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start(10);
}

}  // namespace bvtest
