#include "drive/core/ServiceMode.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "drive/core/RunLoop.h"
#include "platform/process/Process.h"
#include "platform/service/ServiceDispatcher.h"
#include "platform/service/ServiceManager.h"

namespace {

SERVICE_STATUS serviceStatus{};  // written by the service main and the control handler
SERVICE_STATUS_HANDLE statusHandle = nullptr;

void ControlHandler(uint32_t control) {
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    serviceStatus.dwCurrentState = SERVICE_STOPPED;
    serviceStatus.dwWin32ExitCode = 0;
  }
  SetServiceStatus(statusHandle, &serviceStatus);
}

void ServiceMain(int, char**) {
  serviceStatus = SERVICE_STATUS{};
  serviceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS;
  serviceStatus.dwCurrentState = SERVICE_START_PENDING;
  serviceStatus.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  statusHandle = RegisterServiceCtrlHandler(kServiceName, ControlHandler);
  if (statusHandle == nullptr) return;
  serviceStatus.dwCurrentState = SERVICE_RUNNING;
  SetServiceStatus(statusHandle, &serviceStatus);
  while (serviceStatus.dwCurrentState == SERVICE_RUNNING) {
    RunRoutine();
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

void RunAsService() {
  static const SERVICE_TABLE_ENTRY table[] = {{kServiceName, ServiceMain}, {nullptr, nullptr}};
  StartServiceCtrlDispatcher(table);
}
