#include "drive/stream/LinkMeter.h"

#include <algorithm>

namespace {
int64_t Microseconds(LinkMeter::Clock::duration d) {
  return std::chrono::duration_cast<std::chrono::microseconds>(d).count();
}
}  // namespace

void LinkMeter::noteRoundTrip(Clock::duration took) {
  int64_t us = std::max<int64_t>(1, Microseconds(took));
  MutexLock guard(lock_);
  shortestUs_ = std::min(shortestUs_, us);
  smoothedUs_ = smoothedUs_ == 0 ? us : (smoothedUs_ * 7 + us) / 8;
}

int64_t LinkMeter::sampleLengthUs() const { return std::max(kShortestSampleUs, smoothedUs_); }

void LinkMeter::noteDelivered(int64_t bytes, Clock::time_point now) {
  MutexLock guard(lock_);
  // After a pause the link was idle, not slow: the sample starts again. The bytes that end
  // the pause took an unknown time to come and are not counted.
  int64_t gapUs = Microseconds(now - lastDelivery_);
  if (!sampling_ || gapUs > 2 * sampleLengthUs()) {
    sampling_ = true;
    sampleStart_ = now;
    lastDelivery_ = now;
    sampleBytes_ = 0;
    sampleBusyBytes_ = 0;
    sampleBusyUs_ = 0;
    return;
  }
  lastDelivery_ = now;
  sampleBytes_ += bytes;
  // Bytes that end an idle gap took an unknown part of it to come.
  if (smoothedUs_ == 0 || gapUs <= smoothedUs_ / kIdleGapDivisor) {
    sampleBusyBytes_ += bytes;
    sampleBusyUs_ += gapUs;
  }
  int64_t elapsedUs = Microseconds(now - sampleStart_);
  if (elapsedUs < sampleLengthUs()) return;
  samples_[nextSample_] = Sample{sampleBytes_, elapsedUs, sampleBusyBytes_, sampleBusyUs_};
  nextSample_ = (nextSample_ + 1) % kRateSamples;
  sampleStart_ = now;
  sampleBytes_ = 0;
  sampleBusyBytes_ = 0;
  sampleBusyUs_ = 0;
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

int64_t LinkMeter::busyRate() const {
  int64_t highest = 0;
  for (const Sample& sample : samples_) {
    if (sample.busyUs >= kShortestBusyUs)
      highest = std::max(highest, sample.busyBytes * 1000000 / sample.busyUs);
  }
  return std::max(highest, rate());
}

int64_t LinkMeter::bytesPerBusyRoundTrip() const {
  MutexLock guard(lock_);
  return busyRate() * smoothedUs_ / 1000000;
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
  // Connecting and opening take two round trips of the link and a little work at both ends.
  // An open measured slower than that was slowed by this machine (a busy processor), not by
  // the link, and must not make a seek wait for more of the old place.
  int64_t openUs = openUs_;
  if (shortestUs_ != INT64_MAX) openUs = std::min(openUs, 2 * shortestUs_ + kOpenWorkUs);
  return rate() * openUs / 1000000;
}
