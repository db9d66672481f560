#include "drive/storage/MirrorMaintenance.h"

#include <algorithm>
#include <filesystem>
#include <thread>

#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/storage/CachePruning.h"
#include "drive/storage/LocalCopies.h"
#include "drive/storage/MirrorOptions.h"
#include "drive/storage/MirrorReadPath.h"
#include "drive/storage/MirrorTreeReads.h"
#include "drive/storage/StorageProcess.h"
#include "drive/storage/TetherCheck.h"
#include "platform/ticks/Ticks.h"

MirrorMaintenance::MirrorMaintenance(DriveProcess& drive, StorageProcess& shared,
                                     const MirrorOptions& options,
                                     const std::atomic<MirrorConfig*>& config, MirrorReadPath& read,
                                     MirrorTreeReads& treeReads)
    : drive_(drive),
      shared_(shared),
      options_(options),
      config_(config),
      read_(read),
      treeReads_(treeReads) {}

MirrorMaintenance::~MirrorMaintenance() { join(); }

void MirrorMaintenance::start() { thread_ = std::thread(&MirrorMaintenance::loop, this); }

void MirrorMaintenance::join() {
  if (thread_.joinable()) thread_.join();
}

void MirrorMaintenance::loop() {
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
    treeReads_.readDirTree();
  }
  state = run_state::kStopped;
}

void MirrorMaintenance::releaseClosedFiles() { shared_.closedFiles.releaseOne(GetTickCount()); }

void MirrorMaintenance::pruneDiskCaches() {
  std::set<std::string> inUse = read_.headKeysInUse();
  cache_pruning::PruneHeadFolder(drive_.programFolder + "cache", inUse);
  MirrorConfig* config = config_.load();
  if (!config) return;
  // Local copies of files being edited count against the limit but are never pruned: the
  // temporary cache gets what they leave.
  int64_t copiesMiB =
      (LocalCopies::BytesOnDisk(WriteCacheFolder(drive_.programFolder)) + 1048575) / 1048576;
  cache_pruning::PruneTemporaryFolder(cache_pruning::TemporaryCacheFolder(),
                                      std::max<int64_t>(config->MaxDiskCache - copiesMiB, 0),
                                      inUse);
}

void MirrorMaintenance::checkTether() {
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
