// The page's settings: the account, the drive letter, the server address, the default save
// folder and the page's own key-value store, all through the one loaded settings store.
#pragma once

#include <QChar>
#include <QString>

class CConfig;

namespace bridge {

class SettingsAnswers {
 public:
  explicit SettingsAnswers(CConfig& config) : config_(config) {}

  CConfig& config() const { return config_; }

  // Reads the settings file again.
  void init();
  QString getUserName() const;
  QString getPassWord() const;
  // Also names the letter's folder ("folder"), where the drive is mounted.
  QString getDriveLetter() const;
  QString setUserName(const QString& name);
  // Stores the MD5 digest of the password in lower-case hex, never the password.
  QString setPassWord(const QString& password);
  QString setDriveLetter(QChar letter);
  QString saveData(const QString& key, const QString& value);
  QString getData(const QString& key) const;
  QString getDefaultLocalSavePath() const;
  // Makes the folder, level by level, and stores it with forward slashes.
  QString setDefaultLocalSavePath(QString path);

 private:
  CConfig& config_;
};

// {"returnCode": 0, "result": text}.
QString TextAnswer(const QString& text);

}  // namespace bridge
