// The page's operations on the download and upload task managers, their lists, the login
// session that signs downloads, and opening what a download brought. Without a manager its
// operations answer returnCode -1.
#pragma once

#include <QString>

class ActiveDownloads;
class CConfig;
class DownloadFile;
class UploadFile;

namespace bridge {

class TaskAnswers {
 public:
  TaskAnswers(ActiveDownloads& active, CConfig& config) : active_(active), config_(config) {}

  // The managers stay owned by the caller.
  void setDownloads(DownloadFile* downloads) { downloads_ = downloads; }
  void setUploads(UploadFile* uploads) { uploads_ = uploads; }

  QString loginSession() const { return loginSession_; }
  void setLoginSession(const QString& session);

  QString setMaxActiveDownloadTaskNumber(int limit);
  QString getAllDownloadTaskList() const;
  QString getDownloadingTaskList() const;
  QString getCompletedTaskList() const;
  QString getDiskInfo(const QString& fileid) const;
  QString addLocalDownloadTask(const QString& fileid, const QString& url, const QString& filepath,
                               qint64 fullsize, bool isAutoStart);
  QString pauseDownloadTask(const QString& fileid);
  QString startDownloadTask(const QString& fileid);
  QString deleteDownloadTask(const QString& fileid, bool isDeleteLocal);
  QString addLocalUploadTask(const QString& filepath, const QString& pid, bool isAutoStart);
  QString pauseUploadTask(const QString& upid);
  QString startUploadTask(const QString& upid);
  QString deleteUploadTask(const QString& upid, bool isDeleteFile);
  QString getAllUploadTaskList() const;
  QString getUploadingTaskList() const;
  QString getCompletedUploadingTaskList() const;
  QString openLocalFile(const QString& fileid) const;
  // The folder of a download's file, or the default save folder for an empty id.
  QString openLocalFolder(const QString& fileid) const;

 private:
  ActiveDownloads& active_;
  CConfig& config_;
  DownloadFile* downloads_ = nullptr;
  UploadFile* uploads_ = nullptr;
  QString loginSession_;
};

}  // namespace bridge
