#include "drive/tree/ChildTable.h"

#include <algorithm>
#include <stdexcept>

const TreeNode* ChildList::find(std::u16string_view id) const {
  auto at = std::lower_bound(children_.begin(), children_.end(), id,
                             [this](NodeTable::Place child, std::u16string_view key) {
                               return CodeUnitLess()((*store_)[child].id(), key);
                             });
  if (at == children_.end()) return nullptr;
  const TreeNode& child = (*store_)[*at];
  return child.id() == id ? &child : nullptr;
}

std::u16string ChildList::at(std::u16string_view id) const {
  const TreeNode* child = find(id);
  if (!child) throw std::out_of_range("no child with this id");
  return UpperCasePath(FullPathOf(*child));
}

std::map<std::u16string, std::u16string> ChildList::copy() const {
  std::map<std::u16string, std::u16string> out;
  forEach([&](const TreeNode& child) {
    out.emplace_hint(out.end(), child.id().str(), UpperCasePath(FullPathOf(child)));
  });
  return out;
}

const ChildList& ChildTable::at(std::u16string_view parentId) const {
  const ChildList* list = find(parentId);
  if (!list) throw std::out_of_range("no children for this id");
  return *list;
}

template <typename Id>
size_t ChildTable::lowerBound(Id parentId) const {
  auto at = std::lower_bound(
      lists_.begin(), lists_.end(), parentId,
      [](const ChildList& list, Id key) { return CodeUnitLess()(list.parentId_, key); });
  return static_cast<size_t>(at - lists_.begin());
}

// The tables' edits elsewhere find a parent's list by its plain id.
template size_t ChildTable::lowerBound(std::u16string_view) const;

template <typename Id>
const ChildList* ChildTable::findList(Id parentId) const {
  size_t at = lowerBound(parentId);
  if (at == lists_.size() || !(parentId == std::u16string_view(lists_[at].parentId_))) {
    return nullptr;
  }
  return &lists_[at];
}

const ChildList* ChildTable::find(std::u16string_view parentId) const { return findList(parentId); }

const ChildList* ChildTable::find(NodeText parentId) const { return findList(parentId); }
