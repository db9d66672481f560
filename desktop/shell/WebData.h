// The object the page's script reaches as "Quellanview". Its public slots are the page's whole
// interface, and their order is part of it: a slot's index in the meta-object stays fixed.
// Text slots answer one JSON result object ("returnCode", and where given "result" and
// "errorMessage"); the others act on the window and answer nothing. Every slot runs on the GUI
// thread, called synchronously from the page.
#pragma once

#include <QChar>
#include <QObject>
#include <QString>
#include <QVariantMap>

class CConfig;
class CAction;
class Dialog;
class DownloadFile;
class UploadFile;
class MVersion;
class QWebFrame;

class WebData : public QObject {
  Q_OBJECT
  // The drive status codes by name, read once by the page when it starts.
  Q_PROPERTY(QVariantMap driveStates READ driveStates CONSTANT)

 public:
  // `window` (may be null in tests) is also the parent.
  WebData(CAction& action, Dialog* window);
  ~WebData() override;

  // Keeps `config` (loaded) for the bridge's lifetime.
  void setConfig(CConfig* config);
  void setFrame(QWebFrame* frame) { frame_ = frame; }
  // The task managers and the version checker stay owned by the caller.
  void setDownloads(DownloadFile* downloads) { downloads_ = downloads; }
  void setUploads(UploadFile* uploads) { uploads_ = uploads; }
  void setVersion(MVersion* version) { version_ = version; }
  CConfig* config() const { return config_; }
  QString loginSession() const { return loginSession_; }

  QVariantMap driveStates() const;

 public slots:
  void init();
  QString getUserName();
  QString getPassWord();
  QString getDriveLetter();
  QString getRunDriveLetter();
  QString getDriveLetterList();
  QString getServerAddress();
  QString setUserName(QString username);
  QString setPassWord(QString password);
  QString setDriveLetter(QChar letter);
  QString play(QString fileid);
  QString saveData(QString key, QString value);
  QString getData(QString key);
  QString restartDisk();
  QString startDisk(int maxRetryTimes, int timeout);
  QString stopDisk();
  QString openFolder(QString fileid);
  QString flushList();
  QString openLocalFile(QString fileid);
  QString openLocalFolder(QString fileid);
  QString getClipTextData();
  QString openUrl(QString url);
  QString setMaxActiveDownloadTaskNumber(int maxActiveDownloadTaskNumber);
  QString getAllDownloadTaskList();
  QString getDownloadingTaskList();
  QString getCompletedTaskList();
  QString modifyLocalSavePath(QString fileid, QString filename, bool isSetToDefualt);
  QString modifyDefaultLocalSavePath();
  QString modifyLocalPath();
  QString getDefaultLocalSavePath();
  QString setDefaultLocalSavePath(QString path);
  QString getDiskInfo(QString fileid);
  QString addLocalDownloadTask(QString fileid, QString url, QString filepath, qint64 fullsize,
                               bool isAutoStart);
  QString pauseDownloadTask(QString fileid);
  QString startDownloadTask(QString fileid);
  QString deleteDownloadTask(QString fileid, bool isDeleteLocal);
  QString getLocalFilePath();
  QString addLocalUploadTask(QString filepath, QString pid, bool isAutoStart);
  QString pauseUploadTask(QString upid);
  QString startUploadTask(QString upid);
  QString deleteUploadTask(QString upid, bool isDeleteFile);
  QString getAllUploadTaskList();
  QString getUploadingTaskList();
  QString getCompletedUploadingTaskList();
  QString mkdir(QString id, QString path);
  QString remove(QString id, bool isRemoveEmptyFolder);
  QString getNetDiskStatus();
  QString getFileList(QString fileIdList, int filter);
  QString getFolderListById(QString id);
  QString getFolderTree(int filter);
  QString rename(QString id, QString name);
  QString getNetDiskFileList(QString fileId, bool sub);
  QString getCurVersion();
  void getNewVersion(QString back);
  void downloadNewProgram(QString back);
  void setMouseMoveRange(int top, int left, int height, int width);
  void isMoving(bool moving);
  void moveScreenCentre();
  void close();
  void miniWindow();
  void hideWindow();
  void moveWindow(int x, int y);
  void setLoginSession(QString session);
  void resize(int w, int h);
  void hide();
  void show();

 private:
  // The settings store, made and loaded on first use when none was given.
  CConfig& settings();

  CAction& action_;
  Dialog* window_ = nullptr;
  CConfig* config_ = nullptr;
  QWebFrame* frame_ = nullptr;
  DownloadFile* downloads_ = nullptr;
  UploadFile* uploads_ = nullptr;
  MVersion* version_ = nullptr;
  QString loginSession_;
};
