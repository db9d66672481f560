// What the read-ahead learns about its link from the fetch connections' replies.
#include <gtest/gtest.h>

#include <chrono>

#include "drive/stream/LinkMeter.h"

namespace {

using namespace std::chrono_literals;

// Short runs (a player's 4 MiB between seeks) with pauses longer than the runs between them:
// the rate is the link's while requests were coming in, not an average over the pauses. A
// connection open measured slow (a busy machine) counts at most two round trips.
TEST(LinkMeter, RateCountsOnlyTheTimeRequestsWereComingIn) {
  constexpr int64_t kChunk = 65536;
  constexpr auto kChunkEvery = 500us;  // 131 MB/s
  LinkMeter meter;
  LinkMeter::Clock::time_point now{};
  meter.noteRoundTrip(50ms);
  for (int run = 0; run < 6; ++run) {
    now += 50ms;  // the next place's request takes a round trip to answer
    for (int chunk = 0; chunk < 64; ++chunk) {
      now += kChunkEvery;
      bool last = chunk == 63;
      // Every other run ends with its connection dropped instead of its last reply.
      if (last && run % 2 == 1)
        meter.noteQuiet(run % 3);
      else
        meter.noteDelivered(run % 3, kChunk, now, !last);
    }
    now += 30ms;  // the reader between runs: nothing asked for
  }
  constexpr int64_t kLinkBytesPerRoundTrip = kChunk * 2000 / 20;  // 131 MB/s for 50 ms
  EXPECT_NEAR(meter.bytesPerRoundTrip(), kLinkBytesPerRoundTrip, kLinkBytesPerRoundTrip / 20);

  meter.noteConnectionOpened(500ms);
  EXPECT_NEAR(meter.bytesPerConnectionOpen(), 2 * kLinkBytesPerRoundTrip,
              kLinkBytesPerRoundTrip / 10);
}

}  // namespace
