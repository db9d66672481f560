#include "platform/dokan/InodeTable.h"

#include <algorithm>
#include <functional>

namespace dokan {

namespace {

constexpr size_t kFirstIndexSize = 1024;
// The index grows once its chains hold this many entries on average: the parent is compared
// before the name, so a longer chain costs little, and each bucket costs 4 bytes an entry.
constexpr size_t kEntriesPerBucket = 2;
// More parents than any path has: a chain this long is a loop, and has no path.
constexpr int kDeepest = 4096;

}  // namespace

InodeTable::InodeTable() {
  MutexLock guard(lock_);
  nodes_.resize(kRoot + 1);   // number 0 is never given out
  nodes_[kRoot].lookups = 1;  // the root is never forgotten
  buckets_.assign(kFirstIndexSize, 0);
  live_ = 1;
}

uint64_t InodeTable::hashOf(uint32_t parent, std::string_view name) {
  return std::hash<std::string_view>{}(name) ^ (parent * 0x9E3779B97F4A7C15ull);
}

uint32_t InodeTable::linked(uint32_t parent, std::string_view name) const {
  // The parent is compared first: it spares reading the names of most entries in the chain.
  for (uint32_t ino = buckets_[bucketOf(parent, name)]; ino != 0; ino = nodes_[ino].next) {
    const Node& node = nodes_[ino];
    if (node.parent == parent && nameOf(node) == name) return ino;
  }
  return 0;
}

void InodeTable::growIndex() {
  buckets_.assign(buckets_.size() * 2, 0);
  for (uint32_t ino = kRoot + 1; ino < nodes_.size(); ++ino) {
    Node& node = nodes_[ino];
    if (node.parent == 0) continue;
    uint32_t& first = buckets_[bucketOf(node.parent, nameOf(node))];
    node.next = first;
    first = ino;
  }
}

void InodeTable::link(uint32_t ino, uint32_t parent) {
  // Grown before the entry has its parent, so that the regrown index does not chain it too.
  if (indexed_ + 1 > buckets_.size() * kEntriesPerBucket) growIndex();
  Node& node = nodes_[ino];
  node.parent = parent;
  uint32_t& first = buckets_[bucketOf(node.parent, nameOf(node))];
  node.next = first;
  first = ino;
  ++indexed_;
  ++nodes_[node.parent].children;
}

uint32_t InodeTable::detach(uint32_t ino) {
  Node& node = nodes_[ino];
  if (node.parent == 0) return 0;
  uint32_t* at = &buckets_[bucketOf(node.parent, nameOf(node))];
  while (*at != 0 && *at != ino) at = &nodes_[*at].next;
  if (*at == ino) *at = node.next;
  node.next = 0;
  --indexed_;
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
      if (nodes_.size() >= kMostNumbers) return {};
      ino = static_cast<uint32_t>(nodes_.size());
      nodes_.emplace_back();
    }
    Node& node = nodes_[ino];
    if (!setName(node, name)) {
      free_.push_back(ino);
      return {};
    }
    link(ino, static_cast<uint32_t>(parent));
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
  // A number without lookups is free or kept only for the entries below it: there is nothing
  // to forget, and releasing a free number again would give it to two entries.
  if (node.lookups == 0) return;
  if (node.lookups != kKeptForGood)
    node.lookups -= static_cast<uint16_t>(std::min<uint64_t>(count, node.lookups));
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
      link(ino, static_cast<uint32_t>(newParent));
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
  names_.giveUp(node.name);
  node.name = ref;
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
