#include "desktop/drive/DriveJobs.h"

DriveJobs::DriveJobs() : thread_([this] { run(); }) {}

DriveJobs::~DriveJobs() {
  {
    MutexLock hold(lock_);
    ending_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void DriveJobs::post(std::function<void()> job) {
  {
    MutexLock hold(lock_);
    queue_.push_back(std::move(job));
  }
  changed_.notify_all();
}

bool DriveJobs::busy() const {
  MutexLock hold(lock_);
  return running_ || !queue_.empty();
}

bool DriveJobs::waitUntilIdle(std::chrono::milliseconds limit) {
  MutexLock hold(lock_);
  return hold.waitFor(changed_, limit,
                      [this]() REQUIRES(lock_) { return !running_ && queue_.empty(); });
}

void DriveJobs::run() {
  MutexLock hold(lock_);
  for (;;) {
    hold.wait(changed_, [this]() REQUIRES(lock_) { return ending_ || !queue_.empty(); });
    if (queue_.empty()) return;  // ending, and nothing left to do
    std::function<void()> job = std::move(queue_.front());
    queue_.pop_front();
    running_ = true;
    hold.unlock();
    job();
    hold.lock();
    running_ = false;
    changed_.notify_all();
  }
}
