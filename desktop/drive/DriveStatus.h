// What the drive watcher last found out about the drive program, published for the GUI
// thread and the page: the status code with its message, the run drive letter, whether the
// drive service runs, and what happened beyond the code (a drive program that died).
#pragma once

#include <QString>

#include "platform/driveprotocol/DriveProtocol.h"
#include "platform/sync/Mutex.h"

struct DriveStatusValues {
  int code = drive_status::kNotYetAsked;
  QString text;
  QString runDriveLetter;  // of the last pass that found the drive mounted
  int serviceFlag = 0;
  QString note;  // empty unless the drive program died under its mounted drive
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
  // Code, message and letter of one pass, published together so that no reader sees one
  // pass's code beside another pass's letter.
  void publish(int code, const QString& text, const QString& letter) EXCLUDES(lock_) {
    MutexLock hold(lock_);
    values_.code = code;
    values_.text = text;
    if (!letter.isEmpty()) values_.runDriveLetter = letter;
  }
  void setNote(const QString& note) EXCLUDES(lock_) {
    MutexLock hold(lock_);
    values_.note = note;
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
