#include "drive/storage/PendingNodes.h"

void PendingNodes::put(const NodeRecord& node, std::shared_ptr<UploadMark> mark) {
  MutexLock guard(lock_);
  Entry& entry = nodes_[node.key];
  entry.node = node;
  if (mark) entry.mark = std::move(mark);
}

void PendingNodes::remove(const std::u16string& id) {
  MutexLock guard(lock_);
  nodes_.erase(id);
}

bool PendingNodes::contains(const std::u16string& id) const {
  MutexLock guard(lock_);
  return nodes_.count(id) != 0;
}

std::shared_ptr<UploadMark> PendingNodes::markOf(const std::u16string& id) const {
  MutexLock guard(lock_);
  auto found = nodes_.find(id);
  return found != nodes_.end() ? found->second.mark : nullptr;
}

std::optional<NodeRecord> PendingNodes::take(const std::u16string& id, const UploadMark* mark) {
  MutexLock guard(lock_);
  auto found = nodes_.find(id);
  if (found == nodes_.end() || found->second.mark.get() != mark) return std::nullopt;
  NodeRecord node = std::move(found->second.node);
  nodes_.erase(found);
  return node;
}

std::vector<NodeRecord> PendingNodes::snapshot() const {
  MutexLock guard(lock_);
  std::vector<NodeRecord> copy;
  copy.reserve(nodes_.size());
  for (const auto& [id, entry] : nodes_) copy.push_back(entry.node);
  return copy;
}
