#include "drive/tree/FolderTree.h"

#include <stdexcept>

#include "drive/replies/ChunkedText.h"
#include "drive/replies/NodeLine.h"
#include "drive/replies/ShownName.h"
#include "drive/replies/TextDigest.h"

namespace {

char16_t UpperUnit(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

template <typename Text>
bool SameUpperCased(NodeText a, const Text& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperUnit(a[i]) != UpperUnit(b[i])) return false;
  }
  return true;
}

// Resolution states while the tree is linked (TreeNode::mark); 0 is not yet looked at.
constexpr uint8_t kOnChain = 1;
constexpr uint8_t kDone = 2;
constexpr uint8_t kLooped = 3;
constexpr uint8_t kStateMask = 3;
constexpr uint8_t kAncestorWritable = 4;
constexpr uint8_t kOwnWritable = 8;  // the id is one of the writable folders
constexpr uint8_t kStaged = 16;      // added by `stage`, not yet linked

// An entry waiting to be put in id order, with the first four code units of its id packed so
// that comparing the numbers compares those units: most comparisons end there, without
// reaching the entry.
struct StagedEntry {
  uint64_t prefix;
  NodeTable::Place place;
};

uint64_t IdPrefix(NodeText id) {
  uint64_t prefix = 0;
  for (size_t at = 0; at < 4; ++at) prefix = (prefix << 16) | (at < id.size() ? id[at] : 0);
  return prefix;
}

uint8_t StateOf(const TreeNode& node) { return node.mark & kStateMask; }
void SetState(TreeNode& node, uint8_t state) {
  node.mark = static_cast<uint8_t>((node.mark & ~kStateMask) | state);
}

bool FitsTables(const NodeRecord& record) {
  return record.key.size() <= TreeNode::kMaxTextUnits &&
         record.name.size() <= TreeNode::kMaxTextUnits &&
         record.parentKey.size() <= TreeNode::kMaxTextUnits;
}

bool IsAncestorOrSelf(const TreeNode* candidate, const TreeNode* node) {
  for (const TreeNode* at = node; at; at = at->parent) {
    if (at == candidate) return true;
  }
  return false;
}

}  // namespace

// CodeUnitLess --------------------------------------------------------------------------------

int CodeUnitLess::Compare(NodeText a, std::u16string_view b) {
  // char16_t is unsigned, so the standard comparison is code unit order.
  if (!a.narrow()) return std::u16string_view(a.storage(), a.size()).compare(b);
  size_t common = std::min(a.size(), b.size());
  for (size_t at = 0; at < common; ++at) {
    if (a[at] != b[at]) return a[at] < b[at] ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() == b.size() ? 0 : 1);
}

bool CodeUnitLess::operator()(NodeText a, NodeText b) const {
  if (a.narrow() && b.narrow()) {
    // Bytes compare as the units they stand for. Ids are short: a plain loop beats a call.
    auto* left = reinterpret_cast<const unsigned char*>(a.storage());
    auto* right = reinterpret_cast<const unsigned char*>(b.storage());
    size_t common = std::min(a.size(), b.size());
    for (size_t at = 0; at < common; ++at) {
      if (left[at] != right[at]) return left[at] < right[at];
    }
    return a.size() < b.size();
  }
  if (!b.narrow()) return Compare(a, std::u16string_view(b.storage(), b.size())) < 0;
  return Compare(b, std::u16string_view(a.storage(), a.size())) > 0;
}

// TreeNode, NodeTable ----------------------------------------------------------------------

void NodeTable::setText(TreeNode& node, std::u16string_view id, std::u16string_view name) {
  bool narrowId = NodeText::FitsNarrow(id);
  bool narrowName = NodeText::FitsNarrow(name);
  size_t idUnits = NodeText::StorageUnits(id.size(), narrowId);
  char16_t* text = texts_.allocate(idUnits + NodeText::StorageUnits(name.size(), narrowName));
  NodeText::Store(id, narrowId, text);
  NodeText::Store(name, narrowName, text + idUnits);
  texts_.giveUp(node.textUnits());
  node.text = text;
  node.idLength = static_cast<uint16_t>(id.size());
  node.nameLength = static_cast<uint16_t>(name.size());
  node.narrowId = narrowId ? 1 : 0;
  node.narrowName = narrowName ? 1 : 0;
}

