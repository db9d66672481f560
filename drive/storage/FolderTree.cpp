#include "drive/storage/FolderTree.h"

#include <stdexcept>

#include "drive/storage/ChunkedText.h"
#include "drive/storage/NodeLine.h"
#include "drive/storage/TextDigest.h"

namespace {

char16_t UpperUnit(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

bool SameUpperCased(std::u16string_view a, std::u16string_view b) {
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

uint8_t StateOf(const TreeNode& node) { return node.mark & kStateMask; }
void SetState(TreeNode& node, uint8_t state) {
  node.mark = static_cast<uint8_t>((node.mark & ~kStateMask) | state);
}

bool IsAncestorOrSelf(const TreeNode* candidate, const TreeNode* node) {
  for (const TreeNode* at = node; at; at = at->parent) {
    if (at == candidate) return true;
  }
  return false;
}

}  // namespace

// NodeTable ---------------------------------------------------------------------------------

const TreeNode* NodeTable::node(std::u16string_view id) const {
  auto found = map_.find(id);
  return found == map_.end() ? nullptr : &found->second;
}

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
  record.key = *node.key;
  record.name = node.name;
  if (!node.key->empty()) record.folderPath = FolderPathOf(node);
  record.attributes = node.attributes;
  record.size = node.size;
  record.parentKey = parentKey(node);
  record.time = node.time;
  record.writable = node.writable;
  record.stale = node.stale;
  return record;
}

std::u16string NodeTable::parentKey(const TreeNode& node) const {
  if (node.parent) return *node.parent->key;
  auto orphan = orphanParents_.find(&node);
  return orphan == orphanParents_.end() ? std::u16string() : orphan->second;
}

// ChildList, ChildTable -----------------------------------------------------------------------

const TreeNode* ChildList::find(std::u16string_view id) const {
  auto at = std::lower_bound(children_.begin(), children_.end(), id,
                             [](const TreeNode* child, std::u16string_view key) {
                               return CodeUnitLess()(*child->key, key);
                             });
  return at != children_.end() && *(*at)->key == id ? *at : nullptr;
}

std::u16string ChildList::at(std::u16string_view id) const {
  const TreeNode* child = find(id);
  if (!child) throw std::out_of_range("no child with this id");
  return UpperCasePath(FullPathOf(*child));
}

std::map<std::u16string, std::u16string> ChildList::copy() const {
  std::map<std::u16string, std::u16string> out;
  for (const TreeNode* child : children_) {
    out.emplace_hint(out.end(), *child->key, UpperCasePath(FullPathOf(*child)));
  }
  return out;
}

const ChildList& ChildTable::at(std::u16string_view parentId) const {
  const ChildList* list = find(parentId);
  if (!list) throw std::out_of_range("no children for this id");
  return *list;
}

const ChildList* ChildTable::find(std::u16string_view parentId) const {
  auto found = map_.find(parentId);
  return found == map_.end() ? nullptr : &found->second;
}

// PathIndex ---------------------------------------------------------------------------------

uint64_t PathIndex::stepHash(const TreeNode* parent, std::u16string_view name) {
  uint64_t hash = 14695981039346656037ULL ^ reinterpret_cast<uintptr_t>(parent);
  for (char16_t c : name) {
    hash ^= UpperUnit(c);
    hash *= 1099511628211ULL;
  }
  return hash;
}

void PathIndex::walk(const TreeNode* parent, std::u16string_view path, size_t from,
                     const TreeNode*& best) const {
  size_t end = path.find(u'\\', from);
  std::u16string_view step =
      path.substr(from, end == std::u16string_view::npos ? std::u16string_view::npos : end - from);
  auto [first, last] = steps_.equal_range(stepHash(parent, step));
  for (auto at = first; at != last; ++at) {
    const TreeNode* candidate = at->second;
    if (candidate->parent != parent || !SameUpperCased(candidate->name, step)) continue;
    if (end != std::u16string_view::npos) {
      walk(candidate, path, end + 1, best);
    } else if (!best || CodeUnitLess()(*best->key, *candidate->key)) {
      best = candidate;
    }
  }
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
  return *node->key;
}

void PathIndex::add(const TreeNode* node) {
  steps_.emplace(stepHash(node->parent, node->name), node);
}

void PathIndex::remove(const TreeNode* node) {
  auto [from, to] = steps_.equal_range(stepHash(node->parent, node->name));
  for (auto at = from; at != to; ++at) {
    if (at->second == node) {
      steps_.erase(at);
      return;
    }
  }
}

// FolderTables ------------------------------------------------------------------------------

TreeNode* FolderTables::mutableNode(std::u16string_view id) {
  auto found = nodes.map_.find(id);
  return found == nodes.map_.end() ? nullptr : &found->second;
}

void FolderTables::attach(TreeNode& node, std::u16string_view parentId) {
  node.parent = parentId.empty() ? nullptr : mutableNode(parentId);
  if (!parentId.empty() && !node.parent) nodes.orphanParents_[&node] = std::u16string(parentId);
  auto list = children.map_.find(parentId);
  if (list == children.map_.end()) {
    list = children.map_.emplace(std::u16string(parentId), ChildList()).first;
  }
  std::vector<const TreeNode*>& siblings = list->second.children_;
  auto at = std::lower_bound(
      siblings.begin(), siblings.end(), &node,
      [](const TreeNode* a, const TreeNode* b) { return CodeUnitLess()(*a->key, *b->key); });
  siblings.insert(at, &node);
  pathIndex.add(&node);
}

void FolderTables::detach(TreeNode& node) {
  pathIndex.remove(&node);
  auto list = children.map_.find(nodes.parentKey(node));
  if (list != children.map_.end()) {
    std::vector<const TreeNode*>& siblings = list->second.children_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), &node), siblings.end());
    if (siblings.empty()) children.map_.erase(list);
  }
  nodes.orphanParents_.erase(&node);
  node.parent = nullptr;
}

