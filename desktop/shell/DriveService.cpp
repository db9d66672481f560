#include "desktop/shell/DriveService.h"

#include <chrono>
#include <thread>

#include "desktop/drive/WaitThread.h"
#include "platform/service/ServiceManager.h"

namespace {

constexpr int kServiceStopPolls = 100;
constexpr auto kServiceStopPoll = std::chrono::milliseconds(500);

// Opens the drive service; both handles null when either cannot be opened.
struct DriveServiceHandles {
  SC_HANDLE manager = OpenSCManager();
  SC_HANDLE service = manager ? OpenService(manager, WaitThread::kServiceName) : nullptr;
  ~DriveServiceHandles() {
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
  }
};

bool StopAndWait(SC_HANDLE service) {
  SERVICE_STATUS status{};
  bool done = ControlService(service, SERVICE_CONTROL_STOP, &status);
  for (int waits = 0; done && waits < kServiceStopPolls && QueryServiceStatus(service, &status) &&
                      status.dwCurrentState != SERVICE_STOPPED;
       ++waits)
    std::this_thread::sleep_for(kServiceStopPoll);
  return done;
}

}  // namespace

ServiceOutcome OperateDriveService(int serviceFlag) {
  DriveServiceHandles drive;
  if (!drive.service) return ServiceOutcome::NotOpened;
  bool done = false;
  switch (serviceFlag) {
    case 0:
      done = StartService(drive.service);
      break;
    case 1:
      done = StopAndWait(drive.service);
      break;
    default:
      break;
  }
  return done ? ServiceOutcome::Done : ServiceOutcome::Failed;
}

void StopDriveServiceWithoutWaiting() {
  DriveServiceHandles drive;
  if (drive.service) ControlService(drive.service, SERVICE_CONTROL_STOP, nullptr);
}
