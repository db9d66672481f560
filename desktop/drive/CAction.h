// Drive control of the desktop program: starts the drive program as a child, stops and
// restarts it, carries the page's connection to the control pipe and hands out connections
// of their own to the other parties (the drive watcher, the upload workers).
#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <memory>

#include "desktop/control/DrivePipeClient.h"

class CAction : public QObject {
  Q_OBJECT

 public:
  // File name of the drive program.
  static constexpr char kDriveImage[] = "quellan";

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

  // Starts the drive program without waiting; returns 0 (a start failure shows up in the
  // drive state instead).
  int startDrive();
  // Asks the drive to unmount (command 21), waits a little for the unmount to finish, then
  // ends every process of this user whose image name is the drive program's file name,
  // whoever started it. Returns 0.
  int stopDrive();
  int restartDrive();

 private:
  // Waits while the drive program still reports its drive mounted, at most `limitMs`.
  void waitForUnmount(int limitMs);

  const QString driveProgram_;
  const QString folder_;
  DrivePipeClient::RefusalNote refusalNote_;
  DrivePipeClient pipe_;
};
