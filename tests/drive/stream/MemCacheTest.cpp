#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "drive/stream/CMemCache.h"
#include "drive/stream/CStreamBuf.h"
#include "drive/stream/LinkMeter.h"
#include "tests/support/ScriptedStreamServer.h"

namespace {

const std::string& File() {
  static const std::string bytes = PatternBytes(8 << 20, 7);
  return bytes;
}

const uint8_t* At(int64_t offset) {
  return reinterpret_cast<const uint8_t*>(File().data()) + offset;
}

void Store(CMemCache& cache, int64_t offset, int32_t size) {
  cache.store(At(offset), offset, size);
}

// True when the cache returns the file's bytes for the range.
bool Holds(CMemCache& cache, int64_t offset, int32_t size) {
  std::vector<uint8_t> out(size);
  if (cache.lookup(out.data(), offset, size) != 0) return false;
  return std::memcmp(out.data(), At(offset), size) == 0;
}

TEST(StreamBuf, RingWrapsAndReadsBackAcrossTheEnd) {
  CStreamBuf ring;
  ASSERT_TRUE(ring.allocate(100, 5));
  ring.reset(1000);
  ASSERT_EQ(ring.write(At(1000), 1000, 80), 0);
  ring.drop(50);
  // 60 more bytes: 20 fit before the end of the area, 40 wrap to its start.
  ASSERT_EQ(ring.write(At(1080), 1080, 60), 0);
  EXPECT_EQ(ring.startOffset(), 1050);
  EXPECT_EQ(ring.length(), 90);
  uint8_t out[90];
  ASSERT_EQ(ring.read(out, 1050, 90), 0);
  EXPECT_EQ(std::memcmp(out, At(1050), 90), 0);
  EXPECT_NE(ring.read(out, 1049, 2), 0);   // before the start
  EXPECT_NE(ring.read(out, 1130, 20), 0);  // past the end

  // Given out again (as a recycled ring is), it starts empty at its new place.
  ASSERT_TRUE(ring.allocate(100, 6));
  ring.reset(5000);
  EXPECT_EQ(ring.length(), 0);
  EXPECT_NE(ring.read(out, 1050, 10), 0);
  ASSERT_EQ(ring.write(At(5000), 5000, 100), 0);
  ASSERT_EQ(ring.read(out, 5000, 90), 0);
  EXPECT_EQ(std::memcmp(out, At(5000), 90), 0);
}

TEST(StreamBuf, RefusesWritesThatLeaveAGapOrOverflow) {
  CStreamBuf ring;
  ASSERT_TRUE(ring.allocate(100, 2));
  ring.reset(0);
  EXPECT_EQ(ring.write(At(10), 10, 5), -1);  // gap after the end
  EXPECT_EQ(ring.write(At(0), 0, 101), -1);  // beyond the capacity
  ASSERT_EQ(ring.write(At(0), 0, 60), 0);
  EXPECT_EQ(ring.write(At(40), 40, 30), 0);  // overlap: only the new 10 bytes are added
  EXPECT_EQ(ring.length(), 70);

  CStreamBuf empty;
  EXPECT_FALSE(empty.allocate(0, 3));
  EXPECT_EQ(empty.write(At(0), 0, 1), -1);
  uint8_t byte;
  EXPECT_NE(empty.read(&byte, 0, 1), 0);
}

TEST(MemCache, FirstBufferFillsThenRingsCountFromTwo) {
  RingBudget rings;
  CMemCache cache(rings);
  EXPECT_EQ(cache.maxId(), 2);
  for (int i = 0; i < 10; ++i) Store(cache, i * 65536, 65536);
  auto buffers = cache.buffers();
  ASSERT_EQ(buffers.size(), 1u);
  EXPECT_EQ(buffers[0].length, 655360);

  Store(cache, 655360, 65536);
  buffers = cache.buffers();
  ASSERT_EQ(buffers.size(), 2u);
  EXPECT_EQ(buffers[1].id, 2);
  EXPECT_EQ(buffers[1].capacity, 1310720);
  EXPECT_EQ(buffers[1].startOffset, 655360);
  EXPECT_EQ(cache.maxId(), 3);
  // A read across the two buffers.
  EXPECT_TRUE(Holds(cache, 655360 - 1000, 4096));
}

TEST(MemCache, FullRingDropsExactlyWhatItAdds) {
  RingBudget rings;
  CMemCache cache(rings);
  Store(cache, 1 << 20, 65536);  // no cover: a ring with id 2
  for (int i = 1; i < 20; ++i) Store(cache, (1 << 20) + i * 65536, 65536);
  auto ring = cache.buffers()[1];
  ASSERT_EQ(ring.length, 1310720);
  Store(cache, ring.startOffset + ring.length, 65536);
  auto after = cache.buffers()[1];
  EXPECT_EQ(after.length, 1310720);
  EXPECT_EQ(after.startOffset, ring.startOffset + 65536);
  EXPECT_FALSE(Holds(cache, ring.startOffset, 1));
  EXPECT_TRUE(Holds(cache, after.startOffset, 1310720));
}

TEST(MemCache, StoringHeldOrOverlappingRangesKeepsTheBytes) {
  RingBudget rings;
  CMemCache cache(rings);
  Store(cache, 0, 65536);
  Store(cache, 1000, 2000);  // held already
  auto buffers = cache.buffers();
  ASSERT_EQ(buffers.size(), 1u);
  EXPECT_EQ(buffers[0].length, 65536);
  Store(cache, 60000, 10000);  // overlaps the end: only the rest is added
  EXPECT_EQ(cache.buffers()[0].length, 70000);
  EXPECT_TRUE(Holds(cache, 0, 70000));
  EXPECT_TRUE(Holds(cache, 60000, 10000));
}

TEST(MemCache, LookupAcrossTwoBuffersNeedsNoGap) {
  RingBudget rings;
  CMemCache cache(rings);
  Store(cache, 3 << 20, 65536);            // ring A
  Store(cache, (3 << 20) + 65536, 65536);  // appended to A
  Store(cache, 5 << 20, 65536);            // ring B, far away
  EXPECT_TRUE(Holds(cache, (3 << 20) + 100000, 20000));
  EXPECT_FALSE(Holds(cache, (3 << 20) + 120000, 20000));  // runs past A into nothing

  CMemCache joined(rings);
  Store(joined, 0, 65536);
  for (int i = 1; i < 10; ++i) Store(joined, i * 65536, 65536);
  Store(joined, 655360, 65536);  // id 2 starts where id 0 ends
  EXPECT_TRUE(Holds(joined, 655360 - 30000, 60000));

  CMemCache gapped(rings);
  Store(gapped, 2 << 20, 65536);
  Store(gapped, (2 << 20) + 65536 + 10, 65536);  // a new ring after a 10-byte gap
  EXPECT_FALSE(Holds(gapped, (2 << 20) + 60000, 20000));
}

TEST(MemCache, LargeBlocksGoToIdOneAndReplaceEachOther) {
  RingBudget rings;
  CMemCache cache(rings);
  Store(cache, 1 << 20, 200000);
  auto buffers = cache.buffers();
  ASSERT_EQ(buffers.size(), 2u);
  EXPECT_EQ(buffers[1].id, 1);
  EXPECT_EQ(buffers[1].capacity, 300000);
  EXPECT_EQ(cache.maxId(), 2);
  EXPECT_TRUE(Holds(cache, (1 << 20) + 5, 199995));
  Store(cache, 4 << 20, 100000);
  EXPECT_EQ(cache.buffers().size(), 2u);
  EXPECT_FALSE(Holds(cache, 1 << 20, 10));
  EXPECT_TRUE(Holds(cache, 4 << 20, 100000));
}

TEST(MemCache, PlannerAsksOncePerWindow) {
  RingBudget rings;
  CMemCache cache(rings);
  Store(cache, 0, 65536);  // the head
  auto first = cache.plan(65536);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->offset, 65536);
  EXPECT_EQ(first->size, 262144);
  EXPECT_FALSE(cache.plan(65536));  // asked already
  EXPECT_FALSE(cache.plan(4096));   // inside the head

