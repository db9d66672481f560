// The notices of drive status changes: after every pass of the drive watcher, on its thread,
// a status whose code or service flag differs from the last one noticed is logged and shown
// as a tray balloon (handed to the GUI thread). The first status is always noticed.
#pragma once

#include "desktop/drive/NoticeFilter.h"
#include "desktop/drive/WaitThread.h"

class Dialog;
class DriveStatus;
class MLog;

class DriveNotices : public DriveNoticeTarget {
 public:
  DriveNotices(const DriveStatus& status, MLog& log, Dialog& window)
      : status_(status), log_(log), window_(window) {}

  void notify() override;

 private:
  const DriveStatus& status_;
  MLog& log_;
  Dialog& window_;
  NoticeFilter filter_;
};
