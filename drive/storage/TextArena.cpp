#include "drive/storage/TextArena.h"

char16_t* TextArena::allocate(size_t units) {
  static char16_t empty[1];
  if (units == 0) return empty;
  used_ += units;
  if (units > kBlockUnits / 4) {
    // A long text gets a block of its own, placed before the block being filled.
    std::unique_ptr<char16_t[]> own(new char16_t[units]);
    char16_t* text = own.get();
    blocks_.insert(blocks_.empty() ? blocks_.end() : blocks_.end() - 1, std::move(own));
    return text;
  }
  if (blocks_.empty() || blockUsed_ + units > kBlockUnits) {
    blocks_.push_back(std::unique_ptr<char16_t[]>(new char16_t[kBlockUnits]));
    blockUsed_ = 0;
  }
  char16_t* text = blocks_.back().get() + blockUsed_;
  blockUsed_ += units;
  return text;
}
