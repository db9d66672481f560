// A mutex and its scoped lock that clang's thread-safety analysis understands. Fields say
// which Mutex guards them (GUARDED_BY), functions say which one they expect held (REQUIRES).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/sync/ThreadAnnotations.h"

class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }

 private:
  friend class MutexLock;
  std::mutex mutex_;
};

// Holds a Mutex for its scope. It can be unlocked and locked again within the scope, and it
// waits on condition variables. A wait gives the mutex up while it sleeps and holds it again
// on return; the analysis cannot see that and treats the lock as held throughout, which is
// what the code after the wait may rely on. Predicates that read guarded fields are lambdas
// marked REQUIRES(the mutex).
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void lock() ACQUIRE() { lock_.lock(); }
  void unlock() RELEASE() { lock_.unlock(); }

  void wait(std::condition_variable& cv) { cv.wait(lock_); }

  template <class Predicate>
  void wait(std::condition_variable& cv, Predicate ready) {
    cv.wait(lock_, ready);
  }

  template <class Rep, class Period>
  std::cv_status waitFor(std::condition_variable& cv,
                         const std::chrono::duration<Rep, Period>& timeout) {
    return cv.wait_for(lock_, timeout);
  }

  // True when `ready` held before `timeout` ran out.
  template <class Rep, class Period, class Predicate>
  bool waitFor(std::condition_variable& cv, const std::chrono::duration<Rep, Period>& timeout,
               Predicate ready) {
    return cv.wait_for(lock_, timeout, ready);
  }

  template <class Clock, class Duration, class Predicate>
  bool waitUntil(std::condition_variable& cv,
                 const std::chrono::time_point<Clock, Duration>& deadline, Predicate ready) {
    return cv.wait_until(lock_, deadline, ready);
  }

 private:
  std::unique_lock<std::mutex> lock_;
};
