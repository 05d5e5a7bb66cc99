#include "window/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool loadQtTranslations() {
  static bool installed = false;
  if (installed || !QCoreApplication::instance()) return installed;
  auto *qt = new QTranslator(QCoreApplication::instance());
  if (!qt->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete qt;
    return false;
  }
  installed = QCoreApplication::installTranslator(qt);
  return installed;
}
