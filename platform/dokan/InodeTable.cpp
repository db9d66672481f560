#include "platform/dokan/InodeTable.h"

#include <algorithm>
#include <functional>

namespace dokan {

namespace {

constexpr size_t kFirstIndexSize = 1024;
// More parents than any path has: a chain this long is a loop, and has no path.
constexpr int kDeepest = 4096;

}  // namespace

InodeTable::InodeTable() {
  MutexLock guard(lock_);
  nodes_.resize(kRoot + 1);   // number 0 is never given out
  nodes_[kRoot].lookups = 1;  // the root is never forgotten
  index_.assign(kFirstIndexSize, kEmpty);
  tags_.assign(kFirstIndexSize, 0);
  live_ = 1;
}

uint64_t InodeTable::hashOf(uint32_t parent, std::string_view name) {
  return std::hash<std::string_view>{}(name) ^ (parent * 0x9E3779B97F4A7C15ull);
}

size_t InodeTable::probe(uint32_t parent, std::string_view name, bool& found) const {
  found = false;
  uint64_t hash = hashOf(parent, name);
  uint8_t tag = tagOf(hash);
  size_t mask = index_.size() - 1;
  size_t firstDeleted = index_.size();
  // The index always has empty slots (it grows at two thirds full), so the walk ends.
  for (size_t at = hash & mask;; at = (at + 1) & mask) {
    uint32_t ino = index_[at];
    if (ino == kEmpty) return firstDeleted < index_.size() ? firstDeleted : at;
    if (ino == kDeleted) {
      if (firstDeleted == index_.size()) firstDeleted = at;
      continue;
    }
    // The tag spares reading the entries of most slots that do not match.
    if (tags_[at] != tag) continue;
    const Node& node = nodes_[ino];
    if (node.parent == parent && nameOf(node) == name) {
      found = true;
      return at;
    }
  }
}

void InodeTable::fill(size_t at, uint32_t ino) {
  const Node& node = nodes_[ino];
  index_[at] = ino;
  tags_[at] = tagOf(hashOf(node.parent, nameOf(node)));
}

uint32_t InodeTable::linked(uint32_t parent, std::string_view name) const {
  bool found = false;
  size_t at = probe(parent, name, found);
  return found ? index_[at] : 0;
}

void InodeTable::growIndex() {
  size_t entries = 0;
  for (uint32_t ino : index_) entries += (ino != kEmpty && ino != kDeleted) ? 1 : 0;
  size_t size = kFirstIndexSize;
  while (size < (entries + 1) * 2) size *= 2;
  std::vector<uint32_t> old(size, kEmpty);
  old.swap(index_);
  tags_.assign(size, 0);
  indexUsed_ = 0;
  for (uint32_t ino : old) {
    if (ino == kEmpty || ino == kDeleted) continue;
    bool found = false;
    fill(probe(nodes_[ino].parent, nameOf(nodes_[ino]), found), ino);
    ++indexUsed_;
  }
}

void InodeTable::link(uint32_t ino) {
  if ((indexUsed_ + 1) * 3 > index_.size() * 2) growIndex();
  Node& node = nodes_[ino];
  bool found = false;
  size_t at = probe(node.parent, nameOf(node), found);
  if (index_[at] == kEmpty) ++indexUsed_;
  fill(at, ino);
  ++nodes_[node.parent].children;
}

uint32_t InodeTable::detach(uint32_t ino) {
  Node& node = nodes_[ino];
  if (node.parent == 0) return 0;
  bool found = false;
  size_t at = probe(node.parent, nameOf(node), found);
  if (found) index_[at] = kDeleted;
  uint32_t parent = node.parent;
  --nodes_[parent].children;
  node.parent = 0;
  return parent;
}

void InodeTable::release(uint32_t ino) {
  if (ino == 0 || ino == kRoot) return;
  Node& node = nodes_[ino];
  if (node.lookups > 0 || node.children > 0) return;
  release(detach(ino));
  setName(node, {});
  ++node.generation;
  free_.push_back(ino);
  --live_;
}

InodeTable::Known InodeTable::remember(uint64_t parent, std::string_view name) {
  MutexLock guard(lock_);
  if (parent == 0 || parent >= nodes_.size()) return {};
  const Node& folder = nodes_[parent];
  if (parent != kRoot && folder.parent == 0) return {};
  uint32_t ino = linked(static_cast<uint32_t>(parent), name);
  if (ino == 0) {
    if (!free_.empty()) {
      ino = free_.back();
      free_.pop_back();
    } else {
      if (nodes_.size() >= kDeleted - 1) return {};
      ino = static_cast<uint32_t>(nodes_.size());
      nodes_.emplace_back();
    }
    Node& node = nodes_[ino];
    if (!setName(node, name)) {
      free_.push_back(ino);
      return {};
    }
    node.parent = static_cast<uint32_t>(parent);
    link(ino);
    ++live_;
  }
  Node& node = nodes_[ino];
  if (node.lookups != kKeptForGood) ++node.lookups;
  return {ino, node.generation};
}

void InodeTable::forget(uint64_t ino, uint64_t count) {
  MutexLock guard(lock_);
  if (ino <= kRoot || ino >= nodes_.size()) return;
  Node& node = nodes_[ino];
  if (node.lookups != kKeptForGood)
    node.lookups -= static_cast<uint32_t>(std::min<uint64_t>(count, node.lookups));
  release(static_cast<uint32_t>(ino));
  compactNames();
}

bool InodeTable::pathOfLocked(uint32_t ino, std::string& path) const {
  path.clear();
  if (ino == kRoot) {
    path = "/";
    return true;
  }
  if (ino == 0 || ino >= nodes_.size()) return false;
  std::string_view names[kDeepest];
  int depth = 0;
  for (uint32_t at = ino; at != kRoot; at = nodes_[at].parent) {
    if (nodes_[at].parent == 0 || depth == kDeepest) return false;
    names[depth++] = nameOf(nodes_[at]);
  }
  while (depth > 0) {
    path += '/';
    path += names[--depth];
  }
  return true;
}

bool InodeTable::pathOf(uint64_t ino, std::string& path) const {
  MutexLock guard(lock_);
  return pathOfLocked(static_cast<uint32_t>(ino), path);
}

bool InodeTable::pathOf(uint64_t parent, std::string_view name, std::string& path) const {
  MutexLock guard(lock_);
  if (!pathOfLocked(static_cast<uint32_t>(parent), path)) return false;
  if (path.size() > 1) path += '/';
  path += name;
  return true;
}

uint64_t InodeTable::find(std::string_view path) const {
  MutexLock guard(lock_);
  uint32_t ino = kRoot;
  while (!path.empty()) {
    size_t slash = path.find('/');
    std::string_view name = path.substr(0, slash);
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    if (name.empty()) continue;
    ino = linked(ino, name);
    if (ino == 0) return 0;
  }
  return ino;
}

void InodeTable::removed(uint64_t parent, std::string_view name) {
  MutexLock guard(lock_);
  if (parent == 0 || parent >= nodes_.size()) return;
  uint32_t ino = linked(static_cast<uint32_t>(parent), name);
  if (ino == 0) return;
  release(detach(ino));
  release(ino);
  compactNames();
}

void InodeTable::moved(uint64_t parent, std::string_view name, uint64_t newParent,
                       std::string_view newName) {
  MutexLock guard(lock_);
  if (parent == 0 || parent >= nodes_.size() || newParent == 0 || newParent >= nodes_.size())
    return;
  uint32_t ino = linked(static_cast<uint32_t>(parent), name);
  uint32_t replaced = linked(static_cast<uint32_t>(newParent), newName);
  if (replaced == ino) return;  // the same entry, or neither was known
  // Folders are freed only after the entry has its new place, so that neither folder can
  // go while the entry moves between them.
  uint32_t replacedParent = replaced != 0 ? detach(replaced) : 0;
  if (ino != 0) {
    uint32_t oldParent = detach(ino);
    Node& node = nodes_[ino];
    // A name that cannot be kept leaves the entry without a path, as if removed.
    if (setName(node, newName)) {
      node.parent = static_cast<uint32_t>(newParent);
      link(ino);
    }
    release(oldParent);
    release(ino);
  }
  if (replaced != 0) {
    release(replacedParent);
    release(replaced);
  }
  compactNames();
}

bool InodeTable::setName(Node& node, std::string_view name) {
  // Stored before the old name is given up: `name` may be a view of it.
  PackedNames::Ref ref = 0;
  if (!names_.add(name, ref)) return false;
  names_.giveUp(node.nameLength);
  node.name = ref;
  node.nameLength = static_cast<uint16_t>(name.size());
  return true;
}

void InodeTable::compactNames() {
  if (!names_.worthCompacting()) return;
  PackedNames fresh;
  for (Node& node : nodes_) {
    // The fresh store holds less than the old one, so every name fits.
    PackedNames::Ref ref = 0;
    fresh.add(nameOf(node), ref);
    node.name = ref;
  }
  names_ = std::move(fresh);
}

size_t InodeTable::size() const {
  MutexLock guard(lock_);
  return live_;
}

}  // namespace dokan
