// The Japanese interface font: "ＭＳ Ｐゴシック" at 12 pixels where Windows has it, otherwise its
// metric-compatible stand-ins.
#pragma once

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

namespace bv::widgets {

// The families in the order they are preferred.
inline QStringList interfaceFontFamilies() {
  return {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"), QStringLiteral("IPAPGothic"),
          QStringLiteral("Noto Sans CJK JP")};
}

// Qt draws with the first family of the list that is installed; the font names that one alone,
// so that each size and weight's first use does not search the system's fonts for the families
// before it that are missing. With none installed it keeps the list, and Qt's fallback.
// Needs the application.
inline QFont interfaceFont() {
  QStringList families = interfaceFontFamilies();
  for (const QString& family : families) {
    if (QFontDatabase::hasFamily(family)) {
      families = {family};
      break;
    }
  }
  QFont font;
  font.setFamilies(families);
  font.setPixelSize(12);
  return font;
}

}  // namespace bv::widgets
