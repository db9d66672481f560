// The fault settings in force. They start from the command line; while the control file
// exists its lines replace them ("fault-delay-ms 200", one option per line, "#" comments),
// so a test can break and heal a running service. The file is looked at on every use and
// re-read when it changed; SIGHUP forces a re-read.
#pragma once

#include <sys/types.h>

#include <string>

#include "platform/sync/Mutex.h"
#include "server/faults/FaultSettings.h"

namespace qserver {

class FaultControl {
 public:
  FaultControl(FaultSettings initial, std::string controlFile);

  // The settings in force now.
  FaultSettings current();
  void forceReload();

  const std::string& controlFile() const { return controlFile_; }

 private:
  void reloadLocked() REQUIRES(lock_);

  const FaultSettings initial_;
  const std::string controlFile_;
  Mutex lock_;
  FaultSettings settings_ GUARDED_BY(lock_);
  bool fileSeen_ GUARDED_BY(lock_) = false;
  ino_t inode_ GUARDED_BY(lock_) = 0;
  long long modified_ GUARDED_BY(lock_) = 0;
  long long size_ GUARDED_BY(lock_) = -1;
};

}  // namespace qserver
