#include "desktop/transfers/TaskFields.h"

#include <ctime>

const char* TaskStatusName(int32_t status, bool upload) {
  switch (status) {
    case kTaskStopped:
      return "stop";
    case kTaskRunning:
      return upload ? "uploading" : "downloading";
    case kTaskCompleted:
      return "completed";
    case kTaskPaused:
      return "paused";
    case kTaskWaiting:
      return "waiting";
    case kTaskFailed:
      return "error";
    default:
      return "";
  }
}

uint32_t NowSeconds() { return static_cast<uint32_t>(std::time(nullptr)); }
