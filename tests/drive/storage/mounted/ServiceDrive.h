// The drive program's mount cycle run in this process over a reference service: settings for
// one user, a QLVMirror on the service's web port with the storage client's state of its own
// (kept from one start to the next), the cycle on its own thread, with the drive program state
// of `folders`. Unmounts and
// joins when it goes, also after a failed test.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "drive/core/MountCycle.h"
#include "drive/storage/StorageProcess.h"
#include "tests/drive/core/front/FrontHarness.h"
#include "tests/support/ReferenceServer.h"

class ServiceDrive {
 public:
  ServiceDrive(TestDriveFolders& folders, char letter) : folders_(folders), letter_(letter) {}
  ~ServiceDrive() { stop(); }
  ServiceDrive(const ServiceDrive&) = delete;
  ServiceDrive& operator=(const ServiceDrive&) = delete;

  // Writes "tarvex.ini" for the user of the running `server` with the log level `debug` and
  // mounts; true once the drive is mounted. `refreshSteps` maintenance steps of 10 ms pass
  // between tree reads.
  bool start(const ReferenceServer& server, const std::string& user, const std::string& password,
             int refreshSteps = 1'000'000, int debug = 3);
  // Unmounts (forcing it after 30 s) and joins; nothing when not started. The drive's hooks
  // (createMirror, onDriveState) are cleared afterwards.
  void stop();
  std::filesystem::path root() const { return folders_.mountPoint(letter_); }
  // Lines added to the [Set] section of the settings the next start writes.
  std::string moreSettings;

 private:
  TestDriveFolders& folders_;
  const char letter_;
  StorageProcess storage_;
  std::unique_ptr<MountCycle> cycle_;
  std::atomic<bool> keepRunning_{true};
  std::atomic<bool> finished_{false};
  bool running_ = false;
  std::thread thread_;
};
