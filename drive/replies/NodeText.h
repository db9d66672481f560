// An id or a name as the folder tables hold it. A text whose UTF-16 code units are all below
// 256 is stored one byte per unit (ids and most names), any other text as UTF-16. A NodeText
// reads, compares and hashes as the UTF-16 text it stands for, whichever way it is stored.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

class NodeText {
 public:
  NodeText() = default;
  // `storage` holds the text as `Store` wrote it.
  NodeText(const char16_t* storage, size_t length, bool narrow)
      : storage_(storage), length_(length), narrow_(narrow) {}

  // True when `text` can be stored one byte per unit.
  static bool FitsNarrow(std::u16string_view text) {
    return std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x100; });
  }
  // The UTF-16 units of storage that `length` units of text take.
  static size_t StorageUnits(size_t length, bool narrow) {
    return narrow ? (length + 1) / 2 : length;
  }
  // Writes `text` into `storage` (StorageUnits long).
  static void Store(std::u16string_view text, bool narrow, char16_t* storage) {
    if (!narrow) {
      std::copy(text.begin(), text.end(), storage);
      return;
    }
    auto* bytes = reinterpret_cast<unsigned char*>(storage);
    for (size_t at = 0; at < text.size(); ++at) bytes[at] = static_cast<unsigned char>(text[at]);
    if (text.size() % 2 != 0) bytes[text.size()] = 0;  // the spare byte of the last unit
  }

  size_t size() const { return length_; }
  bool empty() const { return length_ == 0; }
  bool narrow() const { return narrow_; }
  const char16_t* storage() const { return storage_; }
  char16_t operator[](size_t at) const { return narrow_ ? bytes()[at] : storage_[at]; }

  // Writes the UTF-16 text to `out` (room for size() units).
  void copyTo(char16_t* out) const {
    if (narrow_) {
      std::copy(bytes(), bytes() + length_, out);
    } else {
      std::copy(storage_, storage_ + length_, out);
    }
  }
  void appendTo(std::u16string& out) const {
    size_t start = out.size();
    out.resize(start + length_);
    copyTo(out.data() + start);
  }
  std::u16string str() const {
    std::u16string out;
    appendTo(out);
    return out;
  }
  bool equals(std::u16string_view other) const {
    if (other.size() != length_) return false;
    if (!narrow_) return std::u16string_view(storage_, length_) == other;
    const unsigned char* own = bytes();
    for (size_t at = 0; at < length_; ++at) {
      if (own[at] != other[at]) return false;
    }
    return true;
  }
  // A text is stored a byte per unit whenever it can be, so equal texts share their encoding.
  bool equals(NodeText other) const {
    if (other.length_ != length_ || other.narrow_ != narrow_) return false;
    return std::memcmp(storage_, other.storage_, narrow_ ? length_ : length_ * 2) == 0;
  }

  friend bool operator==(NodeText a, NodeText b) { return a.equals(b); }
  friend bool operator==(NodeText a, std::u16string_view b) { return a.equals(b); }

 private:
  const unsigned char* bytes() const { return reinterpret_cast<const unsigned char*>(storage_); }

  const char16_t* storage_ = nullptr;
  size_t length_ = 0;
  bool narrow_ = false;
};