void FolderTables::put(const NodeRecord& record) {
  if (record.key.empty()) return;  // the root is fixed
  TreeNode* node = mutableNode(record.key);
  if (node) {
    if (node->name != record.name || nodes.parentKey(*node) != record.parentKey) {
      move(record.key, record.name, record.parentKey);
    }
  } else {
    auto [entry, added] = nodes.map_.try_emplace(record.key);
    node = &entry->second;
    node->key = &entry->first;
    node->name = record.name;
    attach(*node, record.parentKey);
  }
  node->attributes = record.attributes;
  node->size = record.size;
  node->time = record.time;
  node->writable = record.writable;
  node->stale = record.stale;
}

bool FolderTables::erase(std::u16string_view id) {
  TreeNode* node = mutableNode(id);
  if (!node || id.empty()) return false;
  detach(*node);
  if (const ChildList* list = children.find(id)) {
    for (const TreeNode* child : list->nodes()) {
      TreeNode* orphan = const_cast<TreeNode*>(child);
      pathIndex.remove(orphan);
      orphan->parent = nullptr;
      nodes.orphanParents_[orphan] = std::u16string(id);
      pathIndex.add(orphan);
    }
  }
  nodes.map_.erase(nodes.map_.find(id));
  return true;
}

bool FolderTables::move(std::u16string_view id, std::u16string_view newName,
                        std::u16string_view newParentId) {
  TreeNode* node = mutableNode(id);
  if (!node || id.empty()) return false;
  // A folder cannot go below itself.
  if (!newParentId.empty() && IsAncestorOrSelf(node, mutableNode(newParentId))) return false;
  detach(*node);
  node->name = std::u16string(newName);
  attach(*node, newParentId);
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
  return *node->key;
}

std::u16string FolderTables::fullPathOf(std::u16string_view id) const {
  const TreeNode* node = nodes.node(id);
  return node ? FullPathOf(*node) : std::u16string();
}

void FolderTables::stage(NodeRecord&& record) {
  auto [entry, added] = nodes.map_.try_emplace(std::move(record.key));
  TreeNode& node = entry->second;
  node = TreeNode();
  node.key = &entry->first;
  node.name = std::move(record.name);
  node.attributes = record.attributes;
  node.size = record.size;
  node.time = record.time;
  staged_.emplace_back(&node, std::move(record.parentKey));
}

