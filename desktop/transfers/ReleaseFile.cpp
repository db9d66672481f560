#include "desktop/transfers/ReleaseFile.h"

#include <QSettings>

ReleaseDescription ReadReleaseFile(const QString& path) {
  QSettings ini(path, QSettings::IniFormat);
  ReleaseDescription release;
  release.number = ini.value(QStringLiteral("Version/Number")).toString();
  release.url = ini.value(QStringLiteral("Version/Url")).toString();
  release.length = ini.value(QStringLiteral("Version/Length")).toLongLong();
  release.md5 = ini.value(QStringLiteral("Version/Md5")).toString();
  return release;
}