void NodeTable::compactTexts(bool always) {
  if (!always && !texts_.worthCompacting()) return;
  if (texts_.wasted() == 0) return;
  TextArena<char16_t> fresh;
  // Every entry of the store, staged ones too; released ones hold no text.
  for (TreeNode& node : store()) {
    if (!node.text) continue;
    size_t units = node.textUnits();
    char16_t* text = fresh.allocate(units);
    std::copy(node.text, node.text + units, text);
    node.text = text;
  }
  texts_ = std::move(fresh);
}

template <typename Id>
std::vector<NodeTable::Place>::const_iterator NodeTable::lowerBound(Id id) const {
  return std::lower_bound(order_.begin(), order_.end(), id, [this](Place place, Id key) {
    return CodeUnitLess()(store()[place].id(), key);
  });
}

template <typename Id>
TreeNode* NodeTable::lookup(Id id) const {
  auto at = lowerBound(id);
  if (at == order_.end()) return nullptr;
  TreeNode& node = const_cast<TreeNode&>(store()[*at]);
  return node.id() == id ? &node : nullptr;
}

NodeTable::const_iterator NodeTable::find(std::u16string_view id) const {
  auto at = lowerBound(id);
  return at != order_.end() && store()[*at].id() == id ? const_iterator(store_.get(), at) : end();
}

bool NodeTable::findPlace(std::u16string_view id, Place& place) const {
  auto at = lowerBound(id);
  if (at == order_.end() || store()[*at].id() != id) return false;
  place = *at;
  return true;
}

void NodeTable::swap(NodeTable& other) noexcept {
  std::swap(store_, other.store_);
  std::swap(texts_, other.texts_);
  std::swap(stagedParentTexts_, other.stagedParentTexts_);
  std::swap(free_, other.free_);
  std::swap(order_, other.order_);
  std::swap(orphanParents_, other.orphanParents_);
}

NodeTable::Place NodeTable::allocate() {
  if (free_.empty()) {
    store().emplace_back();
    return static_cast<Place>(store().size() - 1);
  }
  Place place = free_.back();
  free_.pop_back();
  return place;
}

void NodeTable::release(Place place) {
  TreeNode* node = &store()[place];
  texts_.giveUp(node->textUnits());
  *node = TreeNode();
  free_.push_back(place);
}

const TreeNode* NodeTable::node(std::u16string_view id) const { return lookup(id); }

const TreeNode* NodeTable::node(NodeText id) const { return lookup(id); }

NodeRecord NodeTable::at(std::u16string_view id) const {
  const TreeNode* found = node(id);
  if (!found) throw std::out_of_range("no node with this id");
  return record(*found);
}

std::optional<NodeRecord> NodeTable::record(std::u16string_view id) const {
  const TreeNode* found = node(id);
  if (!found) return std::nullopt;
  return record(*found);
}

NodeRecord NodeTable::record(const TreeNode& node) const {
  NodeRecord record;
  record.key = node.id().str();
  record.name = node.name().str();
  if (!node.id().empty()) record.folderPath = FolderPathOf(node);
  record.attributes = node.attributes;
  record.size = node.size;
  record.parentKey = parentKey(node);
  record.time = node.time;
  record.writable = node.writable;
  record.stale = node.stale;
  return record;
}

std::u16string NodeTable::parentKey(const TreeNode& node) const {
  if (node.parent) return node.parent->id().str();
  auto orphan = orphanParents_.find(&node);
  return orphan == orphanParents_.end() ? std::u16string() : orphan->second;
}

