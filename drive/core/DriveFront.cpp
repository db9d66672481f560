#include "drive/core/DriveFront.h"

#include <algorithm>
#include <thread>

#include "drive/core/DriveCallbacks.h"
#include "drive/core/DriveLetterSearch.h"
#include "drive/core/DriveProcess.h"
#include "drive/core/IOMirror.h"
#include "platform/dokan/Dokan.h"

namespace {

void ReleaseMirror(DriveProcess& drive, IOMirror* mirror) {
  // The control pipe thread may be inside a call on the mirror; this waits for it.
  drive.clearCurrentMirror();
  delete mirror;
}

void ReleaseDriverRecords(MountCycle& cycle) {
  cycle.operations.reset();
  cycle.options.reset();
}

uint16_t ThreadCountOf(int32_t setting) {
  return static_cast<uint16_t>(std::clamp<int32_t>(setting, 0, UINT16_MAX));
}

// The letter to start the search from: the run drive letter, set from the DriveLetter
// setting by the first mount of the process. 0 when neither is set.
WCHAR StartLetter(DriveProcess& drive, const MirrorConfig& settings) {
  if (drive.runDriveLetter().empty() && !settings.DriveLetter.empty())
    drive.setRunDriveLetter(settings.DriveLetter.substr(0, 1));
  std::u16string letter = drive.runDriveLetter();
  return letter.empty() ? u'\0' : letter[0];
}

// A failed mount's result becomes the drive state, which the desktop program reads by the
// names the protocol gives these values.
static_assert(DOKAN_ERROR == drive_state::kFailed);
static_assert(DOKAN_DRIVE_LETTER_ERROR == drive_state::kBadDriveLetter);
static_assert(DOKAN_DRIVER_INSTALL_ERROR == drive_state::kDriverInstallError);
static_assert(DOKAN_START_ERROR == drive_state::kDriverStartError);
static_assert(DOKAN_MOUNT_ERROR == drive_state::kCannotMount);

void LogResult(MirrorLog& log, int result) {
  switch (result) {
    case DOKAN_SUCCESS:
      log.log(u"Dokan:Success", kLogResults);
      break;
    case DOKAN_ERROR:
      log.log(u"Dokan:Error", kLogResults);
      break;
    case DOKAN_DRIVE_LETTER_ERROR:
      log.log(u"Dokan:Bad Drive letter", kLogResults);
      break;
    case DOKAN_DRIVER_INSTALL_ERROR:
      log.log(u"Dokan:Can't install driver", kLogResults);
      break;
    case DOKAN_START_ERROR:
      log.log(u"Dokan:Driver something wrong", kLogResults);
      break;
    case DOKAN_MOUNT_ERROR:
      log.log(u"Dokan:Can't assign a drive letter", kLogResults);
      break;
    default:
      log.logf(kLogResults, "Dokan:Unknown error: %d\n", result);
      break;
  }
}

}  // namespace

int Mount(DriveProcess& drive, MountCycle& cycle, const RunLoopTiming& timing,
          const std::atomic<bool>& keepRunning) {
  MirrorConfig& settings = cycle.settings;
  if (settings.readSettings(drive) != 0) return -1;
  while (settings.Run != 1) {
    if (!keepRunning) return 0;
    std::this_thread::sleep_for(timing.runPoll);
  }

  IOMirror* mirror = drive.createMirror ? drive.createMirror() : new IOMirror();
  drive.currentMirror = mirror;
  mirror->SetConfig(&settings);
  drive.currentSettings = &settings;
  if (mirror->Login(drive) < 0) {
    ReleaseMirror(drive, mirror);
    return -2;
  }

  cycle.operations = std::make_unique<DOKAN_OPERATIONS>();
  cycle.options = std::make_unique<MountOptions>();
  cycle.options->drive = &drive;
  cycle.options->ThreadCount = ThreadCountOf(settings.ThreadCount);

  WCHAR letter = StartLetter(drive, settings);
  ReclaimDeadDriveLetter(drive.log(), letter);
  if (!FindFreeDriveLetter(JoinedDriveRoots(), letter)) {
    // Every letter is in use: give up this cycle; the run loop tries again later.
    drive.log().log(u"Dokan:No free drive letter", kLogResults);
    drive.setDriveState(DOKAN_MOUNT_ERROR);
    ReleaseMirror(drive, mirror);
    ReleaseDriverRecords(cycle);
    return 0;
  }
  if (letter != u'\0') drive.setRunDriveLetter(std::u16string(1, letter));
  drive.log().log(u"RunDriveLetter:" + drive.runDriveLetter(), kLogProgress);

  cycle.options->DriveLetter = letter;
  cycle.options->Options |= DOKAN_OPTION_KEEP_ALIVE;
  cycle.options->Options |= DOKAN_OPTION_REMOVABLE;
  FillDriveCallbacks(*cycle.operations);
  drive.log().log(u"开始装载磁盘", kLogProgress);

  drive.setDriveState(drive_state::kMounted);
  int result = DokanMain(cycle.options.get(), cycle.operations.get());
  drive.setDriveState(result == DOKAN_SUCCESS ? drive_state::kStopped : result);
  LogResult(drive.log(), result);

  ReleaseMirror(drive, mirror);
  ReleaseDriverRecords(cycle);
  return 0;
}

int Unmount(DriveProcess& drive) {
  drive.log().log(u"Dokan:Unmount\n", kLogResults);
  std::u16string letter = drive.runDriveLetter();
  DokanUnmount(letter.empty() ? u'\0' : letter[0]);
  return 0;
}
