// The notices of drive status changes: after every pass of the drive watcher, on its thread,
// a status whose code or service flag differs from the last one is logged; a change of the
// drive's state is also shown as a tray balloon (handed to the GUI thread), but none before a
// drive program was heard from and only one for an outage however its codes alternate.
#pragma once

#include <QString>

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
  NoticeFilter logged_{NoticeFilter::Rule::kEveryChange};
  QString loggedNote_;  // the watcher's thread only
  NoticeFilter shown_{NoticeFilter::Rule::kChangeOfState};
};
