// The drive program's state: one instance, made by main and handed down to whatever needs it,
// alive until exit.
// Each item is written by one party and read by others; the scalar items are atomics and the
// run drive letter has a lock of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "drive/core/MirrorLog.h"
#include "platform/driveprotocol/DriveProtocol.h"
#include "platform/sync/Mutex.h"

class IOMirror;
class MirrorConfig;

struct DriveProcess {
  // Program folder in the local code page, always ending in "/"; set before any thread starts.
  std::string programFolder;

  std::atomic<uint32_t> debugMask{0};
  std::atomic<IOMirror*> currentMirror{nullptr};
  std::atomic<MirrorConfig*> currentSettings{nullptr};
  std::atomic<int32_t> refreshRequest{0};
  std::atomic<bool> tether{false};
  std::atomic<uint32_t> lastPipeMessageTime{0};

  // Runs `use(mirror, settings)` with the current mirror and settings (either may be null),
  // which cannot be freed while it runs: the mount thread clears them through
  // clearCurrentMirror and clearCurrentSettings, which wait for such a use to end. For
  // threads other than the driver's, which only run while the mirror is certain to live.
  template <typename Use>
  auto withCurrentObjects(Use&& use) EXCLUDES(currentObjectsLock_) {
    MutexLock hold(currentObjectsLock_);
    return use(currentMirror.load(), currentSettings.load());
  }
  void clearCurrentMirror() EXCLUDES(currentObjectsLock_);
  void clearCurrentSettings() EXCLUDES(currentObjectsLock_);

  int32_t driveState() const { return driveState_.load(); }
  void setDriveState(int32_t value);

  std::u16string runDriveLetter() const;
  void setRunDriveLetter(const std::u16string& letter);

  // The process log, or a console-only log while the run routine has not opened one.
  MirrorLog& log() { return openedLog_ ? *openedLog_ : consoleLog_; }
  // Opens the process log on `path` (the run routine does this once, before any thread).
  void openLog(const std::string& path);
  // Closes the log opened by openLog (tests, before their folder goes).
  void closeLog() { openedLog_.reset(); }

  // Creates the mirror of a mount cycle (the storage client in the program; tests put their
  // own). Set before the run loop starts.
  std::function<IOMirror*()> createMirror;

  // Called with every new DriveState value; tests watch the state move with it. Set before
  // any thread starts.
  std::function<void(int32_t)> onDriveState;

 private:
  std::unique_ptr<MirrorLog> openedLog_;
  MirrorLog consoleLog_{std::string(), debugMask};
  Mutex currentObjectsLock_;
  std::atomic<int32_t> driveState_{0};
  mutable Mutex letterLock_;
  std::u16string runDriveLetter_ GUARDED_BY(letterLock_);
};

// Ends the process with `code` at once, unmounting the drive and flushing the console and
// files first. Used where worker threads may still run (service stop, tether check), so no
// static destructor races them.
[[noreturn]] void EndProcess(const DriveProcess& drive, int code);
