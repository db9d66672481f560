#include "desktop/transfers/UploadFileThread.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>

#include "platform/drivepath/DrivePath.h"
#include "platform/ticks/Ticks.h"

namespace {

// An answer of the drive's "local path of key" that names no folder: empty (the drive is not
// running) or an error code of its login or tree read ("-2").
bool NoFolder(const std::string& answer) {
  if (answer.empty()) return true;
  return answer.size() > 1 && answer[0] == '-' &&
         std::all_of(answer.begin() + 1, answer.end(), [](char c) { return c >= '0' && c <= '9'; });
}

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

// A write into the drive that failed: for lack of space, or otherwise.
int32_t WriteFailure(const QFile& target) {
  return target.error() == QFileDevice::ResourceError ? kFailureDriveFull : kFailureDriveWrite;
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
  // A failed task keeps showing why it failed.
  if (task_.status != kTaskCompleted && task_.status != kTaskFailed) task_.status = kTaskStopped;
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
  std::string drivePath = localPathOfKey_(task_.parentId);
  if (NoFolder(drivePath)) return fail(kFailureNoDrive);
  QString folder = QString::fromStdString(drivepath::ToLocalPath(drivePath));
  if (int32_t ended = openTarget(folder); ended != kTaskRunning) return ended;
  // What the service holds of the task's copy before this run adds to it.
  const int64_t held = task_.size;
  QFile source(QString::fromStdString(task_.filePath).replace(QLatin1Char('\\'), QLatin1Char('/')));
  int32_t failure = kFailureSource;
  if (source.exists() && source.open(QIODevice::ReadOnly) && source.seek(task_.size)) {
    failure = copy(source);
    source.close();
  }
  if (!closeTarget(failure == kFailureNone) && failure == kFailureNone) failure = kFailureNotSaved;
  if (failure != kFailureNone) {
    // The drive finishes no upload that lost a write, and the service keeps nothing of a
    // refused one: what it holds is what it held before this run.
    task_.size = held;
    return fail(failure);
  }
  return task_.size == task_.fullSize ? kTaskCompleted : kTaskStopped;
}

int32_t UploadFileThread::fail(int32_t failure) {
  task_.failure = failure;
  return kTaskFailed;
}

bool UploadFileThread::closeTarget(bool copied) {
  // The drive hands the service's answer to the upload to the close.
  target_->close();
  bool saved = target_->error() == QFileDevice::NoError;
  if (task_.wish == kWishRemoveWithFile) {
    target_->remove();
    task_.remoteSize = -1;
  } else if (copied && saved) {
    // What the task itself left at the service: only a copy still like this is resumed.
    QFileInfo left(target_->fileName());
    task_.remoteSize = task_.size.load();
    task_.remoteTime = std::max<int64_t>(ModifiedSeconds(left), NowSeconds());
  }
  target_.reset();
  return saved;
}

int32_t UploadFileThread::openTarget(const QString& folder) {
  if (target_) target_->close();
  QString path = folder + QStringLiteral("/") + QString::fromStdString(task_.fileName);
  path.replace(QLatin1Char('\\'), QLatin1Char('/'));
  target_ = std::make_unique<QFile>(path);
  QFileInfo existing(path);
  if (existing.exists()) {
    if (int32_t failure = ForeignCopy(task_, existing); failure != kFailureNone) {
      target_.reset();
      return fail(failure);
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
    int32_t failure = WriteFailure(*target_);
    target_.reset();
    return fail(failure);
  }
  return kTaskRunning;
}

int32_t UploadFileThread::copy(QFile& source) {
  QByteArray chunk(static_cast<int>(kChunk), Qt::Uninitialized);
  while (!source.atEnd()) {
    if (task_.wish == kWishRun) task_.status = kTaskRunning;
    if (task_.wish < kWishRun) break;  // paused or removed
    qint64 read = source.read(chunk.data(), kChunk);
    if (read < 0) return kFailureSource;
    if (read > 0) {
      qint64 written = target_->write(chunk.constData(), read);
      if (written > 0) task_.size = task_.size + written;
      if (written != read) return WriteFailure(*target_);
    }
    if (!target_->flush()) return WriteFailure(*target_);
  }
  return kFailureNone;
}

void UploadFileThread::timer() {
  SpeedWindow::Result result = speed_.sample(task_.size, GetTickCount());
  task_.time = task_.time + result.timeAdded;
  task_.speed = result.speed;
}
