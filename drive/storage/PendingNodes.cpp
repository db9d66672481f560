#include "drive/storage/PendingNodes.h"

void PendingNodes::put(const NodeRecord& node) {
  MutexLock guard(lock_);
  nodes_[node.key] = node;
}

void PendingNodes::remove(const std::u16string& id) {
  MutexLock guard(lock_);
  nodes_.erase(id);
}

bool PendingNodes::contains(const std::u16string& id) const {
  MutexLock guard(lock_);
  return nodes_.count(id) != 0;
}

std::vector<NodeRecord> PendingNodes::snapshot() const {
  MutexLock guard(lock_);
  std::vector<NodeRecord> copy;
  copy.reserve(nodes_.size());
  for (const auto& [id, node] : nodes_) copy.push_back(node);
  return copy;
}
