// Names packed into 64 KiB blocks and named by a 32-bit reference (the block and the offset
// in it), so that an entry keeps 4 bytes for its name instead of an 8-byte address and a
// length: each name is stored after its length (one byte below 128, two bytes above). The
// reference 0 is the empty name. A name given up is only counted; once most of what is held
// is given up, the owner copies the names in use into a fresh store. Not locked: the owner
// guards it with its entries.
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
    ref = kEmpty;
    if (name.size() > kLongest) return false;
    if (name.empty()) return true;
    size_t stored = PrefixBytes(name.size()) + name.size();
    if (blocks_.empty() || blockUsed_ + stored > kBlockBytes) {
      if (blocks_.size() >= kMostBlocks) return false;
      blocks_.push_back(std::make_unique<char[]>(kBlockBytes));
      // The first byte of the first block is never a name's: its reference is the empty one.
      blockUsed_ = blocks_.size() == 1 ? 1 : 0;
    }
    ref = static_cast<Ref>(((blocks_.size() - 1) << kOffsetBits) | blockUsed_);
    char* at = blocks_.back().get() + blockUsed_;
    if (name.size() < kShortest2ByteLength) {
      *at++ = static_cast<char>(name.size());
    } else {
      *at++ = static_cast<char>(0x80 | (name.size() >> 8));
      *at++ = static_cast<char>(name.size() & 0xFF);
    }
    std::memcpy(at, name.data(), name.size());
    blockUsed_ += stored;
    used_ += stored;
    return true;
  }
  // The name stored at `ref`.
  std::string_view view(Ref ref) const {
    if (ref == kEmpty) return {};
    const auto* at = reinterpret_cast<const unsigned char*>(blocks_[ref >> kOffsetBits].get() +
                                                            (ref & kOffsetMask));
    size_t length = at[0];
    if (length < kShortest2ByteLength) return {reinterpret_cast<const char*>(at + 1), length};
    length = ((length & 0x7F) << 8) | at[1];
    return {reinterpret_cast<const char*>(at + 2), length};
  }
  // Counts the name at `ref` as no longer used.
  void giveUp(Ref ref) {
    size_t length = view(ref).size();
    if (length > 0) wasted_ += PrefixBytes(length) + length;
  }
  bool worthCompacting() const { return wasted_ >= kBlockBytes && wasted_ * 2 > used_; }

 private:
  static constexpr unsigned kOffsetBits = 16;
  static constexpr size_t kBlockBytes = size_t{1} << kOffsetBits;
  static constexpr Ref kOffsetMask = (Ref{1} << kOffsetBits) - 1;
  static constexpr size_t kMostBlocks = size_t{1} << (32 - kOffsetBits);
  static constexpr Ref kEmpty = 0;
  static constexpr size_t kShortest2ByteLength = 0x80;
  static_assert(kLongest < 0x8000, "a length takes at most 15 bits");
  static size_t PrefixBytes(size_t length) { return length < kShortest2ByteLength ? 1 : 2; }

  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t blockUsed_ = kBlockBytes;  // of the last block; full when there is none
  size_t used_ = 0;
  size_t wasted_ = 0;
};

}  // namespace dokan
