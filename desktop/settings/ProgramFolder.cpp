#include "desktop/settings/ProgramFolder.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstring>

#include "platform/appfolder/AppFolders.h"

QString ProgramFolderFromArguments(int argc, char** argv) {
  if (argc <= 2 || std::strcmp(argv[1], "-d") != 0) return QString();
  return QString::fromLocal8Bit(argv[2]).replace(QLatin1Char('\\'), QLatin1Char('/'));
}

QString DefaultProgramFolder() {
  std::string own = QCoreApplication::applicationDirPath().toStdString();
  return QString::fromStdString(appfolder::DefaultProgramFolder(own));
}

QString PageFolder(const QString& programFolder) {
  return QString::fromStdString(appfolder::PageFolder(
      programFolder.toStdString(), QCoreApplication::applicationDirPath().toStdString()));
}

QIcon TrayIcon(const QString& folder) {
  for (const QString& name :
       {QStringLiteral("/quellan.ico"), QStringLiteral("/skin/quellan.ico")}) {
    if (QFileInfo::exists(folder + name)) return QIcon(folder + name);
  }
  return QIcon::fromTheme(QStringLiteral("quellan"));
}
