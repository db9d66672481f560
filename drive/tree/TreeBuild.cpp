#include "drive/tree/TreeBuild.h"

#include <algorithm>
#include <deque>
#include <unordered_map>
#include <utility>

#include "drive/replies/ChunkedText.h"
#include "drive/replies/NodeLine.h"
#include "drive/tree/PreviousTexts.h"

namespace {

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
// reaching the entry. The prefix is kept in two halves so that the entry takes 12 bytes, not
// 16: at a refresh the list is sorted while the tables in use are held too.
struct StagedEntry {
  uint32_t prefixHigh;
  uint32_t prefixLow;
  NodeTable::Place place;

  StagedEntry(uint64_t prefix, NodeTable::Place at)
      : prefixHigh(static_cast<uint32_t>(prefix >> 32)),
        prefixLow(static_cast<uint32_t>(prefix)),
        place(at) {}
  uint64_t prefix() const { return (static_cast<uint64_t>(prefixHigh) << 32) | prefixLow; }
};
static_assert(sizeof(StagedEntry) == 12);

uint64_t IdPrefix(NodeText id) {
  uint64_t prefix = 0;
  for (size_t at = 0; at < 4; ++at) prefix = (prefix << 16) | (at < id.size() ? id[at] : 0);
  return prefix;
}

uint8_t StateOf(const TreeNode& node) { return node.mark & kStateMask; }
void SetState(TreeNode& node, uint8_t state) {
  node.mark = static_cast<uint8_t>((node.mark & ~kStateMask) | state);
}

}  // namespace

void FolderTables::showApart(std::vector<const TreeNode*>& collided) {
  std::sort(collided.begin(), collided.end());
  collided.erase(std::unique(collided.begin(), collided.end()), collided.end());
  // The one that keeps the name never changes, so the order of the renames does not matter.
  for (const TreeNode* entry : collided) {
    if (pathIndex.largestAt(entry->parent(), entry->name()) == entry) continue;
    NodeTable::Place place;
    if (nodes.findPlace(entry->id().str(), place)) renameWithId(place, entry->name().str());
  }
}

void FolderTables::stage(NodeRecord&& record, PreviousTexts* previous) {
  // Staged entries are added in list order at the end of the store, with their parent id kept
  // aside until they are linked.
  TreeNode& node = nodes.store().emplace_back();
  if (!previous || !previous->lend(nodes, node, record.key, record.name)) {
    nodes.setText(node, record.key, record.name);
  }
  // Siblings are listed one after another: a run of them shares one copy of the parent id.
  const char16_t*& last = nodes.lastStagedParent_;
  if (last) node.setStagedParent(last);
  if (!last || !(node.stagedParent() == record.parentKey)) {
    bool narrow = NodeText::FitsNarrow(record.parentKey);
    size_t units = NodeText::StorageUnits(record.parentKey.size(), narrow);
    char16_t* stored = nodes.stagedParentTexts_.allocate(2 + units);
    stored[0] = static_cast<char16_t>(record.parentKey.size());  // fits: FitsTables
    stored[1] = narrow ? 1 : 0;
    NodeText::Store(record.parentKey, narrow, stored + 2);
    last = stored;
    node.setStagedParent(last);
  }
  node.attributes = static_cast<uint16_t>(record.attributes);
  node.size = record.size;
  node.time = record.time;
  node.mark = kStaged;
}

void FolderTables::orderStaged() {
  // Staged entries by id; of lines with the same id the later one wins.
  std::deque<TreeNode>& store = nodes.store();
  std::vector<StagedEntry> order;
  // Sized once: growing by doubling would hold the old and the new list for a moment.
  order.reserve(
      static_cast<size_t>(std::count_if(store.begin(), store.end(), [](const TreeNode& node) {
        return (node.mark & kStaged) != 0;
      })));
  for (size_t at = 0; at < store.size(); ++at) {
    if (store[at].mark & kStaged) {
      order.emplace_back(IdPrefix(store[at].id()), static_cast<NodeTable::Place>(at));
    }
  }
  // Equal ids stay in list order, which is the order of their places in the deque.
  std::sort(order.begin(), order.end(), [&](const StagedEntry& a, const StagedEntry& b) {
    if (a.prefix() != b.prefix()) return a.prefix() < b.prefix();
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
      node->setParent(nullptr);
    } else if (lastParent && parentId == lastParentId) {
      node->setParent(lastParent);
    } else {
      node->setParent(mutableNode(parentId));
      if (node->parent()) {
        lastParentId = node->parent()->id();
        lastParent = node->parent();
      }
    }
    if (!parentId.empty() && !node->parent()) {
      nodes.orphanParents_[node] = parentId.str();
    }
    node->mark = 0;
  }
  // The parent ids are dropped only once every parent is found.
  nodes.stagedParentTexts_ = TextArena<char16_t>();
  nodes.lastStagedParent_ = nullptr;
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
    for (TreeNode* at = start; at; at = at->parent()) {
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
      } else if (!node.parent()) {
        SetState(node, kDone);
      } else if (StateOf(*node.parent()) != kDone) {
        SetState(node, kLooped);
      } else {
        bool writableAbove = (node.parent()->mark & (kAncestorWritable | kOwnWritable)) != 0;
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
  const std::deque<TreeNode>& store = nodes.store();
  for (NodeTable::Place place = 0; place < store.size(); ++place) {
    const TreeNode& node = store[place];
    if (StateOf(node) != kDone) continue;
    if (const TreeNode* same = pathIndex.add(place)) {
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
  root->attributes = static_cast<uint16_t>(rootRecord.attributes);
  pathIndex.root_ = root;
  return loopedNodes;
}

void FolderTables::buildChildLists() {
  const std::deque<TreeNode>& store = nodes.store();
  // First the children of each parent in the table are counted, by the parent's place; those
  // at top level and below a missing parent join their lists by the parent id at once.
  std::unordered_map<const TreeNode*, uint32_t> countOfParent;
  for (NodeTable::Place place : nodes.order_) {
    const TreeNode& node = store[place];
    if (node.parent()) {
      ++countOfParent[node.parent()];
    } else {
      children.loose_[nodes.parentKey(node)].push_back(place);
    }
  }

  // The runs follow in parent id order (the order of the id list) and are sized once; then
  // each entry takes the next place of its parent's run, in id order.
  std::vector<ChildTable::Run>& runs = children.runs_;
  runs.reserve(countOfParent.size());
  std::unordered_map<const TreeNode*, uint32_t> nextOfParent;
  nextOfParent.reserve(countOfParent.size());
  uint32_t end = 0;
  for (NodeTable::Place place : nodes.order_) {
    auto counted = countOfParent.find(&store[place]);
    if (counted == countOfParent.end()) continue;
    nextOfParent.emplace(counted->first, end);
    end += counted->second;
    runs.push_back({place, end});
  }
  std::unordered_map<const TreeNode*, uint32_t>().swap(countOfParent);
  children.children_.resize(end);
  for (NodeTable::Place place : nodes.order_) {
    const TreeNode& node = store[place];
    if (node.parent()) children.children_[nextOfParent[node.parent()]++] = place;
  }
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
  tree.tables.stage(std::move(node), tree.previous);
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
