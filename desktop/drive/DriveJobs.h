// The drive's start and stop steps, run one after another on a thread of their own: the
// window never waits for them, and a start asked for after a stop runs after that stop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <thread>

#include "platform/sync/Mutex.h"

class DriveJobs {
 public:
  DriveJobs();
  // Runs the jobs still queued, then ends the thread.
  ~DriveJobs();
  DriveJobs(const DriveJobs&) = delete;
  DriveJobs& operator=(const DriveJobs&) = delete;

  void post(std::function<void()> job) EXCLUDES(lock_);
  // True while a job runs or waits.
  bool busy() const EXCLUDES(lock_);
  // Waits until no job runs or waits, at most `limit`; true when that came.
  bool waitUntilIdle(std::chrono::milliseconds limit) EXCLUDES(lock_);

 private:
  void run() EXCLUDES(lock_);

  mutable Mutex lock_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> queue_ GUARDED_BY(lock_);
  bool running_ GUARDED_BY(lock_) = false;
  bool ending_ GUARDED_BY(lock_) = false;
  std::thread thread_;
};
