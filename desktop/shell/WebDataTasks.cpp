// Download and upload tasks: the page's operations on the two task managers, their lists,
// and opening what a download brought.
#include "desktop/settings/CConfig.h"
#include "desktop/shell/WebData.h"
#include "desktop/bridge/ResultText.h"
#include "desktop/bridge/SystemOpen.h"
#include "desktop/bridge/TaskRecords.h"
#include "desktop/transfers/DownloadFile.h"
#include "desktop/transfers/UploadFile.h"

using bridge::Failure;
using bridge::ResultText;
using bridge::Success;
using bridge::TaskOperation;

namespace {

constexpr bool kDownloads = false;
constexpr bool kUploads = true;

// A manager code as the page sees it.
QString TaskAnswer(TaskOperation operation, int code, const QString& filePath = QString()) {
  if (code == 0) return ResultText(Success());
  if (auto message = bridge::TaskFailureMessage(operation, code, filePath))
    return ResultText(Failure(-1, *message));
  return ResultText(Failure(-1));
}

QString NoManager() { return ResultText(Failure(-1)); }

QString NoDownloadTask() { return ResultText(Failure(-1, QStringLiteral("没有找到下载的任务"))); }

}  // namespace

QString WebData::setMaxActiveDownloadTaskNumber(int maxActiveDownloadTaskNumber) {
  DownloadFile::setMaxActive(maxActiveDownloadTaskNumber);
  return ResultText(Success());
}

QString WebData::getAllDownloadTaskList() {
  if (!downloads_) return NoManager();
  return ResultText(Success(bridge::TaskRecords(downloads_->allTasks(), kDownloads)));
}

QString WebData::getDownloadingTaskList() {
  if (!downloads_) return NoManager();
  return ResultText(Success(bridge::TaskRecords(downloads_->downloadingTasks(), kDownloads)));
}

QString WebData::getCompletedTaskList() {
  if (!downloads_) return NoManager();
  return ResultText(Success(bridge::TaskRecords(downloads_->completedTasks(), kDownloads)));
}

QString WebData::getDiskInfo(QString fileid) {
  if (!downloads_) return NoManager();
  int64_t total = 0, available = 0;
  int code = downloads_->diskInfo(fileid.toStdString(), &total, &available);
  if (code < 0) return ResultText(Failure(code, QStringLiteral("网盘服务错误")));
  Json::Value space;
  space["totalSize"] = std::to_string(total);
  space["freeSize"] = std::to_string(available);
  Json::Value answer = Success(space);
  answer["returnCode"] = code;
  return ResultText(answer);
}

QString WebData::addLocalDownloadTask(QString fileid, QString url, QString filepath,
                                      qint64 fullsize, bool isAutoStart) {
  if (!downloads_) return NoManager();
  int code = downloads_->add(fileid.toStdString(), url.toStdString(), filepath.toStdString(),
                             fullsize, isAutoStart);
  return TaskAnswer(TaskOperation::AddDownload, code);
}

QString WebData::pauseDownloadTask(QString fileid) {
  if (!downloads_) return NoManager();
  return TaskAnswer(TaskOperation::PauseDownload, downloads_->pause(fileid.toStdString()));
}

QString WebData::startDownloadTask(QString fileid) {
  if (!downloads_) return NoManager();
  return TaskAnswer(TaskOperation::StartDownload, downloads_->start(fileid.toStdString()));
}

QString WebData::deleteDownloadTask(QString fileid, bool isDeleteLocal) {
  if (!downloads_) return NoManager();
  return TaskAnswer(TaskOperation::DeleteDownload,
                    downloads_->remove(fileid.toStdString(), isDeleteLocal));
}

QString WebData::addLocalUploadTask(QString filepath, QString pid, bool isAutoStart) {
  if (!uploads_) return NoManager();
  int code = uploads_->add(filepath.toStdString(), pid.toStdString(), isAutoStart);
  return TaskAnswer(TaskOperation::AddUpload, code, filepath);
}

QString WebData::pauseUploadTask(QString upid) {
  if (!uploads_) return NoManager();
  return TaskAnswer(TaskOperation::PauseUpload, uploads_->pause(upid.toStdString()));
}

QString WebData::startUploadTask(QString upid) {
  if (!uploads_) return NoManager();
  return TaskAnswer(TaskOperation::StartUpload, uploads_->start(upid.toStdString()));
}

QString WebData::deleteUploadTask(QString upid, bool isDeleteFile) {
  if (!uploads_) return NoManager();
  return TaskAnswer(TaskOperation::DeleteUpload,
                    uploads_->remove(upid.toStdString(), isDeleteFile));
}

QString WebData::getAllUploadTaskList() {
  if (!uploads_) return NoManager();
  return ResultText(Success(bridge::TaskRecords(uploads_->allTasks(), kUploads)));
}

QString WebData::getUploadingTaskList() {
  if (!uploads_) return NoManager();
  return ResultText(Success(bridge::TaskRecords(uploads_->uploadingTasks(), kUploads)));
}

QString WebData::getCompletedUploadingTaskList() {
  if (!uploads_) return NoManager();
  return ResultText(Success(bridge::TaskRecords(uploads_->completedTasks(), kUploads)));
}

QString WebData::openLocalFile(QString fileid) {
  if (!downloads_) return NoManager();
  std::optional<TaskFields> task = downloads_->task(fileid.toStdString());
  if (!task) return NoDownloadTask();
  if (task->status != kTaskCompleted)
    return ResultText(Failure(-1, QStringLiteral("文件没有下载完成")));
  bridge::OpenWithSystem(QString::fromStdString(task->filePath));
  return ResultText(Success());
}

QString WebData::openLocalFolder(QString fileid) {
  QString folder;
  if (!fileid.isEmpty()) {
    if (!downloads_) return NoManager();
    std::optional<TaskFields> task = downloads_->task(fileid.toStdString());
    if (!task) return NoDownloadTask();
    QString path = QString::fromStdString(task->filePath);
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    int separator = path.lastIndexOf(QLatin1Char('/'));
    if (separator < 0) return ResultText(Failure(-1, QStringLiteral("该文件路径错误")));
    folder = path.left(separator);
  } else {
    folder = settings().defaultPath;
  }
  if (!folder.isEmpty()) bridge::OpenWithSystem(folder);
  return ResultText(Success());
}
