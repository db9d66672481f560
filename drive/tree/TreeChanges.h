// What a tree refresh changed, as the paths whose cached names and attributes the kernel must
// drop: entries removed, renamed or moved (their old paths, with everything below them),
// entries whose size, time or attributes changed, and the folders whose children changed.
#pragma once

#include <string>
#include <vector>

#include "drive/tree/FolderTree.h"

struct TreeChanges {
  std::vector<const TreeNode*> changedBefore;  // entries of the old tables
  std::vector<std::u16string> foldersAfter;    // paths in the new tables
};

// Compares the two tables entry by entry in id order. Reads both; `after` is usually the
// guarded one, so this runs under the tree lock, and takes one pass over both tables.
TreeChanges CompareTrees(const FolderTables& before, const FolderTables& after);

// The drive paths to tell the kernel about: those of `changes`, the old ones worked out from
// `before` (which must still hold the nodes of changes.changedBefore).
std::vector<std::u16string> ChangedPaths(const FolderTables& before, const TreeChanges& changes);

// The ids of the files among changes.changedBefore: their content may have changed or gone.
std::vector<std::u16string> ChangedFileIds(const TreeChanges& changes);
