// Decides when a drive status deserves a notice: whenever the status code or the service
// flag differs from the pair last noticed. The first status always does.
#pragma once

#include "platform/sync/Mutex.h"

class NoticeFilter {
 public:
  // True when (code, serviceFlag) differs from the last pair; remembers the new pair.
  bool changed(int code, int serviceFlag) EXCLUDES(lock_) {
    MutexLock hold(lock_);
    if (code == lastCode_ && serviceFlag == lastServiceFlag_) return false;
    lastCode_ = code;
    lastServiceFlag_ = serviceFlag;
    return true;
  }

 private:
  static constexpr int kNone = 0xffff;
  Mutex lock_;
  int lastCode_ GUARDED_BY(lock_) = kNone;
  int lastServiceFlag_ GUARDED_BY(lock_) = kNone;
};
