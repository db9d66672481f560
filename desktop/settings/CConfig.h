// The desktop program's view of the settings file shared with the drive program, and the
// page's own key-value store ".data" in the program folder, the settings file's folder. load()
// takes a snapshot of the file; each write operation changes one key in the file at once.
#pragma once

#include <QObject>
#include <QString>

class CConfig : public QObject {
  Q_OBJECT

 public:
  explicit CConfig(const QString& settingsPath, QObject* parent = nullptr);

  // Reads every known key, with its default when missing; creates the default download
  // folder on the way. A stored download folder of the old default at the file-system root
  // that this user cannot write reads as the current default.
  void load();

  // Each stores the value, writes its key to the file and returns 0.
  int setDefaultPath(const QString& value);
  int setPassWord(const QString& value);
  int setUserName(const QString& value);
  int setDriveLetter(const QString& value);
  int setRun(int value);
  int setCacheMod(int value);
  int setDebug(int value);
  int setMaxDiskCache(int value);

  // The page store: values are kept Base64-encoded under "data/<Base64 of the key>"; an
  // empty value removes the key, a missing key reads as empty.
  void save(const QString& key, const QString& value);
  QString read(const QString& key);

  // The folder that Set/DefaultPath defaults to: "QLDownloads/" inside the user's download
  // folder (`userDownloads`, by default UserDownloadFolder()).
  static QString DefaultDownloadFolder(const QString& userDownloads = UserDownloadFolder());
  // The user's download folder as the desktop names it (XDG_DOWNLOAD_DIR in
  // $XDG_CONFIG_HOME/user-dirs.dirs, else ~/Downloads), without a trailing slash.
  static QString UserDownloadFolder();

  QString driveLetter = QStringLiteral("M");
  int debug = 0;
  QString userName;
  QString passWord;
  int cacheMod = 0;
  int maxDiskCache = 100;
  QString defaultPath;
  QString serverAddress;
  QString process;
  int debugging = 0;
  int height = 0;
  int width = 0;
  const QString settingsPath;

 private:
  void writeKey(const QString& key, const QVariant& value);
  QString pageStorePath() const;

  const QString programFolder_;
};

// Host of the storage service when the settings name none.
inline constexpr char kDefaultServerAddressText[] = "127.0.0.1";
