// The maintenance thread: housekeeping every 3 s (closed files, tether check) and a tree read
// every 10 minutes or when a refresh was requested.
#include <algorithm>
#include <thread>

#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "drive/storage/MirrorRunState.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/TetherCheck.h"
#include "platform/ticks/Ticks.h"

void QLVMirror::maintenanceLoop() {
  std::atomic<int32_t>& state = MirrorRunState();
  DriveProcess& drive = Drive();
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

// Open-file contexts arrive with the read and write paths; until then nothing is held.
void QLVMirror::releaseClosedFiles() {}
void QLVMirror::pruneDiskCaches() {}

void QLVMirror::checkTether() {
  DriveProcess& drive = Drive();
  if (!TetherExpired(drive.tether, drive.lastPipeMessageTime, GetTickCount())) return;
  ::Unmount();
  WaitForUnmount(std::chrono::seconds(5));
  EndProcess(0);
}
