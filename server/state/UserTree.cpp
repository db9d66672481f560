#include "server/state/UserTree.h"

#include <sys/stat.h>

#include <algorithm>

#include "server/state/Accounts.h"
#include "server/state/RelativePath.h"
#include "server/util/SafePath.h"

namespace qserver {

UserTree::UserTree(std::string root, std::string stateFile, std::vector<std::string> writableTop)
    : root_(root),
      writableTop_(std::move(writableTop)),
      ids_(std::move(stateFile)),
      disk_(std::move(root)) {}

void UserTree::load() {
  MutexLock guard(lock_);
  ids_.load();
}

std::optional<std::string> UserTree::entryPathLocked(const std::string& id) const {
  auto relative = ids_.pathOf(id);
  if (!relative || ids_.isReserved(id) || !disk_.isLinkFree(*relative)) return std::nullopt;
  return relative;
}

std::optional<std::string> UserTree::folderPathLocked(const std::string& id) const {
  if (id.empty()) return std::string();  // the user's root
  auto relative = ids_.pathOf(id);
  if (!relative || ids_.isReserved(id) || !disk_.isFolder(*relative)) return std::nullopt;
  return relative;
}

bool UserTree::isProtectedLocked(const std::string& relative) const {
  if (relative.find('/') != std::string::npos) return false;
  return relative == kDownloadSpace ||
         std::find(writableTop_.begin(), writableTop_.end(), relative) != writableTop_.end();
}

bool UserTree::isWritableLocked(const std::string& relative) const {
  if (relative.empty()) return false;
  std::string top = TopOf(relative);
  return std::find(writableTop_.begin(), writableTop_.end(), top) != writableTop_.end();
}

void UserTree::walkLocked(const ScannedTree& scan, size_t folder, std::string& relative,
                          TreeListing* listing, std::vector<PathIds::iterator>* found,
                          PathIds::iterator* next) {
  // `relative` is the folder's path on entry and on return; each entry's path is built in it.
  size_t base = relative.size();
  for (const ScannedEntry& item : scan.folders[folder]) {
    relative.resize(base);
    if (base > 0) relative += '/';
    relative += item.name;
    // The walk mostly meets the paths in the map's own order: the one after the last path
    // found is tried before the map is searched.
    auto known =
        *next != ids_.end() && (*next)->first == relative ? *next : ids_.entryFor(relative);
    *next = std::next(known);
    found->push_back(known);
    ids_.unreserve(known->second);
    if (!item.folder) listing->usedBytes += item.size;
    if (item.folder) walkLocked(scan, item.contents, relative, listing, found, next);
  }
  relative.resize(base);
}

void UserTree::handOutLocked(const ScannedTree& scan, size_t folder, std::string_view parentId,
                             const std::vector<PathIds::iterator>& found, size_t* at,
                             const std::function<void(const ListedEntry&)>& each) {
  for (const ScannedEntry& item : scan.folders[folder]) {
    ListedEntry entry;
    entry.id = found[(*at)++]->second;
    entry.name = item.name;
    entry.parentId = parentId;
    entry.folder = item.folder;
    entry.size = item.size;
    entry.mtime = item.mtime;
    each(entry);
    if (item.folder) handOutLocked(scan, item.contents, entry.id, found, at, each);
  }
}

TreeListing UserTree::list(const std::function<void(const TreeListing&)>& head,
                           const std::function<void(const ListedEntry&)>& each) {
  MutexLock guard(lock_);
  TreeListing listing;
  // The disk is read at every listing, so that every change made on it shows.
  ScannedTree scan = ScanTree(root_, ScanThreads());
  // Map entries stay in place while the map grows, and the walk erases none.
  std::vector<PathIds::iterator> found;
  found.reserve(ids_.size());
  std::string relative;
  PathIds::iterator next = ids_.begin();
  walkLocked(scan, 0, relative, &listing, &found, &next);
  listing.entries = found.size();
  // Every path is found once at most: when as many were found as the map holds, none is gone.
  if (found.size() != ids_.size()) ids_.forgetUnseen(found);
  for (const auto& top : writableTop_) {
    if (auto id = ids_.knownId(top)) listing.writableIds.push_back(*id);
  }
  ids_.save();
  if (head) head(listing);
  if (each) {
    size_t at = 0;
    handOutLocked(scan, 0, {}, found, &at, each);
  }
  return listing;
}

long long UserTree::usedBytes() { return list().usedBytes; }

std::optional<TreeEntry> UserTree::info(const std::string& id) {
  MutexLock guard(lock_);
  auto relative = entryPathLocked(id);
  if (!relative) return std::nullopt;
  auto st = disk_.status(*relative);
  if (!st) return std::nullopt;
  bool folder = S_ISDIR(st->st_mode);
  if (!folder && !S_ISREG(st->st_mode)) return std::nullopt;
  TreeEntry entry;
  entry.id = id;
  entry.name = BaseName(*relative);
  std::string parent = ParentOf(*relative);
  entry.parentId = parent.empty() ? std::string() : ids_.idFor(parent);
  entry.folder = folder;
  entry.size = folder ? 0 : static_cast<long long>(st->st_size);
  entry.mtime = static_cast<long long>(st->st_mtime);
  ids_.save();
  return entry;
}

TreeError UserTree::removeFile(const std::string& id) {
  MutexLock guard(lock_);
  if (ids_.wasRemoved(id)) return TreeError::kNone;
  auto relative = entryPathLocked(id);
  if (!relative) return TreeError::kNotFound;
  TreeError error = disk_.removeFile(*relative);
  if (error != TreeError::kNone) return error;
  ids_.forgetTree(*relative, false);
  ids_.save();
  return TreeError::kNone;
}

TreeError UserTree::removeFolder(const std::string& id) {
  MutexLock guard(lock_);
  if (ids_.wasRemoved(id)) return TreeError::kNone;
  auto relative = folderPathLocked(id);
  if (!relative || relative->empty()) return TreeError::kNotFound;
  if (isProtectedLocked(*relative)) return TreeError::kAccessDenied;
  TreeError error = disk_.removeFolder(*relative);
  if (error != TreeError::kNone) return error;
  ids_.forgetTree(*relative, true);
  ids_.save();
  return TreeError::kNone;
}

TreeError UserTree::placeLocked(const std::string& from, const std::string& to) {
  if (to == from) return TreeError::kNone;
  TreeError error = disk_.place(from, to);
  if (error != TreeError::kNone) return error;
  ids_.repath(from, to);
  ids_.save();
  return TreeError::kNone;
}

TreeError UserTree::rename(const std::string& id, const std::string& newName) {
  if (!IsAcceptableName(newName)) return TreeError::kName;
  MutexLock guard(lock_);
  auto relative = entryPathLocked(id);
  if (!relative || !disk_.status(*relative)) return TreeError::kNotFound;
  if (isProtectedLocked(*relative)) return TreeError::kAccessDenied;
  return placeLocked(*relative, Child(ParentOf(*relative), newName));
}

TreeError UserTree::move(const std::string& id, const std::string& newParentId) {
  MutexLock guard(lock_);
  auto relative = entryPathLocked(id);
  if (!relative || !disk_.status(*relative)) return TreeError::kNotFound;
  auto folder = folderPathLocked(newParentId);
  if (!folder) return TreeError::kNotFound;
  if (isProtectedLocked(*relative)) return TreeError::kAccessDenied;
  // A folder cannot go below itself.
  if (*folder == *relative || folder->compare(0, relative->size() + 1, *relative + "/") == 0) {
    return TreeError::kAccessDenied;
  }
  return placeLocked(*relative, Child(*folder, BaseName(*relative)));
}

TreeError UserTree::makeFolder(const std::string& parentId, const std::string& name,
                               std::string* newId) {
  MutexLock guard(lock_);
  auto folder = folderPathLocked(parentId);
  if (!folder) return TreeError::kNotFound;
  if (!IsAcceptableName(name)) return TreeError::kName;
  std::string target = Child(*folder, name);
  TreeError error = disk_.makeFolder(target);
  if (error != TreeError::kNone) return error;
  ids_.dropReservedPath(target);  // a reservation for a file of that name gives way
  *newId = ids_.idFor(target);
  ids_.save();
  return TreeError::kNone;
}

WriteTarget UserTree::prepareWrite(const std::string& parentId, const std::string& name) {
  WriteTarget result;
  MutexLock guard(lock_);
  auto folder = folderPathLocked(parentId);
  if (!folder) {
    result.error = TreeError::kNotFound;
    return result;
  }
  if (!isWritableLocked(*folder)) {
    result.error = TreeError::kAccessDenied;
    return result;
  }
  if (!IsAcceptableName(name)) {
    result.error = TreeError::kName;
    return result;
  }
  std::string target = Child(*folder, name);
  auto st = disk_.status(target);
  if (st && !S_ISREG(st->st_mode)) {
    result.error = TreeError::kExists;
    return result;
  }
  result.id = ids_.idFor(target);
  if (!st) ids_.reserve(result.id);
  result.size = st ? static_cast<long long>(st->st_size) : 0;
  ids_.save();
  return result;
}

std::optional<std::string> UserTree::readablePath(const std::string& id) {
  MutexLock guard(lock_);
  auto relative = entryPathLocked(id);
  if (!relative) return std::nullopt;
  auto st = disk_.status(*relative);
  if (!st || !S_ISREG(st->st_mode)) return std::nullopt;
  return disk_.absolute(*relative);
}

bool UserTree::isUploadTarget(const std::string& id) {
  MutexLock guard(lock_);
  auto relative = ids_.pathOf(id);
  if (!relative || !isWritableLocked(*relative) || !disk_.isLinkFree(*relative)) return false;
  auto st = disk_.status(*relative);
  return !st || S_ISREG(st->st_mode);
}

long long UserTree::commitUpload(const std::string& id, const std::string& tempPath) {
  MutexLock guard(lock_);
  auto relative = ids_.pathOf(id);
  if (!relative || !isWritableLocked(*relative) || !disk_.isLinkFree(*relative)) return -1;
  if (!disk_.replaceWithUpload(*relative, tempPath)) return -1;
  ids_.unreserve(id);
  ids_.save();
  auto st = disk_.status(*relative);
  if (!st) return -1;
  return static_cast<long long>(st->st_size);
}

std::string UserTree::contentKey(const std::string& id) { return ContentKey(id, readablePath(id)); }

}  // namespace qserver
