#include "desktop/transfers/ActiveDownloads.h"

int ActiveDownloads::running() const {
  MutexLock hold(lock_);
  return running_;
}

int ActiveDownloads::limit() const {
  MutexLock hold(lock_);
  return limit_;
}

void ActiveDownloads::setLimit(int limit) {
  MutexLock hold(lock_);
  limit_ = limit;
}

void ActiveDownloads::increment() {
  MutexLock hold(lock_);
  ++running_;
}

void ActiveDownloads::decrement() {
  MutexLock hold(lock_);
  --running_;
}
