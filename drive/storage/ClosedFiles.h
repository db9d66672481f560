// Contexts of closed files wait here before they are freed: the driver may still deliver a
// read on another thread after the close. A context is freed once it is idle and was closed
// more than 1 s ago, or in any case 100 s after its close. One list for the whole program
// (kept in StorageProcess), oldest close first.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "drive/storage/QLVFile.h"
#include "platform/sync/Mutex.h"

class ClosedFiles {
 public:
  static constexpr uint32_t kIdleDelayMs = 1000;
  static constexpr uint32_t kLongestDelayMs = 100000;

  void add(std::unique_ptr<QLVFile> file);

  // Frees the oldest context that may go at tick count `now`; at most one per call. True
  // when one was freed.
  bool releaseOne(uint32_t now);

  // Frees every context; for the end of a mount cycle, when no driver call can still run.
  void releaseAll();

  size_t size() const;

  // Head-file names of the contexts still waiting (their readers are closed, but a late read
  // may open them again until they are freed).
  std::vector<std::string> headKeys() const;

 private:
  mutable Mutex lock_;
  std::list<std::unique_ptr<QLVFile>> files_ GUARDED_BY(lock_);
};
