// quellanview: the desktop program. One instance per user; the window shows the skin page.
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "desktop/settings/ProgramFolder.h"
#include "desktop/shell/Autostart.h"
#include "desktop/shell/DesktopContext.h"
#include "desktop/shell/DesktopProgram.h"
#include "desktop/shell/Dialog.h"
#include "desktop/shell/InstanceLock.h"
#include "desktop/shell/PluginFolders.h"
#include "desktop/shell/QtTranslations.h"
#include "desktop/shell/RaiseRequests.h"
#include "desktop/shell/TerminationSignals.h"
#include "platform/codepage/CodePage.h"

namespace {

const char kUsage[] =
    "quellanview: the desktop program; a tray program whose window shows the page\n"
    "skin/index.html and which runs the drive program quellan.\n"
    "usage: quellanview [-d FOLDER] | --autostart on|off | -h\n"
    "  -d FOLDER        program folder (settings, logs, page store); default: the program's\n"
    "                   own folder when it holds skin/index.html, else $XDG_DATA_HOME/quellan\n"
    "                   (~/.local/share/quellan)\n"
    "  --autostart on   start the desktop program at login (writes\n"
    "                   $XDG_CONFIG_HOME/autostart/quellanview.desktop)\n"
    "  --autostart off  do not start it at login\n"
    "  -h, --help       print this help and exit\n"
    "One copy runs per user: a second start brings the running copy's window to the front.\n"
    "Exit status: 0 after a normal end and after a second start, 1 when the autostart\n"
    "entry or the instance lock in $XDG_RUNTIME_DIR cannot be written, 2 for a wrong\n"
    "--autostart value.\n";

// How long a second start tries to reach a first copy that is still starting.
constexpr std::chrono::milliseconds kRaiseLimit{5000};

// Handles the options that do their work and end at once; returns -1 to go on starting.
int RunOneShotOption(int argc, char** argv) {
  if (argc < 2) return -1;
  if (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--autostart") != 0) return -1;
  const bool on = argc > 2 && std::strcmp(argv[2], "on") == 0;
  if (!on && (argc <= 2 || std::strcmp(argv[2], "off") != 0)) {
    std::fputs("quellanview: --autostart takes on or off\n", stderr);
    return 2;
  }
  QCoreApplication app(argc, argv);
  if (!SetAutostart(on, QCoreApplication::applicationFilePath())) {
    std::fprintf(stderr, "quellanview: cannot write %s\n", qPrintable(AutostartEntryPath()));
    return 1;
  }
  std::printf("autostart %s: %s\n", on ? "on" : "off", qPrintable(AutostartEntryPath()));
  return 0;
}

// Takes this user's instance lock; -1 to go on starting, else the exit status.
int TakeInstanceLock() {
  std::string problem;
  switch (instance_lock::Acquire(&problem)) {
    case instance_lock::Outcome::kAcquired:
      return -1;
    case instance_lock::Outcome::kRunning:
      if (!instance_lock::AskRunningCopyToRaise(kRaiseLimit))
        std::fputs("quellanview: already running for this user\n", stderr);
      return 0;
    case instance_lock::Outcome::kFailed:
      break;
  }
  std::fprintf(stderr, "quellanview: cannot take the instance lock: %s\n", problem.c_str());
  return 1;
}

// Runs the desktop program until its window closes; true when it closed to start the updated
// program.
bool RunWindow(QApplication& app, const QString& folder) {
  InstallQtTranslations(app);
  DesktopContext context(folder.isEmpty() ? DefaultProgramFolder() : folder);
  DesktopProgram program(context);
  RaiseRequests raise(QString::fromStdString(instance_lock::RaiseSocketPath()));
  if (!raise.isListening())
    context.log.write(QStringLiteral("instance: a second start cannot reach this one: ") +
                      raise.errorString());
  QObject::connect(&raise, &RaiseRequests::raiseRequested, &program.window(), [&] {
    context.log.write(QStringLiteral("instance: window brought to the front for a second start"));
    program.window().bringToFront();
  });
  CloseOnTerminationSignals(&program.window());
  context.log.write(QStringLiteral("instance: running for this user, lock in ") +
                    QString::fromStdString(instance_lock::LockFolder()));
  program.window().setVisible(true);
  app.exec();
  return program.restartRequested();
}

}  // namespace

int main(int argc, char** argv) {
  UsePluginFolders();
  if (int status = RunOneShotOption(argc, argv); status >= 0) return status;
  if (int status = TakeInstanceLock(); status >= 0) return status;
  QString folder = ProgramFolderFromArguments(argc, argv);
  ::signal(SIGPIPE, SIG_IGN);
  codepage::InitProcessLocale();

  QApplication app(argc, argv);
  const QByteArray program = QFile::encodeName(QCoreApplication::applicationFilePath());
  if (!RunWindow(app, folder)) return 0;
  // The updated program takes this one's place with the same arguments; the instance lock is
  // closed on exec, so the new program takes it again.
  ::execv(program.constData(), argv);
  std::perror("quellanview: cannot start the updated program");
  return 1;
}
