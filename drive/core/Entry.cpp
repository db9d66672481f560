#include "drive/core/Entry.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "drive/core/CommandLine.h"
#include "drive/core/DriveProcess.h"
#include "drive/core/RunLoop.h"
#include "drive/core/ServiceMode.h"
#include "platform/codepage/CodePage.h"
#include "platform/ticks/Ticks.h"

namespace {

// In a terminal, Ctrl+C, a hang-up or a plain kill ends the drive program; the drive is
// unmounted first so that no dead mount point stays behind. The signals are blocked in every
// thread and taken by one waiting thread.
void EndOnTerminationSignals(const DriveProcess& drive) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals, &drive] {
    int received = 0;
    while (sigwait(&signals, &received) != 0) {
    }
    EndProcess(drive, 0);
  }).detach();
}

}  // namespace

int DriveMain(DriveProcess& drive, int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  CommandLine commandLine = ParseCommandLine(args);
  if (commandLine.action == CommandLine::Action::kHelp) {
    std::fputs(kDriveUsage, stdout);
    return 0;
  }
  if (!codepage::InitProcessLocale()) {
    std::printf("错误: MFC 初始化失败\n");
    return 1;
  }
  if (!commandLine.programFolder.empty()) drive.programFolder = commandLine.programFolder;
  if (commandLine.tether) {
    drive.tether = true;
    // The start counts as the first sign of life, so the tether gives the desktop program its
    // full ten seconds before the first pipe message.
    drive.lastPipeMessageTime = GetTickCount();
  }

  switch (commandLine.action) {
    case CommandLine::Action::kHelp:
      return 0;
    case CommandLine::Action::kInstall:
      InstallService();
      return 0;
    case CommandLine::Action::kRemove:
      RemoveService();
      return 0;
    case CommandLine::Action::kService:
      RunAsService(drive);
    case CommandLine::Action::kRun:
      EndOnTerminationSignals(drive);
      RunRoutine(drive);
      EndProcess(drive, 0);
  }
  return 0;
}