// ChildList, ChildTable -----------------------------------------------------------------------

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

// PathIndex ---------------------------------------------------------------------------------

namespace {

// A slot of the path index: 0 when empty, kRemovedSlot after its entry was removed (probing
// goes on past it), otherwise the entry's address with 16 bits of its hash above it. Most
// probes that do not match end at those bits, without reading the entry. User-space addresses
// on Linux lie below 2^48.
constexpr uint64_t kRemovedSlot = 1;
constexpr uint64_t kAddressBits = 0x0000FFFFFFFFFFFFULL;

uint64_t TagOf(uint64_t hash) { return (hash & 0xFFFF) << 48; }
uint64_t SlotFor(const TreeNode* node, uint64_t hash) {
  return TagOf(hash) | (reinterpret_cast<uintptr_t>(node) & kAddressBits);
}
const TreeNode* EntryIn(uint64_t slot) {
  return reinterpret_cast<const TreeNode*>(static_cast<uintptr_t>(slot & kAddressBits));
}
bool HoldsEntry(uint64_t slot) { return slot != 0 && slot != kRemovedSlot; }

}  // namespace

template <typename Name>
uint64_t PathIndex::stepHash(const TreeNode* parent, const Name& name) {
  uint64_t hash = 14695981039346656037ULL ^ reinterpret_cast<uintptr_t>(parent);
  for (size_t at = 0; at < name.size(); ++at) {
    hash ^= UpperUnit(name[at]);
    hash *= 1099511628211ULL;
  }
  // The slot is taken from the high bits (see slotOf), the tag from the low ones.
  return (hash ^ (hash >> 29)) * 0x9E3779B97F4A7C15ULL;
}

size_t PathIndex::slotOf(uint64_t hash) const {
  // Any table size, not only powers of two: the hash scaled to it.
  return static_cast<size_t>((static_cast<unsigned __int128>(hash) * steps_.size()) >> 64);
}

size_t PathIndex::nextSlot(size_t at) const { return at + 1 == steps_.size() ? 0 : at + 1; }