  for (int i = 1; i <= 4; ++i) Store(cache, i * 65536, 65536);
  // 327680 held; a read at 131072 has 196608 ahead: the next window is asked for once.
  auto next = cache.plan(131072);
  ASSERT_TRUE(next);
  EXPECT_EQ(next->offset, 327680);
  EXPECT_FALSE(cache.plan(135168));
  // Enough held ahead.
  for (int i = 5; i < 10; ++i) Store(cache, i * 65536, 65536);
  EXPECT_FALSE(cache.plan(300000));

  // Nothing held: the request starts at the offset, and not again inside it.
  auto far = cache.plan(6 << 20);
  ASSERT_TRUE(far);
  EXPECT_EQ(far->offset, 6 << 20);
  EXPECT_FALSE(cache.plan((6 << 20) + 100000));
  EXPECT_NE(cache.text().find("LQOffset=6291456 LQSize=262144"), std::string::npos);
}

// The next window is asked for only once less than one window (262144 bytes) is held ahead of
// the read: not one read early at exactly a window ahead.
TEST(MemCache, PlannerAsksWhenLessThanAWindowIsHeldAhead) {
  constexpr int64_t kHeldEnd = 10 * 65536;
  struct Case {
    int64_t heldAhead;
    bool asks;
  };
  for (const Case& c :
       {Case{CMemCache::kRequestSize + 4096, false}, Case{CMemCache::kRequestSize, false},
        Case{CMemCache::kRequestSize - 1, true}, Case{4096, true}}) {
    SCOPED_TRACE(c.heldAhead);
    RingBudget rings;
    CMemCache cache(rings);
    for (int64_t offset = 0; offset < kHeldEnd; offset += 65536) Store(cache, offset, 65536);
    auto request = cache.plan(kHeldEnd - c.heldAhead);
    ASSERT_EQ(request.has_value(), c.asks);
    if (request) {
      EXPECT_EQ(request->offset, kHeldEnd);
      EXPECT_EQ(request->size, CMemCache::kRequestSize);
    }
  }
}

