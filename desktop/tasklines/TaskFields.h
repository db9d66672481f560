// A plain copy of one download or upload task, its states and what the user asked for.
#pragma once

#include <cstdint>
#include <string>

// Task states, shared by downloads and uploads.
enum TaskStatus : int32_t {
  kTaskStopped = 0,
  kTaskRunning = 1,
  kTaskCompleted = 2,
  kTaskPaused = 3,
  kTaskWaiting = 4,
  kTaskFailed = 5,
};

// What the user asked for.
enum TaskWish : int32_t {
  kWishRemoveWithFile = -2,
  kWishRemove = -1,
  kWishHold = 0,
  kWishRun = 1,
};

// Why a task last ended in error, where the user can do something about it.
enum TaskFailure : int32_t {
  kFailureNone = 0,
  kFailurePartFile,       // download: its partial file cannot be made or written
  kFailurePlaceFile,      // download: the complete file cannot take its name
  kFailureTargetTaken,    // upload: the service holds a file of that name the task did not write
  kFailureTargetChanged,  // upload: the task's partial copy at the service was changed by another
  kFailureNotSaved,       // upload: the drive reported at the close that the service kept nothing
  kFailureDriveFull,      // upload: a write into the drive found no space
  kFailureDriveWrite,     // upload: the target could not be made or written
  kFailureNoDrive,        // upload: the drive program named no folder (not running, or unknown)
  kFailureSource,         // upload: the local file is missing or cannot be read
  kFailureLimit,          // one past the last failure
};

// The name the page sees for a status; `upload` names code 1 "uploading".
const char* TaskStatusName(int32_t status, bool upload);
// The page's message for a failure (UTF-8); "" for none.
const char* TaskFailureText(int32_t failure);

// A plain copy of a task, as listed to the page and as stored in the task list files.
struct TaskFields {
  std::string id;        // FileId of a download, UpId of an upload
  std::string filePath;  // local file, forward slashes
  std::string fileName;
  std::string url;       // downloads: address without the signing parameters
  std::string parentId;  // uploads: the target folder's id (PId)
  // Downloads: the partial file the task writes and alone resumes (FilePath + ".part"); empty
  // once the file is in place, and for tasks listed before partial files were used.
  std::string partPath;
  int64_t fullSize = 0;
  int64_t size = 0;
  int32_t status = kTaskStopped;
  int32_t wish = kWishHold;
  int32_t time = 0;
  uint32_t createTime = 0;
  uint32_t completedTime = 0;
  int32_t speed = 0;
  // Uploads: the target copy as the task itself left it: its size (-1 when the task wrote
  // none) and the latest modification time its own writes explain, in seconds since 1970.
  int64_t remoteSize = -1;
  int64_t remoteTime = 0;
  // Stored for uploads ("Failure"), so a failed upload stays failed across a restart.
  int32_t failure = kFailureNone;
};

// Seconds since 1970, as the task times store them.
uint32_t NowSeconds();
