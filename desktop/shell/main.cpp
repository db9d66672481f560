// quellanview: the desktop program. One instance per machine; the window shows the skin page.
#include <signal.h>

#include <QApplication>

#include "desktop/shell/Dialog.h"
#include "desktop/shell/InstanceLock.h"
#include "desktop/shell/ProgramFolder.h"
#include "desktop/shell/TerminationSignals.h"
#include "platform/codepage/CodePage.h"

int main(int argc, char** argv) {
  if (!instance_lock::Acquire()) return -1;
  QString folder = ProgramFolderFromArguments(argc, argv);
  if (!folder.isEmpty()) setProgramFolder(folder);
  ::signal(SIGPIPE, SIG_IGN);
  codepage::InitProcessLocale();
  QCoreApplication::addLibraryPath(QStringLiteral("./plugins"));

  QApplication app(argc, argv);
  auto* dialog = new Dialog;
  CloseOnTerminationSignals(dialog);
  dialog->setVisible(true);
  app.exec();
  delete dialog;
  return 0;
}
