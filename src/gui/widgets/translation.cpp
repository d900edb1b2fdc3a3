#include "gui/widgets/translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace bv::widgets {

bool installJapaneseTranslation(QCoreApplication& application, const QString& folder) {
  auto* translator = new QTranslator(&application);  // lives as long as the application
  if (!translator->load(QLocale(QLocale::Japanese, QLocale::Japan), QStringLiteral("qtbase"),
                        QStringLiteral("_"),
                        folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder)) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  return true;
}

}  // namespace bv::widgets
