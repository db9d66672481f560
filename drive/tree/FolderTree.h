// The in-memory folder tree built from one folder list: the node table and the lookup tables
// derived from it, all ordered by plain UTF-16 code unit comparison.
//
// Each entry is held once, in the node table, with its id and name in one allocation, a link
// to its parent and its fields. Paths are not stored: a folder path is the chain of names
// above a node, the path index is an open-addressing hash of (parent, upper-cased name), and
// a folder's child table is a list of links to its children in id order. A listing walks the
// child list in place.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "drive/node/NodeRecord.h"
#include "drive/replies/NodeText.h"
#include "platform/arena/TextArena.h"

// Plain UTF-16 code unit order, the same as std::less<std::u16string>, for plain texts and
// for the tables' own (NodeText). The equal stretch at the start of two plain texts is
// compared four units at a time.
struct CodeUnitLess {
  using is_transparent = void;
  bool operator()(std::u16string_view a, std::u16string_view b) const {
    size_t common = std::min(a.size(), b.size());
    size_t at = 0;
    for (; at + 4 <= common; at += 4) {
      uint64_t left, right;
      std::memcpy(&left, a.data() + at, sizeof left);
      std::memcpy(&right, b.data() + at, sizeof right);
      if (left != right) break;
    }
    for (; at < common; ++at) {
      if (a[at] != b[at]) return a[at] < b[at];
    }
    return a.size() < b.size();
  }
  bool operator()(NodeText a, std::u16string_view b) const { return Compare(a, b) < 0; }
  bool operator()(std::u16string_view a, NodeText b) const { return Compare(b, a) > 0; }
  bool operator()(NodeText a, NodeText b) const;

 private:
  // Negative, zero or positive as `a` sorts before, with or after `b`.
  static int Compare(NodeText a, std::u16string_view b);
};

// One entry as the tables hold it. `parent` is null at top level, for the root and for an
// entry whose parent is not in the table. The id and the name lie side by side in the node
// table's text arena, each stored as NodeText stores it.
struct TreeNode {
  // Ids, names and parent ids longer than this are not taken into the tables.
  static constexpr size_t kMaxTextUnits = UINT16_MAX;

  union {
    TreeNode* parent = nullptr;
    // While the entry is staged (not yet linked): its listed parent id, kept apart from the
    // tables' texts so that dropping it after linking leaves no gap to pack.
    const char16_t* stagedParentText;
  };
  const char16_t* text = nullptr;  // the id, then the name
  int64_t size = 0;
  int32_t time = 0;
  uint32_t attributes = 0;
  uint16_t idLength = 0;  // in UTF-16 code units, as are the two below
  uint16_t nameLength = 0;
  uint16_t stagedParentLength = 0;
  uint8_t writable : 1 = 0;
  uint8_t stale : 1 = 0;
  uint8_t narrowId : 1 = 0;
  uint8_t narrowName : 1 = 0;
  uint8_t narrowStagedParent : 1 = 0;
  uint8_t mark = 0;  // scratch state while the tree is built

  NodeText id() const { return {text, idLength, narrowId != 0}; }
  NodeText name() const {
    return {text + NodeText::StorageUnits(idLength, narrowId), nameLength, narrowName != 0};
  }
  // The listed parent id while the entry waits to be linked.
  NodeText stagedParent() const {
    return {stagedParentText, stagedParentLength, narrowStagedParent != 0};
  }
  // What the id and the name take of the text arena.
  size_t textUnits() const {
    return NodeText::StorageUnits(idLength, narrowId) +
           NodeText::StorageUnits(nameLength, narrowName);
  }
  bool isFolder() const { return (attributes & kNodeFolderAttribute) != 0; }
};

// Id → entry. Entries live in a deque (their addresses and places never change) and are
// found by a binary search of a list of their places in id order; their texts are packed in an
// arena. Records handed out are copies with the folder path worked out.
class NodeTable {
 public:
  using Place = uint32_t;  // an entry's place in the store
  // What an iterator yields: the id and the entry.
  struct Entry {
    NodeText first;
    const TreeNode& second;
  };
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Entry;
    struct Arrow {
      Entry entry;
      const Entry* operator->() const { return &entry; }
    };

