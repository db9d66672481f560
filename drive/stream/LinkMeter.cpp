#include "drive/stream/LinkMeter.h"

#include <algorithm>

namespace {
int64_t Microseconds(LinkMeter::Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}

uint32_t Bit(int connection) {
  return connection >= 0 && connection < LinkMeter::kMostConnections ? 1u << connection : 0;
}
}  // namespace

void LinkMeter::reset() {
  MutexLock guard(lock_);
  smoothedUs_ = 0;
  shortestUs_ = INT64_MAX;
  openUs_ = 0;
  streaming_ = 0;
  sampleBytes_ = 0;
  sampleUs_ = 0;
  samples_.fill(Sample{});
  nextSample_ = 0;
}

void LinkMeter::noteRoundTrip(Clock::duration took) {
  int64_t us = std::max<int64_t>(1, Microseconds(took));
  MutexLock guard(lock_);
  shortestUs_ = std::min(shortestUs_, us);
  smoothedUs_ = smoothedUs_ == 0 ? us : (smoothedUs_ * 7 + us) / 8;
}

int64_t LinkMeter::sampleLengthUs() const { return std::max(kShortestSampleUs, smoothedUs_); }

void LinkMeter::noteDelivered(int connection, int64_t bytes, Clock::time_point now,
                              bool moreToCome) {
  MutexLock guard(lock_);
  // Since the previous delivery the link carried data only if some connection was receiving.
  // Otherwise these bytes end a pause (or a request's first round trip) of unknown length.
  if (streaming_ != 0) {
    sampleUs_ += std::max<int64_t>(0, Microseconds(now - lastDelivery_));
    sampleBytes_ += bytes;
  }
  lastDelivery_ = now;
  if (moreToCome)
    streaming_ |= Bit(connection);
  else
    streaming_ &= ~Bit(connection);
  if (sampleUs_ < sampleLengthUs()) return;
  samples_[nextSample_] = Sample{sampleBytes_, sampleUs_};
  nextSample_ = (nextSample_ + 1) % kRateSamples;
  sampleBytes_ = 0;
  sampleUs_ = 0;
}

void LinkMeter::noteQuiet(int connection) {
  MutexLock guard(lock_);
  streaming_ &= ~Bit(connection);
}

int64_t LinkMeter::shortestRoundTripUs() const {
  MutexLock guard(lock_);
  return shortestUs_;
}

int64_t LinkMeter::rate() const {
  int64_t highest = 0;
  for (const Sample& sample : samples_) {
    if (sample.us > 0) highest = std::max(highest, sample.bytes * 1000000 / sample.us);
  }
  return highest;
}

int64_t LinkMeter::bytesPerRoundTrip() const {
  MutexLock guard(lock_);
  return rate() * smoothedUs_ / 1000000;
}

void LinkMeter::noteConnectionOpened(Clock::duration took) {
  MutexLock guard(lock_);
  openUs_ = Microseconds(took);
}

int64_t LinkMeter::bytesPerConnectionOpen() const {
  MutexLock guard(lock_);
  int64_t openUs = openUs_;
  if (shortestUs_ != INT64_MAX) openUs = std::min(openUs, 2 * shortestUs_);
  return rate() * openUs / 1000000;
}
