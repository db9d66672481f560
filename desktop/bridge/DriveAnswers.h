// The page's drive operations: the drive letters, start, stop and status, and the operations
// on remote entries that the drive program performs over the page's pipe connection.
#pragma once

#include <QString>
#include <QVariantMap>

class CAction;
class CConfig;
class DriveStatus;

namespace bridge {

class DriveAnswers {
 public:
  // `status` is what the drive watcher publishes.
  DriveAnswers(CAction& action, const DriveStatus& status, const CConfig& config)
      : action_(action), status_(status), config_(config) {}

  // The drive status codes by name.
  static QVariantMap DriveStates();

  QString getRunDriveLetter();
  QString getDriveLetterList() const;
  QString restartDisk();
  QString stopDisk();
  // Blocks the GUI thread while it waits, as the page expects a finished answer.
  QString startDisk(int maxRetryTimes, int timeout);
  QString play(const QString& fileid);
  QString openFolder(const QString& fileid);
  QString flushList();
  QString getNetDiskStatus() const;
  QString mkdir(const QString& id, QString path);
  QString rename(const QString& id, const QString& name);
  QString remove(const QString& id, bool isRemoveEmptyFolder);

 private:
  CAction& action_;
  const DriveStatus& status_;
  const CConfig& config_;
};

}  // namespace bridge
