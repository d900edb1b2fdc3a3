// The Japanese interface font: "ＭＳ Ｐゴシック" at 12 pixels where Windows has it, otherwise its
// metric-compatible stand-ins.
#pragma once

#include <QFont>

namespace bv::widgets {

inline QFont interfaceFont() {
  QFont font;
  font.setFamilies({QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("MS PGothic"),
                    QStringLiteral("IPAPGothic"), QStringLiteral("Noto Sans CJK JP")});
  font.setPixelSize(12);
  return font;
}

}  // namespace bv::widgets
