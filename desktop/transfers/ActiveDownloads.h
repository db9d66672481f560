// The count of running download workers and the limit the scheduler keeps it under (5 at
// start). One object serves the whole program: the page changes the limit, every download
// manager's workers count themselves in and out.
#pragma once

#include "platform/sync/Mutex.h"

class ActiveDownloads {
 public:
  static constexpr int kDefaultLimit = 5;

  int running() const EXCLUDES(lock_);
  int limit() const EXCLUDES(lock_);
  void setLimit(int limit) EXCLUDES(lock_);
  void increment() EXCLUDES(lock_);
  void decrement() EXCLUDES(lock_);

 private:
  mutable Mutex lock_;
  int running_ GUARDED_BY(lock_) = 0;
  int limit_ GUARDED_BY(lock_) = kDefaultLimit;
};
