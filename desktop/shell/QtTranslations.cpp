#include "desktop/shell/QtTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool InstallQtTranslations(QCoreApplication& app) {
  const QString folder = QLibraryInfo::location(QLibraryInfo::TranslationsPath);
  auto* translator = new QTranslator(&app);  // lives as long as the application
  // qt_zh_CN gathers the translations of every Qt module; qtbase_zh_CN alone covers the
  // dialogs when the gathering file is missing.
  for (const char* name : {"qt_zh_CN", "qtbase_zh_CN"}) {
    if (translator->load(QString::fromLatin1(name), folder)) {
      app.installTranslator(translator);
      return true;
    }
  }
  delete translator;
  return false;
}
