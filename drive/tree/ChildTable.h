// The child table of the folder tree: each folder's children in id order.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "drive/tree/NodeTable.h"
#include "drive/tree/TreeNode.h"

// A folder's children in id order, read in place.
class ChildList {
 public:
  size_t size() const { return children_.size(); }
  bool empty() const { return children_.empty(); }
  size_t count(std::u16string_view id) const { return find(id) ? 1 : 0; }
  // The child's upper-cased full path; throws std::out_of_range when not a child.
  std::u16string at(std::u16string_view id) const;
  // Calls `visit` with each child in id order.
  template <typename Visit>
  void forEach(Visit&& visit) const {
    for (NodeTable::Place place : children_) visit(std::as_const((*store_)[place]));
  }
  // child id → upper-cased full path, as a separate map.
  std::map<std::u16string, std::u16string> copy() const;

 private:
  friend class FolderTables;
  friend class ChildTable;
  ChildList(std::u16string parentId, const std::deque<TreeNode>* store)
      : parentId_(std::move(parentId)), store_(store) {}
  const TreeNode* find(std::u16string_view id) const;
  std::u16string parentId_;
  const std::deque<TreeNode>* store_ = nullptr;  // the node table's
  std::vector<NodeTable::Place> children_;       // ordered by id
};

// Parent id → its child list. The lists lie in one array in parent id order: a folder costs
// its list and little more.
class ChildTable {
 public:
  size_t size() const { return lists_.size(); }
  size_t count(std::u16string_view parentId) const { return find(parentId) ? 1 : 0; }
  const ChildList& at(std::u16string_view parentId) const;
  const ChildList* find(std::u16string_view parentId) const;
  const ChildList* find(NodeText parentId) const;

 private:
  friend class FolderTables;
  // The index of the list of `parentId`, or of where it would go.
  template <typename Id>
  size_t lowerBound(Id parentId) const;
  template <typename Id>
  const ChildList* findList(Id parentId) const;
  std::vector<ChildList> lists_;
};
