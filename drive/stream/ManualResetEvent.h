// An event that stays signalled until reset: set() wakes every waiter, and a waiter that
// comes later returns at once. Waiters reset it themselves and then re-check their condition.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class ManualResetEvent {
 public:
  void set() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      signalled_ = true;
    }
    wake_.notify_all();
  }

  void reset() {
    std::lock_guard<std::mutex> guard(lock_);
    signalled_ = false;
  }

  void wait() {
    std::unique_lock<std::mutex> guard(lock_);
    wake_.wait(guard, [this] { return signalled_; });
  }

  // True when signalled within `ms`.
  bool waitFor(int ms) {
    std::unique_lock<std::mutex> guard(lock_);
    return wake_.wait_for(guard, std::chrono::milliseconds(ms), [this] { return signalled_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable wake_;
  bool signalled_ = false;  // guarded by lock_
};