template <typename Name, typename Visit>
void PathIndex::forEachAt(const TreeNode* parent, const Name& name, Visit&& visit) const {
  if (steps_.empty()) return;
  uint64_t hash = stepHash(parent, name);
  for (size_t at = slotOf(hash); steps_[at]; at = nextSlot(at)) {
    uint64_t slot = steps_[at];
    if (slot == kRemovedSlot || (slot & ~kAddressBits) != TagOf(hash)) continue;
    const TreeNode* candidate = EntryIn(slot);
    if (candidate->parent == parent && SameUpperCased(candidate->name(), name)) visit(candidate);
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
  std::vector<uint64_t> old(capacity, 0);
  old.swap(steps_);
  for (uint64_t slot : old) {
    if (!HoldsEntry(slot)) continue;
    const TreeNode* node = EntryIn(slot);
    size_t at = slotOf(stepHash(node->parent, node->name()));
    while (steps_[at]) at = nextSlot(at);
    steps_[at] = slot;
  }
  removed_ = 0;
}

const TreeNode* PathIndex::add(const TreeNode* node) {
  if ((used_ + removed_ + 1) * 10 > steps_.size() * 7) {
    // Mostly removed marks: the same size, cleaned; otherwise twice as large.
    rehash(std::max(steps_.size(), capacityFor((used_ + 1) * 2)));
  }
  uint64_t hash = stepHash(node->parent, node->name());
  // The probe runs on to the first empty slot, past every entry of the same step, and the
  // entry goes into the first slot that is free.
  const TreeNode* same = nullptr;
  size_t free = steps_.size();
  size_t at = slotOf(hash);
  for (; steps_[at]; at = nextSlot(at)) {
    uint64_t slot = steps_[at];
    if (slot == kRemovedSlot) {
      if (free == steps_.size()) free = at;
      continue;
    }
    if (same || (slot & ~kAddressBits) != TagOf(hash)) continue;
    const TreeNode* candidate = EntryIn(slot);
    if (candidate->parent == node->parent && SameUpperCased(candidate->name(), node->name())) {
      same = candidate;
    }
  }
  if (free == steps_.size()) {
    free = at;
  } else {
    --removed_;
  }
  steps_[free] = SlotFor(node, hash);
  ++used_;
  return same;
}

void PathIndex::remove(const TreeNode* node) {
  if (steps_.empty()) return;
  uint64_t hash = stepHash(node->parent, node->name());
  uint64_t wanted = SlotFor(node, hash);
  for (size_t at = slotOf(hash); steps_[at]; at = nextSlot(at)) {
    if (steps_[at] == wanted) {
      steps_[at] = kRemovedSlot;
      --used_;
      ++removed_;
      return;
    }
  }
}

// FolderTables ------------------------------------------------------------------------------

TreeNode* FolderTables::mutableNode(std::u16string_view id) { return nodes.lookup(id); }

TreeNode* FolderTables::mutableNode(NodeText id) { return nodes.lookup(id); }

ChildList& FolderTables::childListOf(std::u16string_view parentId) {
  std::vector<ChildList>& lists = children.lists_;
  size_t at = children.lowerBound(parentId);
  if (at == lists.size() || lists[at].parentId_ != parentId) {
    lists.insert(lists.begin() + static_cast<ptrdiff_t>(at),
                 ChildList(std::u16string(parentId), &nodes.store()));
  }
  return lists[at];
}

void FolderTables::attach(NodeTable::Place place, std::u16string_view parentId) {
  const std::deque<TreeNode>& store = nodes.store();
  TreeNode& node = nodes.store()[place];
  node.parent = parentId.empty() ? nullptr : mutableNode(parentId);
  if (!parentId.empty() && !node.parent) nodes.orphanParents_[&node] = std::u16string(parentId);
  std::vector<NodeTable::Place>& siblings = childListOf(parentId).children_;
  auto at = std::lower_bound(siblings.begin(), siblings.end(), node.id(),
                             [&](NodeTable::Place sibling, NodeText id) {
                               return CodeUnitLess()(store[sibling].id(), id);
                             });
  siblings.insert(at, place);
  indexJoining(node);
}

void FolderTables::indexJoining(TreeNode& node) {
  // A name the entry is given is kept while it is free, also one with an id (the kernel
  // knows the entry by it); the next tree read shows it under its plain name where that is
  // free, and tells the kernel.
  if (!pathIndex.add(&node)) return;
  renameWithId(node, PlainNameOf(node.name().str(), node.id().str()));
}

void FolderTables::showApart(std::vector<const TreeNode*>& collided) {
  std::sort(collided.begin(), collided.end());
  collided.erase(std::unique(collided.begin(), collided.end()), collided.end());
  // The one that keeps the name never changes, so the order of the renames does not matter.
  for (const TreeNode* entry : collided) {
    if (pathIndex.largestAt(entry->parent, entry->name()) == entry) continue;
    renameWithId(*mutableNode(entry->id()), entry->name().str());
  }
}

void FolderTables::renameWithId(TreeNode& node, std::u16string_view plain) {
  std::u16string id = node.id().str();
  std::u16string shown = NameWithId(plain, id, node.isFolder());
  if (shown.size() > TreeNode::kMaxTextUnits) return;  // stays under its plain name
  pathIndex.remove(&node);
  nodes.setText(node, id, shown);
  // Names with ids meet only for ids that differ in the case of a-z alone; such a pair keeps
  // meeting, and the larger id is found.
  pathIndex.add(&node);
}

void FolderTables::detach(NodeTable::Place place) {
  TreeNode& node = nodes.store()[place];
  pathIndex.remove(&node);
  std::u16string parentId = nodes.parentKey(node);
  std::vector<ChildList>& lists = children.lists_;
  size_t at = children.lowerBound(std::u16string_view(parentId));
  if (at < lists.size() && lists[at].parentId_ == parentId) {
    std::vector<NodeTable::Place>& siblings = lists[at].children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), place), siblings.end());
    if (siblings.empty()) lists.erase(lists.begin() + static_cast<ptrdiff_t>(at));
  }
  nodes.orphanParents_.erase(&node);
  node.parent = nullptr;
}

