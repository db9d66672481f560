// The maintenance thread: housekeeping every 3 s (closed files, tether check) and a tree read
// every 10 minutes or when a refresh was requested.
#include <algorithm>
#include <filesystem>
#include <thread>

#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/storage/CachePruning.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/StorageProcess.h"
#include "drive/storage/TetherCheck.h"
#include "platform/ticks/Ticks.h"

void QLVMirror::maintenanceLoop() {
  std::atomic<int32_t>& state = shared_.runState;
  DriveProcess& drive = drive_;
  std::error_code error;
  // Without the folder its pruning simply finds nothing to do.
  std::filesystem::create_directories(cache_pruning::TemporaryCacheFolder(), error);
  while (state == run_state::kRunning) {
    releaseClosedFiles();
    pruneDiskCaches();
    for (int step = 1; step <= options_.refreshSteps; ++step) {
      if (state != run_state::kRunning || drive.refreshRequest != 0) break;
      std::this_thread::sleep_for(options_.maintenanceStep);
      if (step % std::max(options_.housekeepingSteps, 1) == 0) {
        releaseClosedFiles();
        checkTether();
      }
    }
    if (state != run_state::kRunning) break;
    drive.refreshRequest = 0;
    readDirTree();
  }
  state = run_state::kStopped;
}

void QLVMirror::releaseClosedFiles() { shared_.closedFiles.releaseOne(GetTickCount()); }

void QLVMirror::pruneDiskCaches() {
  std::set<std::string> inUse = headKeysInUse();
  cache_pruning::PruneHeadFolder(drive_.programFolder + "cache", inUse);
  MirrorConfig* config = config_.load();
  if (config)
    cache_pruning::PruneTemporaryFolder(cache_pruning::TemporaryCacheFolder(), config->MaxDiskCache,
                                        inUse);
}

void QLVMirror::checkTether() {
  DriveProcess& drive = drive_;
  if (!TetherExpired(drive.tether, drive.lastPipeMessageTime, GetTickCount(),
                     options_.tetherSilenceMs))
    return;
  if (options_.endOnTether) {
    drive.tether = false;  // ended once
    options_.endOnTether();
    return;
  }
  ::Unmount(drive_);
  WaitForUnmount(drive_, std::chrono::seconds(5));
  EndProcess(drive_, 0);
}
