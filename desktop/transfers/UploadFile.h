// The desktop program's list of uploads of local files into folders of the storage service.
// An upload is a copy into the mounted drive (UploadFileThread). Removed tasks leave the list
// at once and are freed by the scheduler once their worker is gone; workers detached by a
// pause are destroyed once their thread has ended. The list is kept in ".tasklist.u".
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "desktop/transfers/TaskRecord.h"
#include "platform/sync/Mutex.h"

class UploadFileThread;

class UploadFile : public QObject {
  Q_OBJECT

 public:
  static constexpr int kSchedulerMs = 2000;
  using LocalPathOfKey = std::function<std::string(const std::string&)>;

  // Keeps its list in `folder` + "/.tasklist.u"; workers ask `localPathOfKey` for the drive's
  // folder of a remote folder id.
  UploadFile(const QString& folder, LocalPathOfKey localPathOfKey, QObject* parent = nullptr);
  ~UploadFile() override;

  // The task key of a file name in a remote folder.
  static std::string UpIdOf(const std::string& parentId, const std::string& fileName);

  // 0; -1 when the same file is being uploaded into that folder; -2 no such local file.
  int add(const std::string& filePath, const std::string& parentId, bool autoStart) EXCLUDES(lock_);
  // 0; -1 no such task; -2 its worker still runs; -3 completed; -4 waiting.
  int start(const std::string& upId) EXCLUDES(lock_);
  // 0; -1 no such task; -2 waiting.
  int pause(const std::string& upId) EXCLUDES(lock_);
  // 0; -1 no such task.
  int remove(const std::string& upId, bool removeTargetCopy) EXCLUDES(lock_);

  using TaskList = std::map<std::string, TaskFields>;
  TaskList uploadingTasks() const EXCLUDES(lock_);
  TaskList completedTasks() const EXCLUDES(lock_);
  TaskList allTasks() const EXCLUDES(lock_);

  int load() EXCLUDES(lock_);
  void save() EXCLUDES(lock_);

 public slots:
  void timer() EXCLUDES(lock_);

 private:
  enum class Filter { All, Uploading, Completed };
  // Stops every copy and destroys every worker.
  void stopWorkers() EXCLUDES(lock_);
  TaskList copies(Filter filter) const EXCLUDES(lock_);
  int startLocked(TaskRecord& task) REQUIRES(lock_);
  // Enters a new task, or fills a completed one of the same key again; false when a task of
  // that key is not completed.
  bool fillTask(const std::string& upId, const std::string& path, const std::string& name,
                const std::string& parentId, int64_t fullSize, bool autoStart) REQUIRES(lock_);
  // Waits for a retired worker of `task` still copying, so two copies never write one target.
  void waitForRetired(const TaskRecord& task) REQUIRES(lock_);

  const QString listPath_;
  const LocalPathOfKey localPathOfKey_;
  mutable Mutex lock_;
  std::map<std::string, std::unique_ptr<TaskRecord>> tasks_ GUARDED_BY(lock_);
  std::vector<std::unique_ptr<TaskRecord>> pendingDeletions_ GUARDED_BY(lock_);
  std::vector<UploadFileThread*> retiredWorkers_ GUARDED_BY(lock_);
  QTimer scheduler_;
  bool busy_ = false;
};
