// Brackenvale: back up, restore and shrink a SQL Server database without writing T-SQL.
#include <QGuiApplication>
#include <QScreen>

#include "error_report.h"
#include "interface_font.h"
#include "uBrackenvale.h"

int main(int argc, char** argv) {
  bv::ui::Application application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brackenvale"));
  QApplication::setFont(bv::ui::interfaceFont());
  // The classic look the program was drawn for, unless the user asks for another (-style).
  if (!application.arguments().contains(QStringLiteral("-style"))) {
    QApplication::setStyle(QStringLiteral("Windows"));
  }

  // The main window first; the dialogs follow it, once each, as they are added.
  TfrmBrackenvale frmBrackenvale;

  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  frmBrackenvale.move(screen.center() - frmBrackenvale.rect().center());
  frmBrackenvale.show();
  return QApplication::exec();
}
