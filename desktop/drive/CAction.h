// Drive control of the desktop program: starts the drive program as a child, stops and
// restarts it, carries the page's connection to the control pipe and hands out connections
// of their own to the other parties (the drive watcher, the upload workers).
//
// Stopping ends only drive programs of this program folder: the child started here, and the
// drive program that serves this program's control pipe when it was started for this
// program folder. Drive programs of other users, of other program folders and the drive
// service keep running (the service only unmounts its drive when asked to stop).
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <memory>

#include "desktop/control/DrivePipeClient.h"
#include "desktop/drive/DriveJobs.h"
#include "desktop/drive/StartedDrive.h"
#include "platform/sync/Mutex.h"

class CAction : public QObject {
  Q_OBJECT

 public:
  // File name of the drive program.
  static constexpr char kDriveImage[] = "quellan";
  // Longest wait for each reply while starting and stopping: the drive program answers its
  // state at once unless it is stuck.
  static constexpr std::chrono::milliseconds kControlReplyLimit{2000};

  // What the drive's own thread does at the moment.
  enum class Activity { kIdle, kStarting, kStopping };

  // `driveProgram` is started with "-d", `folder` and "-t". The pipe is the default control
  // pipe ($QUELLAN_PIPE when set).
  CAction(QString driveProgram, QString folder);
  ~CAction() override;

  // The drive program beside this program's own executable, or $QUELLAN_DRIVE_PROGRAM when
  // set (tests run a copy under a name of their own).
  static QString DriveProgramBesideMe();

  // Where every connection notes why it refused a pipe (the program's log); set before the
  // first connection is handed out.
  void setRefusalNote(DrivePipeClient::RefusalNote note);

  // The page's connection, used on the GUI thread.
  DrivePipeClient& pipe() { return pipe_; }
  // A new connection to the same pipe, noting refusals like the page's.
  std::unique_ptr<DrivePipeClient> newConnection(
      std::chrono::milliseconds replyLimit = DrivePipeClient::kReplyLimit) const;

  // Starts the drive program without waiting, unless the one started before still runs;
  // returns 0 (a failed start shows in startFailure()).
  int startDrive() EXCLUDES(childLock_);
  // Asks the drive to unmount (command 21), waits a little for the unmount to finish, then
  // ends this program folder's own drive program. Returns 0 once done.
  int stopDrive() EXCLUDES(childLock_);
  int restartDrive();

  // The same steps on the drive's own thread, in the order asked for; they return at once.
  // A start there is skipped while the drive is mounted.
  void requestStart();
  void requestStop();
  void requestRestart();
  // Starting also while the drive program started here runs and has not yet mounted its
  // drive.
  Activity activity() const EXCLUDES(activityLock_, childLock_);
  bool waitUntilIdle(std::chrono::milliseconds limit) { return jobs_.waitUntilIdle(limit); }

  // Why the drive program started here last ended before its drive was mounted (what it
  // wrote on standard error or in its log, else its exit code); empty when it runs, has
  // mounted its drive, was stopped here, or none was started.
  QString startFailure() EXCLUDES(childLock_);
  // The drive was seen mounted: the child's later end is no failed start.
  void noteMounted() EXCLUDES(childLock_);
  // Counts the beginnings and ends of stops: a drive that goes away while this count
  // changes was stopped, not lost.
  int stopEvents() const EXCLUDES(activityLock_);

 private:
  bool childOnItsWay() const EXCLUDES(childLock_);
  // Waits while the drive program still reports its drive mounted, at most `limitMs`.
  static void WaitForUnmount(DrivePipeClient& pipe, int limitMs);
  // True when `pid` is a drive program started for this program folder (not the service).
  bool servesThisFolder(int pid) const;
  void setActivity(Activity activity) EXCLUDES(activityLock_);
  void post(Activity activity, int (CAction::*step)());
  void countStopEvent() EXCLUDES(activityLock_);
  int stopSteps();
  int startUnlessMounted();

  const QString driveProgram_;
  const QString folder_;
  DrivePipeClient::RefusalNote refusalNote_;
  DrivePipeClient pipe_;

  mutable Mutex childLock_;
  std::unique_ptr<StartedDrive> child_ GUARDED_BY(childLock_);

  mutable Mutex activityLock_;
  Activity activity_ GUARDED_BY(activityLock_) = Activity::kIdle;
  int pendingJobs_ GUARDED_BY(activityLock_) = 0;
  int stopEvents_ GUARDED_BY(activityLock_) = 0;

  // Last: its thread ends, after finishing what is queued, before the members above go.
  DriveJobs jobs_;
};
