#include "drive/tree/PathIndex.h"

#include <algorithm>
#include <stdexcept>

namespace {

// A slot of the path index: 0 when empty, kRemovedSlot after its entry was removed (probing
// goes on past it), otherwise the entry's place in the store plus kFirstPlaceSlot.
constexpr uint32_t kRemovedSlot = 1;
constexpr uint32_t kFirstPlaceSlot = 2;

bool HoldsEntry(uint32_t slot) { return slot >= kFirstPlaceSlot; }

}  // namespace

namespace {

template <typename Text>
bool SameUpperCased(NodeText a, const Text& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperUnit(a[i]) != UpperUnit(b[i])) return false;
  }
  return true;
}

}  // namespace

template <typename Name>
uint64_t PathIndex::stepHash(const TreeNode* parent, const Name& name) {
  uint64_t hash = 14695981039346656037ULL ^ reinterpret_cast<uintptr_t>(parent);
  for (size_t at = 0; at < name.size(); ++at) {
    hash ^= UpperUnit(name[at]);
    hash *= 1099511628211ULL;
  }
  // The slot is taken from the high bits (see slotOf).
  return (hash ^ (hash >> 29)) * 0x9E3779B97F4A7C15ULL;
}

size_t PathIndex::slotOf(uint64_t hash) const {
  // Any table size, not only powers of two: the hash scaled to it.
  return static_cast<size_t>((static_cast<unsigned __int128>(hash) * steps_.size()) >> 64);
}

size_t PathIndex::nextSlot(size_t at) const { return at + 1 == steps_.size() ? 0 : at + 1; }

const TreeNode& PathIndex::entryIn(uint32_t slot) const {
  return (*store_)[slot - kFirstPlaceSlot];
}

void PathIndex::swap(PathIndex& other) noexcept {
  std::swap(store_, other.store_);
  std::swap(root_, other.root_);
  std::swap(steps_, other.steps_);
  std::swap(used_, other.used_);
  std::swap(removed_, other.removed_);
}

template <typename Name, typename Visit>
void PathIndex::forEachAt(const TreeNode* parent, const Name& name, Visit&& visit) const {
  if (steps_.empty()) return;
  uint64_t hash = stepHash(parent, name);
  for (size_t at = slotOf(hash); steps_[at]; at = nextSlot(at)) {
    uint32_t slot = steps_[at];
    if (slot == kRemovedSlot) continue;
    const TreeNode& candidate = entryIn(slot);
    if (candidate.parent() == parent && SameUpperCased(candidate.name(), name)) visit(&candidate);
  }
}

const TreeNode* PathIndex::largestAt(const TreeNode* parent, NodeText name) const {
  const TreeNode* best = nullptr;
  forEachAt(parent, name, [&](const TreeNode* candidate) {
    if (!best || CodeUnitLess()(best->id(), candidate->id())) best = candidate;
  });
  return best;
}

void PathIndex::walk(const TreeNode* parent, std::u16string_view path, size_t from,
                     const TreeNode*& best) const {
  size_t end = path.find(u'\\', from);
  std::u16string_view step =
      path.substr(from, end == std::u16string_view::npos ? std::u16string_view::npos : end - from);
  forEachAt(parent, step, [&](const TreeNode* candidate) {
    if (end != std::u16string_view::npos) {
      walk(candidate, path, end + 1, best);
    } else if (!best || CodeUnitLess()(best->id(), candidate->id())) {
      best = candidate;
    }
  });
}

const TreeNode* PathIndex::find(std::u16string_view path) const {
  if (path.empty() || path[0] != u'\\') return nullptr;
  if (path.size() == 1) return root_;
  // Siblings whose names upper-case alike share their paths, and so do the entries below
  // them: every such branch is followed, and of the entries at the path the one with the
  // largest id is found.
  const TreeNode* best = nullptr;
  walk(nullptr, path, 1, best);
  return best;
}

std::u16string PathIndex::at(std::u16string_view path) const {
  const TreeNode* node = find(path);
  if (!node) throw std::out_of_range("no node at this path");
  return node->id().str();
}

size_t PathIndex::capacityFor(size_t count) {
  // At most seven slots in ten are taken (entries and removed marks).
  return std::max<size_t>(16, count * 10 / 7 + 1);
}

void PathIndex::reserve(size_t count) {
  size_t capacity = capacityFor(count);
  if (capacity > steps_.size()) rehash(capacity);
}

void PathIndex::rehash(size_t capacity) {
  std::vector<uint32_t> old(capacity, 0);
  old.swap(steps_);
  for (uint32_t slot : old) {
    if (!HoldsEntry(slot)) continue;
    const TreeNode& node = entryIn(slot);
    size_t at = slotOf(stepHash(node.parent(), node.name()));
    while (steps_[at]) at = nextSlot(at);
    steps_[at] = slot;
  }
  removed_ = 0;
}

const TreeNode* PathIndex::add(uint32_t place) {
  if ((used_ + removed_ + 1) * 10 > steps_.size() * 7) {
    // Mostly removed marks: the same size, cleaned; otherwise twice as large.
    rehash(std::max(steps_.size(), capacityFor((used_ + 1) * 2)));
  }
  const TreeNode& node = (*store_)[place];
  uint64_t hash = stepHash(node.parent(), node.name());
  // The probe runs on to the first empty slot, past every entry of the same step, and the
  // entry goes into the first slot that is free.
  const TreeNode* same = nullptr;
  size_t free = steps_.size();
  size_t at = slotOf(hash);
  for (; steps_[at]; at = nextSlot(at)) {
    uint32_t slot = steps_[at];
    if (slot == kRemovedSlot) {
      if (free == steps_.size()) free = at;
      continue;
    }
    if (same) continue;
    const TreeNode& candidate = entryIn(slot);
    if (candidate.parent() == node.parent() && SameUpperCased(candidate.name(), node.name())) {
      same = &candidate;
    }
  }
  if (free == steps_.size()) {
    free = at;
  } else {
    --removed_;
  }
  steps_[free] = place + kFirstPlaceSlot;
  ++used_;
  return same;
}

void PathIndex::remove(uint32_t place) {
  if (steps_.empty()) return;
  const TreeNode& node = (*store_)[place];
  uint32_t wanted = place + kFirstPlaceSlot;
  for (size_t at = slotOf(stepHash(node.parent(), node.name())); steps_[at]; at = nextSlot(at)) {
    if (steps_[at] == wanted) {
      steps_[at] = kRemovedSlot;
      --used_;
      ++removed_;
      return;
    }
  }
}
