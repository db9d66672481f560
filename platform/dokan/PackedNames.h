// Names packed into 64 KiB blocks and named by a 32-bit reference (the block and the offset
// in it), so that an entry keeps 4 bytes for its name instead of an 8-byte address. A name
// given up is only counted; once most of what is held is given up, the owner copies the
// names in use into a fresh store. Not locked: the owner guards it with its entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace dokan {

class PackedNames {
 public:
  using Ref = uint32_t;
  // Longest name kept (the kernel hands over names of at most 1024 bytes).
  static constexpr size_t kLongest = 4096;

  // Stores `name` and sets `ref` to it; false when the name is longer than kLongest or the
  // store is full (4 GiB).
  bool add(std::string_view name, Ref& ref) {
    ref = 0;
    if (name.size() > kLongest) return false;
    if (name.empty()) return true;
    if (blocks_.empty() || blockUsed_ + name.size() > kBlockBytes) {
      if (blocks_.size() >= kMostBlocks) return false;
      blocks_.push_back(std::make_unique<char[]>(kBlockBytes));
      blockUsed_ = 0;
    }
    ref = static_cast<Ref>(((blocks_.size() - 1) << kOffsetBits) | blockUsed_);
    std::memcpy(blocks_.back().get() + blockUsed_, name.data(), name.size());
    blockUsed_ += name.size();
    used_ += name.size();
    return true;
  }
  // The name stored at `ref` with `length` bytes.
  std::string_view view(Ref ref, size_t length) const {
    if (length == 0) return {};
    return {blocks_[ref >> kOffsetBits].get() + (ref & kOffsetMask), length};
  }
  // Counts `length` bytes of an earlier name as no longer used.
  void giveUp(size_t length) { wasted_ += length; }
  bool worthCompacting() const { return wasted_ >= kBlockBytes && wasted_ * 2 > used_; }

 private:
  static constexpr unsigned kOffsetBits = 16;
  static constexpr size_t kBlockBytes = size_t{1} << kOffsetBits;
  static constexpr Ref kOffsetMask = (Ref{1} << kOffsetBits) - 1;
  static constexpr size_t kMostBlocks = size_t{1} << (32 - kOffsetBits);

  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t blockUsed_ = kBlockBytes;  // of the last block; full when there is none
  size_t used_ = 0;
  size_t wasted_ = 0;
};

}  // namespace dokan
