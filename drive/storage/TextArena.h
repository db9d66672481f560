// Texts of many entries packed into large blocks. A text given up is only counted; once the
// counted part outweighs the rest, the owner copies what is still in use into a fresh arena.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

class TextArena {
 public:
  // Room for `units` code units, valid until the arena goes.
  char16_t* allocate(size_t units);
  // Counts `units` of an earlier allocation as no longer used.
  void giveUp(size_t units) { wasted_ += units; }
  size_t wasted() const { return wasted_; }
  // True when most of what is held is given up.
  bool worthCompacting() const { return wasted_ >= kBlockUnits && wasted_ * 2 > used_; }

 private:
  static constexpr size_t kBlockUnits = 32 * 1024;
  std::vector<std::unique_ptr<char16_t[]>> blocks_;
  size_t blockUsed_ = kBlockUnits;  // of the last block; full when there is none
  size_t used_ = 0;
  size_t wasted_ = 0;
};
