// What the fetch connections of the readers of one server learn about their link: the round
// trip of fetch requests while others are in flight, and the rate at which the link delivers.
// Their product is what the read-ahead needs in flight to keep the link busy; asking for more
// only queues bytes that a seek would then have to wait for.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "platform/sync/Mutex.h"

class LinkMeter {
 public:
  using Clock = std::chrono::steady_clock;

  // A fetch request sent on a connection with nothing else to answer got its first reply
  // after `took`. Other connections may be busy meanwhile: that is the round trip under load.
  void noteRoundTrip(Clock::duration took) EXCLUDES(lock_);
  // `bytes` of fetched data arrived at `now`.
  void noteDelivered(int64_t bytes, Clock::time_point now) EXCLUDES(lock_);

  // The shortest round trip seen: tells a local link from a remote one.
  int64_t shortestRoundTripUs() const EXCLUDES(lock_);
  // The bytes the link carries in one round trip under load (the highest delivery rate of the
  // recent samples times the smoothed round trip), 0 while either is unknown. While the
  // read-ahead grows, older samples show the smaller window, not the link: hence the highest.
  int64_t bytesPerRoundTrip() const EXCLUDES(lock_);
  // The same from the rate while the link was delivering: the time between replies that
  // came in bursts (a window smaller than the link, so the link idled) is left out. What a
  // growing read-ahead may reach for, where bytesPerRoundTrip still shows the small window.
  int64_t bytesPerBusyRoundTrip() const EXCLUDES(lock_);
  // A fetch connection was connected and opened ("t_open") in `took`.
  void noteConnectionOpened(Clock::duration took) EXCLUDES(lock_);
  // The bytes the link carries while a fetch connection is opened again (at most two of the
  // shortest round trips and a millisecond), 0 while unknown.
  int64_t bytesPerConnectionOpen() const EXCLUDES(lock_);

 private:
  static constexpr int kRateSamples = 4;
  // Shorter samples would mostly measure how chunks bunch up after a late wake-up.
  static constexpr int64_t kShortestSampleUs = 50000;
  // What connecting and opening take at both ends besides the link's round trips.
  static constexpr int64_t kOpenWorkUs = 1000;
  // A pause between replies longer than this fraction of the round trip is the link idling
  // between bursts; and a sample needs this much time of delivery to give a busy rate, so
  // that bytes bunched up after a late wake-up do not pass for a fast link.
  static constexpr int64_t kIdleGapDivisor = 2;
  static constexpr int64_t kShortestBusyUs = 2000;

  int64_t sampleLengthUs() const REQUIRES(lock_);
  int64_t rate() const REQUIRES(lock_);
  int64_t busyRate() const REQUIRES(lock_);

  mutable Mutex lock_;
  int64_t smoothedUs_ GUARDED_BY(lock_) = 0;
  int64_t shortestUs_ GUARDED_BY(lock_) = INT64_MAX;
  int64_t openUs_ GUARDED_BY(lock_) = 0;  // the latest connection open
  // The sample being counted: bytes delivered since `sampleStart_`, the latest at
  // `lastDelivery_`. A pause in the deliveries (nothing asked for) starts a new sample.
  bool sampling_ GUARDED_BY(lock_) = false;
  Clock::time_point sampleStart_ GUARDED_BY(lock_);
  Clock::time_point lastDelivery_ GUARDED_BY(lock_);
  int64_t sampleBytes_ GUARDED_BY(lock_) = 0;
  int64_t sampleBusyBytes_ GUARDED_BY(lock_) = 0;
  int64_t sampleBusyUs_ GUARDED_BY(lock_) = 0;
  // Recent samples: bytes and the microseconds they took, and those of them that came while
  // the link delivered without a gap.
  struct Sample {
    int64_t bytes = 0;
    int64_t us = 0;
    int64_t busyBytes = 0;
    int64_t busyUs = 0;
  };
  std::array<Sample, kRateSamples> samples_ GUARDED_BY(lock_){};
  int nextSample_ GUARDED_BY(lock_) = 0;
};
