// Qt's own texts (the file dialog, the edit boxes' menus, ...) in Japanese, from the translation
// that Qt's installation keeps (Debian's qt6-translations-l10n).
#pragma once

#include <QString>

class QCoreApplication;

namespace bv::widgets {

// Loads Qt's Japanese translation into the application, from Qt's translations folder unless
// another folder is given; false when it is not there (the program then shows Qt's English
// texts and goes on).
bool installJapaneseTranslation(QCoreApplication& application, const QString& folder = {});

}  // namespace bv::widgets
