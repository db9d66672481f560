// What the desktop program keeps for its whole run, made once in main and handed down to the
// parts that need it: the program folder, the log, the drive status the watcher publishes,
// the folder list, the count of running downloads and the folder the last folder dialog gave.
#pragma once

#include <QString>

#include "desktop/control/FolderList.h"
#include "desktop/drive/DriveStatus.h"
#include "desktop/log/MLog.h"
#include "desktop/transfers/ActiveDownloads.h"

struct DesktopContext {
  // `folder` is the program folder, with forward slashes and no trailing one; the log opens
  // "quellan.log" in it.
  explicit DesktopContext(const QString& folder)
      : programFolder(folder), log(folder + QStringLiteral("/quellan.log")) {}

  QString settingsPath() const { return programFolder + QStringLiteral("/tarvex.ini"); }
  QString folderListPath() const { return programFolder + QStringLiteral("/.filelist"); }

  const QString programFolder;
  MLog log;
  DriveStatus driveStatus;
  FolderList folderList;  // GUI thread only
  ActiveDownloads downloadCounts;
  QString lastLocalFolder;  // GUI thread only; empty after a cancelled dialog
};
