// What the drive watcher last found out about the drive program, published for the GUI
// thread and the page: the status code with its message, the run drive letter and whether
// the drive service runs.
#pragma once

#include <QString>

#include "platform/driveprotocol/DriveProtocol.h"
#include "platform/sync/Mutex.h"

struct DriveStatusValues {
  int code = drive_status::kNotYetAsked;
  QString text;
  QString runDriveLetter;
  int serviceFlag = 0;
};

class DriveStatus {
 public:
  DriveStatusValues values() const EXCLUDES(lock_) {
    MutexLock hold(lock_);
    return values_;
  }
  void setCode(int code, const QString& text) EXCLUDES(lock_) {
    MutexLock hold(lock_);
    values_.code = code;
    values_.text = text;
  }
  void setRunDriveLetter(const QString& letter) EXCLUDES(lock_) {
    MutexLock hold(lock_);
    values_.runDriveLetter = letter;
  }
  void setServiceFlag(int flag) EXCLUDES(lock_) {
    MutexLock hold(lock_);
    values_.serviceFlag = flag;
  }

 private:
  mutable Mutex lock_;
  DriveStatusValues values_ GUARDED_BY(lock_);
};

// The message shown for a status code.
QString DriveStatusMessage(int code);
