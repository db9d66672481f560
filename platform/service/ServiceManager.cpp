#include "platform/service/ServiceManager.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/atomicfile/AtomicFile.h"
#include "platform/process/Process.h"

struct ServiceHandle {
  bool isManager = false;
  std::string name;  // service name; empty for the manager
};

namespace {

thread_local int lastError = 0;

bool IsRoot() { return ::geteuid() == 0; }

std::string UnitPath(const std::string& name) {
  return ServiceUnitFolder() + "/" + name + ".service";
}

// Runs "systemctl [--user] args..." when systemctl exists; returns its exit status or -1.
int Systemctl(std::initializer_list<std::string> args) {
  if (!process::IsOnPath("systemctl")) return -1;
  std::vector<std::string> argv{"systemctl"};
  if (!IsRoot()) argv.push_back("--user");
  argv.insert(argv.end(), args);
  return process::RunAndWait(argv);
}

std::string UnitText(const std::string& displayName, const std::string& commandLine) {
  return "[Unit]\n"
         "Description=" +
         displayName +
         "\n"
         "After=network-online.target\n"
         "\n"
         "[Service]\n"
         "Type=simple\n"
         "ExecStart=" +
         commandLine +
         "\n"
         "KillSignal=SIGTERM\n"
         "\n"
         "[Install]\n"
         "WantedBy=" +
         std::string(IsRoot() ? "multi-user.target" : "default.target") + "\n";
}

}  // namespace

int GetLastServiceError() { return lastError; }

std::string ServiceUnitFolder() {
  if (const char* dir = std::getenv("QUELLAN_UNIT_DIR"); dir != nullptr && *dir != '\0') return dir;
  if (IsRoot()) return "/etc/systemd/system";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "/tmp") + "/.config/systemd/user";
}

SC_HANDLE OpenSCManager() {
  std::error_code ec;
  std::filesystem::create_directories(ServiceUnitFolder(), ec);
  if (ec || ::access(ServiceUnitFolder().c_str(), W_OK) != 0) {
    lastError = ec ? ec.value() : errno;
    return nullptr;
  }
  return new ServiceHandle{true, std::string()};
}

SC_HANDLE OpenService(SC_HANDLE manager, const std::string& name) {
  if (manager == nullptr || !manager->isManager) {
    lastError = EINVAL;
    return nullptr;
  }
  if (!std::filesystem::exists(UnitPath(name))) {
    lastError = ENOENT;
    return nullptr;
  }
  return new ServiceHandle{false, name};
}

SC_HANDLE CreateService(SC_HANDLE manager, const std::string& name, const std::string& displayName,
                        const std::string& commandLine) {
  if (manager == nullptr || !manager->isManager) {
    lastError = EINVAL;
    return nullptr;
  }
  std::string path = UnitPath(name);
  if (std::filesystem::exists(path)) {
    lastError = EEXIST;
    return nullptr;
  }
  if (!atomicfile::ReplaceFile(path, UnitText(displayName, commandLine), {.syncFile = true})) {
    lastError = errno;
    return nullptr;
  }
  Systemctl({"daemon-reload"});
  Systemctl({"enable", name + ".service"});
  return new ServiceHandle{false, name};
}

bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status) {
  if (service == nullptr || service->isManager || status == nullptr) {
    lastError = EINVAL;
    return false;
  }
  *status = SERVICE_STATUS{};
  status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  bool active = Systemctl({"is-active", "--quiet", service->name + ".service"}) == 0;
  status->dwCurrentState = active ? SERVICE_RUNNING : SERVICE_STOPPED;
  if (active) status->dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
  return true;
}

bool ControlService(SC_HANDLE service, uint32_t control, SERVICE_STATUS* status) {
  if (service == nullptr || service->isManager) {
    lastError = EINVAL;
    return false;
  }
  if (control == SERVICE_CONTROL_STOP && Systemctl({"stop", service->name + ".service"}) != 0) {
    lastError = EIO;
    return false;
  }
  SERVICE_STATUS ignored;
  return QueryServiceStatus(service, status != nullptr ? status : &ignored);
}

bool StartService(SC_HANDLE service) {
  if (service == nullptr || service->isManager) {
    lastError = EINVAL;
    return false;
  }
  if (Systemctl({"start", service->name + ".service"}) != 0) {
    lastError = EIO;
    return false;
  }
  return true;
}

bool DeleteService(SC_HANDLE service) {
  if (service == nullptr || service->isManager) {
    lastError = EINVAL;
    return false;
  }
  Systemctl({"disable", service->name + ".service"});
  std::error_code ec;
  if (!std::filesystem::remove(UnitPath(service->name), ec)) {
    lastError = ec ? ec.value() : ENOENT;
    return false;
  }
  Systemctl({"daemon-reload"});
  return true;
}

void CloseServiceHandle(SC_HANDLE handle) { delete handle; }