// Random reads each start a run of their own: the pool recycles its least recently used ring
// instead of growing, and the pools of all readers together stay within their budget.
TEST(MemCache, RandomStoresKeepMemoryBounded) {
  constexpr int64_t kPoolBound =
      CMemCache::kFirstCapacity + int64_t{CMemCache::kMostRings} * CMemCache::kRingCapacity;
  RingBudget rings;
  std::vector<std::unique_ptr<CMemCache>> pools;
  for (int p = 0; p < 40; ++p) pools.push_back(std::make_unique<CMemCache>(rings));
  uint64_t seed = 1;
  for (int i = 0; i < 2000; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    int64_t offset = static_cast<int64_t>((seed >> 20) % ((8 << 20) - 65536));
    CMemCache& cache = *pools[i % pools.size()];
    Store(cache, offset, 65536);
    ASSERT_TRUE(Holds(cache, offset, 65536)) << i;  // the newest run is never the one dropped
    ASSERT_LE(cache.heldCapacity(), kPoolBound);
  }
  EXPECT_LE(rings.heldBytes(), CMemCache::kAllRingsBudget + int64_t{CMemCache::kRingCapacity} * 40);
  // A run that is read keeps its ring while others come and go.
  CMemCache& first = *pools[0];
  Store(first, 0x700000, 65536);
  for (int i = 0; i < 20; ++i) {
    Store(first, int64_t{i} * 0x50000, 4096);
    ASSERT_TRUE(Holds(first, 0x700000, 65536)) << i;
  }
  pools.clear();
  EXPECT_EQ(rings.heldBytes(), 0);
}

TEST(MemCache, ClearKeepsCountingIds) {
  RingBudget rings;
  CMemCache cache(rings);
  Store(cache, 2 << 20, 100);
  EXPECT_EQ(cache.maxId(), 3);
  cache.clear();
  EXPECT_TRUE(cache.buffers().empty());
  EXPECT_FALSE(Holds(cache, 2 << 20, 1));
  Store(cache, 0, 100);
  auto buffers = cache.buffers();
  ASSERT_EQ(buffers.size(), 1u);
  EXPECT_EQ(buffers[0].id, 3);
  EXPECT_EQ(cache.maxId(), 4);
}

TEST(MemCache, TextNamesEveryBuffer) {
  RingBudget rings;
  CMemCache cache(rings);
  Store(cache, 0, 1000);
  std::vector<uint8_t> out(10);
  cache.lookup(out.data(), 0, 10);
  cache.lookup(out.data(), 10, 10);
  std::string text = cache.text();
  EXPECT_EQ(text.rfind("MaxId=2 LastId=0 IdTimes=2 IdSize=20 LQOffset=0 LQSize=0\n", 0), 0u);
  EXPECT_NE(text.find("Id=0 BufSize=655360 Offset=0 Size=1000 InTimes=1 OutTimes=2"),
            std::string::npos);
}

}  // namespace

