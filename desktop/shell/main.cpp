// quellanview: the desktop program. One instance per machine; the window shows the skin page.
#include <signal.h>

#include <QApplication>
#include <cstdio>
#include <cstring>

#include "desktop/settings/ProgramFolder.h"
#include "desktop/shell/Autostart.h"
#include "desktop/shell/DesktopContext.h"
#include "desktop/shell/DesktopProgram.h"
#include "desktop/shell/Dialog.h"
#include "desktop/shell/InstanceLock.h"
#include "desktop/shell/PluginFolders.h"
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
    "Exit status: 0 after a normal end, 255 when another copy runs, 1 when the autostart\n"
    "entry cannot be written, 2 for a wrong --autostart value.\n";

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

}  // namespace

int main(int argc, char** argv) {
  UsePluginFolders();
  if (int status = RunOneShotOption(argc, argv); status >= 0) return status;
  if (!instance_lock::Acquire()) return -1;
  QString folder = ProgramFolderFromArguments(argc, argv);
  ::signal(SIGPIPE, SIG_IGN);
  codepage::InitProcessLocale();

  QApplication app(argc, argv);
  DesktopContext context(folder.isEmpty() ? DefaultProgramFolder() : folder);
  DesktopProgram program(context);
  CloseOnTerminationSignals(&program.window());
  program.window().setVisible(true);
  app.exec();
  return 0;
}
