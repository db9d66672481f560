#include "desktop/shell/ProgramFolder.h"

#include <cstring>

#include "platform/sync/Mutex.h"

namespace {
Mutex folderLock;
QString folder GUARDED_BY(folderLock);
}  // namespace

QString programFolder() {
  MutexLock hold(folderLock);
  return folder;
}

void setProgramFolder(const QString& value) {
  MutexLock hold(folderLock);
  folder = value;
}

QString ProgramFolderFromArguments(int argc, char** argv) {
  if (argc <= 2 || std::strcmp(argv[1], "-d") != 0) return QString();
  return QString::fromLocal8Bit(argv[2]).replace(QLatin1Char('\\'), QLatin1Char('/'));
}
