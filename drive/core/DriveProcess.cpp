#include "drive/core/DriveProcess.h"

#include <cstdio>
#include <cstdlib>

#include "drive/core/IOMirror.h"
#include "platform/dokan/Dokan.h"

void DriveProcess::openLog(const std::string& path) {
  openedLog_ = std::make_unique<MirrorLog>(path, debugMask);
}

void DriveProcess::setDriveState(int32_t value) {
  driveState_ = value;
  if (onDriveState) onDriveState(value);
}

void DriveProcess::clearCurrentMirror() {
  MutexLock hold(currentObjectsLock_);
  currentMirror = nullptr;
}

void DriveProcess::clearCurrentSettings() {
  MutexLock hold(currentObjectsLock_);
  currentSettings = nullptr;
}

std::u16string DriveProcess::runDriveLetter() const {
  MutexLock guard(letterLock_);
  return runDriveLetter_;
}

void DriveProcess::setRunDriveLetter(const std::u16string& letter) {
  MutexLock guard(letterLock_);
  runDriveLetter_ = letter;
}

void EndProcess(const DriveProcess& drive, int code) {
  // A drive left mounted by a process that is gone stays behind as a dead mount point.
  std::u16string letter = drive.runDriveLetter();
  if (!letter.empty()) DokanUnmount(letter[0]);
  std::fflush(nullptr);
  std::_Exit(code);
}
