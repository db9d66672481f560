// One download or upload task. The numbers are atomic because an upload's copy loop updates
// Size and Status on its own thread while the GUI thread reads them for display; downloads
// keep every access on the GUI thread. Texts are set when the task is made and stay whole;
// only a download's worker, on the GUI thread, renames its file.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <string>

#include "desktop/tasklines/TaskFields.h"

struct TaskRecord {
  std::string id;
  std::string filePath;
  std::string fileName;
  std::string url;
  std::string parentId;
  std::string partPath;
  std::atomic<int64_t> fullSize{0};
  std::atomic<int64_t> size{0};
  std::atomic<int32_t> status{kTaskStopped};
  std::atomic<int32_t> wish{kWishHold};
  std::atomic<int32_t> time{0};
  std::atomic<uint32_t> createTime{0};
  std::atomic<uint32_t> completedTime{0};
  std::atomic<int32_t> speed{0};
  std::atomic<int64_t> remoteSize{-1};
  std::atomic<int64_t> remoteTime{0};
  std::atomic<int32_t> failure{kFailureNone};
  QObject* worker = nullptr;  // the task's worker, owned by the task list

  TaskFields fields() const;
  void assign(const TaskFields& fields);
};
