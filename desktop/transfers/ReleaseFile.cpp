#include "desktop/transfers/ReleaseFile.h"

#include <QCryptographicHash>
#include <QFile>
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

bool MatchesRelease(const QString& path, qint64 length, const QString& md5) {
  QFile file(path);
  if (length <= 0 || md5.isEmpty() || file.size() != length) return false;
  if (!file.open(QIODevice::ReadOnly)) return false;
  QCryptographicHash digest(QCryptographicHash::Md5);
  if (!digest.addData(&file)) return false;
  return QString::fromLatin1(digest.result().toHex()) == md5.toLower();
}
