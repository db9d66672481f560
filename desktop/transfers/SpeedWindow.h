// Transfer speed over the last ten one-second samples, and the transfer time that goes with
// it. Fed once a second with the bytes present and the tick count of that moment.
#pragma once

#include <array>
#include <cstdint>

class SpeedWindow {
 public:
  static constexpr int kSlots = 10;

  struct Result {
    int32_t timeAdded = 0;  // milliseconds to add to the task's Time
    int32_t speed = 0;      // bytes per second over the window
  };

  // Forgets every sample; the next sample counts bytes from `size` on.
  void clear(int64_t size = 0);

  // One sample: `size` bytes present at tick `now` (milliseconds).
  Result sample(int64_t size, uint32_t now);

 private:
  std::array<int64_t, kSlots> bytes_{};
  std::array<uint32_t, kSlots> ticks_{};
  int next_ = 0;
  int64_t previousSize_ = 0;
};