void FolderTables::put(const NodeRecord& record) {
  if (record.key.empty()) return;  // the root is fixed
  if (!FitsTables(record)) return;
  TreeNode* node = mutableNode(record.key);
  if (node) {
    if (node->name() != record.name || nodes.parentKey(*node) != record.parentKey) {
      move(record.key, record.name, record.parentKey);
    }
  } else {
    NodeTable::Place place = nodes.allocate();
    node = &nodes.store()[place];
    nodes.setText(*node, record.key, record.name);
    node->attributes = record.attributes;  // before linking: it decides the name with the id
    nodes.order_.insert(nodes.lowerBound(std::u16string_view(record.key)), place);
    attach(place, record.parentKey);
  }
  node->attributes = record.attributes;
  node->size = record.size;
  node->time = record.time;
  node->writable = record.writable;
  node->stale = record.stale;
}

bool FolderTables::erase(std::u16string_view id) {
  NodeTable::Place place;
  if (id.empty() || !nodes.findPlace(id, place)) return false;
  detach(place);
  if (const ChildList* list = children.find(id)) {
    for (NodeTable::Place child : list->children_) {
      TreeNode* orphan = &nodes.store()[child];
      pathIndex.remove(orphan);
      orphan->parent = nullptr;
      nodes.orphanParents_[orphan] = std::u16string(id);
      pathIndex.add(orphan);
    }
  }
  nodes.order_.erase(nodes.lowerBound(id));  // while the entry still has its id
  nodes.release(place);
  nodes.compactTexts();
  return true;
}

bool FolderTables::move(std::u16string_view id, std::u16string_view newName,
                        std::u16string_view newParentId) {
  NodeTable::Place place;
  if (id.empty() || newName.size() > TreeNode::kMaxTextUnits) return false;
  if (!nodes.findPlace(id, place)) return false;
  TreeNode* node = &nodes.store()[place];
  // A folder cannot go below itself.
  if (!newParentId.empty() && IsAncestorOrSelf(node, mutableNode(newParentId))) return false;
  // The arguments may point into the entry's own text, which is replaced below.
  std::u16string parentId(newParentId);
  std::u16string ownId = node->id().str();
  detach(place);
  nodes.setText(*node, ownId, newName);
  attach(place, parentId);
  nodes.compactTexts();
  return true;
}

void FolderTables::setStale(std::u16string_view id, bool stale) {
  if (TreeNode* node = mutableNode(id)) node->stale = stale ? 1 : 0;
}

void FolderTables::setWritable(std::u16string_view id, bool writable) {
  if (TreeNode* node = mutableNode(id)) node->writable = writable ? 1 : 0;
}

bool FolderTables::refresh(std::u16string_view id, int64_t size, int32_t time,
                           uint32_t attributes) {
  TreeNode* node = mutableNode(id);
  if (!node) return false;
  node->size = size;
  node->time = time;
  node->attributes = attributes;
  node->stale = 0;
  return true;
}

std::optional<NodeRecord> FolderTables::recordOfPath(std::u16string_view path) const {
  const TreeNode* node = pathIndex.find(path);
  if (!node) return std::nullopt;
  return nodes.record(*node);
}

std::optional<std::u16string> FolderTables::idOfPath(std::u16string_view path) const {
  const TreeNode* node = pathIndex.find(path);
  if (!node) return std::nullopt;
  return node->id().str();
}

std::u16string FolderTables::fullPathOf(std::u16string_view id) const {
  const TreeNode* node = nodes.node(id);
  return node ? FullPathOf(*node) : std::u16string();
}

