#include "drive/stream/ReadStatistics.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace {

const char* SizeCounter(int32_t n) {
  if (n <= 100) return "S_100";
  int32_t k = n / 1024;
  if (k <= 1) return "S_1K";
  if (k <= 2) return "S_2K";
  if (k <= 32) return "S_32K";
  if (k <= 64) return "S_64K";
  if (k <= 256) return "S_256K";
  if (k <= 512) return "S_512K";
  if (k <= 1024) return "S_1M";
  return "SS";
}

const char* BackwardCounter(int64_t f) {
  if (f >= -1) return "B_1K";
  if (f >= -2) return "B_2K";
  if (f >= -32) return "B_32K";
  if (f >= -64) return "B_64K";
  if (f >= -256) return "B_256K";
  if (f >= -512) return "B_512K";
  if (f >= -1024) return "B_1M";
  return "BB";
}

const char* ForwardCounter(int64_t f) {
  if (f <= 1) return "F_1K";
  if (f <= 2) return "F_2K";
  if (f <= 32) return "F_32K";
  if (f <= 64) return "F_64K";
  if (f <= 256) return "F_256K";
  if (f <= 512) return "F_512K";
  if (f <= 1024) return "F_1M";
  return "FF";
}

}  // namespace

void CReadStatistics::start(const std::string& name, int64_t fileLength, const std::string& ext) {
  MutexLock guard(lock_);
  name_ = name;
  fileLength_ = fileLength;
  ext_ = ext;
  startTime_ = lastReadTime_ = std::time(nullptr);
  segments_.push_back(0);
}

void CReadStatistics::increment(const char* name) { ++counters_[name]; }

void CReadStatistics::countRead(int64_t offset, int32_t size) {
  MutexLock guard(lock_);
  int64_t gap = 0;
  if (offset > previousOffset_ + size) {
    gap = offset - previousOffset_ - size;
  } else if (offset < previousOffset_) {
    gap = offset - previousOffset_;
  }
  increment(SizeCounter(size));

  int64_t f = gap / 1024;
  if (std::llabs(f) > 1023) {
    segments_.push_back(static_cast<int32_t>(segmentBytes_ / 1024));
    segments_.push_back(static_cast<int32_t>(offset / 1048576));
    segmentBytes_ = 0;
  }
  segmentBytes_ += size;

  if (gap < 0) {
    increment("B_Times");
    increment(BackwardCounter(f));
  } else if (gap > 0) {
    increment("F_Times");
    increment(ForwardCounter(f));
  }
  ++readCount_;
  previousOffset_ = offset;
  lastReadTime_ = std::time(nullptr);
}

std::string CReadStatistics::text() const {
  MutexLock guard(lock_);
  char item[1024];
  std::snprintf(item, sizeof item, "%s %ld %s %ld %ld\n", name_.c_str(),
                static_cast<long>(fileLength_ / 1048576), ext_.c_str(),
                static_cast<long>(lastReadTime_ - startTime_), static_cast<long>(readCount_));
  std::string out = item;
  for (const auto& [name, count] : counters_) {
    std::snprintf(item, sizeof item, "(%s,%ld) ", name.c_str(), static_cast<long>(count));
    out += item;
  }
  out += "\n";
  for (int32_t entry : segments_) {
    std::snprintf(item, sizeof item, "%ld ", static_cast<long>(entry));
    out += item;
  }
  out += "\n";
  return out;
}

int32_t CReadStatistics::readCount() const {
  MutexLock guard(lock_);
  return readCount_;
}

int32_t CReadStatistics::counter(const std::string& name) const {
  MutexLock guard(lock_);
  auto found = counters_.find(name);
  return found == counters_.end() ? 0 : found->second;
}

std::vector<int32_t> CReadStatistics::segments() const {
  MutexLock guard(lock_);
  return segments_;
}
