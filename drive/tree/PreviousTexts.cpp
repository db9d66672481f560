#include "drive/tree/PreviousTexts.h"

bool PreviousTexts::lend(NodeTable& fresh, TreeNode& node, std::u16string_view id,
                         std::u16string_view name) {
  MutexLock guard(lock_);
  const TreeNode* known = find(id);
  if (!known || !(known->name() == name)) return false;
  fresh.borrowText(node, tables_->nodes, *known);
  return true;
}

const TreeNode* PreviousTexts::find(std::u16string_view id) {
  const NodeTable& nodes = tables_->nodes;
  const std::deque<TreeNode>& store = nodes.store();
  NodeTable::Place place = next_;
  if (place >= store.size() || !(store[place].id() == id)) {
    if (!nodes.findPlace(id, place)) return nullptr;
  }
  next_ = place + 1;
  return &store[place];
}