void FolderTables::stage(NodeRecord&& record) {
  // Staged entries are added in list order at the end of the store, with their parent id kept
  // aside until they are linked.
  TreeNode& node = nodes.store().emplace_back();
  nodes.setText(node, record.key, record.name);
  bool narrowParent = NodeText::FitsNarrow(record.parentKey);
  char16_t* parentText = nodes.stagedParentTexts_.allocate(
      NodeText::StorageUnits(record.parentKey.size(), narrowParent));
  NodeText::Store(record.parentKey, narrowParent, parentText);
  node.stagedParentText = parentText;
  node.stagedParentLength = static_cast<uint16_t>(record.parentKey.size());
  node.narrowStagedParent = narrowParent ? 1 : 0;
  node.attributes = record.attributes;
  node.size = record.size;
  node.time = record.time;
  node.mark = kStaged;
}

void FolderTables::orderStaged() {
  // Staged entries by id; of lines with the same id the later one wins.
  std::deque<TreeNode>& store = nodes.store();
  std::vector<StagedEntry> order;
  for (size_t at = 0; at < store.size(); ++at) {
    if (store[at].mark & kStaged) {
      order.push_back({IdPrefix(store[at].id()), static_cast<NodeTable::Place>(at)});
    }
  }
  // Equal ids stay in list order, which is the order of their places in the deque.
  std::sort(order.begin(), order.end(), [&](const StagedEntry& a, const StagedEntry& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    NodeText left = store[a.place].id();
    NodeText right = store[b.place].id();
    if (left != right) return CodeUnitLess()(left, right);
    return a.place < b.place;
  });
  nodes.order_.reserve(order.size() + 1);
  for (size_t at = 0; at < order.size(); ++at) {
    NodeTable::Place place = order[at].place;
    if (at + 1 < order.size() && store[order[at + 1].place].id() == store[place].id()) {
      nodes.release(place);
    } else {
      nodes.order_.push_back(place);
    }
  }
  std::vector<StagedEntry>().swap(order);
  // Parents are found in list order, where siblings follow each other, so that the last parent
  // found is mostly the one wanted (in id order a parent's children lie scattered). Entries
  // given up for a later line of the same id no longer carry the staged mark.
  NodeText lastParentId;
  TreeNode* lastParent = nullptr;
  for (TreeNode& listed : store) {
    if (!(listed.mark & kStaged)) continue;
    TreeNode* node = &listed;
    NodeText parentId = node->stagedParent();
    if (parentId.empty()) {
      node->parent = nullptr;
    } else if (lastParent && parentId == lastParentId) {
      node->parent = lastParent;
    } else {
      node->parent = mutableNode(parentId);
      if (node->parent) {
        lastParentId = node->parent->id();
        lastParent = node->parent;
      }
    }
    if (!parentId.empty() && !node->parent) {
      nodes.orphanParents_[node] = parentId.str();
    }
    node->mark = 0;
  }
  // The parent ids are dropped only once every parent is found.
  for (NodeTable::Place place : nodes.order_) store[place].stagedParentLength = 0;
  nodes.stagedParentTexts_ = TextArena<char16_t>();
  nodes.compactTexts();
}

