// The desktop program's list of downloads from the storage service to local files. The page
// (through the bridge) adds, starts, pauses and removes tasks; a scheduler every two seconds
// starts waiting tasks up to the program-wide limit and retires finished workers. The list is
// kept in ".tasklist" in the program folder so that it survives a restart. All operations run
// on the thread that owns the object; the lock keeps listings whole while a scheduler pass
// is between tasks.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "desktop/transfers/TaskRecord.h"
#include "platform/sync/Mutex.h"

class ActiveDownloads;
class DownloadFileThread;

class DownloadFile : public QObject {
  Q_OBJECT

 public:
  static constexpr int kSchedulerMs = 2000;

  // Keeps its list in `folder` + "/.tasklist". The scheduler runs from construction on and
  // starts workers while fewer than the limit of `active` run.
  DownloadFile(const QString& folder, ActiveDownloads& active, QObject* parent = nullptr);
  ~DownloadFile() override;

  void setSession(const QString& session);

  // 0; -1 when the file id is listed already; -2 when the file's folder cannot be made.
  int add(const std::string& fileId, const std::string& url, const std::string& filePath,
          int64_t fullSize, bool autoStart) EXCLUDES(lock_);
  // 0; -1 no such task; -2 it has a worker; -3 it is completed; -4 it is waiting.
  int start(const std::string& fileId) EXCLUDES(lock_);
  // 0; -1 no such task; -2 it is waiting.
  int pause(const std::string& fileId) EXCLUDES(lock_);
  // 0; -1 no such task. The task leaves the list at the next scheduler pass.
  int remove(const std::string& fileId, bool removeLocalFile) EXCLUDES(lock_);

  using TaskList = std::map<std::string, TaskFields>;
  TaskList allTasks() const EXCLUDES(lock_);
  TaskList downloadingTasks() const EXCLUDES(lock_);  // Size differs from FullSize
  TaskList completedTasks() const EXCLUDES(lock_);    // Size equals FullSize
  std::optional<TaskFields> task(const std::string& fileId) const EXCLUDES(lock_);
  // 0 with the size of the volume holding the task's file and the bytes free to the user;
  // -1 for no such task.
  int diskInfo(const std::string& fileId, int64_t* total, int64_t* available) const EXCLUDES(lock_);

  // Reads ".tasklist"; the number of tasks listed afterwards.
  int load() EXCLUDES(lock_);
  void save() EXCLUDES(lock_);

 public slots:
  // One scheduler pass (the timer calls it every two seconds).
  void timer();

 private:
  enum class Filter { All, Downloading, Completed };
  TaskList copies(Filter filter) const EXCLUDES(lock_);
  int startLocked(TaskRecord& task) REQUIRES(lock_);
  // Starts or retires the task's worker; true when the task is to leave the list.
  bool schedule(TaskRecord& task) REQUIRES(lock_);
  void saveLocked() REQUIRES(lock_);
  // Gives a new task its target path (the one asked for, or the next free name) and claims
  // its partial file.
  void claimTarget(TaskRecord& task, const std::string& path) REQUIRES(lock_);
  void removeLocalFile(const TaskRecord& task) REQUIRES(lock_);

  const QString listPath_;
  ActiveDownloads& active_;
  QString session_;
  bool busy_ = false;
  mutable Mutex lock_;
  std::map<std::string, std::unique_ptr<TaskRecord>> tasks_ GUARDED_BY(lock_);
  QTimer scheduler_;
};
