#include "desktop/transfers/DownloadFile.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>
#include <algorithm>
#include <set>
#include <vector>

#include "desktop/tasklines/TaskLine.h"
#include "desktop/transfers/ActiveDownloads.h"
#include "desktop/transfers/DownloadFileThread.h"
#include "desktop/transfers/DownloadTarget.h"
#include "desktop/transfers/TaskListFile.h"

namespace {

DownloadFileThread* WorkerOf(const TaskRecord& task) {
  return static_cast<DownloadFileThread*>(task.worker);
}

}  // namespace

DownloadFile::DownloadFile(const QString& folder, ActiveDownloads& active, QObject* parent)
    : QObject(parent), listPath_(folder + QStringLiteral("/.tasklist")), active_(active) {
  scheduler_.setInterval(kSchedulerMs);
  connect(&scheduler_, &QTimer::timeout, this, &DownloadFile::timer);
  scheduler_.start();
}

DownloadFile::~DownloadFile() {
  scheduler_.stop();
  MutexLock hold(lock_);
  for (auto& [id, task] : tasks_) {
    delete WorkerOf(*task);
    task->worker = nullptr;
  }
}

void DownloadFile::setSession(const QString& session) { session_ = session; }

int DownloadFile::add(const std::string& fileId, const std::string& url,
                      const std::string& filePath, int64_t fullSize, bool autoStart) {
  MutexLock hold(lock_);
  if (tasks_.count(fileId)) return -1;
  std::string path = filePath;
  std::replace(path.begin(), path.end(), '\\', '/');
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash >= 1) {
    QString folder = QString::fromStdString(path.substr(0, slash));
    QDir().mkpath(folder);
    if (!QDir(folder).exists()) return -2;
  }
  auto task = std::make_unique<TaskRecord>();
  task->createTime = NowSeconds();
  task->id = fileId;
  claimTarget(*task, path);
  task->url = url;
  task->fullSize = fullSize;
  TaskRecord& added = *task;
  tasks_.emplace(fileId, std::move(task));
  if (autoStart) startLocked(added);
  saveLocked();
  return 0;
}

void DownloadFile::claimTarget(TaskRecord& task, const std::string& path) {
  // A file already at the path is not this download's: it lands beside it instead.
  std::set<std::string> listed;
  for (const auto& [id, other] : tasks_) listed.insert(other->filePath);
  std::optional<std::string> free = downloadtarget::FreePath(
      path, [&listed](const std::string& candidate) { return listed.count(candidate) > 0; });
  task.filePath = free.value_or(path);
  task.fileName = downloadtarget::NameOf(task.filePath);
  // Without its partial file the worker claims one when it starts, or fails there.
  if (free && downloadtarget::ClaimPartFile(*free))
    task.partPath = downloadtarget::PartPathOf(*free);
}

int DownloadFile::start(const std::string& fileId) {
  MutexLock hold(lock_);
  auto found = tasks_.find(fileId);
  if (found == tasks_.end()) return -1;
  return startLocked(*found->second);
}

int DownloadFile::startLocked(TaskRecord& task) {
  if (task.worker) return -2;
  if (task.status == kTaskCompleted) return -3;
  if (task.status == kTaskWaiting) return -4;
  if (task.wish != kWishRun) {
    task.wish = kWishRun;
    task.status = kTaskWaiting;
    // Each request is signed with the session of that moment: a task started before the
    // page logged in, or across a new login, still signs with a valid one.
    task.worker = new DownloadFileThread(
        task, active_, [this] { return session_; }, [this] { save(); });
  }
  return 0;
}

int DownloadFile::pause(const std::string& fileId) {
  MutexLock hold(lock_);
  auto found = tasks_.find(fileId);
  if (found == tasks_.end()) return -1;
  TaskRecord& task = *found->second;
  if (task.status == kTaskWaiting) return -2;
  if (task.wish != kWishHold) {
    task.wish = kWishHold;
    task.status = kTaskWaiting;
  }
  return 0;
}

