#include "desktop/drive/WaitThread.h"

#include <algorithm>

#include "platform/service/ServiceManager.h"

WaitThread::WaitThread(DriveNoticeTarget* window, CAction& action, DriveStatus& status,
                       int intervalMs)
    : window_(window),
      pipe_(action.newConnection(kReplyLimit)),
      status_(status),
      intervalMs_(intervalMs) {}

WaitThread::~WaitThread() {
  requestInterruption();
  wait();
}

void WaitThread::poll() {
  DrivePipeClient& pipe = *pipe_;
  int code = pipe.openPipe() != 0 ? kNoPipe : pipe.driveState();
  if (code == kMounted) {
    // A mounted drive always has a letter: an empty answer means the pipe broke in between,
    // which is reported as such rather than as a running drive without a letter.
    std::string letter = pipe.runDriveLetter();
    if (letter.empty())
      code = DrivePipeClient::kBroken;
    else
      status_.setRunDriveLetter(QString::fromStdString(letter));
  }
  status_.setCode(code, DriveStatusMessage(code));
  updateServiceFlag();
}

void WaitThread::updateServiceFlag() {
  SC_HANDLE manager = OpenSCManager();
  if (manager == nullptr) return;
  if (SC_HANDLE service = OpenService(manager, kServiceName)) {
    SERVICE_STATUS state{};
    if (QueryServiceStatus(service, &state)) {
      if (state.dwCurrentState == SERVICE_STOPPED) status_.setServiceFlag(0);
      if (state.dwCurrentState == SERVICE_RUNNING) status_.setServiceFlag(1);
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

void WaitThread::run() {
  while (!isInterruptionRequested()) {
    poll();
    // Sleeps in short steps so that the program can end the thread promptly.
    for (int slept = 0; slept < intervalMs_ && !isInterruptionRequested(); slept += 50)
      msleep(static_cast<unsigned long>(std::min(50, intervalMs_ - slept)));
    if (window_ != nullptr) window_->notify();
  }
}
