// The node table of the folder tree: every entry by id, with its texts packed in an arena.
#pragma once

#include <cstdint>
#include <deque>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "drive/node/NodeRecord.h"
#include "drive/tree/TreeNode.h"
#include "platform/arena/TextArena.h"

// Id → entry. Entries live in a deque (their addresses and places never change) and are
// found by a binary search of a list of their places in id order; their texts are packed in an
// arena. Records handed out are copies with the folder path worked out.
class NodeTable {
 public:
  using Place = uint32_t;  // an entry's place in the store
  // What an iterator yields: the id and the entry.
  struct Entry {
    NodeText first;
    const TreeNode& second;
  };
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Entry;
    struct Arrow {
      Entry entry;
      const Entry* operator->() const { return &entry; }
    };

    const_iterator() = default;
    const_iterator(const std::deque<TreeNode>* store, std::vector<Place>::const_iterator at)
        : store_(store), at_(at) {}
    Entry operator*() const {
      const TreeNode& node = (*store_)[*at_];
      return {node.id(), node};
    }
    Arrow operator->() const { return {**this}; }
    const_iterator& operator++() {
      ++at_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++at_;
      return before;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }
    bool operator!=(const const_iterator& other) const { return at_ != other.at_; }

   private:
    const std::deque<TreeNode>* store_ = nullptr;
    std::vector<Place>::const_iterator at_;
  };

  NodeTable() = default;
  // A move swaps: the moved-from table stays usable (empty, or holding what the target held).
  NodeTable(NodeTable&& other) noexcept { swap(other); }
  NodeTable& operator=(NodeTable&& other) noexcept {
    swap(other);
    return *this;
  }

  size_t size() const { return order_.size(); }
  size_t count(std::u16string_view id) const { return node(id) ? 1 : 0; }
  const_iterator begin() const { return const_iterator(store_.get(), order_.begin()); }
  const_iterator end() const { return const_iterator(store_.get(), order_.end()); }
  const_iterator find(std::u16string_view id) const;
  const TreeNode* node(std::u16string_view id) const;
  const TreeNode* node(NodeText id) const;
  size_t count(NodeText id) const { return node(id) ? 1 : 0; }
  // The record of `id`; throws std::out_of_range when unknown (like std::map::at).
  NodeRecord at(std::u16string_view id) const;
  std::optional<NodeRecord> record(std::u16string_view id) const;
  NodeRecord record(const TreeNode& node) const;
  // The parent id as listed (kept for entries whose parent is not in the table).
  std::u16string parentKey(const TreeNode& node) const;

 private:
  friend class FolderTables;
  friend class PreviousTexts;
  template <typename Id>
  std::vector<Place>::const_iterator lowerBound(Id id) const;
  template <typename Id>
  TreeNode* lookup(Id id) const;
  // The place of the entry `id`; false when unknown.
  bool findPlace(std::u16string_view id, Place& place) const;
  // An empty entry's place, reused or new.
  Place allocate();
  void release(Place place);
  // Gives the entry new text; the views may point into its old text.
  void setText(TreeNode& node, std::u16string_view id, std::u16string_view name);
  // Gives the entry the text `source` has in `from`, without a copy: `from`'s texts are held
  // for as long as this table may point into them. Both tables must stay put meanwhile.
  void borrowText(TreeNode& node, const NodeTable& from, const TreeNode& source);
  // Counts the entry's text as no longer used.
  void dropText(TreeNode& node);
  // Copies the texts in use into a fresh arena when most of what the table holds is given up,
  // or always; the texts of earlier tables are no longer held after it.
  void compactTexts(bool always = false);
  bool textsWorthCompacting() const;

  void swap(NodeTable& other) noexcept;
  std::deque<TreeNode>& store() { return *store_; }
  const std::deque<TreeNode>& store() const { return *store_; }

  // On the heap, so that child lists find it wherever the tables are moved.
  std::unique_ptr<std::deque<TreeNode>> store_ = std::make_unique<std::deque<TreeNode>>();
  std::shared_ptr<TextArena<char16_t>> texts_ = std::make_shared<TextArena<char16_t>>();
  // Texts of earlier tables some entries still point into (borrowedText), what they held when
  // taken, how much of it entries point to, and the arena they were last taken along with.
  std::vector<std::shared_ptr<const TextArena<char16_t>>> borrowed_;
  size_t borrowedUnits_ = 0;
  size_t sharedUnits_ = 0;
  const TextArena<char16_t>* borrowedWith_ = nullptr;
  // The listed parent ids of staged entries, until they are linked, each stored once for a
  // run of entries listed with the same parent (as TreeNode::stagedParent reads it), and the
  // one the last staged entry points to.
  TextArena<char16_t> stagedParentTexts_;
  const char16_t* lastStagedParent_ = nullptr;
  std::vector<Place> free_;   // released entries of store_, reused first
  std::vector<Place> order_;  // every entry, by id
  // Entries whose listed parent is missing: their parent id.
  std::unordered_map<const TreeNode*, std::u16string> orphanParents_;
};
