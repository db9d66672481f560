#include "desktop/transfers/SpeedWindow.h"

#include <algorithm>
#include <numeric>

void SpeedWindow::clear(int64_t size) {
  bytes_.fill(0);
  ticks_.fill(0);
  next_ = 0;
  previousSize_ = size;
}

SpeedWindow::Result SpeedWindow::sample(int64_t size, uint32_t now) {
  int64_t previous = previousSize_;
  previousSize_ = size;
  // The oldest sample still in the window is the one this sample replaces; until the window
  // is full that is the first sample (or, for the very first one, now).
  uint32_t oldest = ticks_[next_];
  if (oldest == 0) oldest = next_ == 0 ? now : ticks_[0];
  bytes_[next_] = std::max<int64_t>(size - previous, 0);
  ticks_[next_] = now;
  next_ = (next_ + 1) % kSlots;

  auto span = static_cast<int32_t>(now - oldest);
  uint64_t total = std::accumulate(bytes_.begin(), bytes_.end(), uint64_t{0});
  uint64_t divisor = span > 0 ? static_cast<uint64_t>(span) : 1000;
  Result result;
  result.timeAdded = std::max<int32_t>(span, 0);
  result.speed = static_cast<int32_t>(total * 1000 / divisor);
  return result;
}
