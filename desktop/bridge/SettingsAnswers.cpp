#include "desktop/bridge/SettingsAnswers.h"

#include <QCryptographicHash>
#include <QDir>

#include "desktop/bridge/ResultText.h"
#include "desktop/settings/CConfig.h"
#include "platform/driveroot/DriveRoot.h"

namespace bridge {

QString TextAnswer(const QString& text) { return ResultText(Success(Text(text))); }

void SettingsAnswers::init() { config_.load(); }

QString SettingsAnswers::getUserName() const { return TextAnswer(config_.userName); }

QString SettingsAnswers::getPassWord() const { return TextAnswer(config_.passWord); }

// Beside the letter the page shows where the drive appears on this machine ("folder").
QString SettingsAnswers::getDriveLetter() const {
  Json::Value answer = Success(Text(config_.driveLetter));
  const QString letter = config_.driveLetter;
  if (letter.size() == 1)
    answer["folder"] = Text(driveroot::MountPointOf(letter.at(0).toUpper().unicode()));
  return ResultText(answer);
}

QString SettingsAnswers::setUserName(const QString& name) {
  config_.setUserName(name);
  return ResultText(Success());
}

QString SettingsAnswers::setPassWord(const QString& password) {
  QByteArray digest = QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5);
  config_.setPassWord(QString::fromLatin1(digest.toHex()));
  return ResultText(Success());
}

QString SettingsAnswers::setDriveLetter(QChar letter) {
  config_.setDriveLetter(QString(letter));
  return ResultText(Success());
}

QString SettingsAnswers::saveData(const QString& key, const QString& value) {
  config_.save(key, value);
  return ResultText(Success());
}

QString SettingsAnswers::getData(const QString& key) const { return TextAnswer(config_.read(key)); }

QString SettingsAnswers::getDefaultLocalSavePath() const {
  QString path = config_.defaultPath;
  return TextAnswer(path.replace(QLatin1Char('\\'), QLatin1Char('/')));
}

QString SettingsAnswers::setDefaultLocalSavePath(QString path) {
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  // Every level is made on its own; existing folders and a drive part fail harmlessly.
  for (int slash = path.indexOf(QLatin1Char('/'), 1); slash > 0;
       slash = path.indexOf(QLatin1Char('/'), slash + 1))
    QDir().mkdir(path.left(slash));
  QDir().mkdir(path);
  config_.setDefaultPath(path);
  return ResultText(Success());
}

}  // namespace bridge
