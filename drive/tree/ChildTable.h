// The child table of the folder tree: each folder's children in id order.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "drive/tree/NodeTable.h"
#include "drive/tree/TreeNode.h"

// A folder's children in id order, read in place: a view that the next change of the table
// invalidates.
class ChildList {
 public:
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  size_t count(std::u16string_view id) const { return find(id) ? 1 : 0; }
  // The child's upper-cased full path; throws std::out_of_range when not a child.
  std::u16string at(std::u16string_view id) const;
  // Calls `visit` with each child in id order.
  template <typename Visit>
  void forEach(Visit&& visit) const {
    for (size_t at = 0; at < size_; ++at) visit(std::as_const((*store_)[first_[at]]));
  }
  // child id → upper-cased full path, as a separate map.
  std::map<std::u16string, std::u16string> copy() const;

 private:
  friend class ChildTable;
  friend class FolderTables;
  ChildList(const std::deque<TreeNode>* store, const NodeTable::Place* first, size_t size)
      : store_(store), first_(first), size_(size) {}
  const TreeNode* find(std::u16string_view id) const;
  const std::deque<TreeNode>* store_;  // the node table's
  const NodeTable::Place* first_;      // ordered by id
  size_t size_;
};

// Parent id → its child list. The children of the folders in the table lie in one array, a
// folder's run after another's in parent id order, so that a folder costs 8 bytes besides its
// children; adding or removing a child moves the runs after it. Children at top level and
// below a parent missing from the table are kept by the parent id apart.
class ChildTable {
 public:
  explicit ChildTable(const std::deque<TreeNode>& store) : store_(&store) {}
  // A move swaps, as the node table's does, so that each child table stays with its store.
  ChildTable(ChildTable&& other) noexcept { swap(other); }
  ChildTable& operator=(ChildTable&& other) noexcept {
    swap(other);
    return *this;
  }

  size_t size() const { return runs_.size() + loose_.size(); }
  size_t count(std::u16string_view parentId) const { return find(parentId) ? 1 : 0; }
  // Throws std::out_of_range when `parentId` has no children.
  ChildList at(std::u16string_view parentId) const;
  std::optional<ChildList> find(std::u16string_view parentId) const;
  std::optional<ChildList> find(NodeText parentId) const;

 private:
  friend class FolderTables;
  // The children of the folder at place `parent`: children_[end of the run before, end).
  struct Run {
    NodeTable::Place parent;
    uint32_t end;
  };
  using Loose = std::map<std::u16string, std::vector<NodeTable::Place>, CodeUnitLess>;

  template <typename Id>
  std::optional<ChildList> findList(Id parentId) const;
  // The index of the run of `parentId`, or of where it would go.
  template <typename Id>
  size_t lowerBound(Id parentId) const;
  size_t runStart(size_t run) const { return run == 0 ? 0 : runs_[run - 1].end; }
  ChildList viewOf(size_t run) const;

  // Changes, for FolderTables. Adds `child` to the list of `parentId`, a folder of the table
  // at `parentPlace`, or (none) a parent missing from the table or the top level.
  void add(std::u16string_view parentId, std::optional<NodeTable::Place> parentPlace,
           NodeTable::Place child);
  // Takes `child` away from the list of `parentId`, dropping the list once empty.
  void remove(std::u16string_view parentId, NodeTable::Place child);
  // The children of `parentId` are kept by the id (the folder left the table) or by the place
  // `parentPlace` (the folder joined it).
  void keepByParentId(std::u16string_view parentId);
  void keepByPlace(std::u16string_view parentId, NodeTable::Place parentPlace);
  // Where `child` goes among the places [from, to), which are in id order.
  const NodeTable::Place* placeFor(const NodeTable::Place* from, const NodeTable::Place* to,
                                   NodeTable::Place child) const;
  // Moves the ends of the runs from `run` on by `delta` children.
  void shiftRuns(size_t run, int delta);
  void swap(ChildTable& other) noexcept;

  const std::deque<TreeNode>* store_ = nullptr;
  std::vector<Run> runs_;                   // in parent id order
  std::vector<NodeTable::Place> children_;  // each run in child id order
  Loose loose_;
};
