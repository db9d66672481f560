// Texts of many entries packed into large blocks. A text given up is only counted; once the
// counted part outweighs the rest, the owner copies what is still in use into a fresh arena.
// Not locked: the owner guards it with the entries that point into it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

template <typename Char>
class TextArena {
 public:
  // Room for `units` characters, valid until the arena goes.
  Char* allocate(size_t units) {
    static Char empty[1];
    if (units == 0) return empty;
    used_ += units;
    if (units > kBlockUnits / 4) {
      // A long text gets a block of its own, placed before the block being filled.
      std::unique_ptr<Char[]> own(new Char[units]);
      Char* text = own.get();
      blocks_.insert(blocks_.empty() ? blocks_.end() : blocks_.end() - 1, std::move(own));
      return text;
    }
    if (blocks_.empty() || blockUsed_ + units > kBlockUnits) {
      blocks_.push_back(std::unique_ptr<Char[]>(new Char[kBlockUnits]));
      blockUsed_ = 0;
    }
    Char* text = blocks_.back().get() + blockUsed_;
    blockUsed_ += units;
    return text;
  }
  // Counts `units` of an earlier allocation as no longer used.
  void giveUp(size_t units) { wasted_ += units; }
  size_t wasted() const { return wasted_; }
  // Every unit handed out, given up or not.
  size_t used() const { return used_; }
  // True when most of what is held is given up.
  bool worthCompacting() const { return wasted_ >= kBlockUnits && wasted_ * 2 > used_; }

 private:
  static constexpr size_t kBlockUnits = 32 * 1024;
  std::vector<std::unique_ptr<Char[]>> blocks_;
  size_t blockUsed_ = kBlockUnits;  // of the last block; full when there is none
  size_t used_ = 0;
  size_t wasted_ = 0;
};
