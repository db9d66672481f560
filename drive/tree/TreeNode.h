// One entry of the folder tree as the tables hold it, the order its texts are kept in, and
// the paths worked out from the chain of names above it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "drive/node/NodeRecord.h"
#include "drive/replies/NodeText.h"

// Plain UTF-16 code unit order, the same as std::less<std::u16string>, for plain texts and
// for the tables' own (NodeText). The equal stretch at the start of two plain texts is
// compared four units at a time.
struct CodeUnitLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const {
    size_t common = std::min(a.size(), b.size());
    size_t at = 0;
    for (; at + 4 <= common; at += 4) {
      uint64_t left, right;
      std::memcpy(&left, a.data() + at, sizeof left);
      std::memcpy(&right, b.data() + at, sizeof right);
      if (left != right) break;
    }
    for (; at < common; ++at) {
      if (a[at] != b[at]) return a[at] < b[at];
    }
    return a.size() < b.size();
  }
  bool operator()(NodeText a, std::u16string_view b) const { return Compare(a, b) < 0; }
  bool operator()(std::u16string_view a, NodeText b) const { return Compare(b, a) > 0; }
  bool operator()(NodeText a, NodeText b) const;

 private:
  // Negative, zero or positive as `a` sorts before, with or after `b`.
  static int Compare(NodeText a, std::u16string_view b);
};

// One entry as the tables hold it, in 32 bytes. The parent is null at top level, for the
// root and for an entry whose parent is not in the table. The id and the name lie side by side
// in the node table's text arena, each stored as NodeText stores it. The two addresses are
// kept in 48 bits each, which every user-space address on Linux fits, each beside a length.
struct TreeNode {
  // Ids, names and parent ids longer than this are not taken into the tables.
  static constexpr size_t kMaxTextUnits = UINT16_MAX;
  // Entries with larger attributes are not taken into the tables either.
  static constexpr uint32_t kMaxAttributes = UINT16_MAX;

  int64_t size = 0;
  int32_t time = 0;
  uint16_t attributes = 0;
  uint8_t writable : 1 = 0;
  uint8_t stale : 1 = 0;
  uint8_t narrowId : 1 = 0;
  uint8_t narrowName : 1 = 0;
  uint8_t borrowedText : 1 = 0;  // the id and name lie in texts of earlier tables
  uint8_t mark = 0;              // scratch state while the tree is built
  // The parent; while the entry is staged (not yet linked), its listed parent id instead.
  uint64_t parentAddress : 48 = 0;
  uint64_t idLength : 16 = 0;  // in UTF-16 code units, as is the name's
  uint64_t textAddress : 48 = 0;
  uint64_t nameLength : 16 = 0;

  TreeNode* parent() const { return reinterpret_cast<TreeNode*>(parentAddress); }
  void setParent(const TreeNode* node) { parentAddress = AddressBits(node); }
  // The id, then the name; null for an entry without text.
  const char16_t* text() const { return reinterpret_cast<const char16_t*>(textAddress); }
  void setText(const char16_t* text) { textAddress = AddressBits(text); }

  NodeText id() const { return {text(), idLength, narrowId != 0}; }
  NodeText name() const {
    return {text() + NodeText::StorageUnits(idLength, narrowId), nameLength, narrowName != 0};
  }
  // The listed parent id while the entry waits to be linked, kept by the node table: its
  // length and whether it is narrow, one unit each, then its text.
  NodeText stagedParent() const {
    auto* stored = reinterpret_cast<const char16_t*>(parentAddress);
    return {stored + 2, stored[0], stored[1] != 0};
  }
  void setStagedParent(const char16_t* stored) { parentAddress = AddressBits(stored); }
  // What the id and the name take of the text arena.
  size_t textUnits() const {
    return NodeText::StorageUnits(idLength, narrowId) +
           NodeText::StorageUnits(nameLength, narrowName);
  }
  bool isFolder() const { return (attributes & kNodeFolderAttribute) != 0; }

 private:
  static constexpr uintptr_t kAddressLimit = uintptr_t{1} << 48;
  static uint64_t AddressBits(const void* address) {
    auto bits = reinterpret_cast<uintptr_t>(address);
    // Cannot happen in a Linux process; stopping beats following a cut address.
    if (bits >= kAddressLimit) std::abort();
    return bits;
  }
};
static_assert(sizeof(TreeNode) == 32);

// The letter a–z as A–Z; every other unit stays.
inline char16_t UpperUnit(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// Whether the record's id, name, parent id and attributes fit an entry of the tables.
bool FitsTables(const NodeRecord& record);

// The path with a–z changed to A–Z; every other character stays.
std::u16string UpperCasePath(std::u16string_view path);

// A node's full path: folder path + name, "\" for the root.
std::u16string FullPath(const NodeRecord& node);

// The folder path of a node in the tables: "\" + the names above it joined by "\" + "\".
std::u16string FolderPathOf(const TreeNode& node);
// The same, appended to `out` without a string of its own.
void AppendFolderPathOf(const TreeNode& node, std::u16string& out);

// A node's full path in the tables: folder path + name, "\" for the root.
std::u16string FullPathOf(const TreeNode& node);

// The root record: id "", name "\", attributes 0x11.
NodeRecord RootNode();
