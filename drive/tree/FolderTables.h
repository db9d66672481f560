// The folder tree's tables kept in step: the node table, the path index, the child table and
// the writable folders, with the changes and answers the mirror needs.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "drive/node/NodeRecord.h"
#include "drive/replies/NodeText.h"
#include "drive/tree/ChildTable.h"
#include "drive/tree/NodeTable.h"
#include "drive/tree/PathIndex.h"
#include "drive/tree/TreeNode.h"

class PreviousTexts;

class FolderTables {
 public:
  FolderTables() : pathIndex(nodes.store()), children(nodes.store()) {}
  // Moves leave both sides whole: the node table, the path index and the child table swap
  // together.
  FolderTables(FolderTables&& other) noexcept : FolderTables() { *this = std::move(other); }
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
  // from the parent. A record that would put an entry below itself is not taken.
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
    if (std::optional<ChildList> list = children.find(parentId)) list->forEach(visit);
  }

  // Building (of empty tables): `stage` adds an entry without linking it, with the text the
  // tables in use hold for it when `previous` has one; `link` then links, checks and indexes
  // every staged entry and adds the root. It returns the number of entries left out because
  // their parent chain loops.
  void stage(NodeRecord&& record, PreviousTexts* previous = nullptr);
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
  void indexJoining(NodeTable::Place place);
  // After a tree is linked: of each set of siblings whose names upper-case alike (`collided`
  // holds them all, in any order and more than once), the one with the largest id keeps its
  // name and the others are shown with their ids.
  void showApart(std::vector<const TreeNode*>& collided);
  // Gives the indexed entry at `place` its name with its id, unless that would be too long.
  void renameWithId(NodeTable::Place place, std::u16string_view plain);
  void detach(NodeTable::Place place);
  // True when a new entry `id` below `parentId` would be its own ancestor: its parent is
  // itself, or the walk up from its parent ends at an entry waiting for `id` as its parent.
  bool wouldBeOwnAncestor(std::u16string_view id, std::u16string_view parentId) const;
  // Fills the child table of freshly linked entries (the table is empty before).
  void buildChildLists();
};
