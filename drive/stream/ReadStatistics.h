// Read statistics of one open file: read sizes, forward and backward jumps, and the runs
// ("segments") between long jumps. Written to the stream log by the reader.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "platform/sync/Mutex.h"

class CReadStatistics {
 public:
  void start(const std::string& name, int64_t fileLength, const std::string& ext);
  void countRead(int64_t offset, int32_t size);
  std::string text() const;
  int32_t readCount() const;

  // For tests: the counter of that name (0 when never counted) and the segments list.
  int32_t counter(const std::string& name) const;
  std::vector<int32_t> segments() const;

 private:
  void increment(const char* name) REQUIRES(lock_);

  mutable Mutex lock_;
  std::time_t startTime_ GUARDED_BY(lock_) = 0;
  std::time_t lastReadTime_ GUARDED_BY(lock_) = 0;
  int32_t readCount_ GUARDED_BY(lock_) = 0;
  std::string name_ GUARDED_BY(lock_);
  int64_t fileLength_ GUARDED_BY(lock_) = 0;
  std::string ext_ GUARDED_BY(lock_);
  int64_t previousOffset_ GUARDED_BY(lock_) = 0;
  int64_t segmentBytes_ GUARDED_BY(lock_) = 0;
  std::map<std::string, int32_t> counters_ GUARDED_BY(lock_);
  std::vector<int32_t> segments_ GUARDED_BY(lock_);
};
