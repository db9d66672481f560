// Read statistics of one open file: read sizes, forward and backward jumps, and the runs
// ("segments") between long jumps. Written to the stream log by the reader.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <mutex>
#include <string>
#include <vector>

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
  void increment(const char* name);  // expects lock_ held

  mutable std::mutex lock_;
  // guarded by lock_:
  std::time_t startTime_ = 0;
  std::time_t lastReadTime_ = 0;
  int32_t readCount_ = 0;
  std::string name_;
  int64_t fileLength_ = 0;
  std::string ext_;
  int64_t previousOffset_ = 0;
  int64_t segmentBytes_ = 0;
  std::map<std::string, int32_t> counters_;
  std::vector<int32_t> segments_;
};
