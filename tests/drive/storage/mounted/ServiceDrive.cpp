#include "tests/drive/storage/mounted/ServiceDrive.h"

#include <chrono>
#include <fstream>

#include "drive/core/DriveFront.h"
#include "drive/core/DriveProcess.h"
#include "drive/replies/TextDigest.h"
#include "drive/storage/QLVMirror.h"
#include "platform/codepage/CodePage.h"
#include "tests/support/Leftovers.h"
#include "tests/support/Wait.h"

bool ServiceDrive::start(const ReferenceServer& server, const std::string& user,
                         const std::string& password, int refreshSteps, int debug) {
  std::string settings = folders_.programFolder() + "tarvex.ini";
  std::ofstream(settings) << "[Set]\nDebug=" << debug << "\nDriveLetter=" << letter_
                          << "\nServerAddress=127.0.0.1\nRun=1\n"
                          << moreSettings << "[User]\nUserName=" << user << "\nPassWord="
                          << codepage::WideToUtf8(
                                 text_digest::Md5Text(codepage::Utf8ToWide(password)))
                          << "\n";
  uint16_t port = static_cast<uint16_t>(server.webPort());
  DriveProcess& drive = folders_.drive();
  drive.createMirror = [this, &drive, port, refreshSteps] {
    MirrorOptions options;
    options.webPort = port;
    options.maintenanceStep = std::chrono::milliseconds(10);
    options.refreshSteps = refreshSteps;
    return new QLVMirror(drive, storage_, options);
  };
  cycle_ = std::make_unique<MountCycle>(codepage::AnsiToWide(settings));
  keepRunning_ = true;
  finished_ = false;
  thread_ = std::thread([this] {
    Mount(folders_.drive(), *cycle_, RunLoopTiming{}, keepRunning_);
    finished_ = true;
  });
  running_ = true;
  return WaitFor([&] { return finished_ || folders_.isMounted(letter_); },
                 std::chrono::seconds(30)) &&
         folders_.isMounted(letter_);
}

void ServiceDrive::stop() {
  if (!running_) return;
  keepRunning_ = false;
  if (!WaitFor(
          [&] {
            if (!finished_) Unmount(folders_.drive());
            return finished_.load();
          },
          std::chrono::seconds(30))) {
    ForceUnmountBelow(folders_.driveRoot());
  }
  thread_.join();
  running_ = false;
  folders_.drive().createMirror = nullptr;
  folders_.drive().onDriveState = nullptr;
}
