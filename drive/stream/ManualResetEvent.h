// An event that stays signalled until reset: set() releases every thread waiting at that
// moment (even when one of them resets the event before the others run), and a waiter that
// comes later returns at once. Waiters reset it themselves and then re-check their condition.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class ManualResetEvent {
 public:
  void set() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      signalled_ = true;
      ++generation_;
    }
    wake_.notify_all();
  }

  void reset() {
    std::lock_guard<std::mutex> guard(lock_);
    signalled_ = false;
  }

  void wait() {
    std::unique_lock<std::mutex> guard(lock_);
    uint64_t seen = generation_;
    wake_.wait(guard, [&] { return signalled_ || generation_ != seen; });
  }

  // True when signalled within `ms`.
  bool waitFor(int ms) {
    std::unique_lock<std::mutex> guard(lock_);
    uint64_t seen = generation_;
    return wake_.wait_for(guard, std::chrono::milliseconds(ms),
                          [&] { return signalled_ || generation_ != seen; });
  }

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool signalled_ = false;   // guarded by lock_
  uint64_t generation_ = 0;  // guarded by lock_; counts set() calls
};
