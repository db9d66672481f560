// Helpers for tests that mount a real drive: skipping without FUSE, a temporary program
// folder, drive root and pipe path that are cleaned up (mounts included) even when a test fails,
// and a mount cycle of the drive front running on its own thread.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "drive/core/DriveProcess.h"
#include "drive/core/MountCycle.h"
#include "tests/drive/core/front/MemoryMirror.h"
#include "tests/support/Leftovers.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

// Why FUSE cannot be used here, or "" when it can.
std::string FuseMissingReason();

#define SKIP_WITHOUT_FUSE()                      \
  do {                                           \
    std::string reason = FuseMissingReason();    \
    if (!reason.empty()) GTEST_SKIP() << reason; \
  } while (0)

// A temporary folder holding the program folder (settings, log) and the drive root, which is
// set as QUELLAN_DRIVE_ROOT while the object lives, and the drive program state of a drive
// mounted in this process, whose log is opened in the program folder. Ends the leftovers of
// crashed tests first; removes its mounts and files when it goes.
class TestDriveFolders {
 public:
  TestDriveFolders();
  ~TestDriveFolders();
  TestDriveFolders(const TestDriveFolders&) = delete;
  TestDriveFolders& operator=(const TestDriveFolders&) = delete;

  const std::string& top() const { return top_.path(); }
  std::string programFolder() const { return top() + "/program/"; }
  std::string driveRoot() const { return top() + "/drives"; }
  std::string mountPoint(char letter) const { return driveRoot() + "/" + letter; }
  // The control pipe of a drive program started while this object lives ($QUELLAN_PIPE).
  std::string pipePath() const { return top_.path() + "/pipe/Tarvex"; }
  bool isMounted(char letter) const;

  // Writes "tarvex.ini" with these [Set] values.
  void writeSettings(const std::string& driveLetter, int debug, int run = 1) const;
  // The log's lines without their time stamps.
  std::vector<std::string> logLines() const;

  DriveProcess& drive() { return drive_; }

 private:
  TempDir top_;
  DriveProcess drive_;
};

// One mount cycle of the drive front (Mount) on its own thread, with a MemoryMirror over
// `tree` as the cycle's mirror. Unmounts and joins when it goes, also after a failure.
class FrontRun {
 public:
  FrontRun(TestDriveFolders& folders, std::shared_ptr<MemoryTree> tree);
  ~FrontRun();
  FrontRun(const FrontRun&) = delete;
  FrontRun& operator=(const FrontRun&) = delete;

  bool waitMounted(char letter) const;
  bool finished() const { return finished_; }
  // Waits for Mount to return (forcing the drive off after the deadline) and joins.
  int join();
  // Drive states in the order they were set.
  std::vector<int32_t> states() const;

 private:
  TestDriveFolders& folders_;
  std::unique_ptr<MountCycle> cycle_;
  std::atomic<bool> keepRunning_{true};
  std::atomic<bool> finished_{false};
  int result_ = 0;  // written by the thread before finished_
  mutable std::mutex statesLock_;
  std::vector<int32_t> states_;  // guarded by statesLock_
  std::thread thread_;
};

// Occupies a drive letter with a second, empty drive of this process for as long as it lives.
class LetterOccupier {
 public:
  explicit LetterOccupier(char letter);
  ~LetterOccupier();
  bool mounted() const;

 private:
  char letter_;
  DOKAN_OPTIONS options_{};
  DOKAN_OPERATIONS operations_{};
  std::atomic<int> result_{1};
  std::thread thread_;
};

// Runs a shell command; returns its exit status and fills `output` with stdout and stderr.
int RunCommand(const std::string& command, std::string* output = nullptr);
