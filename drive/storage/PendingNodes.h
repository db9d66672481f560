// Files created on the drive whose upload has not been closed yet. The service does not list
// them, so every tree read puts them back into the new tree. One table for the whole program (kept
// in StorageProcess).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "drive/node/NodeRecord.h"
#include "platform/sync/Mutex.h"

class PendingNodes {
 public:
  void put(const NodeRecord& node);
  void remove(const std::u16string& id);
  bool contains(const std::u16string& id) const;
  std::vector<NodeRecord> snapshot() const;

 private:
  mutable Mutex lock_;
  std::map<std::u16string, NodeRecord> nodes_ GUARDED_BY(lock_);
};