    const_iterator() = default;
    const_iterator(const std::deque<TreeNode>* store, std::vector<Place>::const_iterator at)
        : store_(store), at_(at) {}
    Entry operator*() const {
      const TreeNode& node = (*store_)[*at_];
      return {node.id(), node};
    }
    Arrow operator->() const { return {**this}; }
    const_iterator& operator++() {
      ++at_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++at_;
      return before;
    }
    bool operator==(const const_iterator& other) const { return at_ == other.at_; }
    bool operator!=(const const_iterator& other) const { return at_ != other.at_; }

   private:
    const std::deque<TreeNode>* store_ = nullptr;
    std::vector<Place>::const_iterator at_;
  };

  NodeTable() = default;
  // A move swaps: the moved-from table stays usable (empty, or holding what the target held).
  NodeTable(NodeTable&& other) noexcept { swap(other); }
  NodeTable& operator=(NodeTable&& other) noexcept {
    swap(other);
    return *this;
  }

  size_t size() const { return order_.size(); }
  size_t count(std::u16string_view id) const { return node(id) ? 1 : 0; }
  const_iterator begin() const { return const_iterator(store_.get(), order_.begin()); }
  const_iterator end() const { return const_iterator(store_.get(), order_.end()); }
  const_iterator find(std::u16string_view id) const;
  const TreeNode* node(std::u16string_view id) const;
  const TreeNode* node(NodeText id) const;
  size_t count(NodeText id) const { return node(id) ? 1 : 0; }
  // The record of `id`; throws std::out_of_range when unknown (like std::map::at).
  NodeRecord at(std::u16string_view id) const;
  std::optional<NodeRecord> record(std::u16string_view id) const;
  NodeRecord record(const TreeNode& node) const;
  // The parent id as listed (kept for entries whose parent is not in the table).
  std::u16string parentKey(const TreeNode& node) const;

 private:
  friend class FolderTables;
  template <typename Id>
  std::vector<Place>::const_iterator lowerBound(Id id) const;
  template <typename Id>
  TreeNode* lookup(Id id) const;
  // The place of the entry `id`; false when unknown.
  bool findPlace(std::u16string_view id, Place& place) const;
  // An empty entry's place, reused or new.
  Place allocate();
  void release(Place place);
  // Gives the entry new text; the views may point into its old text.
  void setText(TreeNode& node, std::u16string_view id, std::u16string_view name);
  // Copies the texts in use into a fresh arena when most of the arena is given up, or always.
  void compactTexts(bool always = false);

  void swap(NodeTable& other) noexcept;
  std::deque<TreeNode>& store() { return *store_; }
  const std::deque<TreeNode>& store() const { return *store_; }

  // On the heap, so that child lists find it wherever the tables are moved.
  std::unique_ptr<std::deque<TreeNode>> store_ = std::make_unique<std::deque<TreeNode>>();
  TextArena<char16_t> texts_;
  TextArena<char16_t> stagedParentTexts_;  // the listed parent ids of staged entries, until linked
  std::vector<Place> free_;                // released entries of store_, reused first
  std::vector<Place> order_;               // every entry, by id
  // Entries whose listed parent is missing: their parent id.
  std::unordered_map<const TreeNode*, std::u16string> orphanParents_;
};

// A folder's children in id order, read in place.
class ChildList {
 public:
  size_t size() const { return children_.size(); }
  bool empty() const { return children_.empty(); }
  size_t count(std::u16string_view id) const { return find(id) ? 1 : 0; }
  // The child's upper-cased full path; throws std::out_of_range when not a child.
  std::u16string at(std::u16string_view id) const;
  // Calls `visit` with each child in id order.
  template <typename Visit>
  void forEach(Visit&& visit) const {
    for (NodeTable::Place place : children_) visit(std::as_const((*store_)[place]));
  }
  // child id → upper-cased full path, as a separate map.
  std::map<std::u16string, std::u16string> copy() const;

