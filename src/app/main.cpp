// Brackenvale: back up, restore and shrink a SQL Server database without writing T-SQL.
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <cstdio>

#include "core/servers/server_enumerator.h"
#include "gui/forms/uBrackenvale.h"
#include "gui/widgets/error_report.h"
#include "gui/widgets/icon_files.h"
#include "gui/widgets/interface_font.h"
#include "gui/widgets/translation.h"

namespace {

// Where the server browser asks: the broadcast address, unless BRACKENVALE_BROWSE_ADDRESS names
// one host to ask instead (the stand-in answers on the loopback address only).
bv::servers::SsrpTarget browseTarget() {
  bv::servers::SsrpTarget target;
  const QByteArray address = qgetenv("BRACKENVALE_BROWSE_ADDRESS");
  if (!address.isEmpty()) target.address = address.toStdString();
  return target;
}

// The program's icon in every size the resources carry (packaging/icons, compiled in); each
// image is read when a window first draws the icon.
QIcon programIcon() {
  QList<bv::widgets::IconFile> files;
  for (const int size : {16, 32, 48, 64, 128, 256}) {
    files.append({QStringLiteral(":/icons/%1x%1/apps/brackenvale.png").arg(size), QSize(size, size)});
  }
  return bv::widgets::iconFromFiles(files);
}

// With BRACKENVALE_EXIT_AFTER_PAINT=1 in the environment the program writes "painted" on its
// standard output as soon as the main window's first paint is done, and ends. The start-up
// benchmark (bench/startup_bench.cpp) times that line; nothing else reads the variable.
class ExitAfterFirstPaint : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      watched->removeEventFilter(this);
      // Queued: the window's paint and the flush to the screen finish first.
      QMetaObject::invokeMethod(
          qApp,
          [] {
            std::fputs("painted\n", stdout);
            std::fflush(stdout);
            QCoreApplication::exit(0);
          },
          Qt::QueuedConnection);
    }
    return false;
  }
};

}  // namespace

int main(int argc, char** argv) {
  bv::widgets::Application application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brackenvale"));
  bv::widgets::installJapaneseTranslation(application);
  QApplication::setFont(bv::widgets::interfaceFont());
  // The classic look the program was drawn for, unless the user asks for another (-style).
  if (!application.arguments().contains(QStringLiteral("-style"))) {
    QApplication::setStyle(QStringLiteral("Windows"));
  }
  // The icon of the main window and of every dialog. The desktop entry's name lets a desktop
  // shell match the windows to the menu entry (Wayland shows its icon instead of the window's).
  QApplication::setWindowIcon(programIcon());
  QGuiApplication::setDesktopFileName(QStringLiteral("org.brackenvale.Brackenvale"));

  // The main window; it makes each of its dialogs (the schedule page too) when a button first
  // needs it.
  using namespace bv::forms;
  TfrmBrackenvale frmBrackenvale;
  frmBrackenvale.MakeDialogsOnFirstUse(bv::servers::platformEnumeratorFactory(browseTarget()));

  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  frmBrackenvale.move(screen.center() - frmBrackenvale.rect().center());
  ExitAfterFirstPaint exitAfterPaint;
  if (qEnvironmentVariableIntValue("BRACKENVALE_EXIT_AFTER_PAINT") == 1) {
    frmBrackenvale.installEventFilter(&exitAfterPaint);
  }
  frmBrackenvale.show();
  return QApplication::exec();
}
