#include "drive/core/ServiceMode.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "drive/core/DriveProcess.h"
#include "drive/core/RunLoop.h"
#include "platform/process/Process.h"
#include "platform/service/ServiceDispatcher.h"
#include "platform/service/ServiceManager.h"

namespace {

// The service while it runs: the drive program's state and the status the service main and
// the control handler write.
struct RunningService {
  DriveProcess& drive;
  SERVICE_STATUS status{};
  SERVICE_STATUS_HANDLE statusHandle = nullptr;
};

// The dispatcher calls the service main and the control handler through plain function
// pointers that carry no context, so they find the running service here. Set by RunAsService,
// which never returns, so the service it points to lives as long as the process.
RunningService* runningService = nullptr;

void ControlHandler(uint32_t control) {
  RunningService& service = *runningService;
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    service.status.dwCurrentState = SERVICE_STOPPED;
    service.status.dwWin32ExitCode = 0;
  }
  SetServiceStatus(service.statusHandle, &service.status);
}

void ServiceMain(int, char**) {
  RunningService& service = *runningService;
  service.status = SERVICE_STATUS{};
  service.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS;
  service.status.dwCurrentState = SERVICE_START_PENDING;
  service.status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  service.statusHandle = RegisterServiceCtrlHandler(kServiceName, ControlHandler);
  if (service.statusHandle == nullptr) return;
  service.status.dwCurrentState = SERVICE_RUNNING;
  SetServiceStatus(service.statusHandle, &service.status);
  while (service.status.dwCurrentState == SERVICE_RUNNING) {
    RunRoutine(service.drive);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  }
}

}  // namespace

void InstallService() {
  SC_HANDLE manager = OpenSCManager();
  if (manager == nullptr) {
    std::printf("link SCManager Err %d!\n", GetLastServiceError());
    return;
  }
  if (SC_HANDLE existing = OpenService(manager, kServiceName)) {
    std::printf("Service %s Exist!\n", kServiceName);
    CloseServiceHandle(existing);
    CloseServiceHandle(manager);
    return;
  }
  std::string commandLine = process::ExecutablePath() + " " + "service";
  SC_HANDLE service = CreateService(manager, kServiceName, kServiceName, commandLine);
  if (service != nullptr) {
    std::printf("add Service Succeed\n");
    CloseServiceHandle(service);
  } else {
    std::printf("add Service Err %d\n", GetLastServiceError());
  }
  CloseServiceHandle(manager);
}

void RemoveService() {
  SC_HANDLE manager = OpenSCManager();
  if (manager == nullptr) {
    std::printf("link SCManager Err %d!\n", GetLastServiceError());
    return;
  }
  SC_HANDLE service = OpenService(manager, kServiceName);
  if (service == nullptr) {
    std::printf("Service %s is not Exist \n", kServiceName);
    CloseServiceHandle(manager);
    return;
  }
  SERVICE_STATUS status{};
  if (QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING)
    ControlService(service, SERVICE_CONTROL_STOP, &status);
  DeleteService(service);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  std::printf("Service %s Delete!\n", kServiceName);
}

void RunAsService(DriveProcess& drive) {
  RunningService service{drive};
  runningService = &service;
  const SERVICE_TABLE_ENTRY table[] = {{kServiceName, ServiceMain}, {nullptr, nullptr}};
  StartServiceCtrlDispatcher(table);
  // The service thread may still be inside the run routine: the process ends here, while
  // `service` is still alive.
  EndProcess(drive, 0);
}
