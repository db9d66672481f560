#include "desktop/transfers/UploadFileThread.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>

#include "platform/drivepath/DrivePath.h"
#include "platform/ticks/Ticks.h"

namespace {

int64_t ModifiedSeconds(const QFileInfo& file) { return file.lastModified().toSecsSinceEpoch(); }

// Why an existing target copy is not the task's own, or kFailureNone when it is: the copy the
// task left has the size it wrote and no modification after the task's last write (the
// service may stamp it up to then; a second more allows for rounding).
int32_t ForeignCopy(const TaskRecord& task, const QFileInfo& existing) {
  if (task.remoteSize < 0) return kFailureTargetTaken;
  bool unchanged =
      existing.size() == task.remoteSize && ModifiedSeconds(existing) <= task.remoteTime + 1;
  return unchanged ? kFailureNone : kFailureTargetChanged;
}

}  // namespace

UploadFileThread::UploadFileThread(TaskRecord& task,
                                   std::function<std::string(const std::string&)> localPathOfKey,
                                   std::function<void()> saveList, QObject* parent)
    : QThread(parent),
      task_(task),
      localPathOfKey_(std::move(localPathOfKey)),
      saveList_(std::move(saveList)) {
  speed_.clear(task_.size);
  secondTimer_.setInterval(1000);
  connect(&secondTimer_, &QTimer::timeout, this, &UploadFileThread::timer);
  secondTimer_.start();
}

UploadFileThread::~UploadFileThread() {
  wait();
  secondTimer_.stop();
  if (task_.status != kTaskCompleted) task_.status = kTaskStopped;
  task_.speed = 0;
  if (target_) {
    if (task_.wish == kWishRemoveWithFile) target_->remove();
    target_->close();
    target_.reset();
  }
}

void UploadFileThread::run() {
  int32_t status = runCopy();
  if (status == kTaskCompleted) task_.completedTime = NowSeconds();
  task_.speed = 0;
  disconnect(&secondTimer_, &QTimer::timeout, this, &UploadFileThread::timer);
  // Every end is saved, also one that found the copy complete or could not start. The final
  // status is shown only afterwards: a task that shows it needs nothing more of the list.
  if (saveList_) saveList_();
  task_.status = status;
}

int32_t UploadFileThread::runCopy() {
  task_.status = kTaskWaiting;
  task_.failure = kFailureNone;
  QString folder = QString::fromStdString(drivepath::ToLocalPath(localPathOfKey_(task_.parentId)));
  if (folder.isEmpty()) return kTaskFailed;
  if (int32_t ended = openTarget(folder); ended != kTaskRunning) return ended;
  QFile source(QString::fromStdString(task_.filePath).replace(QLatin1Char('\\'), QLatin1Char('/')));
  if (!source.exists() || !source.open(QIODevice::ReadOnly) || !source.seek(task_.size)) {
    closeTarget();
    return kTaskFailed;
  }
  copy(source);
  source.close();
  closeTarget();
  return task_.size == task_.fullSize ? kTaskCompleted : kTaskStopped;
}

void UploadFileThread::closeTarget() {
  target_->close();
  if (task_.wish == kWishRemoveWithFile) {
    target_->remove();
    task_.remoteSize = -1;
  } else {
    // What the task itself left at the service: only a copy still like this is resumed.
    QFileInfo left(target_->fileName());
    task_.remoteSize = task_.size.load();
    task_.remoteTime = std::max<int64_t>(ModifiedSeconds(left), NowSeconds());
  }
  target_.reset();
}

int32_t UploadFileThread::openTarget(const QString& folder) {
  if (target_) target_->close();
  QString path = folder + QStringLiteral("/") + QString::fromStdString(task_.fileName);
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  target_ = std::make_unique<QFile>(path);
  QFileInfo existing(path);
  if (existing.exists()) {
    if (int32_t failure = ForeignCopy(task_, existing); failure != kFailureNone) {
      task_.failure = failure;
      target_.reset();
      return kTaskFailed;
    }
    if (task_.remoteSize == task_.fullSize && task_.size == task_.fullSize) {
      target_.reset();
      return kTaskCompleted;
    }
  }
  // A new copy, or the task's own copy as this run left it, is appended to; another copy of
  // its own (a completed task added again) is written anew.
  bool append =
      !existing.exists() || (task_.remoteSize == task_.size && task_.size < task_.fullSize);
  if (!append || !existing.exists()) task_.size = 0;
  if (!target_->open(append ? QIODevice::WriteOnly | QIODevice::Append
                            : QIODevice::WriteOnly | QIODevice::Truncate)) {
    target_.reset();
    return kTaskFailed;
  }
  return kTaskRunning;
}

void UploadFileThread::copy(QFile& source) {
  QByteArray chunk(static_cast<int>(kChunk), Qt::Uninitialized);
  while (!source.atEnd()) {
    if (task_.wish == kWishRun) task_.status = kTaskRunning;
    if (task_.wish < kWishRun) break;  // paused or removed
    qint64 read = source.read(chunk.data(), kChunk);
    if (read < 0) break;
    if (read > 0) {
      qint64 written = target_->write(chunk.constData(), read);
      if (written > 0) task_.size = task_.size + written;
      if (written != read) break;  // the drive refused the rest; the task ends unfinished
    }
    target_->flush();
  }
}

void UploadFileThread::timer() {
  SpeedWindow::Result result = speed_.sample(task_.size, GetTickCount());
  task_.time = task_.time + result.timeAdded;
  task_.speed = result.speed;
}