namespace {

// Read-ahead over a slow link: the reader at 1 MiB, 6 MiB fetched ahead of it. Rings that fill
// up hand on to new rings instead of forgetting bytes the reader has yet to read, and every
// byte stays readable; the bytes behind the reader may go. A late read of a place the reader
// left does not move the reader.
TEST(MemCache, BytesAheadOfTheReaderAreNeverForgotten) {
  RingBudget rings;
  CMemCache cache(rings);
  for (int64_t offset = 1 << 20; offset < (2 << 20); offset += 65536) Store(cache, offset, 65536);
  ASSERT_TRUE(Holds(cache, 1 << 20, 65536));  // the reader is here
  std::vector<uint8_t> late(65536);
  EXPECT_EQ(cache.lookup(late.data(), 40 << 20, 65536, false), -1);
  for (int64_t offset = 2 << 20; offset < (7 << 20); offset += 65536) Store(cache, offset, 65536);
  for (int64_t offset = 1 << 20; offset < (7 << 20); offset += 65536)
    ASSERT_TRUE(Holds(cache, offset, 65536)) << offset;
  EXPECT_LE(cache.heldCapacity(), CMemCache::kFirstCapacity + 6 * CMemCache::kRingCapacity);
}

// With a grown window the planner continues the run it asked for, in larger requests, until
// the window is covered; the start window keeps the one-request rules.
TEST(MemCache, GrownWindowContinuesTheRunOfRequests) {
  RingBudget rings;
  CMemCache cache(rings);
  constexpr int32_t kWindow = 4 << 20;
  Store(cache, 0, 65536);
  std::vector<FetchRequest> asked;
  while (auto request = cache.plan(65536, kWindow)) asked.push_back(*request);
  ASSERT_GE(asked.size(), 2u);
  EXPECT_EQ(asked[0].offset, 65536);
  for (size_t i = 1; i < asked.size(); ++i)
    EXPECT_EQ(asked[i].offset, asked[i - 1].offset + asked[i - 1].size);
  EXPECT_EQ(asked[0].size, kWindow / 4);
  EXPECT_GE(asked.back().offset + asked.back().size - 65536, kWindow);
  EXPECT_FALSE(cache.plan(65536, kWindow));  // still covered
}

// What a seek weighs against reopening a connection: the bytes the link brings while one
// opens. An open slowed by a busy machine must not count as a slow link, or a seek waits for
// megabytes of the old place instead of reopening.
TEST(LinkMeter, AReopenCountsAtMostTwoRoundTripsOfTheLink) {
  using namespace std::chrono_literals;
  LinkMeter meter;
  meter.noteRoundTrip(20ms);
  LinkMeter::Clock::time_point start = LinkMeter::Clock::now();
  for (int i = 0; i <= 10; ++i) meter.noteDelivered(1000000, start + i * 10ms);  // 100 MB/s
  meter.noteConnectionOpened(40ms);
  EXPECT_EQ(meter.bytesPerConnectionOpen(), 4000000);
  meter.noteConnectionOpened(500ms);
  EXPECT_EQ(meter.bytesPerConnectionOpen(), 4100000);  // two round trips and a millisecond
}

// A read-ahead window smaller than the link leaves it idle between bursts of replies: the
// rate while it delivers shows the link, the rate over the whole time only the window. Replies
// that never pause give one rate.
TEST(LinkMeter, BurstsBetweenIdleGapsShowTheRateWhileDelivering) {
  using namespace std::chrono_literals;
  struct Case {
    const char* name;
    std::chrono::milliseconds idle;  // after every burst of eight 128 KiB replies, 1 ms apart
    int64_t busyRoundTrip;           // bytesPerBusyRoundTrip, within 10 %
    int64_t roundTrip;               // bytesPerRoundTrip, within 10 %
  };
  const Case cases[] = {
      {"never idle", 0ms, 6553600, 6553600},  // 131 MB/s over 50 ms
      {"idle 42 ms in 50", 42ms, 6553600, 1048576},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LinkMeter meter;
    meter.noteRoundTrip(50ms);
    LinkMeter::Clock::time_point now = LinkMeter::Clock::now();
    for (int burst = 0; burst < 20; ++burst) {
      for (int reply = 0; reply < 8; ++reply) meter.noteDelivered(131072, now += 1ms);
      now += c.idle;
    }
    EXPECT_NEAR(meter.bytesPerBusyRoundTrip(), c.busyRoundTrip, c.busyRoundTrip / 10);
    EXPECT_NEAR(meter.bytesPerRoundTrip(), c.roundTrip, c.roundTrip / 10);
  }
}

}  // namespace
