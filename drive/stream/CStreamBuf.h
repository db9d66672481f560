// One ring buffer of the memory cache: holds the file's bytes [startOffset, startOffset +
// length) in a data area of fixed capacity, starting at headPosition and wrapping at the end.
// Forgetting old bytes only moves the start; nothing is moved inside the area.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "platform/sync/Mutex.h"

class CStreamBuf {
 public:
  CStreamBuf() = default;
  virtual ~CStreamBuf() = default;
  CStreamBuf(const CStreamBuf&) = delete;
  CStreamBuf& operator=(const CStreamBuf&) = delete;

  // Empties the buffer and sets the id; for a capacity above 0 it holds an area of that size
  // (the old one when it has that size, else a new one). Returns false (and holds no area) when the
  // capacity is 0 or less or the area cannot be obtained; such a buffer accepts no writes.
  bool allocate(int32_t capacity, int32_t id);

  // Appends at the end: accepted only when startOffset <= offset <= end and the result fits
  // the capacity; bytes already held are skipped. Returns 0, or -1 when nothing was written.
  int write(const uint8_t* bytes, int64_t offset, int32_t size);

  // Copies [offset, offset + size) when it is held whole. Returns 0, else -1.
  int read(uint8_t* buffer, int64_t offset, int32_t size);

  // Forgets the `n` oldest bytes.
  void drop(int32_t n);

  // Empties the buffer and places its start at `offset`.
  void reset(int64_t offset);

  int32_t id() const;
  int64_t startOffset() const;
  int32_t length() const;
  int32_t capacity() const;
  int64_t end() const;  // startOffset + length

  // One line "Id=.. BufSize=.. ..." of the memory cache text.
  std::string text() const;

 private:
  mutable Mutex lock_;
  int32_t id_ GUARDED_BY(lock_) = 0;
  std::unique_ptr<uint8_t[]> data_ GUARDED_BY(lock_);
  int32_t capacity_ GUARDED_BY(lock_) = 0;
  int64_t startOffset_ GUARDED_BY(lock_) = 0;
  int32_t length_ GUARDED_BY(lock_) = 0;
  int32_t headPosition_ GUARDED_BY(lock_) = 0;
  uint32_t inTimes_ GUARDED_BY(lock_) = 0;
  uint32_t outTimes_ GUARDED_BY(lock_) = 0;
  int32_t startTime_ GUARDED_BY(lock_) = 0;
  int32_t lastTime_ GUARDED_BY(lock_) = 0;
  uint32_t inSize_ GUARDED_BY(lock_) = 0;
  uint32_t outSize_ GUARDED_BY(lock_) = 0;
};