 private:
  friend class FolderTables;
  friend class ChildTable;
  ChildList(std::u16string parentId, const std::deque<TreeNode>* store)
      : parentId_(std::move(parentId)), store_(store) {}
  const TreeNode* find(std::u16string_view id) const;
  std::u16string parentId_;
  const std::deque<TreeNode>* store_ = nullptr;  // the node table's
  std::vector<NodeTable::Place> children_;       // ordered by id
};

// Parent id → its child list. The lists lie in one array in parent id order: a folder costs
// its list and little more.
class ChildTable {
 public:
  size_t size() const { return lists_.size(); }
  size_t count(std::u16string_view parentId) const { return find(parentId) ? 1 : 0; }
  const ChildList& at(std::u16string_view parentId) const;
  const ChildList* find(std::u16string_view parentId) const;
  const ChildList* find(NodeText parentId) const;

 private:
  friend class FolderTables;
  // The index of the list of `parentId`, or of where it would go.
  template <typename Id>
  size_t lowerBound(Id parentId) const;
  template <typename Id>
  const ChildList* findList(Id parentId) const;
  std::vector<ChildList> lists_;
};

// Upper-cased full path → id, worked out from (parent, upper-cased name) steps. The tables
// show names that upper-case alike under one parent apart (ShownName.h); should two still
// meet, the one with the larger id is found.
class PathIndex {
 public:
  size_t count(std::u16string_view path) const { return find(path) ? 1 : 0; }
  // The id; throws std::out_of_range when the path is unknown.
  std::u16string at(std::u16string_view path) const;
  // The node at `path` ("\" is the root), or null. Letters a–z match A–Z.
  const TreeNode* find(std::u16string_view path) const;
  size_t size() const { return used_ + (root_ ? 1 : 0); }

 private:
  friend class FolderTables;
  template <typename Name>
  static uint64_t stepHash(const TreeNode* parent, const Name& name);
  // Calls `visit` with each entry below `parent` whose name upper-cases like `name`.
  template <typename Name, typename Visit>
  void forEachAt(const TreeNode* parent, const Name& name, Visit&& visit) const;
  // Of the entries below `parent` whose names upper-case like `name`, the one with the
  // largest id; null when there is none.
  const TreeNode* largestAt(const TreeNode* parent, NodeText name) const;
  // Follows `path` from `from` below `parent`, keeping in `best` the largest id at its end.
  void walk(const TreeNode* parent, std::u16string_view path, size_t from,
            const TreeNode*& best) const;
  // Adds the entry. Returns an entry already there below the same parent whose name
  // upper-cases alike, or null.
  const TreeNode* add(const TreeNode* node);
  void remove(const TreeNode* node);
  // Makes room for `count` entries without growing again.
  void reserve(size_t count);
  void rehash(size_t capacity);
  static size_t capacityFor(size_t count);
  size_t slotOf(uint64_t hash) const;
  size_t nextSlot(size_t at) const;

  const TreeNode* root_ = nullptr;
  // Open addressing with linear probing: each slot is empty, a removed mark or an entry,
  // placed by the hash of (parent, upper-cased name).
  std::vector<uint64_t> steps_;
  size_t used_ = 0;
  size_t removed_ = 0;
};

class FolderTables {
 public:
  FolderTables() = default;
  FolderTables(FolderTables&&) = default;
  FolderTables& operator=(FolderTables&&) = default;
  FolderTables(const FolderTables&) = delete;
  FolderTables& operator=(const FolderTables&) = delete;

  NodeTable nodes;  // id → entry; the root has id ""
  PathIndex pathIndex;
  ChildTable children;
  std::map<std::u16string, std::u16string> writableFolders;  // id → full path

  // Changes. Each keeps the node table, the path index and the child table in step.
  // Adds the record, or replaces the entry of the same id (moving it when its name or parent
  // changed; its children move with it). The record's folder path is not used: it follows
  // from the parent.
  void put(const NodeRecord& record);
  // Removes the entry; its children stay, as entries whose parent is missing.
  bool erase(std::u16string_view id);
  // Renames and/or moves the entry; false when unknown.
  bool move(std::u16string_view id, std::u16string_view newName, std::u16string_view newParentId);
  void setStale(std::u16string_view id, bool stale);
  void setWritable(std::u16string_view id, bool writable);
  // Refreshes size, time and attributes and clears the stale flag.
  bool refresh(std::u16string_view id, int64_t size, int32_t time, uint32_t attributes);

