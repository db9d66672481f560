// An event that stays signalled until reset: set() releases every thread waiting at that
// moment (even when one of them resets the event before the others run), and a waiter that
// comes later returns at once. Waiters reset it themselves and then re-check their condition.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>

#include "platform/sync/Mutex.h"

class ManualResetEvent {
 public:
  void set() {
    {
      MutexLock guard(lock_);
      signalled_ = true;
      ++generation_;
    }
    wake_.notify_all();
  }

  void reset() {
    MutexLock guard(lock_);
    signalled_ = false;
  }

  void wait() {
    MutexLock guard(lock_);
    uint64_t seen = generation_;
    guard.wait(wake_, [&]() REQUIRES(lock_) { return signalled_ || generation_ != seen; });
  }

  // True when signalled within `ms`.
  bool waitFor(int ms) {
    MutexLock guard(lock_);
    uint64_t seen = generation_;
    return guard.waitFor(wake_, std::chrono::milliseconds(ms),
                         [&]() REQUIRES(lock_) { return signalled_ || generation_ != seen; });
  }

 private:
  Mutex lock_;
  std::condition_variable wake_;
  bool signalled_ GUARDED_BY(lock_) = false;
  uint64_t generation_ GUARDED_BY(lock_) = 0;  // counts set() calls
};
