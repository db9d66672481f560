// Construction, the settings and the page store, the clipboard and opening local paths.
#include "desktop/shell/WebData.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QDir>
#include <QGuiApplication>

#include "desktop/settings/CConfig.h"
#include "desktop/shell/Dialog.h"
#include "desktop/settings/ProgramFolder.h"
#include "desktop/bridge/ResultText.h"
#include "desktop/bridge/SystemOpen.h"

using bridge::ResultText;
using bridge::Success;
using bridge::Text;

WebData::WebData(CAction& action, Dialog* window)
    : QObject(window), action_(action), window_(window) {}

WebData::~WebData() { delete config_; }

void WebData::setConfig(CConfig* config) {
  delete config_;
  config_ = config;
}

CConfig& WebData::settings() {
  if (config_ == nullptr) {
    config_ = new CConfig(programFolder() + QStringLiteral("/tarvex.ini"));
    config_->load();
  }
  return *config_;
}

void WebData::init() { settings().load(); }

QString WebData::getUserName() { return ResultText(Success(Text(settings().userName))); }

QString WebData::getPassWord() { return ResultText(Success(Text(settings().passWord))); }

QString WebData::getDriveLetter() { return ResultText(Success(Text(settings().driveLetter))); }

QString WebData::getServerAddress() { return ResultText(Success(Text(settings().serverAddress))); }

QString WebData::setUserName(QString username) {
  settings().setUserName(username);
  return ResultText(Success());
}

QString WebData::setPassWord(QString password) {
  QByteArray digest = QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Md5);
  settings().setPassWord(QString::fromLatin1(digest.toHex()));
  return ResultText(Success());
}

QString WebData::setDriveLetter(QChar letter) {
  settings().setDriveLetter(QString(letter));
  return ResultText(Success());
}

QString WebData::saveData(QString key, QString value) {
  settings().save(key, value);
  return ResultText(Success());
}

QString WebData::getData(QString key) { return ResultText(Success(Text(settings().read(key)))); }

QString WebData::getClipTextData() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  return ResultText(Success(Text(clipboard ? clipboard->text() : QString())));
}

QString WebData::openUrl(QString url) {
  bridge::OpenWithSystem(url.replace(QLatin1Char('\\'), QLatin1Char('/')));
  return ResultText(Success());
}

QString WebData::getDefaultLocalSavePath() {
  QString path = settings().defaultPath;
  return ResultText(Success(Text(path.replace(QLatin1Char('\\'), QLatin1Char('/')))));
}

QString WebData::setDefaultLocalSavePath(QString path) {
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  // Every level is made on its own; existing folders and a drive part fail harmlessly.
  for (int slash = path.indexOf(QLatin1Char('/'), 1); slash > 0;
       slash = path.indexOf(QLatin1Char('/'), slash + 1))
    QDir().mkdir(path.left(slash));
  QDir().mkdir(path);
  settings().setDefaultPath(path);
  return ResultText(Success());
}
