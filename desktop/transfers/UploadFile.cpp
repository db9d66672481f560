#include "desktop/transfers/UploadFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <algorithm>

#include "desktop/tasklines/TaskLine.h"
#include "desktop/transfers/TaskListFile.h"
#include "desktop/transfers/UploadFileThread.h"

namespace {

UploadFileThread* WorkerOf(const TaskRecord& task) {
  return static_cast<UploadFileThread*>(task.worker);
}

void DestroyWorker(TaskRecord& task) {
  delete WorkerOf(task);
  task.worker = nullptr;
}

}  // namespace

UploadFile::UploadFile(const QString& folder, LocalPathOfKey localPathOfKey, QObject* parent)
    : QObject(parent),
      listPath_(folder + QStringLiteral("/.tasklist.u")),
      localPathOfKey_(std::move(localPathOfKey)) {
  scheduler_.setInterval(kSchedulerMs);
  connect(&scheduler_, &QTimer::timeout, this, &UploadFile::timer);
  scheduler_.start();
}

UploadFile::~UploadFile() {
  scheduler_.stop();
  stopWorkers();
  save();  // saves the workers asked for may still be queued
}

void UploadFile::stopWorkers() {
  MutexLock hold(lock_);
  // Stop every copy first, then let the workers end.
  for (auto& [id, task] : tasks_) task->wish = kWishHold;
  for (auto& task : pendingDeletions_) DestroyWorker(*task);
  for (auto& [id, task] : tasks_) DestroyWorker(*task);
  for (UploadFileThread* worker : retiredWorkers_) delete worker;
  retiredWorkers_.clear();
}

std::string UploadFile::UpIdOf(const std::string& parentId, const std::string& fileName) {
  QByteArray text = QByteArray::fromStdString(parentId + "/" + fileName);
  return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex().toStdString();
}

int UploadFile::add(const std::string& filePath, const std::string& parentId, bool autoStart) {
  std::string path = filePath;
  std::replace(path.begin(), path.end(), '\\', '/');
  QFile source(QString::fromStdString(path));
  if (!source.exists()) return -2;
  size_t slash = path.rfind('/');
  std::string name = slash != std::string::npos && slash >= 1 ? path.substr(slash + 1) : path;
  std::string upId = UpIdOf(parentId, name);

  {
    MutexLock hold(lock_);
    if (!fillTask(upId, path, name, parentId, source.size(), autoStart)) return -1;
  }
  save();
  return 0;
}

bool UploadFile::fillTask(const std::string& upId, const std::string& path, const std::string& name,
                          const std::string& parentId, int64_t fullSize, bool autoStart) {
  auto found = tasks_.find(upId);
  if (found != tasks_.end() && found->second->status != kTaskCompleted) return false;
  if (found == tasks_.end()) found = tasks_.emplace(upId, std::make_unique<TaskRecord>()).first;
  TaskRecord& task = *found->second;
  // A completed task of the same file and folder is used again; its worker has ended.
  DestroyWorker(task);
  TaskFields fields;
  fields.id = upId;
  fields.filePath = path;
  fields.fileName = name;
  fields.parentId = parentId;
  fields.fullSize = fullSize;
  fields.createTime = NowSeconds();
  // The copy a completed task left at the service stays its own: the new run replaces it.
  fields.remoteSize = task.remoteSize;
  fields.remoteTime = task.remoteTime;
  task.assign(fields);
  if (autoStart) startLocked(task);
  return true;
}

int UploadFile::start(const std::string& upId) {
  MutexLock hold(lock_);
  auto found = tasks_.find(upId);
  if (found == tasks_.end()) return -1;
  return startLocked(*found->second);
}

