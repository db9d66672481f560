// Performs one upload: copies the local file into the drive's folder of the target remote
// folder, in chunks of 65536 bytes, on a thread of its own, so that the drive program turns
// the writes into an upload. Only a copy the task itself left at the service (its size and
// time as the task last saw them) is continued; a file of that name that the task did not
// write, or that changed since, is left as it is and the task ends in error. A write or a
// close that the drive refuses (a full drive, an upload the service did not take) ends the
// task in error too, with the service holding what it held before.
#pragma once

#include <QFile>
#include <QThread>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "desktop/transfers/SpeedWindow.h"
#include "desktop/transfers/TaskRecord.h"

class UploadFileThread : public QThread {
  Q_OBJECT

 public:
  static constexpr qint64 kChunk = 65536;

  // `localPathOfKey` names the drive's local folder of a remote folder id (the drive path
  // form "M:\a\b" or a local path; "" when the drive is not running); `saveList` saves the
  // upload list.
  UploadFileThread(TaskRecord& task, std::function<std::string(const std::string&)> localPathOfKey,
                   std::function<void()> saveList, QObject* parent = nullptr);
  // Waits for the copy to end; Status other than 2 becomes 0, and a target copy still open is
  // closed (and deleted first when the task was removed with its copy).
  ~UploadFileThread() override;

  const TaskRecord& task() const { return task_; }

 protected:
  void run() override;

 private slots:
  void timer();

 private:
  // The copy; the status the task ends with. A failure, also one the drive reports at the
  // close, ends the task failed with its reason, never completed.
  int32_t runCopy();
  // Records why the task failed; the failed status.
  int32_t fail(int32_t failure);
  // Opens the target copy: 1 when the copy can go on, else the status the task ends with.
  int32_t openTarget(const QString& folder);
  // Closes the target copy; after a whole `copied` run the copy now at the service is recorded
  // as the task's own. False when the close failed: the service did not take the copy.
  bool closeTarget(bool copied);
  // Copies until the source's end, a pause or a failure; the failure, or kFailureNone.
  int32_t copy(QFile& source);

  TaskRecord& task_;
  std::function<std::string(const std::string&)> localPathOfKey_;
  std::function<void()> saveList_;
  std::unique_ptr<QFile> target_;  // used by the copy thread, and by the destructor after it
  SpeedWindow speed_;
  QTimer secondTimer_;
};
