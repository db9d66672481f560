#include "desktop/shell/Autostart.h"

#include <QDir>
#include <QFileInfo>

#include "platform/appfolder/AppFolders.h"
#include "platform/atomicfile/AtomicFile.h"

QString AutostartEntryPath() {
  return QString::fromStdString(appfolder::XdgConfigHome()) +
         QStringLiteral("/autostart/quellanview.desktop");
}

bool SetAutostart(bool on, const QString& program) {
  // The entry's Exec key splits at spaces unless the path is quoted.
  const QString exec =
      program.contains(QLatin1Char(' ')) ? QLatin1Char('"') + program + QLatin1Char('"') : program;
  const QString path = AutostartEntryPath();
  if (!QDir().mkpath(QFileInfo(path).path())) return false;
  const QString text = QStringLiteral(
                           "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Quellanview\n"
                           "Comment=Cloud drive tray program\n"
                           "Exec=%1\n"
                           "Icon=quellan\n"
                           "Terminal=false\n"
                           "X-GNOME-Autostart-enabled=%2\n"
                           "Hidden=%3\n")
                           .arg(exec, on ? QStringLiteral("true") : QStringLiteral("false"),
                                on ? QStringLiteral("false") : QStringLiteral("true"));
  return atomicfile::ReplaceFile(path.toStdString(), text.toStdString(), {});
}
