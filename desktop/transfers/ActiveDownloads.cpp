#include "desktop/transfers/ActiveDownloads.h"

#include "platform/sync/Mutex.h"

namespace activedownloads {
namespace {

struct Counts {
  Mutex lock;
  int running GUARDED_BY(lock) = 0;
  int limit GUARDED_BY(lock) = kDefaultLimit;
};

Counts& counts() {
  static Counts instance;
  return instance;
}

}  // namespace

int Running() {
  MutexLock hold(counts().lock);
  return counts().running;
}

int Limit() {
  MutexLock hold(counts().lock);
  return counts().limit;
}

void SetLimit(int limit) {
  MutexLock hold(counts().lock);
  counts().limit = limit;
}

void Increment() {
  MutexLock hold(counts().lock);
  ++counts().running;
}

void Decrement() {
  MutexLock hold(counts().lock);
  --counts().running;
}

}  // namespace activedownloads
