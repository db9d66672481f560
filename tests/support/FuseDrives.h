// Real drives for tests that need mounted drive letters: a temporary drive root for this
// process and the smallest file system (an empty root folder) served on a thread of its own.
#pragma once

#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "platform/dokan/Dokan.h"
#include "platform/driveroot/DriveRoot.h"
#include "tests/support/Leftovers.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

inline bool FuseUsable() { return ::access("/dev/fuse", R_OK | W_OK) == 0; }

// Sets $QUELLAN_DRIVE_ROOT to a fresh folder; takes any mount left below it away when it goes.
class TempDriveRoot {
 public:
  TempDriveRoot() {
    EndLeftoversOfEndedTests();
    ::setenv("QUELLAN_DRIVE_ROOT", (top() + "/drives").c_str(), 1);
  }
  ~TempDriveRoot() {
    ForceUnmountBelow(canonical());
    ::unsetenv("QUELLAN_DRIVE_ROOT");
  }
  std::string canonical() const { return driveroot::CanonicalDriveRoot(); }
  bool mounted(char letter) const {
    return driveroot::FindMount(driveroot::CurrentMounts(), canonical() + "/" + letter) != nullptr;
  }
  const std::string& top() const { return top_.path(); }

 private:
  TempDir top_;
};

// An empty drive at `letter` served on its own thread, unmounted and joined when it goes;
// `unmount` (optional) is its Unmount callback.
class EmptyDrive {
 public:
  explicit EmptyDrive(char letter, int (*unmount)(PDOKAN_FILE_INFO) = nullptr) : letter_(letter) {
    options_.DriveLetter = static_cast<WCHAR>(letter);
    options_.ThreadCount = 3;
    operations_.GetFileInformation = RootOnly;
    operations_.Unmount = unmount;
    thread_ = std::thread([this] { result_ = DokanMain(&options_, &operations_); });
  }
  ~EmptyDrive() {
    WaitFor([&] {
      DokanUnmount(static_cast<WCHAR>(letter_));
      return result_ != kRunning;
    });
    thread_.join();
  }
  bool finished() const { return result_ != kRunning; }
  int result() const { return result_; }

 private:
  static constexpr int kRunning = 1;
  static int RootOnly(LPCWSTR name, LPBY_HANDLE_FILE_INFORMATION info, PDOKAN_FILE_INFO) {
    if (std::u16string(name) != u"\\") return -2;
    *info = BY_HANDLE_FILE_INFORMATION{};
    info->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    return 0;
  }

  char letter_;
  DOKAN_OPTIONS options_{};
  DOKAN_OPERATIONS operations_{};
  std::atomic<int> result_{kRunning};
  std::thread thread_;
};