size_t FolderTables::link(const std::set<std::u16string>& writableIds) {
  // Later lines for the same id come later in the list and win.
  for (auto& [node, parentId] : staged_) {
    nodes.orphanParents_.erase(node);
    node->parent = parentId.empty() ? nullptr : mutableNode(parentId);
    if (!parentId.empty() && !node->parent) nodes.orphanParents_[node] = std::move(parentId);
  }
  staged_ = {};

  // Each chain is settled outermost first; a chain that meets itself is marked looped, and
  // so is everything below a looped node.
  std::vector<TreeNode*> chain;
  for (auto& [id, start] : nodes.map_) {
    chain.clear();
    bool looped = false;
    for (TreeNode* at = &start; at; at = at->parent) {
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
        bool writableAbove = (node.parent->mark & kAncestorWritable) != 0 ||
                             writableIds.count(*node.parent->key) != 0;
        node.mark = kDone | (writableAbove ? kAncestorWritable : 0);
      }
    }
  }

  size_t loopedNodes = 0;
  for (auto entry = nodes.map_.begin(); entry != nodes.map_.end();) {
    if (StateOf(entry->second) == kLooped) {
      nodes.orphanParents_.erase(&entry->second);
      entry = nodes.map_.erase(entry);
      ++loopedNodes;
    } else {
      ++entry;
    }
  }

  ChildList* lastList = nullptr;
  const TreeNode* lastParent = nullptr;
  // Sized once: growing step by step would rehash a million entries several times.
  pathIndex.steps_.reserve(pathIndex.steps_.size() + nodes.map_.size());
  for (auto& [id, node] : nodes.map_) {
    bool ownWritable = writableIds.count(id) != 0;
    node.writable = ownWritable || (node.mark & kAncestorWritable) ? 1 : 0;
    node.mark = 0;
    if (ownWritable) writableFolders[id] = FullPathOf(node);
    // Siblings often follow each other; the last list found is tried first.
    if (!lastList || node.parent != lastParent || !node.parent) {
      std::u16string parentId = nodes.parentKey(node);
      lastList = &children.map_[parentId];
      lastParent = node.parent;
    }
    lastList->children_.push_back(&node);
    pathIndex.add(&node);
  }

  auto [root, added] = nodes.map_.try_emplace(std::u16string());
  root->second = TreeNode();
  root->second.key = &root->first;
  NodeRecord rootRecord = RootNode();
  root->second.name = rootRecord.name;
  root->second.attributes = rootRecord.attributes;
  pathIndex.root_ = &root->second;
  return loopedNodes;
}

// Free functions ----------------------------------------------------------------------------

std::string DecodeListBytes(std::string_view base64) {
  std::string bytes(base64);
  DecodeListInPlace(bytes);
  return bytes;
}

void DecodeListInPlace(std::string& text) {
  text_digest::DecodeBase64InPlace(text);
  size_t end = text.find('\0');
  if (end != std::string::npos) text.resize(end);
}

std::u16string DecodeListBody(std::string_view base64) {
  return chunked_text::Utf8ToWide(DecodeListBytes(base64));
}

std::u16string UpperCasePath(std::u16string_view path) {
  std::u16string upper(path);
  for (char16_t& c : upper) c = UpperUnit(c);
  return upper;
}

std::u16string FullPath(const NodeRecord& node) { return node.folderPath + node.name; }

std::u16string FullPathOf(const TreeNode& node) {
  if (node.key->empty()) return u"\\";
  return FolderPathOf(node) + node.name;
}

std::u16string FolderPathOf(const TreeNode& node) {
  if (node.key->empty()) return std::u16string();
  size_t length = 1;
  for (const TreeNode* at = node.parent; at; at = at->parent) length += at->name.size() + 1;
  std::u16string path(length, u'\\');
  size_t end = length - 1;  // the final "\" stays
  for (const TreeNode* at = node.parent; at; at = at->parent) {
    end -= at->name.size();
    std::copy(at->name.begin(), at->name.end(), path.begin() + static_cast<ptrdiff_t>(end));
    --end;  // the "\" before it
  }
  return path;
}

NodeRecord RootNode() {
  NodeRecord root;
  root.name = u"\\";
  root.attributes = kRemoteFolderAttributes;
  return root;
}

namespace {

// Stages every kept line of `list`, each converted by `wide` first.
template <typename Text, typename Wide>
bool StageLines(Text list, BuiltTree& tree, const std::function<bool()>& keepRunning, Wide wide) {
  size_t from = 0;
  while (from < list.size()) {
    if (keepRunning && !keepRunning()) return false;
    size_t end = list.find('\n', from);
    if (end == Text::npos) end = list.size();
    NodeRecord node = ParseNodeLine(wide(list.substr(from, end - from)));
    from = end + 1;
    // The empty id is the root's.
    if (node.key.empty() || (!node.isFolder() && node.size == 0)) continue;
    if (node.isFolder() && node.parentKey.empty() && node.name == kDownloadFolderName) {
      tree.downloadFolderId = node.key;
    }
    tree.tables.stage(std::move(node));
  }
  return true;
}

}  // namespace

BuiltTree BuildFolderTree(std::u16string_view list, const std::set<std::u16string>& writableIds,
                          const std::function<bool()>& keepRunning) {
  BuiltTree tree;
  if (!StageLines(list, tree, keepRunning, [](std::u16string_view line) { return line; })) {
    tree.complete = false;
    return tree;
  }
  tree.loopedNodes = tree.tables.link(writableIds);
  return tree;
}

BuiltTree BuildFolderTreeFromUtf8(std::string_view list,
                                  const std::set<std::u16string>& writableIds,
                                  const std::function<bool()>& keepRunning) {
  BuiltTree tree;
  if (!StageLines(list, tree, keepRunning,
                  [](std::string_view line) { return chunked_text::Utf8ToWide(line); })) {
    tree.complete = false;
    return tree;
  }
  tree.loopedNodes = tree.tables.link(writableIds);
  return tree;
}
