// The drive watcher: once a second asks the drive program for its state over the control
// pipe, publishes the status code, its message, the run drive letter and the service flag,
// and tells the main window so it can show a notice when something changed. Its messages
// also keep a drive program started with "-t" alive.
#pragma once

#include <QThread>
#include <chrono>
#include <memory>

#include "desktop/drive/CAction.h"
#include "desktop/drive/DriveStatus.h"

// The main window's side: compares the published status with the last one it showed.
class DriveNoticeTarget {
 public:
  virtual ~DriveNoticeTarget() = default;
  virtual void notify() = 0;
};

class WaitThread : public QThread {
  Q_OBJECT

 public:
  // Status when the control pipe cannot be opened.
  static constexpr int kNoPipe = drive_status::kNoPipe;
  // The drive program's state while its drive is mounted.
  static constexpr int kMounted = drive_state::kMounted;
  // Longest wait for each reply on the watcher's own connection: a drive program that is
  // busy this long is reported as unreachable (-9) rather than holding the watcher.
  static constexpr std::chrono::milliseconds kReplyLimit{3000};
  // Name of the drive service whose state the service flag follows.
  static constexpr char kServiceName[] = "Quellan";

  WaitThread(DriveNoticeTarget* window, CAction& action, DriveStatus& status,
             int intervalMs = 1000);
  ~WaitThread() override;

  // One pass without the sleep and the notice.
  void poll();

  // The note published when the drive program died under its mounted drive.
  static QString DriveLostNote(const QString& letter, bool cleared);

 protected:
  void run() override;

 private:
  void updateServiceFlag();
  // A drive seen mounted at the last pass is gone without a stop asked for here: its dead
  // mount is taken away and the status says what happened.
  void noteLostDrive(int code);

  DriveNoticeTarget* const window_;
  CAction& action_;
  const std::unique_ptr<DrivePipeClient> pipe_;
  DriveStatus& status_;
  const int intervalMs_;
  // Only the watcher thread (or a caller of poll() while it does not run) touches these.
  int lastCode_ = drive_status::kNotYetAsked;
  QString lastLetter_;
  int lastStopEvents_ = 0;
};
