#include "drive/tree/TreeChanges.h"

#include <algorithm>
#include <set>

namespace {

bool SameParent(const FolderTables& before, const TreeNode& old, const FolderTables& after,
                const TreeNode& now) {
  if (old.parent() && now.parent()) return old.parent()->id() == now.parent()->id();
  return before.nodes.parentKey(old) == after.nodes.parentKey(now);
}

std::u16string FolderOf(const TreeNode& node) {
  return node.parent() ? FullPathOf(*node.parent()) : u"\\";
}

void AddWithDescendants(const FolderTables& tables, const TreeNode& node,
                        std::vector<std::u16string>& paths) {
  std::vector<const TreeNode*> pending{&node};
  while (!pending.empty()) {
    const TreeNode* at = pending.back();
    pending.pop_back();
    paths.push_back(FullPathOf(*at));
    if (!at->isFolder()) continue;
    tables.forEachChild(at->id(), [&](const TreeNode& child) { pending.push_back(&child); });
  }
}

}  // namespace

TreeChanges CompareTrees(const FolderTables& before, const FolderTables& after) {
  TreeChanges changes;
  CodeUnitLess less;
  // Folders (of `after`; null is the root) that gained an entry. Only a folder the old tables
  // held can have a listing in the kernel's cache, so a new folder filled with new entries
  // (all of them at the first read) costs nothing here.
  std::vector<const TreeNode*> gained;
  auto gain = [&](const TreeNode& node) {
    if (!node.parent() || before.nodes.count(node.parent()->id()) != 0) {
      gained.push_back(node.parent());
    }
  };
  auto old = before.nodes.begin();
  auto now = after.nodes.begin();
  while (old != before.nodes.end() || now != after.nodes.end()) {
    if (now == after.nodes.end() || (old != before.nodes.end() && less(old->first, now->first))) {
      changes.changedBefore.push_back(&old->second);  // removed
      ++old;
      continue;
    }
    if (old == before.nodes.end() || less(now->first, old->first)) {
      gain(now->second);  // added
      ++now;
      continue;
    }
    const TreeNode& a = old->second;
    const TreeNode& b = now->second;
    bool moved = a.name() != b.name() || !SameParent(before, a, after, b);
    if (moved) gain(b);
    if (moved || a.size != b.size || a.time != b.time || a.attributes != b.attributes) {
      changes.changedBefore.push_back(&a);
    }
    ++old;
    ++now;
  }
  std::sort(gained.begin(), gained.end());
  gained.erase(std::unique(gained.begin(), gained.end()), gained.end());
  changes.foldersAfter.reserve(gained.size());
  for (const TreeNode* folder : gained) {
    changes.foldersAfter.push_back(folder ? FullPathOf(*folder) : u"\\");
  }
  return changes;
}

std::vector<std::u16string> ChangedPaths(const FolderTables& before, const TreeChanges& changes) {
  std::vector<std::u16string> paths;
  std::set<std::u16string> folders(changes.foldersAfter.begin(), changes.foldersAfter.end());
  for (const TreeNode* node : changes.changedBefore) {
    folders.insert(FolderOf(*node));
    AddWithDescendants(before, *node, paths);
  }
  paths.insert(paths.end(), folders.begin(), folders.end());
  return paths;
}

std::vector<std::u16string> ChangedFileIds(const TreeChanges& changes) {
  std::vector<std::u16string> ids;
  for (const TreeNode* node : changes.changedBefore) {
    if (!node->isFolder()) ids.push_back(node->id().str());
  }
  return ids;
}
