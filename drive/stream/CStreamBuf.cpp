#include "drive/stream/CStreamBuf.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {
int32_t Now() { return static_cast<int32_t>(std::time(nullptr)); }
}  // namespace

bool CStreamBuf::allocate(int32_t capacity, int32_t id) {
  MutexLock guard(lock_);
  id_ = id;
  startOffset_ = 0;
  length_ = 0;
  headPosition_ = 0;
  // A ring given out again keeps its area: a new area of the same size costs a page fault
  // and a cleared page for every 4 KiB the next writes touch.
  if (capacity <= 0 || !data_ || capacity != capacity_) {
    data_.reset();
    capacity_ = 0;
    if (capacity <= 0) return false;
    data_.reset(new (std::nothrow) uint8_t[capacity]);
    if (!data_) return false;
    capacity_ = capacity;
  }
  startTime_ = lastTime_ = Now();
  inTimes_ = outTimes_ = inSize_ = outSize_ = 0;
  return true;
}

int CStreamBuf::write(const uint8_t* bytes, int64_t offset, int32_t size) {
  MutexLock guard(lock_);
  if (!data_ || size < 0) return -1;
  int64_t end = startOffset_ + length_;
  if (offset < startOffset_ || offset > end) return -1;
  if (offset + size - startOffset_ > capacity_) return -1;

  int64_t overlap = end - offset;
  int32_t fresh = static_cast<int32_t>(std::max<int64_t>(0, size - overlap));
  const uint8_t* from = bytes + (size - fresh);
  int32_t position =
      static_cast<int32_t>((static_cast<int64_t>(headPosition_) + length_) % capacity_);
  int32_t first = std::min(fresh, capacity_ - position);
  std::memcpy(data_.get() + position, from, first);
  std::memcpy(data_.get(), from + first, fresh - first);

  length_ += fresh;
  ++inTimes_;
  inSize_ += static_cast<uint32_t>(size);
  lastTime_ = Now();
  return 0;
}

int CStreamBuf::read(uint8_t* buffer, int64_t offset, int32_t size) {
  MutexLock guard(lock_);
  if (!data_ || size < 0) return -1;
  if (offset < startOffset_ || offset + size > startOffset_ + length_) return -1;
  int32_t position = static_cast<int32_t>((headPosition_ + (offset - startOffset_)) % capacity_);
  int32_t first = std::min(size, capacity_ - position);
  std::memcpy(buffer, data_.get() + position, first);
  std::memcpy(buffer + first, data_.get(), size - first);
  ++outTimes_;
  outSize_ += static_cast<uint32_t>(size);
  lastTime_ = Now();
  return 0;
}

void CStreamBuf::drop(int32_t n) {
  MutexLock guard(lock_);
  if (n <= 0 || capacity_ <= 0) return;
  length_ = std::max(0, length_ - n);
  startOffset_ += n;
  headPosition_ = static_cast<int32_t>((static_cast<int64_t>(headPosition_) + n) % capacity_);
}

void CStreamBuf::reset(int64_t offset) {
  MutexLock guard(lock_);
  startOffset_ = offset;
  length_ = 0;
  headPosition_ = 0;
}

int32_t CStreamBuf::id() const {
  MutexLock guard(lock_);
  return id_;
}

int64_t CStreamBuf::startOffset() const {
  MutexLock guard(lock_);
  return startOffset_;
}

int32_t CStreamBuf::length() const {
  MutexLock guard(lock_);
  return length_;
}

int32_t CStreamBuf::capacity() const {
  MutexLock guard(lock_);
  return capacity_;
}

int64_t CStreamBuf::end() const {
  MutexLock guard(lock_);
  return startOffset_ + length_;
}

std::string CStreamBuf::text() const {
  MutexLock guard(lock_);
  int32_t now = Now();
  char line[1024];
  std::snprintf(line, sizeof line,
                "Id=%ld BufSize=%ld Offset=%lld Size=%ld InTimes=%ld OutTimes=%ld STime=%ld "
                "IdleTime=%ld InSize=%ld OutSize=%ld\n",
                static_cast<long>(id_), static_cast<long>(capacity_),
                static_cast<long long>(startOffset_), static_cast<long>(length_),
                static_cast<long>(inTimes_), static_cast<long>(outTimes_),
                static_cast<long>(now - startTime_), static_cast<long>(now - lastTime_),
                static_cast<long>(inSize_), static_cast<long>(outSize_));
  return line;
}
