// One user's tree: the files and folders under DIR/<user>, their persistent ids, and the
// name actions on them. The ids (IdRegistry) and the disk (DiskActions) are kept in step here,
// under one lock.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sync/Mutex.h"
#include "server/state/DiskActions.h"
#include "server/state/DiskScan.h"
#include "server/state/IdRegistry.h"
#include "server/state/TreeError.h"

namespace qserver {

struct TreeEntry {
  std::string id;
  std::string name;      // name on disk
  std::string parentId;  // empty at top level
  bool folder = false;
  long long size = 0;
  long long mtime = 0;  // seconds since 1970
};

// An entry of a listing as it is handed over; the texts stay valid during the call only.
struct ListedEntry {
  std::string_view id;
  std::string_view name;      // name on disk
  std::string_view parentId;  // empty at top level
  bool folder = false;
  long long size = 0;
  long long mtime = 0;  // seconds since 1970
};

struct TreeListing {
  size_t entries = 0;
  std::vector<std::string> writableIds;
  long long usedBytes = 0;
};

struct WriteTarget {
  TreeError error = TreeError::kNone;
  std::string id;
  long long size = 0;
};

class UserTree {
 public:
  UserTree(std::string root, std::string stateFile, std::vector<std::string> writableTop);

  void load();

  // Walks the folder, gives new entries ids and forgets entries that are gone. Then, under the
  // tree's lock, hands `head` the totals and `each` every entry, parents before their
  // children, so that a caller writes the listing out without a copy of it.
  TreeListing list(const std::function<void(const TreeListing&)>& head = {},
                   const std::function<void(const ListedEntry&)>& each = {});
  long long usedBytes();

  std::optional<TreeEntry> info(const std::string& id);
  TreeError removeFile(const std::string& id);
  TreeError removeFolder(const std::string& id);
  TreeError rename(const std::string& id, const std::string& newName);
  TreeError move(const std::string& id, const std::string& newParentId);
  TreeError makeFolder(const std::string& parentId, const std::string& name, std::string* newId);

  // The id (reserved when new) and current size of `name` in a writable folder.
  WriteTarget prepareWrite(const std::string& parentId, const std::string& name);

  // Absolute path of a regular file that may be read, or nullopt.
  std::optional<std::string> readablePath(const std::string& id);

  // True when `id` names an existing or reserved file inside a writable folder.
  bool isUploadTarget(const std::string& id);

  // Moves the finished upload `tempPath` into the place of file `id`; returns its size or -1.
  long long commitUpload(const std::string& id, const std::string& tempPath);

  // A key of the file's current content: changes whenever the file is replaced or modified.
  std::string contentKey(const std::string& id);

  const std::string& root() const { return root_; }

 private:
  using PathIds = IdRegistry::PathIds;

  // Gives the entries of the scanned `folder` (at path `relative`) and everything below it
  // their ids, in listing order, into `found`. `next` is the map entry after the last one the
  // walk found.
  void walkLocked(const ScannedTree& scan, size_t folder, std::string& relative,
                  TreeListing* listing, std::vector<PathIds::iterator>* found,
                  PathIds::iterator* next) REQUIRES(lock_);
  // Hands the entries of the scanned `folder` and everything below it to `each`; `at` counts
  // through the ids the walk found.
  void handOutLocked(const ScannedTree& scan, size_t folder, std::string_view parentId,
                     const std::vector<PathIds::iterator>& found, size_t* at,
                     const std::function<void(const ListedEntry&)>& each) REQUIRES(lock_);
  // The path of a listed (not only reserved) entry that is reached without links.
  std::optional<std::string> entryPathLocked(const std::string& id) const REQUIRES(lock_);
  std::optional<std::string> folderPathLocked(const std::string& id) const REQUIRES(lock_);
  bool isProtectedLocked(const std::string& relative) const REQUIRES(lock_);
  bool isWritableLocked(const std::string& relative) const REQUIRES(lock_);
  // Gives the ids of `from` to `to` after the disk moved it.
  TreeError placeLocked(const std::string& from, const std::string& to) REQUIRES(lock_);

  std::string root_;
  std::vector<std::string> writableTop_;

  Mutex lock_;
  IdRegistry ids_ GUARDED_BY(lock_);
  DiskActions disk_ GUARDED_BY(lock_);
};

}  // namespace qserver
