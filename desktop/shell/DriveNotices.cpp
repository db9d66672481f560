#include "desktop/shell/DriveNotices.h"

#include "desktop/drive/DriveStatus.h"
#include "desktop/log/MLog.h"
#include "desktop/shell/Dialog.h"

void DriveNotices::notify() {
  DriveStatusValues status = status_.values();
  if (status.note != loggedNote_) {
    loggedNote_ = status.note;
    if (!status.note.isEmpty()) log_.write(QStringLiteral("drive lost: %1").arg(status.note));
  }
  if (!logged_.changed(status.code, status.serviceFlag)) return;
  // Every change is logged, so a program without a tray still tells what happened.
  log_.write(QStringLiteral("notice %1 %2 %3")
                 .arg(status.code)
                 .arg(status.text)
                 .arg(status.code == 2 ? status.runDriveLetter : QString())
                 .trimmed());
  if (!shown_.changed(status.code, status.serviceFlag)) return;
  // A drive program that died says so rather than only that the service is not running.
  QString text = status.note.isEmpty() ? status.text : status.note;
  Dialog* window = &window_;
  QMetaObject::invokeMethod(
      window, [window, text] { window->showNotice(text); }, Qt::QueuedConnection);
}