int UploadFile::startLocked(TaskRecord& task) {
  if (UploadFileThread* worker = WorkerOf(task)) {
    // A worker that set its final status is only saving the list; let it end.
    int32_t status = task.status;
    bool ending = status == kTaskCompleted || status == kTaskFailed || status == kTaskStopped;
    if (ending) worker->wait();
    if (!worker->isFinished()) return -2;
    // A copy that ended (failed or stopped) may be started again.
    DestroyWorker(task);
    task.wish = kWishHold;
  }
  if (task.status == kTaskCompleted) return -3;
  if (task.status == kTaskWaiting) return -4;
  if (task.wish != kWishRun) {
    waitForRetired(task);
    task.wish = kWishRun;
    task.status = kTaskWaiting;
    task.failure = kFailureNone;  // a failed task started again no longer lists as failed
    // Workers ask for a save on this object's thread; they never wait for the list's lock,
    // which start and the scheduler hold while they wait for a worker to end.
    auto* worker = new UploadFileThread(task, localPathOfKey_, [this] {
      QMetaObject::invokeMethod(
          this, [this] { save(); }, Qt::QueuedConnection);
    });
    task.worker = worker;
    worker->start(QThread::InheritPriority);
  }
  return 0;
}

void UploadFile::waitForRetired(const TaskRecord& task) {
  for (UploadFileThread* worker : retiredWorkers_)
    if (&worker->task() == &task) worker->wait();
}

int UploadFile::pause(const std::string& upId) {
  MutexLock hold(lock_);
  auto found = tasks_.find(upId);
  if (found == tasks_.end()) return -1;
  TaskRecord& task = *found->second;
  if (task.status == kTaskWaiting) return -2;
  // A copy that already completed has nothing left to pause; it stays completed.
  if (task.status == kTaskCompleted) return 0;
  if (task.wish != kWishHold) {
    task.wish = kWishHold;
    task.status = kTaskWaiting;
    if (task.worker) {
      retiredWorkers_.push_back(WorkerOf(task));
      task.worker = nullptr;
    }
  }
  return 0;
}

int UploadFile::remove(const std::string& upId, bool removeTargetCopy) {
  {
    MutexLock hold(lock_);
    auto found = tasks_.find(upId);
    if (found == tasks_.end()) return -1;
    found->second->wish = removeTargetCopy ? kWishRemoveWithFile : kWishRemove;
    found->second->status = kTaskWaiting;
    pendingDeletions_.push_back(std::move(found->second));
    tasks_.erase(found);
  }
  save();
  return 0;
}

void UploadFile::timer() {
  if (busy_) return;
  busy_ = true;
  {
    MutexLock hold(lock_);
    for (auto it = pendingDeletions_.begin(); it != pendingDeletions_.end(); ++it) {
      TaskRecord& task = **it;
      UploadFileThread* worker = WorkerOf(task);
      // Removal set Status 4: a worker that ended before it is done all the same.
      bool ended = task.status == kTaskCompleted || task.status == kTaskStopped;
      if (worker && (ended || worker->isFinished())) DestroyWorker(task);
      // Nothing refers to a record without a worker any more, whatever its status.
      if (!task.worker) {
        pendingDeletions_.erase(it);
        break;
      }
    }
    // One finished retired worker per pass.
    auto finished = std::find_if(retiredWorkers_.begin(), retiredWorkers_.end(),
                                 [](UploadFileThread* worker) { return worker->isFinished(); });
    if (finished != retiredWorkers_.end()) {
      delete *finished;
      retiredWorkers_.erase(finished);
    }
  }
  save();
  busy_ = false;
}

UploadFile::TaskList UploadFile::copies(Filter filter) const {
  MutexLock hold(lock_);
  TaskList list;
  for (const auto& [id, task] : tasks_) {
    if (filter != Filter::All && task->wish < kWishHold) continue;
    bool complete = task->size == task->fullSize;
    if (filter == Filter::Uploading && complete) continue;
    if (filter == Filter::Completed && !complete) continue;
    list.emplace(id, task->fields());
  }
  return list;
}

UploadFile::TaskList UploadFile::uploadingTasks() const { return copies(Filter::Uploading); }
UploadFile::TaskList UploadFile::completedTasks() const { return copies(Filter::Completed); }
UploadFile::TaskList UploadFile::allTasks() const { return copies(Filter::All); }

void UploadFile::save() {
  MutexLock hold(lock_);
  // Removed tasks are not kept.
  tasklistfile::Save(listPath_, tasks_, tasklines::UploadLine,
                     [](const TaskRecord& task) { return task.wish >= kWishHold; });
}

int UploadFile::load() {
  MutexLock hold(lock_);
  tasklistfile::Load(listPath_, tasks_, tasklines::ParseUploadLine);
  return static_cast<int>(tasks_.size());
}
