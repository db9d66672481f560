#include "drive/core/DriveFront.h"

#include <thread>

#include "drive/core/DriveProcess.h"
#include "drive/core/IOMirror.h"

namespace {

void ReleaseMirror(IOMirror* mirror) {
  Drive().currentMirror = nullptr;
  delete mirror;
}

}  // namespace

int Mount(MountCycle& cycle, const RunLoopTiming& timing, const std::atomic<bool>& keepRunning) {
  MirrorConfig& settings = cycle.settings;
  if (settings.readSettings() != 0) return -1;
  while (settings.Run != 1) {
    if (!keepRunning) return 0;
    std::this_thread::sleep_for(timing.runPoll);
  }

  IOMirror* mirror = Drive().createMirror ? Drive().createMirror() : new IOMirror();
  Drive().currentMirror = mirror;
  mirror->SetConfig(&settings);
  Drive().currentSettings = &settings;
  if (mirror->Login() < 0) {
    ReleaseMirror(mirror);
    return -2;
  }

  // The drive itself is mounted here once the driver layer exists; until then the cycle
  // ends right after a successful login.
  ReleaseMirror(mirror);
  return 0;
}

int Unmount() {
  DriveLog().log(u"Dokan:Unmount\n", kLogResults);
  return 0;
}
