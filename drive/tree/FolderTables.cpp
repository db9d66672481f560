#include "drive/tree/FolderTables.h"

#include <algorithm>

#include "drive/replies/ShownName.h"

namespace {

bool IsAncestorOrSelf(const TreeNode* candidate, const TreeNode* node) {
  for (const TreeNode* at = node; at; at = at->parent) {
    if (at == candidate) return true;
  }
  return false;
}

}  // namespace

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
      pathIndex.remove(child);
      orphan->parent = nullptr;
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
