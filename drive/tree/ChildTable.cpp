#include "drive/tree/ChildTable.h"

#include <algorithm>
#include <stdexcept>

const TreeNode* ChildList::find(std::u16string_view id) const {
  const NodeTable::Place* end = first_ + size_;
  const NodeTable::Place* at =
      std::lower_bound(first_, end, id, [this](NodeTable::Place child, std::u16string_view key) {
        return CodeUnitLess()((*store_)[child].id(), key);
      });
  if (at == end) return nullptr;
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

ChildList ChildTable::at(std::u16string_view parentId) const {
  std::optional<ChildList> list = find(parentId);
  if (!list) throw std::out_of_range("no children for this id");
  return *list;
}

template <typename Id>
size_t ChildTable::lowerBound(Id parentId) const {
  auto at = std::lower_bound(runs_.begin(), runs_.end(), parentId, [this](const Run& run, Id key) {
    return CodeUnitLess()((*store_)[run.parent].id(), key);
  });
  return static_cast<size_t>(at - runs_.begin());
}

ChildList ChildTable::viewOf(size_t run) const {
  size_t start = runStart(run);
  return ChildList(store_, children_.data() + start, runs_[run].end - start);
}

template <typename Id>
std::optional<ChildList> ChildTable::findList(Id parentId) const {
  auto loose = loose_.find(parentId);
  if (loose != loose_.end()) return ChildList(store_, loose->second.data(), loose->second.size());
  size_t run = lowerBound(parentId);
  if (run == runs_.size() || !((*store_)[runs_[run].parent].id() == parentId)) return std::nullopt;
  return viewOf(run);
}

std::optional<ChildList> ChildTable::find(std::u16string_view parentId) const {
  return findList(parentId);
}

std::optional<ChildList> ChildTable::find(NodeText parentId) const { return findList(parentId); }

const NodeTable::Place* ChildTable::placeFor(const NodeTable::Place* from,
                                             const NodeTable::Place* to,
                                             NodeTable::Place child) const {
  return std::lower_bound(from, to, (*store_)[child].id(),
                          [this](NodeTable::Place sibling, NodeText id) {
                            return CodeUnitLess()((*store_)[sibling].id(), id);
                          });
}

void ChildTable::shiftRuns(size_t run, int delta) {
  for (; run < runs_.size(); ++run) runs_[run].end += static_cast<uint32_t>(delta);
}

void ChildTable::add(std::u16string_view parentId, std::optional<NodeTable::Place> parentPlace,
                     NodeTable::Place child) {
  if (!parentPlace) {
    std::vector<NodeTable::Place>& siblings = loose_[std::u16string(parentId)];
    const NodeTable::Place* at =
        placeFor(siblings.data(), siblings.data() + siblings.size(), child);
    siblings.insert(siblings.begin() + (at - siblings.data()), child);
    return;
  }
  size_t run = lowerBound(parentId);
  if (run == runs_.size() || !((*store_)[runs_[run].parent].id() == parentId)) {
    uint32_t start = static_cast<uint32_t>(runStart(run));
    runs_.insert(runs_.begin() + static_cast<ptrdiff_t>(run), Run{*parentPlace, start});
  }
  const NodeTable::Place* first = children_.data();
  const NodeTable::Place* at = placeFor(first + runStart(run), first + runs_[run].end, child);
  children_.insert(children_.begin() + (at - first), child);
  shiftRuns(run, 1);
}

void ChildTable::remove(std::u16string_view parentId, NodeTable::Place child) {
  auto loose = loose_.find(parentId);
  if (loose != loose_.end()) {
    std::vector<NodeTable::Place>& siblings = loose->second;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), child), siblings.end());
    if (siblings.empty()) loose_.erase(loose);
    return;
  }
  size_t run = lowerBound(parentId);
  if (run == runs_.size() || !((*store_)[runs_[run].parent].id() == parentId)) return;
  auto first = children_.begin() + static_cast<ptrdiff_t>(runStart(run));
  auto end = children_.begin() + runs_[run].end;
  auto at = std::find(first, end, child);
  if (at == end) return;
  children_.erase(at);
  shiftRuns(run, -1);
  if (runStart(run) == runs_[run].end) runs_.erase(runs_.begin() + static_cast<ptrdiff_t>(run));
}

void ChildTable::keepByParentId(std::u16string_view parentId) {
  size_t run = lowerBound(parentId);
  if (run == runs_.size() || !((*store_)[runs_[run].parent].id() == parentId)) return;
  auto first = children_.begin() + static_cast<ptrdiff_t>(runStart(run));
  auto end = children_.begin() + runs_[run].end;
  loose_[std::u16string(parentId)].assign(first, end);
  int moved = static_cast<int>(end - first);
  children_.erase(first, end);
  shiftRuns(run, -moved);
  runs_.erase(runs_.begin() + static_cast<ptrdiff_t>(run));
}

void ChildTable::keepByPlace(std::u16string_view parentId, NodeTable::Place parentPlace) {
  auto loose = loose_.find(parentId);
  if (loose == loose_.end()) return;
  size_t run = lowerBound(parentId);
  uint32_t start = static_cast<uint32_t>(runStart(run));
  runs_.insert(runs_.begin() + static_cast<ptrdiff_t>(run), Run{parentPlace, start});
  const std::vector<NodeTable::Place>& places = loose->second;
  children_.insert(children_.begin() + start, places.begin(), places.end());
  shiftRuns(run, static_cast<int>(places.size()));
  loose_.erase(loose);
}

void ChildTable::swap(ChildTable& other) noexcept {
  std::swap(store_, other.store_);
  std::swap(runs_, other.runs_);
  std::swap(children_, other.children_);
  std::swap(loose_, other.loose_);
}
