// Files created on the drive whose upload has not been closed yet. The service does not list
// them, so every tree read puts them back into the new tree. One table for the whole program (kept
// in StorageProcess). Each entry carries the mark of its upload, through which a name operation
// on the open file reaches the upload.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/node/NodeRecord.h"
#include "platform/sync/Mutex.h"

// What name operations leave for an upload that is still open.
struct UploadMark {
  // The file was removed while open: its upload is dropped at the close, never finished.
  std::atomic<bool> abandoned{false};
  // The upload replaces a file the service holds under the same id.
  bool replacesServiceFile = false;
};

class PendingNodes {
 public:
  // Puts or replaces the node; a node put without a mark keeps the one it had.
  void put(const NodeRecord& node, std::shared_ptr<UploadMark> mark = nullptr);
  void remove(const std::u16string& id);
  bool contains(const std::u16string& id) const;
  // The mark of the upload behind the pending node `id`, or null.
  std::shared_ptr<UploadMark> markOf(const std::u16string& id) const;
  // Takes the node out when it is still the one of the upload with `mark`: its record as the
  // drive shows it last, or nothing.
  std::optional<NodeRecord> take(const std::u16string& id, const UploadMark* mark);
  std::vector<NodeRecord> snapshot() const;

 private:
  struct Entry {
    NodeRecord node;
    std::shared_ptr<UploadMark> mark;
  };
  mutable Mutex lock_;
  std::map<std::u16string, Entry> nodes_ GUARDED_BY(lock_);
};
