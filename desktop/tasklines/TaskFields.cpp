#include "desktop/tasklines/TaskFields.h"

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

const char* TaskFailureText(int32_t failure) {
  switch (failure) {
    case kFailurePartFile:
      return "无法写入下载的临时文件";
    case kFailurePlaceFile:
      return "文件已下载完整，但无法保存到目标位置";
    case kFailureTargetTaken:
      return "网盘中已有同名文件，未上传；请先改名或删除网盘中的文件";
    case kFailureTargetChanged:
      return "网盘中未传完的文件已被改动，未续传；请删除网盘中的该文件后重新上传";
    case kFailureNotSaved:
      return "网盘服务未能保存该文件，上传失败；请稍后重新上传";
    case kFailureDriveFull:
      return "网盘空间不足，上传失败";
    case kFailureDriveWrite:
      return "写入网盘失败，上传未完成";
    case kFailureNoDrive:
      return "网盘未启动或目标目录不存在，无法上传";
    case kFailureSource:
      return "源文件不存在或无法读取";
    default:
      return "";
  }
}

uint32_t NowSeconds() { return static_cast<uint32_t>(std::time(nullptr)); }
