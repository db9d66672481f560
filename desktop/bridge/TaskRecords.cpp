#include "desktop/bridge/TaskRecords.h"

#include <QDateTime>

namespace bridge {

namespace {

QString LocalTime(uint32_t seconds) {
  return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

struct TaskMessage {
  TaskOperation operation;
  int code;
  const char* text;  // UTF-8
};

const TaskMessage kTaskMessages[] = {
    {TaskOperation::AddDownload, -1, "该任务已经存在"},
    {TaskOperation::AddDownload, -2, "该下载目录无法创建"},
    {TaskOperation::AddUpload, -1, "该任务已经存在"},
    {TaskOperation::AddUpload, -2, "源文件%s不存在"},
    {TaskOperation::PauseDownload, -1, "该任务不存在"},
    {TaskOperation::PauseUpload, -1, "该任务不存在"},
    {TaskOperation::PauseDownload, -2, "该任务文件正在等待状态"},
    {TaskOperation::PauseUpload, -2, "该任务文件正在等待状态"},
    {TaskOperation::StartDownload, -1, "该任务不存在"},
    {TaskOperation::StartUpload, -1, "该任务不存在"},
    {TaskOperation::StartDownload, -2, "该任务正在下载中"},
    {TaskOperation::StartUpload, -2, "该任务正在上传中"},
    {TaskOperation::StartDownload, -3, "该任务文件已经下载完毕"},
    {TaskOperation::StartUpload, -3, "该任务文件已经上传完毕"},
    {TaskOperation::StartDownload, -4, "该任务文件正在等待状态"},
    {TaskOperation::StartUpload, -4, "该任务文件正在等待状态"},
    {TaskOperation::DeleteDownload, -1, "该任务不存在"},
    {TaskOperation::DeleteUpload, -1, "该任务不存在"},
};

}  // namespace

Json::Value TaskRecord(const TaskFields& task, bool upload) {
  Json::Value record;
  record["fileId"] = task.id;
  record["status"] = TaskStatusName(task.status, upload);
  record["fileSize"] = std::to_string(task.fullSize);
  record["Size"] = std::to_string(task.size);
  record["fileName"] = task.fileName;
  record["timeElapsed"] = task.time;
  record["downloadSpeed"] = task.speed;
  record["createdDate"] = LocalTime(task.createTime).toStdString();
  record["completedDate"] = LocalTime(task.completedTime).toStdString();
  if (task.failure != kFailureNone) record["errorMessage"] = TaskFailureText(task.failure);
  return record;
}

Json::Value TaskRecords(const std::map<std::string, TaskFields>& tasks, bool upload) {
  Json::Value list(Json::arrayValue);
  for (const auto& [id, task] : tasks) {
    // A task the user deleted leaves the list at once; its manager drops it at its next pass.
    if (task.wish < kWishHold) continue;
    list.append(TaskRecord(task, upload));
  }
  return list;
}

std::optional<QString> TaskFailureMessage(TaskOperation operation, int code,
                                          const QString& filePath) {
  for (const TaskMessage& message : kTaskMessages) {
    if (message.operation != operation || message.code != code) continue;
    QString text = QString::fromUtf8(message.text);
    return text.replace(QStringLiteral("%s"), filePath);
  }
  return std::nullopt;
}

}  // namespace bridge
