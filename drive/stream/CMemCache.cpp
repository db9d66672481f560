#include "drive/stream/CMemCache.h"

#include <algorithm>
#include <cstdio>

CMemCache::~CMemCache() {
  MutexLock guard(lock_);
  releaseRings();
}

void CMemCache::releaseRings() {
  rings_.giveBack(ringBytes_);
  ringBytes_ = 0;
  lastUse_.clear();
}

void CMemCache::touch(const CStreamBuf* buffer) { lastUse_[buffer] = ++useClock_; }

bool CMemCache::aheadOfReader(const CStreamBuf* ring) const {
  if (readMark_ < 0) return false;
  return ring->end() > readMark_ && ring->startOffset() <= readMark_ + kLargestWindow;
}

CStreamBuf* CMemCache::takeRing(int64_t offset, const CStreamBuf* keep) {
  int rings = 0;
  CStreamBuf* oldest = nullptr;
  CStreamBuf* oldestSpent = nullptr;  // least recently used of those the reader has no use for
  for (const auto& buffer : buffers_) {
    if (buffer->id() < 2) continue;
    ++rings;
    if (buffer.get() == keep) continue;
    if (!oldest || lastUse_[buffer.get()] < lastUse_[oldest]) oldest = buffer.get();
    if (!aheadOfReader(buffer.get()) &&
        (!oldestSpent || lastUse_[buffer.get()] < lastUse_[oldestSpent]))
      oldestSpent = buffer.get();
  }
  if (oldestSpent) oldest = oldestSpent;
  bool overBudget = rings_.heldBytes() + kRingCapacity > kAllRingsBudget;
  CStreamBuf* ring = nullptr;
  if (oldest && (rings >= kMostRings || overBudget)) {
    // The ring keeps its area; it is given the next id as a new ring would be.
    ring = oldest;
    ring->allocate(kRingCapacity, maxId_++);
  } else {
    ring = addBuffer(kRingCapacity, maxId_++);
    ringBytes_ += kRingCapacity;
    rings_.take(kRingCapacity);
  }
  ring->reset(offset);
  touch(ring);
  return ring;
}

CMemCache::CMemCache(RingBudget& rings) : rings_(rings) {
  MutexLock guard(lock_);
  addBuffer(kFirstCapacity, maxId_++);
  // The id 1 is reserved for the large-block buffer; rings count on from 2.
  ++maxId_;
}

CStreamBuf* CMemCache::addBuffer(int32_t capacity, int32_t id) {
  auto buffer = std::make_unique<CStreamBuf>();
  buffer->allocate(capacity, id);
  buffers_.push_back(std::move(buffer));
  return buffers_.back().get();
}

CStreamBuf* CMemCache::cover(int64_t offset) const {
  CStreamBuf* best = nullptr;
  int64_t bestEnd = 0;
  for (const auto& buffer : buffers_) {
    int64_t start = buffer->startOffset();
    int64_t end = buffer->end();
    if (start <= offset && offset <= end && (!best || end >= bestEnd)) {
      best = buffer.get();
      bestEnd = end;
    }
  }
  return best;
}

CStreamBuf* CMemCache::coverStrictly(int64_t offset) const {
  CStreamBuf* best = nullptr;
  int64_t bestEnd = 0;
  for (const auto& buffer : buffers_) {
    int64_t start = buffer->startOffset();
    int64_t end = buffer->end();
    if (start <= offset && offset < end && (!best || end >= bestEnd)) {
      best = buffer.get();
      bestEnd = end;
    }
  }
  return best;
}

CStreamBuf* CMemCache::holding(int64_t offset, int32_t size) const {
  for (const auto& buffer : buffers_) {
    if (buffer->startOffset() <= offset && offset + size <= buffer->end()) return buffer.get();
  }
  return nullptr;
}

void CMemCache::store(const uint8_t* bytes, int64_t offset, int32_t size) {
  if (size < 0 || offset < 0) return;
  MutexLock guard(lock_);
  if (size > kLargestChunk) {
    storeLargeBlock(bytes, offset, size);
    return;
  }
  CStreamBuf* q = cover(offset);
  if (q && (q->id() == 0 || q->id() == 1) &&
      q->startOffset() + q->length() + size > q->capacity()) {
    q = nullptr;  // a buffer that never drops is full: a new ring takes over
  }
  if (q) {
    storeInto(q, bytes, offset, size);
    touch(q);
    return;
  }
  takeRing(offset)->write(bytes, offset, size);
}

void CMemCache::storeLargeBlock(const uint8_t* bytes, int64_t offset, int32_t size) {
  CStreamBuf* large = nullptr;
  for (const auto& buffer : buffers_) {
    if (buffer->id() == 1) {
      large = buffer.get();
      break;
    }
  }
  if (!large) {
    buffers_.push_back(std::make_unique<CStreamBuf>());
    large = buffers_.back().get();
  }
  int64_t capacity = static_cast<int64_t>(size) * 3 / 2;
  if (capacity > INT32_MAX) capacity = size;
  large->allocate(static_cast<int32_t>(capacity), 1);
  large->reset(offset);
  large->write(bytes, offset, size);
}