  // Answers.
  std::optional<NodeRecord> recordOfPath(std::u16string_view path) const;
  std::optional<std::u16string> idOfPath(std::u16string_view path) const;
  // Folder path + name; "\" for the root; empty when unknown.
  std::u16string fullPathOf(std::u16string_view id) const;
  // Calls `visit` for each child of `parentId` in id order, in place (no copy).
  template <typename Id, typename Visit>
  void forEachChild(const Id& parentId, Visit&& visit) const {
    if (const ChildList* list = children.find(parentId)) list->forEach(visit);
  }

  // Building (of empty tables): `stage` adds an entry without linking it; `link` then links,
  // checks and indexes every staged entry and adds the root. It returns the number of entries left
  // out because their parent chain loops.
  void stage(NodeRecord&& record);
  size_t link(const std::set<std::u16string>& writableIds);

 private:
  TreeNode* mutableNode(std::u16string_view id);
  TreeNode* mutableNode(NodeText id);
  // Puts the staged entries in id order and links each to its parent.
  void orderStaged();
  // Links the entry at `place` below `parentId` in the child table and the path index.
  void attach(NodeTable::Place place, std::u16string_view parentId);
  // Indexes an entry that joins a folder one at a time: under the name it has, or, when a
  // sibling already goes by that name, under its plain name with its id.
  void indexJoining(TreeNode& node);
  // After a tree is linked: of each set of siblings whose names upper-case alike (`collided`
  // holds them all, in any order and more than once), the one with the largest id keeps its
  // name and the others are shown with their ids.
  void showApart(std::vector<const TreeNode*>& collided);
  // Gives an indexed entry its name with its id, unless that would be too long.
  void renameWithId(TreeNode& node, std::u16string_view plain);
  void detach(NodeTable::Place place);
  ChildList& childListOf(std::u16string_view parentId);
  // Fills the child table of freshly linked entries (the table is empty before).
  void buildChildLists();
};

struct BuiltTree {
  FolderTables tables;
  std::u16string downloadFolderId;  // the top-level "下载空间" folder, "" when absent
  size_t loopedNodes = 0;           // left out: their parent chain runs in a circle
  bool complete = true;             // false when building was stopped early
};

// Name of the top-level download folder.
inline constexpr char16_t kDownloadFolderName[] = u"下载空间";

// The path with a–z changed to A–Z; every other character stays.
std::u16string UpperCasePath(std::u16string_view path);

// A node's full path: folder path + name, "\" for the root.
std::u16string FullPath(const NodeRecord& node);

// The folder path of a node in the tables: "\" + the names above it joined by "\" + "\".
std::u16string FolderPathOf(const TreeNode& node);
// The same, appended to `out` without a string of its own.
void AppendFolderPathOf(const TreeNode& node, std::u16string& out);

// A node's full path in the tables: folder path + name, "\" for the root.
std::u16string FullPathOf(const TreeNode& node);

// The root record: id "", name "\", attributes 0x11.
NodeRecord RootNode();

// Building from a list that arrives in pieces: each UTF-8 line of the decoded list is staged
// as it comes (the rules of BuildFolderTree), and the tables are linked after the last one.
void StageListLine(std::string_view utf8Line, BuiltTree& tree);
void LinkStagedTree(BuiltTree& tree, const std::set<std::u16string>& writableIds);

// Builds the tables from a decoded folder list (one node line per "\n"). Files of size 0
// and lines without an id are left out; a node whose parent chain loops is left out with
// everything below it. `keepRunning` is asked once per line; when it answers false the
// result is marked incomplete.
BuiltTree BuildFolderTree(std::u16string_view list, const std::set<std::u16string>& writableIds,
                          const std::function<bool()>& keepRunning);
