// Brackenvale: back up, restore and shrink a SQL Server database without writing T-SQL.
#include <QFont>
#include <QGuiApplication>
#include <QScreen>

#include "error_report.h"
#include "uBrackenvale.h"

namespace {

// The Japanese interface font: the Windows one first, then its metric-compatible stand-ins.
QFont interfaceFont() {
  QFont font;
  font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                    QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
  font.setPixelSize(12);
  return font;
}

}  // namespace

int main(int argc, char** argv) {
  bv::ui::Application application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Brackenvale"));
  QApplication::setFont(interfaceFont());
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