size_t FolderTables::link(const std::set<std::u16string>& writableIds) {
  orderStaged();
  for (const std::u16string& id : writableIds) {
    if (TreeNode* node = mutableNode(id)) node->mark |= kOwnWritable;
  }

  // Each chain is settled outermost first; a chain that meets itself is marked looped, and
  // so is everything below a looped node.
  std::vector<TreeNode*> chain;
  for (NodeTable::Place place : nodes.order_) {
    TreeNode* start = &nodes.store()[place];
    chain.clear();
    bool looped = false;
    for (TreeNode* at = start; at; at = at->parent) {
      uint8_t state = StateOf(*at);
      if (state == kDone || state == kLooped) break;
      if (state == kOnChain) {
        looped = true;
        break;
      }
      SetState(*at, kOnChain);
      chain.push_back(at);
    }
    for (auto at = chain.rbegin(); at != chain.rend(); ++at) {
      TreeNode& node = **at;
      if (looped) {
        SetState(node, kLooped);
      } else if (!node.parent) {
        SetState(node, kDone);
      } else if (StateOf(*node.parent) != kDone) {
        SetState(node, kLooped);
      } else {
        bool writableAbove = (node.parent->mark & (kAncestorWritable | kOwnWritable)) != 0;
        node.mark = static_cast<uint8_t>((node.mark & kOwnWritable) | kDone |
                                         (writableAbove ? kAncestorWritable : 0));
      }
    }
  }

  size_t loopedNodes = 0;
  auto kept = std::remove_if(nodes.order_.begin(), nodes.order_.end(), [&](NodeTable::Place place) {
    TreeNode* node = &nodes.store()[place];
    if (StateOf(*node) != kLooped) return false;
    nodes.orphanParents_.erase(node);
    nodes.release(place);
    ++loopedNodes;
    return true;
  });
  nodes.order_.erase(kept, nodes.order_.end());

  // Sized once: growing step by step would rehash a million entries several times. The
  // entries go in in list order, in which they and their names lie in memory (what the index
  // finds does not depend on the order they went in).
  pathIndex.reserve(pathIndex.used_ + nodes.order_.size());
  std::vector<const TreeNode*> collided;
  for (const TreeNode& node : nodes.store()) {
    if (StateOf(node) != kDone) continue;
    if (const TreeNode* same = pathIndex.add(&node)) {
      collided.push_back(&node);
      collided.push_back(same);
    }
  }
  showApart(collided);
  for (NodeTable::Place place : nodes.order_) {
    TreeNode& node = nodes.store()[place];
    bool ownWritable = (node.mark & kOwnWritable) != 0;
    node.writable = ownWritable || (node.mark & kAncestorWritable) ? 1 : 0;
    node.mark = 0;
    if (ownWritable) writableFolders[node.id().str()] = FullPathOf(node);
  }
  buildChildLists();

  TreeNode* root = nodes.lookup(std::u16string_view());
  if (!root) {
    NodeTable::Place place = nodes.allocate();
    root = &nodes.store()[place];
    nodes.order_.insert(nodes.order_.begin(), place);
  }
  NodeRecord rootRecord = RootNode();
  nodes.setText(*root, u"", rootRecord.name);
  root->attributes = rootRecord.attributes;
  pathIndex.root_ = root;
  return loopedNodes;
}

void FolderTables::buildChildLists() {
  const std::deque<TreeNode>& store = nodes.store();
  // First the children of each parent are counted: under a parent in the table, under its
  // address; at top level and under a missing parent, under the parent id.
  std::unordered_map<const TreeNode*, uint32_t> listOfParent;
  std::map<std::u16string, uint32_t, CodeUnitLess> listOfKey;
  std::vector<uint32_t> counts;
  auto listFor = [&](const TreeNode& node) -> uint32_t {
    uint32_t next = static_cast<uint32_t>(counts.size());
    uint32_t list = node.parent ? listOfParent.try_emplace(node.parent, next).first->second
                                : listOfKey.try_emplace(nodes.parentKey(node), next).first->second;
    if (list == next) counts.push_back(0);
    return list;
  };
  for (NodeTable::Place place : nodes.order_) ++counts[listFor(store[place])];

  // The lists are made in parent id order (parents in the table come in id order from the id
  // list, the others from their map) and sized once.
  std::vector<uint32_t> finalIndex(counts.size());
  std::vector<ChildList>& lists = children.lists_;
  lists.reserve(counts.size());
  auto keyed = listOfKey.begin();
  auto addList = [&](std::u16string parentId, uint32_t counted) {
    finalIndex[counted] = static_cast<uint32_t>(lists.size());
    lists.push_back(ChildList(std::move(parentId), &store));
    lists.back().children_.reserve(counts[counted]);
  };
  for (NodeTable::Place place : nodes.order_) {
    const TreeNode& parent = store[place];
    auto listed = listOfParent.find(&parent);
    if (listed == listOfParent.end()) continue;
    for (; keyed != listOfKey.end() && CodeUnitLess()(keyed->first, parent.id()); ++keyed) {
      addList(keyed->first, keyed->second);
    }
    addList(parent.id().str(), listed->second);
  }
  for (; keyed != listOfKey.end(); ++keyed) addList(keyed->first, keyed->second);

  // Then each entry joins its list, in id order.
  for (NodeTable::Place place : nodes.order_) {
    lists[finalIndex[listFor(store[place])]].children_.push_back(place);
  }
}

