#include "drive/storage/ClosedFiles.h"

void ClosedFiles::add(std::unique_ptr<QLVFile> file) {
  MutexLock guard(lock_);
  files_.push_back(std::move(file));
}

bool ClosedFiles::releaseOne(uint32_t now) {
  std::unique_ptr<QLVFile> freed;
  {
    MutexLock guard(lock_);
    for (auto it = files_.begin(); it != files_.end(); ++it) {
      uint32_t closedFor = now - (*it)->closeTime();  // unsigned: right across a tick wrap
      bool idle = (*it)->busyCount() == 0;
      if ((idle && closedFor > kIdleDelayMs) || closedFor > kLongestDelayMs) {
        freed = std::move(*it);
        files_.erase(it);
        break;
      }
    }
  }
  // Destroyed outside the lock: ending a reader joins its fetch threads.
  return freed != nullptr;
}

void ClosedFiles::releaseAll() {
  std::list<std::unique_ptr<QLVFile>> freed;
  {
    MutexLock guard(lock_);
    freed.swap(files_);
  }
}

size_t ClosedFiles::size() const {
  MutexLock guard(lock_);
  return files_.size();
}

std::vector<std::string> ClosedFiles::headKeys() const {
  MutexLock guard(lock_);
  std::vector<std::string> keys;
  for (const auto& file : files_) keys.push_back(file->headKey());
  return keys;
}
