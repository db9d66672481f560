// The object the page's script reaches as "Quellanview". Its public slots are the page's whole
// interface, and their order is part of it: a slot's index in the meta-object stays fixed.
// Text slots answer one JSON result object ("returnCode", and where given "result" and
// "errorMessage"); the others act on the window and answer nothing. Every slot runs on the GUI
// thread, called synchronously from the page, and hands the call to the helper of its group.
#pragma once

#include <QChar>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include "desktop/bridge/DriveAnswers.h"
#include "desktop/bridge/ListAnswers.h"
#include "desktop/bridge/LocalAnswers.h"
#include "desktop/bridge/SettingsAnswers.h"
#include "desktop/bridge/TaskAnswers.h"
#include "desktop/bridge/VersionAnswers.h"
#include "desktop/bridge/WindowAnswers.h"

class CAction;
class Dialog;
class UpdateInstaller;
struct DesktopContext;

class WebData : public QObject {
  Q_OBJECT
  // The drive status codes by name, read once by the page when it starts.
  Q_PROPERTY(QVariantMap driveStates READ driveStates CONSTANT)

 public:
  // The context, the drive control and the settings (loaded) stay owned by the caller and
  // outlive the bridge; `window` may be null (tests).
  WebData(DesktopContext& context, CAction& action, CConfig& config, Dialog* window);
  ~WebData() override;

  // The task managers and the version checker stay owned by the caller.
  void setDownloads(DownloadFile* downloads) { tasks_.setDownloads(downloads); }
  void setUploads(UploadFile* uploads) { tasks_.setUploads(uploads); }
  void setVersion(MVersion* version) { version_.setVersion(version); }
  void setUpdateInstaller(UpdateInstaller* installer) { installer_ = installer; }
  QString loginSession() const { return tasks_.loginSession(); }
  QVariantMap driveStates() const { return bridge::DriveAnswers::DriveStates(); }

