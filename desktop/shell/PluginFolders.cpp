#include "desktop/shell/PluginFolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>

#include "platform/process/Process.h"

namespace {

void AddAbsolute(QStringList& folders, const QString& folder) {
  if (folder.isEmpty() || QDir::isRelativePath(folder)) return;
  const QString clean = QDir::cleanPath(folder);
  if (!folders.contains(clean)) folders.append(clean);
}

// The folders in search order, for the program in `programDir` and the value of QT_PLUGIN_PATH.
QStringList PluginFolders(const QString& programDir, const QString& pluginPathVariable) {
  QStringList folders;
  for (const QString& folder : pluginPathVariable.split(QDir::listSeparator(), Qt::SkipEmptyParts))
    AddAbsolute(folders, folder);
  AddAbsolute(folders, QLibraryInfo::location(QLibraryInfo::PluginsPath));
  if (!programDir.isEmpty()) AddAbsolute(folders, programDir + QStringLiteral("/plugins"));
  return folders;
}

}  // namespace

void UsePluginFolders() {
  // The application folder is not known before the application object exists.
  const QString program = QString::fromStdString(process::ExecutablePath());
  const QString programDir = program.isEmpty() ? QString() : QFileInfo(program).absolutePath();
  QCoreApplication::setLibraryPaths(
      PluginFolders(programDir, qEnvironmentVariable("QT_PLUGIN_PATH")));
}
