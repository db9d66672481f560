#include "desktop/transfers/TaskRecord.h"

namespace {

// Every field of a task, between a record (atomic numbers) and a plain copy either way.
template <typename From, typename To>
void CopyFields(const From& from, To& to) {
  to.id = from.id;
  to.filePath = from.filePath;
  to.fileName = from.fileName;
  to.url = from.url;
  to.parentId = from.parentId;
  to.partPath = from.partPath;
  to.fullSize = from.fullSize;
  to.size = from.size;
  to.status = from.status;
  to.wish = from.wish;
  to.time = from.time;
  to.createTime = from.createTime;
  to.completedTime = from.completedTime;
  to.speed = from.speed;
  to.remoteSize = from.remoteSize;
  to.remoteTime = from.remoteTime;
  to.failure = from.failure;
}

}  // namespace

TaskFields TaskRecord::fields() const {
  TaskFields copy;
  CopyFields(*this, copy);
  return copy;
}

void TaskRecord::assign(const TaskFields& from) { CopyFields(from, *this); }
