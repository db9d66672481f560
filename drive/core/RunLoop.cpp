#include "drive/core/RunLoop.h"

#include <csignal>
#include <thread>

#include "drive/core/ControlPipeServer.h"
#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "platform/appfolder/AppFolders.h"
#include "platform/codepage/CodePage.h"
#include "platform/process/Process.h"

namespace {

// Sleeps for `total`, waking early when `keepRunning` turns false.
void Pause(std::chrono::milliseconds total, const std::atomic<bool>& keepRunning) {
  auto deadline = std::chrono::steady_clock::now() + total;
  while (keepRunning && std::chrono::steady_clock::now() < deadline) {
    auto left = deadline - std::chrono::steady_clock::now();
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(100)));
  }
}

std::string FolderOfProgram() {
  std::string exe = process::ExecutablePath();
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string("./") : exe.substr(0, slash + 1);
}

}  // namespace

void RunMountCycles(DriveProcess& drive, const RunLoopTiming& timing,
                    const std::atomic<bool>& keepRunning) {
  while (keepRunning) {
    drive.setDriveState(drive_state::kStarting);
    auto cycle =
        std::make_unique<MountCycle>(codepage::AnsiToWide(drive.programFolder + "tarvex.ini"));
    Mount(drive, *cycle, timing, keepRunning);
    Pause(timing.afterMount, keepRunning);
    drive.setDriveState(drive_state::kStopped);
    drive.clearCurrentSettings();
    cycle.reset();
    Pause(timing.afterStop, keepRunning);
  }
}

void RunRoutine(DriveProcess& drive) {
  // Sockets: a peer that goes away must give an error, not end the process.
  std::signal(SIGPIPE, SIG_IGN);

  // Without -d: the program's own folder when it is self-contained (build tree, unpacked
  // copy), else the per-user data folder, since an installed program's folder is not the
  // user's to write.
  if (drive.programFolder.empty())
    drive.programFolder = appfolder::DefaultProgramFolder(FolderOfProgram()) + "/";
  drive.openLog(drive.programFolder + "mirror.log");

  ControlPipeServer pipe(drive);
  pipe.start();
  const std::atomic<bool> forever{true};
  RunMountCycles(drive, RunLoopTiming{}, forever);
  pipe.stop();
}
