// The page's drive operations: the drive letters, start, stop and status, and the operations
// on remote entries that the drive program performs over the page's pipe connection.
#pragma once

#include <QString>
#include <QVariantMap>
#include <memory>

class CAction;
class DrivePipeClient;
class CConfig;
class DriveStatus;

namespace bridge {

class DriveAnswers {
 public:
  // `status` is what the drive watcher publishes.
  DriveAnswers(CAction& action, const DriveStatus& status, const CConfig& config);
  ~DriveAnswers();

  // The drive status codes by name.
  static QVariantMap DriveStates();

  QString getRunDriveLetter();
  QString getDriveLetterList() const;
  // Both return at once; the drive's own thread stops (and starts) the drive, and the status
  // tells how far it got.
  QString restartDisk();
  QString stopDisk();
  // Waits for the drive, as old pages expect a finished answer, but gives up as soon as the
  // drive program ended with a reason.
  QString startDisk(int maxRetryTimes, int timeout);
  // Returns at once: the drive starts on its own thread; the page follows getNetDiskStatus.
  QString beginStartDisk();
  QString play(const QString& fileid);
  QString openFolder(const QString& fileid);
  QString flushList();
  // Besides "Code" and "Info": "Letter" while mounted, "Action" ("start", "stop") while the
  // drive is being started or stopped, and "Reason" when the drive program failed to start
  // or died.
  QString getNetDiskStatus() const;
  QString mkdir(const QString& id, QString path);
  QString rename(const QString& id, const QString& name);
  QString remove(const QString& id, bool isRemoveEmptyFolder);

 private:
  CAction& action_;
  // Asks the drive's state and letter with a short reply limit, so a busy drive program
  // never holds the window long.
  const std::unique_ptr<DrivePipeClient> quick_;
  const DriveStatus& status_;
  const CConfig& config_;
};

}  // namespace bridge
