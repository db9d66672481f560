// The fault settings in force. They start from the command line; while the control file
// exists its lines replace them ("fault-delay-ms 200", one option per line, "#" comments),
// so a test can break and heal a running service. The file is looked at on every use and
// re-read when it changed; SIGHUP forces a re-read.
#pragma once

#include <sys/types.h>

#include <mutex>
#include <string>

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
  void reloadLocked();  // expects lock_ held

  const FaultSettings initial_;
  const std::string controlFile_;
  std::mutex lock_;
  FaultSettings settings_;  // guarded by lock_
  bool fileSeen_ = false;   // guarded by lock_
  ino_t inode_ = 0;         // guarded by lock_
  long long modified_ = 0;  // guarded by lock_
  long long size_ = -1;     // guarded by lock_
};

}  // namespace qserver
