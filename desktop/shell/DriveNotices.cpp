#include "desktop/shell/DriveNotices.h"

#include "desktop/drive/DriveStatus.h"
#include "desktop/log/MLog.h"
#include "desktop/shell/Dialog.h"

void DriveNotices::notify() {
  DriveStatusValues status = status_.values();
  if (!filter_.changed(status.code, status.serviceFlag)) return;
  // Every notice is also logged, so a program without a tray still tells what happened.
  log_.write(QStringLiteral("notice %1 %2 %3")
                 .arg(status.code)
                 .arg(status.text)
                 .arg(status.code == 2 ? status.runDriveLetter : QString())
                 .trimmed());
  Dialog* window = &window_;
  QMetaObject::invokeMethod(
      window, [window, text = status.text] { window->showNotice(text); }, Qt::QueuedConnection);
}
