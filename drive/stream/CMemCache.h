// The memory cache of one open file: a pool of ring buffers holding runs of the file by
// offset. The fetch threads store what they receive, the reader copies from it, and the
// planner decides which fetch request, if any, a read should cause.
//
// Buffer ids: 0 is the buffer of the file's beginning (created with the pool), 1 the
// large-block buffer of direct reads, 2 and up are rings. Buffers 0 and 1 never drop data;
// rings forget their oldest bytes to take new ones. The rings of one pool are at most
// kMostRings, and the rings of all pools together hold at most kAllRingsBudget bytes beyond
// one ring per pool: a new ring beyond either bound takes the place of the pool's least
// recently used ring, so random reads cannot grow memory without bound.
//
// Sequential reading over a slow link asks for a read-ahead window larger than one request:
// the planner then continues the run of requests already asked for, and a full ring whose
// oldest bytes the reader has not passed yet hands the following bytes to a new ring instead
// of forgetting them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "drive/stream/CStreamBuf.h"
#include "drive/stream/RingBudget.h"
#include "platform/sync/Mutex.h"

struct FetchRequest {
  int64_t offset = 0;
  int32_t size = 0;
  // The reader's seek count when the request was queued: a request of an earlier count is
  // for a place the reader has left.
  uint32_t seeks = 0;
};

class CMemCache {
 public:
  static constexpr int32_t kFirstCapacity = 0xA0000;       // 655360
  static constexpr int32_t kRingCapacity = 0x140000;       // 1310720
  static constexpr int32_t kLargestChunk = 65536;          // largest store of the normal path
  static constexpr int32_t kRequestSize = 0x40000;         // 262144, also the read-ahead window
  static constexpr int32_t kLargestRequest = 0x200000;     // 2 MiB, with the largest window
  static constexpr int32_t kLargestWindow = 0x1000000;     // 16 MiB read ahead
  static constexpr int kMostRings = 20;                    // 25 MiB of rings per pool
  static constexpr int64_t kAllRingsBudget = 256LL << 20;  // rings of all pools together

  // `rings` counts this pool's rings together with those of the other pools.
  explicit CMemCache(RingBudget& rings);
  ~CMemCache();
  CMemCache(const CMemCache&) = delete;
  CMemCache& operator=(const CMemCache&) = delete;

  void store(const uint8_t* bytes, int64_t offset, int32_t size);
  // Copies [offset, offset + size) when held (in one buffer or across two). 0 or -1.
  // `reader` false: a read away from the reader's place (a late read of a place it left),
  // which leaves the bytes ahead of the reader kept.
  int lookup(uint8_t* buffer, int64_t offset, int32_t size, bool reader = true);
  // The fetch request that a read at `offset` should cause, if any. A `window` above
  // kRequestSize keeps up to that many bytes asked for ahead of `offset`, in requests of a
  // quarter of it (at most kLargestRequest) unless `size` asks for one of up to the window.
  std::optional<FetchRequest> plan(int64_t offset, int32_t window = kRequestSize, int64_t size = 0);
  std::string text() const;
  void clear();
  // The planner forgets the requests it made, after queued ones were dropped.
  void forgetPlanned();

  // Observers (tests, benchmark).
  int32_t maxId() const;
  int64_t heldCapacity() const;  // bytes of all data areas
  struct BufferView {
    int32_t id;
    int64_t startOffset;
    int32_t length;
    int32_t capacity;
  };
  std::vector<BufferView> buffers() const;

 private:
  CStreamBuf* cover(int64_t offset) const REQUIRES(lock_);
  CStreamBuf* coverStrictly(int64_t offset) const REQUIRES(lock_);
  CStreamBuf* holding(int64_t offset, int32_t size) const REQUIRES(lock_);
  CStreamBuf* addBuffer(int32_t capacity, int32_t id) REQUIRES(lock_);
  // A ring for a store at `offset` no buffer covers: new, or the least recently used one
  // (preferring rings the reader has no use for, never `keep`).
  CStreamBuf* takeRing(int64_t offset, const CStreamBuf* keep = nullptr) REQUIRES(lock_);
  // Whether the ring holds bytes the reader has yet to reach within the read-ahead window.
  bool aheadOfReader(const CStreamBuf* ring) const REQUIRES(lock_);
  void touch(const CStreamBuf* buffer) REQUIRES(lock_);
  void releaseRings() REQUIRES(lock_);
  void storeLargeBlock(const uint8_t* bytes, int64_t offset, int32_t size) REQUIRES(lock_);
  void storeInto(CStreamBuf* q, const uint8_t* bytes, int64_t offset, int32_t size) REQUIRES(lock_);
  void countHit(int32_t id, int32_t size) REQUIRES(lock_);
  std::optional<FetchRequest> request(int64_t offset, int32_t size = kRequestSize) REQUIRES(lock_);
  std::optional<FetchRequest> planStart(int64_t offset) REQUIRES(lock_);

  RingBudget& rings_;
  mutable Mutex lock_;
  std::vector<std::unique_ptr<CStreamBuf>> buffers_ GUARDED_BY(lock_);
  int32_t maxId_ GUARDED_BY(lock_) = 0;
  int32_t lastId_ GUARDED_BY(lock_) = 0;
  int32_t idTimes_ GUARDED_BY(lock_) = 0;
  int64_t idSize_ GUARDED_BY(lock_) = 0;
  int64_t lqOffset_ GUARDED_BY(lock_) = 0;
  int32_t lqSize_ GUARDED_BY(lock_) = 0;
  // The run of consecutive requests the latest request belongs to: [chainStart_, frontier_).
  int64_t chainStart_ GUARDED_BY(lock_) = 0;
  int64_t frontier_ GUARDED_BY(lock_) = 0;
  int64_t readMark_ GUARDED_BY(lock_) = -1;  // offset of the reader's latest lookup; -1 before any
  uint64_t useClock_ GUARDED_BY(lock_) = 0;
  std::unordered_map<const CStreamBuf*, uint64_t> lastUse_ GUARDED_BY(lock_);
  int64_t ringBytes_ GUARDED_BY(lock_) = 0;  // this pool's share of rings_
};
