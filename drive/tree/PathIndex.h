// The path index of the folder tree: an entry found by its upper-cased full path.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "drive/replies/NodeText.h"
#include "drive/tree/TreeNode.h"

// Upper-cased full path → id, worked out from (parent, upper-cased name) steps. The tables
// show names that upper-case alike under one parent apart (ShownName.h); should two still
// meet, the one with the larger id is found.
class PathIndex {
 public:
  // Indexes entries of `store` (the node table's), by their places in it.
  explicit PathIndex(const std::deque<TreeNode>& store) : store_(&store) {}
  // A move swaps, as the node table's does, so that each index stays with its store.
  PathIndex(PathIndex&& other) noexcept { swap(other); }
  PathIndex& operator=(PathIndex&& other) noexcept {
    swap(other);
    return *this;
  }

  size_t count(std::u16string_view path) const { return find(path) ? 1 : 0; }
  // The id; throws std::out_of_range when the path is unknown.
  std::u16string at(std::u16string_view path) const;
  // The node at `path` ("\" is the root), or null. Letters a–z match A–Z.
  const TreeNode* find(std::u16string_view path) const;
  size_t size() const { return used_ + (root_ ? 1 : 0); }

 private:
  friend class FolderTables;
  template <typename Name>
  static uint64_t stepHash(const TreeNode* parent, const Name& name);
  // Calls `visit` with each entry below `parent` whose name upper-cases like `name`.
  template <typename Name, typename Visit>
  void forEachAt(const TreeNode* parent, const Name& name, Visit&& visit) const;
  // Of the entries below `parent` whose names upper-case like `name`, the one with the
  // largest id; null when there is none.
  const TreeNode* largestAt(const TreeNode* parent, NodeText name) const;
  // Follows `path` from `from` below `parent`, keeping in `best` the largest id at its end.
  void walk(const TreeNode* parent, std::u16string_view path, size_t from,
            const TreeNode*& best) const;
  // Adds the entry at `place` in the store. Returns an entry already there below the same
  // parent whose name upper-cases alike, or null.
  const TreeNode* add(uint32_t place);
  void remove(uint32_t place);
  // Makes room for `count` entries without growing again.
  void reserve(size_t count);
  void rehash(size_t capacity);
  static size_t capacityFor(size_t count);
  size_t slotOf(uint64_t hash) const;
  size_t nextSlot(size_t at) const;
  const TreeNode& entryIn(uint32_t slot) const;
  void swap(PathIndex& other) noexcept;

  const std::deque<TreeNode>* store_ = nullptr;
  const TreeNode* root_ = nullptr;
  // Open addressing with linear probing: each slot is empty, a removed mark or an entry's
  // place, put by the hash of (parent, upper-cased name). Four bytes a slot: a probe compares
  // the entry itself.
  std::vector<uint32_t> steps_;
  size_t used_ = 0;
  size_t removed_ = 0;
};
