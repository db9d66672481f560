#include "desktop/shell/DriveService.h"

#include "desktop/drive/WaitThread.h"
#include "platform/service/ServiceManager.h"

namespace {

// Opens the drive service; both handles null when either cannot be opened.
struct DriveServiceHandles {
  SC_HANDLE manager = OpenSCManager();
  SC_HANDLE service = manager ? OpenService(manager, WaitThread::kServiceName) : nullptr;
  ~DriveServiceHandles() {
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
  }
};

}  // namespace

void StopDriveServiceWithoutWaiting() {
  DriveServiceHandles drive;
  if (drive.service) ControlService(drive.service, SERVICE_CONTROL_STOP, nullptr);
}
