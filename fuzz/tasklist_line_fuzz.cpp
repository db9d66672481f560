// Lines of the download and upload task lists: any bytes parse or are refused without a
// crash, and a line that parses is written back to a line that parses to the same task.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "desktop/tasklines/TaskLine.h"

namespace {

void SameTask(const TaskFields& a, const TaskFields& b) {
  if (a.id != b.id || a.filePath != b.filePath || a.fileName != b.fileName || a.url != b.url ||
      a.parentId != b.parentId || a.size != b.size || a.fullSize != b.fullSize ||
      a.status != b.status || a.time != b.time || a.createTime != b.createTime ||
      a.completedTime != b.completedTime || a.partPath != b.partPath ||
      a.remoteSize != b.remoteSize || a.remoteTime != b.remoteTime)
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view line(reinterpret_cast<const char*>(data), size);
  if (auto task = tasklines::ParseDownloadLine(line)) {
    auto again = tasklines::ParseDownloadLine(tasklines::DownloadLine(*task));
    if (!again) std::abort();
    SameTask(*task, *again);
  }
  if (auto task = tasklines::ParseUploadLine(line)) {
    auto again = tasklines::ParseUploadLine(tasklines::UploadLine(*task));
    if (!again) std::abort();
    SameTask(*task, *again);
  }
  return 0;
}
