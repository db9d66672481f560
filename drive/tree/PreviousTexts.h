// The tables in use while new ones are built from a fresh folder list. An entry listed again
// with the same id and name takes the text the tables in use hold for it instead of a copy of
// its own, so that a refresh holds the texts of unchanged entries once.
#pragma once

#include <string_view>

#include "drive/tree/FolderTables.h"
#include "platform/sync/Mutex.h"

class PreviousTexts {
 public:
  // `tables` are guarded by `lock`, taken for each entry; they must stay where they are (their
  // content may change) until the new tables have taken their place.
  PreviousTexts(const FolderTables& tables, Mutex& lock) : tables_(&tables), lock_(lock) {}

  // Gives `node`, a new entry of `fresh`, the text of the entry of the same id and name in the
  // tables in use; false, and `node` untouched, when there is none.
  bool lend(NodeTable& fresh, TreeNode& node, std::u16string_view id, std::u16string_view name)
      EXCLUDES(lock_);

 private:
  // The entry `id` of the tables in use, looked for first where the entry after the last one
  // found lies: a list comes in the order of the one before, which is the order of the store.
  const TreeNode* find(std::u16string_view id) REQUIRES(lock_);

  const FolderTables* tables_ PT_GUARDED_BY(lock_);
  Mutex& lock_;
  NodeTable::Place next_ = 0;
};