int DownloadFile::remove(const std::string& fileId, bool removeLocalFile) {
  MutexLock hold(lock_);
  auto found = tasks_.find(fileId);
  if (found == tasks_.end()) return -1;
  found->second->wish = removeLocalFile ? kWishRemoveWithFile : kWishRemove;
  found->second->status = kTaskWaiting;
  saveLocked();
  return 0;
}

DownloadFile::TaskList DownloadFile::copies(Filter filter) const {
  MutexLock hold(lock_);
  TaskList list;
  for (const auto& [id, task] : tasks_) {
    bool complete = task->size == task->fullSize;
    if (filter == Filter::Downloading && complete) continue;
    if (filter == Filter::Completed && !complete) continue;
    list.emplace(id, task->fields());
  }
  return list;
}

DownloadFile::TaskList DownloadFile::allTasks() const { return copies(Filter::All); }

DownloadFile::TaskList DownloadFile::downloadingTasks() const {
  return copies(Filter::Downloading);
}

DownloadFile::TaskList DownloadFile::completedTasks() const { return copies(Filter::Completed); }

std::optional<TaskFields> DownloadFile::task(const std::string& fileId) const {
  MutexLock hold(lock_);
  auto found = tasks_.find(fileId);
  if (found == tasks_.end()) return {};
  return found->second->fields();
}

int DownloadFile::diskInfo(const std::string& fileId, int64_t* total, int64_t* available) const {
  std::optional<TaskFields> found = task(fileId);
  if (!found) return -1;
  QString path = QString::fromStdString(found->filePath);
  QString folder = path.left(std::max(0, static_cast<int>(path.lastIndexOf(QLatin1Char('/')))));
  QStorageInfo volume(folder.isEmpty() ? QStringLiteral(".") : folder);
  *total = volume.bytesTotal();
  *available = volume.bytesAvailable();
  return 0;
}

void DownloadFile::timer() {
  if (session_.isEmpty() || busy_) return;
  busy_ = true;
  MutexLock hold(lock_);
  bool hadTasks = !tasks_.empty();
  std::vector<std::string> leaving;
  for (auto& [id, task] : tasks_) {
    if (schedule(*task)) leaving.push_back(id);
  }
  for (const std::string& id : leaving) {
    auto found = tasks_.find(id);
    if (found->second->wish == kWishRemoveWithFile) removeLocalFile(*found->second);
    tasks_.erase(found);
  }
  // A pass that removed the last task still saves, or the task would come back at the next
  // start.
  if (hadTasks) saveLocked();
  busy_ = false;
}

void DownloadFile::removeLocalFile(const TaskRecord& task) {
  // An unfinished task's bytes are in its partial file; a file at its target path is then
  // someone else's (or, for a task listed before partial files were used, cannot be told from
  // one) and stays.
  if (!task.partPath.empty())
    QFile::remove(QString::fromStdString(task.partPath));
  else if (task.size == task.fullSize)
    QFile::remove(QString::fromStdString(task.filePath));
}

bool DownloadFile::schedule(TaskRecord& task) {
  if (DownloadFileThread* worker = WorkerOf(task)) {
    if (task.wish == kWishRun && task.status == kTaskWaiting && active_.running() < active_.limit())
      worker->run();
    int32_t status = task.status;
    bool retire = status == kTaskCompleted || status == kTaskFailed ||
                  (task.wish <= kWishHold && status == kTaskWaiting);
    if (retire) {
      delete worker;
      task.worker = nullptr;
    }
  }
  // A task removed while its worker still runs leaves once the worker is gone.
  return task.wish < kWishHold && !task.worker;
}

void DownloadFile::save() {
  MutexLock hold(lock_);
  saveLocked();
}

void DownloadFile::saveLocked() { tasklistfile::Save(listPath_, tasks_, tasklines::DownloadLine); }

int DownloadFile::load() {
  MutexLock hold(lock_);
  tasklistfile::Load(listPath_, tasks_, tasklines::ParseDownloadLine);
  return static_cast<int>(tasks_.size());
}
