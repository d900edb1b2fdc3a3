#include "gui/widgets/error_report.h"

#include <QWidget>
#include <stdexcept>

#include "gui/widgets/prompts.h"

namespace bv::widgets {

void reportException(std::exception_ptr error) noexcept {
  QString message;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    message = QString::fromUtf8(e.what());
  } catch (...) {
    message = QStringLiteral("Unexpected error.");
  }
  try {
    prompts().error(QApplication::activeWindow(), message);
  } catch (...) {
    // Nothing more can be shown; the program goes on.
  }
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    reportException(std::current_exception());
    return false;
  }
}

}  // namespace bv::widgets