// Appends to q what it does not hold yet, dropping from q's front what would not fit.
void CMemCache::storeInto(CStreamBuf* q, const uint8_t* bytes, int64_t offset, int32_t size) {
  int64_t end = q->end();
  if (offset + size <= end) return;  // already held
  int32_t skip = static_cast<int32_t>(end - offset);
  int32_t rest = size - skip;
  int64_t excess = static_cast<int64_t>(q->length()) + rest - q->capacity();
  if (excess > 0 && aheadOfReader(q) && q->startOffset() + excess > readMark_) {
    // Forgetting would lose bytes the reader is about to read: a new ring continues the run.
    takeRing(end, q)->write(bytes + skip, end, rest);
    return;
  }
  if (excess > 0) q->drop(static_cast<int32_t>(excess));
  q->write(bytes + skip, end, rest);
}

void CMemCache::countHit(int32_t id, int32_t size) {
  if (id == lastId_) {
    ++idTimes_;
    idSize_ += size;
  } else {
    lastId_ = id;
    idTimes_ = 1;
    idSize_ = size;
  }
}

int CMemCache::lookup(uint8_t* buffer, int64_t offset, int32_t size, bool reader) {
  if (size < 0 || offset < 0) return -1;
  MutexLock guard(lock_);
  if (reader) readMark_ = offset;
  if (CStreamBuf* h = holding(offset, size)) {
    if (h->read(buffer, offset, size) == 0) {
      countHit(h->id(), size);
      touch(h);
      return 0;
    }
  }
  CStreamBuf* s = coverStrictly(offset);
  if (!s) return -1;
  int64_t e = s->end();
  if (offset + size <= e) {
    if (s->read(buffer, offset, size) != 0) return -1;
    countHit(s->id(), size);
    touch(s);
    return 0;
  }
  CStreamBuf* t = coverStrictly(e);
  if (!t || t->startOffset() > e || offset + size > t->end()) return -1;
  int32_t first = static_cast<int32_t>(e - offset);
  if (s->read(buffer, offset, first) != 0) return -1;
  if (t->read(buffer + first, e, size - first) != 0) return -1;
  countHit(t->id(), size);
  touch(s);
  touch(t);
  return 0;
}

std::optional<FetchRequest> CMemCache::request(int64_t offset, int32_t size) {
  lqOffset_ = offset;
  lqSize_ = size;
  if (offset != frontier_) chainStart_ = offset;
  frontier_ = offset + size;
  return FetchRequest{offset, size};
}

std::optional<FetchRequest> CMemCache::plan(int64_t offset, int32_t window, int64_t size) {
  MutexLock guard(lock_);
  if (window <= kRequestSize) return planStart(offset);
  window = std::min(window, kLargestWindow);
  CStreamBuf* q = cover(offset);
  int64_t next = q ? q->end() : offset;
  if (next >= chainStart_ && next < frontier_) next = frontier_;  // the rest is on its way
  if (next - offset >= window) return std::nullopt;
  // A quarter of the window per request keeps every fetch connection busy with one request
  // while the next waits in the queue; a size asked for may take up to the whole window.
  int64_t largest = size > 0 ? window : kLargestRequest;
  if (size == 0) size = window / 4;
  size = std::clamp<int64_t>(size / kLargestChunk * kLargestChunk, kRequestSize, largest);
  return request(next, static_cast<int32_t>(size));
}

std::optional<FetchRequest> CMemCache::planStart(int64_t offset) {
  auto insideLast = [this](int64_t o)
                        REQUIRES(lock_) { return o >= lqOffset_ && o < lqOffset_ + lqSize_; };
  CStreamBuf* q = cover(offset);
  if (!q) {
    if (insideLast(offset)) return std::nullopt;
    return request(offset);
  }
  int64_t end = q->end();
  if (end - offset >= kRequestSize) return std::nullopt;
  if (offset == kLargestChunk) {
    if (lqOffset_ == 0) return request(end);
    return std::nullopt;
  }
  if (offset <= kLargestChunk) return std::nullopt;
  if (insideLast(end)) return std::nullopt;
  return request(end);
}

std::string CMemCache::text() const {
  MutexLock guard(lock_);
  char line[1024];
  std::snprintf(line, sizeof line,
                "MaxId=%ld LastId=%ld IdTimes=%ld IdSize=%lld LQOffset=%lld LQSize=%ld\n",
                static_cast<long>(maxId_), static_cast<long>(lastId_), static_cast<long>(idTimes_),
                static_cast<long long>(idSize_), static_cast<long long>(lqOffset_),
                static_cast<long>(lqSize_));
  std::string out = line;
  for (const auto& buffer : buffers_) out += buffer->text();
  return out;
}

void CMemCache::clear() {
  MutexLock guard(lock_);
  buffers_.clear();
  releaseRings();
  readMark_ = -1;
}

void CMemCache::forgetPlanned() {
  MutexLock guard(lock_);
  lqOffset_ = 0;
  lqSize_ = 0;
  chainStart_ = 0;
  frontier_ = 0;
}

int32_t CMemCache::maxId() const {
  MutexLock guard(lock_);
  return maxId_;
}

int64_t CMemCache::heldCapacity() const {
  MutexLock guard(lock_);
  int64_t total = 0;
  for (const auto& buffer : buffers_) total += buffer->capacity();
  return total;
}

std::vector<CMemCache::BufferView> CMemCache::buffers() const {
  MutexLock guard(lock_);
  std::vector<BufferView> views;
  for (const auto& buffer : buffers_) {
    views.push_back({buffer->id(), buffer->startOffset(), buffer->length(), buffer->capacity()});
  }
  return views;
}
