#include "desktop/bridge/TaskAnswers.h"

#include <QDir>

#include "desktop/bridge/ResultText.h"
#include "desktop/bridge/SystemOpen.h"
#include "desktop/bridge/TaskRecords.h"
#include "desktop/settings/CConfig.h"
#include "desktop/transfers/ActiveDownloads.h"
#include "desktop/transfers/DownloadFile.h"
#include "desktop/transfers/UploadFile.h"

namespace bridge {
namespace {

constexpr bool kDownloads = false;
constexpr bool kUploads = true;

// A manager code as the page sees it.
QString TaskAnswer(TaskOperation operation, int code, const QString& filePath = QString()) {
  if (code == 0) return ResultText(Success());
  if (auto message = TaskFailureMessage(operation, code, filePath))
    return ResultText(Failure(-1, *message));
  return ResultText(Failure(-1));
}

QString NoManager() { return ResultText(Failure(-1)); }

QString NoDownloadTask() { return ResultText(Failure(-1, QStringLiteral("没有找到下载的任务"))); }

}  // namespace

// Downloads are signed with this session: without it the download scheduler starts nothing.
void TaskAnswers::setLoginSession(const QString& session) {
  loginSession_ = session;
  if (downloads_) downloads_->setSession(session);
}

QString TaskAnswers::setMaxActiveDownloadTaskNumber(int limit) {
  active_.setLimit(limit);
  return ResultText(Success());
}

QString TaskAnswers::getAllDownloadTaskList() const {
  if (!downloads_) return NoManager();
  return ResultText(Success(TaskRecords(downloads_->allTasks(), kDownloads)));
}

QString TaskAnswers::getDownloadingTaskList() const {
  if (!downloads_) return NoManager();
  return ResultText(Success(TaskRecords(downloads_->downloadingTasks(), kDownloads)));
}

QString TaskAnswers::getCompletedTaskList() const {
  if (!downloads_) return NoManager();
  return ResultText(Success(TaskRecords(downloads_->completedTasks(), kDownloads)));
}

QString TaskAnswers::getDiskInfo(const QString& fileid) const {
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

QString TaskAnswers::addLocalDownloadTask(const QString& fileid, const QString& url,
                                          const QString& filepath, qint64 fullsize,
                                          bool isAutoStart) {
  if (!downloads_) return NoManager();
  int code = downloads_->add(fileid.toStdString(), url.toStdString(), filepath.toStdString(),
                             fullsize, isAutoStart);
  return TaskAnswer(TaskOperation::AddDownload, code);
}

QString TaskAnswers::pauseDownloadTask(const QString& fileid) {
  if (!downloads_) return NoManager();
  return TaskAnswer(TaskOperation::PauseDownload, downloads_->pause(fileid.toStdString()));
}

QString TaskAnswers::startDownloadTask(const QString& fileid) {
  if (!downloads_) return NoManager();
  return TaskAnswer(TaskOperation::StartDownload, downloads_->start(fileid.toStdString()));
}

QString TaskAnswers::deleteDownloadTask(const QString& fileid, bool isDeleteLocal) {
  if (!downloads_) return NoManager();
  return TaskAnswer(TaskOperation::DeleteDownload,
                    downloads_->remove(fileid.toStdString(), isDeleteLocal));
}

QString TaskAnswers::addLocalUploadTask(const QString& filepath, const QString& pid,
                                        bool isAutoStart) {
  if (!uploads_) return NoManager();
  int code = uploads_->add(filepath.toStdString(), pid.toStdString(), isAutoStart);
  return TaskAnswer(TaskOperation::AddUpload, code, filepath);
}

QString TaskAnswers::pauseUploadTask(const QString& upid) {
  if (!uploads_) return NoManager();
  return TaskAnswer(TaskOperation::PauseUpload, uploads_->pause(upid.toStdString()));
}

QString TaskAnswers::startUploadTask(const QString& upid) {
  if (!uploads_) return NoManager();
  return TaskAnswer(TaskOperation::StartUpload, uploads_->start(upid.toStdString()));
}

QString TaskAnswers::deleteUploadTask(const QString& upid, bool isDeleteFile) {
  if (!uploads_) return NoManager();
  return TaskAnswer(TaskOperation::DeleteUpload,
                    uploads_->remove(upid.toStdString(), isDeleteFile));
}

QString TaskAnswers::getAllUploadTaskList() const {
  if (!uploads_) return NoManager();
  return ResultText(Success(TaskRecords(uploads_->allTasks(), kUploads)));
}

QString TaskAnswers::getUploadingTaskList() const {
  if (!uploads_) return NoManager();
  return ResultText(Success(TaskRecords(uploads_->uploadingTasks(), kUploads)));
}

QString TaskAnswers::getCompletedUploadingTaskList() const {
  if (!uploads_) return NoManager();
  return ResultText(Success(TaskRecords(uploads_->completedTasks(), kUploads)));
}

QString TaskAnswers::openLocalFile(const QString& fileid) const {
  if (!downloads_) return NoManager();
  std::optional<TaskFields> task = downloads_->task(fileid.toStdString());
  if (!task) return NoDownloadTask();
  if (task->status != kTaskCompleted)
    return ResultText(Failure(-1, QStringLiteral("文件没有下载完成")));
  return OpenAnswer(QString::fromStdString(task->filePath));
}

QString TaskAnswers::openLocalFolder(const QString& fileid) const {
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
    // The download folder is made when it is first used; before any download it may not
    // exist yet.
    folder = config_.defaultPath;
    if (!folder.isEmpty()) QDir().mkpath(folder);
  }
  if (folder.isEmpty()) return ResultText(Success());
  return OpenAnswer(folder);
}

}  // namespace bridge
