#include "desktop/drive/WaitThread.h"

#include <algorithm>

#include "platform/dokan/DeadMount.h"
#include "platform/service/ServiceManager.h"

WaitThread::WaitThread(DriveNoticeTarget* window, CAction& action, DriveStatus& status,
                       int intervalMs)
    : window_(window),
      action_(action),
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
  QString letter;
  if (code == kMounted) {
    // A mounted drive always has a letter: an empty answer means the pipe broke in between,
    // which is reported as such rather than as a running drive without a letter.
    letter = QString::fromStdString(pipe.runDriveLetter());
    if (letter.isEmpty()) code = DrivePipeClient::kBroken;
  }
  if (code == kMounted) {
    action_.noteMounted();
    status_.setNote(QString());
  }
  noteLostDrive(code);
  status_.publish(code, DriveStatusMessage(code), letter);
  if (!letter.isEmpty()) lastLetter_ = letter;
  updateServiceFlag();
}

QString WaitThread::DriveLostNote(const QString& letter, bool cleared) {
  if (!cleared) return QStringLiteral("网盘程序已意外退出");
  return QStringLiteral("网盘程序已意外退出，已卸载失效的网盘 %1:").arg(letter);
}

void WaitThread::noteLostDrive(int code) {
  const int stops = action_.stopEvents();
  const bool gone = code == DrivePipeClient::kBroken || code == kNoPipe;
  const bool stopping = action_.activity() == CAction::Activity::kStopping;
  if (lastCode_ == kMounted && gone && stops == lastStopEvents_ && !stopping) {
    bool cleared = !lastLetter_.isEmpty() && dokan::ClearDeadDrive(lastLetter_.at(0).unicode());
    status_.setNote(DriveLostNote(lastLetter_, cleared));
  }
  if (action_.activity() == CAction::Activity::kStarting) status_.setNote(QString());
  lastCode_ = code;
  lastStopEvents_ = stops;
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
