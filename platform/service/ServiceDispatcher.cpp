#include "platform/service/ServiceDispatcher.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

struct ServiceStatusHandleRecord {
  std::atomic<LPHANDLER_FUNCTION> handler{nullptr};
  std::atomic<uint32_t> state{SERVICE_STOPPED};
  std::atomic<bool> dispatching{false};
};

namespace {

ServiceStatusHandleRecord record;  // the one service this process can run

sigset_t ControlSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

uint32_t ControlFor(int signal) {
  return signal == SIGTERM ? SERVICE_CONTROL_STOP : SERVICE_CONTROL_SHUTDOWN;
}

}  // namespace

bool StartServiceCtrlDispatcher(const SERVICE_TABLE_ENTRY* table) {
  if (table == nullptr || table[0].lpServiceProc == nullptr) return false;

  // Block the control signals before the service thread exists, so that it inherits the
  // mask and only this thread receives them.
  sigset_t signals = ControlSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  record.state = SERVICE_START_PENDING;
  record.dispatching = true;

  std::string name = table[0].lpServiceName != nullptr ? table[0].lpServiceName : "";
  std::thread serviceMain([proc = table[0].lpServiceProc, name]() mutable {
    char* argv[] = {name.data(), nullptr};
    proc(1, argv);
  });
  serviceMain.detach();

  while (record.state != SERVICE_STOPPED) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    LPHANDLER_FUNCTION handler = record.handler;
    if (handler != nullptr) {
      handler(ControlFor(signal));
    } else {
      record.state = SERVICE_STOPPED;  // no handler yet: a stop signal still ends the service
    }
  }
  record.dispatching = false;
  return true;
}

SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(const char*, LPHANDLER_FUNCTION handler) {
  if (!record.dispatching) return nullptr;
  record.handler = handler;
  return &record;
}

bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status) {
  if (handle == nullptr || status == nullptr) return false;
  handle->state = status->dwCurrentState;
  if (status->dwCurrentState == SERVICE_STOPPED) {
    // Wake the dispatcher when the service stops by itself rather than on a signal.
    ::kill(::getpid(), SIGTERM);
  }
  return true;
}
