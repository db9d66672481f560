#include "desktop/settings/CConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include "platform/appfolder/PrivateFiles.h"

namespace {

// Both programs read and write the file as UTF-8 text.
void UseUtf8(QSettings& settings) { settings.setIniCodec("UTF-8"); }

// The settings writer keeps the permissions of the file it replaces, so a file made private
// before the first write stays private.
void MakePrivate(const QString& path) {
  appfolder::CreatePrivateFile(QFile::encodeName(path).toStdString());
}

// A text value. QSettings reads an unquoted value holding commas as a list of texts; a
// hand-edited "Process=a.exe,,b.exe" means the text itself, so the list is joined again.
QString ReadText(const QSettings& file, const QString& key, const QString& fallback = QString()) {
  QVariant value = file.value(key, fallback);
  if (value.type() == QVariant::StringList) return value.toStringList().join(QLatin1Char(','));
  return value.toString();
}

// Creates the default download folder, and the user's download folder above it when a new
// account has none yet. Without a home folder the user's folder lies at the file-system root
// (or is the root): the settings never create folders there. Failures are fine: the download
// reports a folder it cannot write.
void CreateDownloadFolder(const QString& userDownloads, const QString& downloads) {
  QFileInfo user(userDownloads);
  if (userDownloads.isEmpty() || user.isRoot()) return;
  if (!user.exists() && QFileInfo(user.absolutePath()).isRoot()) return;
  QDir().mkpath(downloads);
}

// Earlier versions stored "/QLDownloads/" at the file-system root as the default; for an
// ordinary user nothing can be saved there, so every download stopped at once.
bool IsUnwritableOldDefault(const QString& path) {
  if (QDir::cleanPath(path) != QStringLiteral("/QLDownloads")) return false;
  QFileInfo folder(path);
  return !folder.isDir() || !folder.isWritable();
}

QString StoredKey(const QString& key) {
  return QStringLiteral("data/") + QString::fromLatin1(key.toUtf8().toBase64());
}

}  // namespace

CConfig::CConfig(const QString& path, QObject* parent)
    : QObject(parent), settingsPath(path), programFolder_(QFileInfo(path).path()) {}

QString CConfig::pageStorePath() const { return programFolder_ + QStringLiteral("/.data"); }

QString CConfig::UserDownloadFolder() {
  return QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::DownloadLocation));
}

QString CConfig::DefaultDownloadFolder(const QString& userDownloads) {
  return userDownloads + QStringLiteral("/QLDownloads/");
}

void CConfig::load() {
  QSettings file(settingsPath, QSettings::IniFormat);
  UseUtf8(file);
  debug = file.value(QStringLiteral("Set/Debug"), 0).toInt();
  debugging = file.value(QStringLiteral("Set/Debugging"), 0).toInt();
  cacheMod = file.value(QStringLiteral("Set/CacheMod"), 2).toInt();
  maxDiskCache = file.value(QStringLiteral("Set/MaxDiskCache"), 100).toInt();
  driveLetter = ReadText(file, QStringLiteral("Set/DriveLetter"), QStringLiteral("M"));
  userName = ReadText(file, QStringLiteral("User/UserName"));
  passWord = ReadText(file, QStringLiteral("User/PassWord"));
  width = file.value(QStringLiteral("Set/Width"), 0).toInt();
  height = file.value(QStringLiteral("Set/Height"), 0).toInt();
  process = ReadText(file, QStringLiteral("Set/Process"));
  serverAddress =
      ReadText(file, QStringLiteral("Set/ServerAddress"), QLatin1String(kDefaultServerAddressText));
  QString userDownloads = UserDownloadFolder();
  QString downloads = DefaultDownloadFolder(userDownloads);
  CreateDownloadFolder(userDownloads, downloads);
  defaultPath = ReadText(file, QStringLiteral("Set/DefaultPath"), downloads);
  if (IsUnwritableOldDefault(defaultPath)) defaultPath = downloads;
}

void CConfig::writeKey(const QString& key, const QVariant& value) {
  MakePrivate(settingsPath);
  QSettings file(settingsPath, QSettings::IniFormat);
  UseUtf8(file);
  file.setValue(key, value);
  file.sync();
}

int CConfig::setDefaultPath(const QString& value) {
  defaultPath = value;
  writeKey(QStringLiteral("Set/DefaultPath"), value);
  return 0;
}

int CConfig::setPassWord(const QString& value) {
  passWord = value;
  writeKey(QStringLiteral("User/PassWord"), value);
  return 0;
}

int CConfig::setUserName(const QString& value) {
  userName = value;
  writeKey(QStringLiteral("User/UserName"), value);
  return 0;
}

int CConfig::setDriveLetter(const QString& value) {
  driveLetter = value;
  writeKey(QStringLiteral("Set/DriveLetter"), value);
  return 0;
}

int CConfig::setRun(int value) {
  writeKey(QStringLiteral("Set/Run"), value);
  return 0;
}

int CConfig::setCacheMod(int value) {
  cacheMod = value;
  writeKey(QStringLiteral("Set/CacheMod"), value);
  return 0;
}

int CConfig::setDebug(int value) {
  debug = value;
  writeKey(QStringLiteral("Set/Debug"), value);
  return 0;
}

int CConfig::setMaxDiskCache(int value) {
  maxDiskCache = value;
  writeKey(QStringLiteral("Set/MaxDiskCache"), value);
  return 0;
}

void CConfig::save(const QString& key, const QString& value) {
  MakePrivate(pageStorePath());
  QSettings store(pageStorePath(), QSettings::IniFormat);
  UseUtf8(store);
  QByteArray stored = value.toUtf8().toBase64();
  if (stored.isEmpty())
    store.remove(StoredKey(key));
  else
    store.setValue(StoredKey(key), QString::fromLatin1(stored));
  store.sync();
}

QString CConfig::read(const QString& key) {
  QSettings store(pageStorePath(), QSettings::IniFormat);
  UseUtf8(store);
  QByteArray stored = store.value(StoredKey(key)).toString().toLatin1();
  return QString::fromUtf8(QByteArray::fromBase64(stored));
}