 public slots:
  void init() { settings_.init(); }
  QString getUserName() { return settings_.getUserName(); }
  QString getPassWord() { return settings_.getPassWord(); }
  QString getDriveLetter() { return settings_.getDriveLetter(); }
  QString getRunDriveLetter() { return drive_.getRunDriveLetter(); }
  QString getDriveLetterList() { return drive_.getDriveLetterList(); }
  QString getServerAddress();
  QString setUserName(QString username) { return settings_.setUserName(username); }
  QString setPassWord(QString password) { return settings_.setPassWord(password); }
  QString setDriveLetter(QChar letter) { return settings_.setDriveLetter(letter); }
  QString play(QString fileid) { return drive_.play(fileid); }
  QString saveData(QString key, QString value) { return settings_.saveData(key, value); }
  QString getData(QString key) { return settings_.getData(key); }
  QString restartDisk() { return drive_.restartDisk(); }
  QString startDisk(int maxRetryTimes, int timeout) {
    return drive_.startDisk(maxRetryTimes, timeout);
  }
  QString stopDisk() { return drive_.stopDisk(); }
  QString openFolder(QString fileid) { return drive_.openFolder(fileid); }
  QString flushList() { return drive_.flushList(); }
  QString openLocalFile(QString fileid) { return tasks_.openLocalFile(fileid); }
  QString openLocalFolder(QString fileid) { return tasks_.openLocalFolder(fileid); }
  QString getClipTextData() { return local_.getClipTextData(); }
  QString openUrl(QString url) { return local_.openUrl(url); }
  QString setMaxActiveDownloadTaskNumber(int maxActiveDownloadTaskNumber) {
    return tasks_.setMaxActiveDownloadTaskNumber(maxActiveDownloadTaskNumber);
  }
  QString getAllDownloadTaskList() { return tasks_.getAllDownloadTaskList(); }
  QString getDownloadingTaskList() { return tasks_.getDownloadingTaskList(); }
  QString getCompletedTaskList() { return tasks_.getCompletedTaskList(); }
  QString modifyLocalSavePath(QString fileid, QString filename, bool isSetToDefualt) {
    Q_UNUSED(fileid);
    return local_.modifyLocalSavePath(filename, isSetToDefualt);
  }
  QString modifyDefaultLocalSavePath() { return local_.modifyDefaultLocalSavePath(); }
  QString modifyLocalPath() { return local_.modifyLocalPath(); }
  QString getDefaultLocalSavePath() { return settings_.getDefaultLocalSavePath(); }
  QString setDefaultLocalSavePath(QString path) { return settings_.setDefaultLocalSavePath(path); }
  QString getDiskInfo(QString fileid) { return tasks_.getDiskInfo(fileid); }
  QString addLocalDownloadTask(QString fileid, QString url, QString filepath, qint64 fullsize,
                               bool isAutoStart) {
    return tasks_.addLocalDownloadTask(fileid, url, filepath, fullsize, isAutoStart);
  }
  QString pauseDownloadTask(QString fileid) { return tasks_.pauseDownloadTask(fileid); }
  QString startDownloadTask(QString fileid) { return tasks_.startDownloadTask(fileid); }
  QString deleteDownloadTask(QString fileid, bool isDeleteLocal) {
    return tasks_.deleteDownloadTask(fileid, isDeleteLocal);
  }
  QString getLocalFilePath() { return local_.getLocalFilePath(); }
  QString addLocalUploadTask(QString filepath, QString pid, bool isAutoStart) {
    return tasks_.addLocalUploadTask(filepath, pid, isAutoStart);
  }
  QString pauseUploadTask(QString upid) { return tasks_.pauseUploadTask(upid); }
  QString startUploadTask(QString upid) { return tasks_.startUploadTask(upid); }
  QString deleteUploadTask(QString upid, bool isDeleteFile) {
    return tasks_.deleteUploadTask(upid, isDeleteFile);
  }
  QString getAllUploadTaskList() { return tasks_.getAllUploadTaskList(); }
  QString getUploadingTaskList() { return tasks_.getUploadingTaskList(); }
  QString getCompletedUploadingTaskList() { return tasks_.getCompletedUploadingTaskList(); }
  QString mkdir(QString id, QString path) { return drive_.mkdir(id, path); }
  QString remove(QString id, bool isRemoveEmptyFolder) {
    return drive_.remove(id, isRemoveEmptyFolder);
  }
  QString getNetDiskStatus() { return drive_.getNetDiskStatus(); }
  QString getFileList(QString fileIdList, int filter) {
    return lists_.getFileList(fileIdList, filter);
  }
  QString getFolderListById(QString id) { return lists_.getFolderListById(id); }
  QString getFolderTree(int filter) { return lists_.getFolderTree(filter); }
  QString rename(QString id, QString name) { return drive_.rename(id, name); }
  QString getNetDiskFileList(QString fileId, bool sub) {
    return lists_.getNetDiskFileList(fileId, sub);
  }
  QString getCurVersion() { return version_.getCurVersion(); }
  void getNewVersion(QString back) { version_.getNewVersion(back); }
  void downloadNewProgram(QString back) { version_.downloadNewProgram(back); }
  void setMouseMoveRange(int top, int left, int height, int width) {
    window_.setMouseMoveRange(top, left, height, width);
  }
  void isMoving(bool moving) { window_.isMoving(moving); }
  void moveScreenCentre() { window_.moveScreenCentre(); }
  void close() { window_.close(); }
  void miniWindow() { window_.miniWindow(); }
  void hideWindow() { window_.hideWindow(); }
  void moveWindow(int x, int y) { window_.moveWindow(x, y); }
  void setLoginSession(QString session) { tasks_.setLoginSession(session); }
  void resize(int w, int h) { window_.resize(w, h); }
  // Kept for pages that call it; hideWindow() is the slot that hides the window.
  void hide() {}
  void show() { window_.show(); }
  // Starts the drive without waiting; the page follows getNetDiskStatus.
  QString beginStartDisk() { return drive_.beginStartDisk(); }
  // Installs the downloaded new version and restarts into it; back names the page function
  // that gets the answer (see UpdateInstaller.h). Does nothing without an installer.
  void installNewProgram(QString back);

 private:
  CConfig& settings() const { return settings_.config(); }

  bridge::SettingsAnswers settings_;
  bridge::DriveAnswers drive_;
  bridge::LocalAnswers local_;
  bridge::ListAnswers lists_;
  bridge::TaskAnswers tasks_;
  bridge::VersionAnswers version_;
  UpdateInstaller* installer_ = nullptr;
  bridge::WindowAnswers window_;
};
