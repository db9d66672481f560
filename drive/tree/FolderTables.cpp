#include "drive/tree/FolderTables.h"

#include <algorithm>

#include "drive/replies/ShownName.h"

namespace {

bool IsAncestorOrSelf(const TreeNode* candidate, const TreeNode* node) {
  for (const TreeNode* at = node; at; at = at->parent()) {
    if (at == candidate) return true;
  }
  return false;
}

}  // namespace

TreeNode* FolderTables::mutableNode(std::u16string_view id) { return nodes.lookup(id); }

TreeNode* FolderTables::mutableNode(NodeText id) { return nodes.lookup(id); }

void FolderTables::attach(NodeTable::Place place, std::u16string_view parentId) {
  TreeNode& node = nodes.store()[place];
  NodeTable::Place parentPlace = 0;
  bool parentKnown = !parentId.empty() && nodes.findPlace(parentId, parentPlace);
  node.setParent(parentKnown ? &nodes.store()[parentPlace] : nullptr);
  if (!parentId.empty() && !node.parent()) nodes.orphanParents_[&node] = std::u16string(parentId);
  children.add(parentId, parentKnown ? std::optional(parentPlace) : std::nullopt, place);
  indexJoining(place);
}

void FolderTables::indexJoining(NodeTable::Place place) {
  // A name the entry is given is kept while it is free, also one with an id (the kernel
  // knows the entry by it); the next tree read shows it under its plain name where that is
  // free, and tells the kernel.
  if (!pathIndex.add(place)) return;
  const TreeNode& node = nodes.store()[place];
  renameWithId(place, PlainNameOf(node.name().str(), node.id().str()));
}

void FolderTables::renameWithId(NodeTable::Place place, std::u16string_view plain) {
  TreeNode& node = nodes.store()[place];
  std::u16string id = node.id().str();
  std::u16string shown = NameWithId(plain, id, node.isFolder());
  if (shown.size() > TreeNode::kMaxTextUnits) return;  // stays under its plain name
  pathIndex.remove(place);
  nodes.setText(node, id, shown);
  // Names with ids meet only for ids that differ in the case of a-z alone; such a pair keeps
  // meeting, and the larger id is found.
  pathIndex.add(place);
}

void FolderTables::detach(NodeTable::Place place) {
  TreeNode& node = nodes.store()[place];
  pathIndex.remove(place);
  children.remove(nodes.parentKey(node), place);
  nodes.orphanParents_.erase(&node);
  node.setParent(nullptr);
}

bool FolderTables::wouldBeOwnAncestor(std::u16string_view id, std::u16string_view parentId) const {
  if (parentId == id) return true;
  const TreeNode* top = nodes.node(parentId);
  if (!top) return false;
  while (top->parent()) top = top->parent();
  auto waiting = nodes.orphanParents_.find(top);
  return waiting != nodes.orphanParents_.end() && waiting->second == id;
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
    if (wouldBeOwnAncestor(record.key, record.parentKey)) return;
    NodeTable::Place place = nodes.allocate();
    node = &nodes.store()[place];
    nodes.setText(*node, record.key, record.name);
    node->attributes = static_cast<uint16_t>(
        record.attributes);  // before linking: it decides the name with the id
    nodes.order_.insert(nodes.lowerBound(std::u16string_view(record.key)), place);
    // Children listed before their folder was there stay without a parent, but are now
    // kept with the folder.
    children.keepByPlace(record.key, place);
    attach(place, record.parentKey);
  }
  node->attributes = static_cast<uint16_t>(record.attributes);
  node->size = record.size;
  node->time = record.time;
  node->writable = record.writable;
  node->stale = record.stale;
}

bool FolderTables::erase(std::u16string_view id) {
  NodeTable::Place place;
  if (id.empty() || !nodes.findPlace(id, place)) return false;
  detach(place);
  // The children stay, kept by the id of their parent while it is missing.
  children.keepByParentId(id);
  if (std::optional<ChildList> list = children.find(id)) {
    for (size_t at = 0; at < list->size_; ++at) {
      NodeTable::Place child = list->first_[at];
      TreeNode* orphan = &nodes.store()[child];
      pathIndex.remove(child);
      orphan->setParent(nullptr);
      nodes.orphanParents_[orphan] = std::u16string(id);
      pathIndex.add(child);
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
  if (!node || attributes > TreeNode::kMaxAttributes) return false;
  node->size = size;
  node->time = time;
  node->attributes = static_cast<uint16_t>(attributes);
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
