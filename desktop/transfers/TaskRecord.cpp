#include "desktop/transfers/TaskRecord.h"

TaskFields TaskRecord::fields() const {
  TaskFields copy;
  copy.id = id;
  copy.filePath = filePath;
  copy.fileName = fileName;
  copy.url = url;
  copy.parentId = parentId;
  copy.fullSize = fullSize;
  copy.size = size;
  copy.status = status;
  copy.wish = wish;
  copy.time = time;
  copy.createTime = createTime;
  copy.completedTime = completedTime;
  copy.speed = speed;
  return copy;
}

void TaskRecord::assign(const TaskFields& from) {
  id = from.id;
  filePath = from.filePath;
  fileName = from.fileName;
  url = from.url;
  parentId = from.parentId;
  fullSize = from.fullSize;
  size = from.size;
  status = from.status;
  wish = from.wish;
  time = from.time;
  createTime = from.createTime;
  completedTime = from.completedTime;
  speed = from.speed;
}