// Free functions ----------------------------------------------------------------------------

std::u16string UpperCasePath(std::u16string_view path) {
  std::u16string upper(path);
  for (char16_t& c : upper) c = UpperUnit(c);
  return upper;
}

std::u16string FullPath(const NodeRecord& node) { return node.folderPath + node.name; }

std::u16string FullPathOf(const TreeNode& node) {
  if (node.id().empty()) return u"\\";
  std::u16string path = FolderPathOf(node);
  node.name().appendTo(path);
  return path;
}

std::u16string FolderPathOf(const TreeNode& node) {
  std::u16string path;
  AppendFolderPathOf(node, path);
  return path;
}

void AppendFolderPathOf(const TreeNode& node, std::u16string& out) {
  if (node.id().empty()) return;
  size_t length = 1;
  for (const TreeNode* at = node.parent; at; at = at->parent) length += at->nameLength + 1;
  size_t start = out.size();
  out.resize(start + length, u'\\');
  size_t end = start + length - 1;  // the final "\" stays
  for (const TreeNode* at = node.parent; at; at = at->parent) {
    NodeText name = at->name();
    end -= name.size();
    name.copyTo(out.data() + end);
    --end;  // the "\" before it
  }
}

NodeRecord RootNode() {
  NodeRecord root;
  root.name = u"\\";
  root.attributes = kRemoteFolderAttributes;
  return root;
}

namespace {

// Stages one listed entry unless it is left out.
void StageNode(NodeRecord&& node, BuiltTree& tree) {
  // The empty id is the root's.
  if (node.key.empty() || (!node.isFolder() && node.size == 0)) return;
  if (!FitsTables(node)) return;
  // Of two such folders, the one that keeps the name (the larger id) is the download folder.
  if (node.isFolder() && node.parentKey.empty() && node.name == kDownloadFolderName &&
      CodeUnitLess()(tree.downloadFolderId, node.key)) {
    tree.downloadFolderId = node.key;
  }
  tree.tables.stage(std::move(node));
}

// Stages every kept line of `list`.
bool StageLines(std::u16string_view list, BuiltTree& tree,
                const std::function<bool()>& keepRunning) {
  size_t from = 0;
  while (from < list.size()) {
    if (keepRunning && !keepRunning()) return false;
    size_t end = list.find('\n', from);
    if (end == std::u16string_view::npos) end = list.size();
    StageNode(ParseNodeLine(list.substr(from, end - from)), tree);
    from = end + 1;
  }
  return true;
}

}  // namespace

BuiltTree BuildFolderTree(std::u16string_view list, const std::set<std::u16string>& writableIds,
                          const std::function<bool()>& keepRunning) {
  BuiltTree tree;
  if (!StageLines(list, tree, keepRunning)) {
    tree.complete = false;
    return tree;
  }
  tree.loopedNodes = tree.tables.link(writableIds);
  return tree;
}

void StageListLine(std::string_view utf8Line, BuiltTree& tree) {
  StageNode(ParseNodeLine(chunked_text::Utf8ToWide(utf8Line)), tree);
}

void LinkStagedTree(BuiltTree& tree, const std::set<std::u16string>& writableIds) {
  tree.loopedNodes = tree.tables.link(writableIds);
}
