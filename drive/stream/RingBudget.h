// The bytes held in rings by all memory caches of one program: every pool adds its rings here,
// so that together they stay within CMemCache::kAllRingsBudget.
#pragma once

#include <atomic>
#include <cstdint>

class RingBudget {
 public:
  int64_t heldBytes() const { return held_.load(); }
  void take(int64_t bytes) { held_ += bytes; }
  void giveBack(int64_t bytes) { held_ -= bytes; }

 private:
  std::atomic<int64_t> held_{0};
};
