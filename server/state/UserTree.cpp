#include "server/state/UserTree.h"

#include <fcntl.h>
#include <json/json.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "platform/atomicfile/AtomicFile.h"
#include "server/state/Accounts.h"
#include "server/util/Digest.h"
#include "server/util/SafePath.h"
#include "server/util/StateFile.h"

namespace qserver {
namespace {

std::string ParentOf(const std::string& relative) {
  auto slash = relative.rfind('/');
  return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

std::string BaseName(const std::string& relative) {
  auto slash = relative.rfind('/');
  return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

std::string Child(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

std::string TopOf(const std::string& relative) { return relative.substr(0, relative.find('/')); }

bool Lstat(const std::string& path, struct stat* st) { return ::lstat(path.c_str(), st) == 0; }

}  // namespace

const char* TreeErrorText(TreeError error) {
  switch (error) {
    case TreeError::kNone:
      return "ok";
    case TreeError::kNotFound:
      return "File not found";
    case TreeError::kAccessDenied:
      return "Access denied";
    case TreeError::kName:
      return "Name";
    case TreeError::kExists:
      return "Exists";
  }
  return "File not found";
}

UserTree::UserTree(std::string root, std::string stateFile, std::vector<std::string> writableTop)
    : root_(std::move(root)),
      stateFile_(std::move(stateFile)),
      writableTop_(std::move(writableTop)) {}

void UserTree::load() {
  MutexLock guard(lock_);
  auto text = ReadWholeFile(stateFile_);
  if (!text) return;
  Json::Value state;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(*text);
  if (!Json::parseFromStream(builder, in, &state, &errors) || !state.isObject()) return;
  nextId_ = std::max<long long>(nextId_, state["nextId"].asInt64());
  const Json::Value& ids = state["ids"];
  for (const auto& relative : ids.getMemberNames()) {
    std::string id = ids[relative].asString();
    if (id.empty() || !IsConfinedRelativePath(relative) || relative.empty()) continue;
    pathToId_[relative] = id;
    idToPath_[id] = relative;
  }
  for (const auto& id : state["reserved"]) {
    if (idToPath_.count(id.asString())) reserved_.insert(id.asString());
  }
  for (const auto& id : state["removed"]) removed_.insert(id.asString());
}

void UserTree::saveLocked() {
  if (!dirty_) return;
  Json::Value state;
  state["nextId"] = static_cast<Json::Int64>(nextId_);
  state["ids"] = Json::objectValue;
  for (const auto& [relative, id] : pathToId_) state["ids"][relative] = id;
  state["reserved"] = Json::arrayValue;
  for (const auto& id : reserved_) state["reserved"].append(id);
  state["removed"] = Json::arrayValue;
  for (const auto& id : removed_) state["removed"].append(id);
  Json::StreamWriterBuilder writer;
  writer["emitUTF8"] = true;
  writer["indentation"] = "";
  if (WriteFileAtomically(stateFile_, Json::writeString(writer, state))) dirty_ = false;
}

std::string UserTree::idForLocked(const std::string& relative) {
  return idEntryLocked(relative)->second;
}

UserTree::PathIds::iterator UserTree::idEntryLocked(const std::string& relative) {
  auto found = pathToId_.lower_bound(relative);
  if (found != pathToId_.end() && found->first == relative) return found;
  std::string id = std::to_string(nextId_++);
  idToPath_[id] = relative;
  dirty_ = true;
  return pathToId_.emplace_hint(found, relative, std::move(id));
}

std::optional<std::string> UserTree::pathOfLocked(const std::string& id) const {
  auto found = idToPath_.find(id);
  if (found == idToPath_.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> UserTree::folderPathLocked(const std::string& id) const {
  if (id.empty()) return std::string();  // the user's root
  auto relative = pathOfLocked(id);
  if (!relative || reserved_.count(id)) return std::nullopt;
  struct stat st {};
  if (!HasNoLinks(root_, *relative) || !Lstat(JoinPath(root_, *relative), &st) ||
      !S_ISDIR(st.st_mode)) {
    return std::nullopt;
  }
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
        *next != pathToId_.end() && (*next)->first == relative ? *next : idEntryLocked(relative);
    *next = std::next(known);
    found->push_back(known);
    if (reserved_.erase(known->second)) dirty_ = true;
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
  found.reserve(pathToId_.size());
  std::string relative;
  PathIds::iterator next = pathToId_.begin();
  walkLocked(scan, 0, relative, &listing, &found, &next);
  listing.entries = found.size();
  // Every path is found once at most: when as many were found as the map holds, none is gone.
  if (found.size() != pathToId_.size()) forgetUnseenLocked(found);
  for (const auto& top : writableTop_) {
    auto known = pathToId_.find(top);
    if (known != pathToId_.end()) listing.writableIds.push_back(known->second);
  }
  saveLocked();
  if (head) head(listing);
  if (each) {
    size_t at = 0;
    handOutLocked(scan, 0, {}, found, &at, each);
  }
  return listing;
}

void UserTree::forgetUnseenLocked(const std::vector<PathIds::iterator>& found) {
  std::unordered_set<const std::string*> seen;
  seen.reserve(found.size());
  for (const auto& entry : found) seen.insert(&entry->first);
  for (auto it = pathToId_.begin(); it != pathToId_.end();) {
    if (seen.count(&it->first) || reserved_.count(it->second)) {
      ++it;
      continue;
    }
    idToPath_.erase(it->second);
    it = pathToId_.erase(it);
    dirty_ = true;
  }
}

long long UserTree::usedBytes() { return list().usedBytes; }

std::optional<TreeEntry> UserTree::info(const std::string& id) {
  MutexLock guard(lock_);
  auto relative = pathOfLocked(id);
  if (!relative || reserved_.count(id) || !HasNoLinks(root_, *relative)) return std::nullopt;
  struct stat st {};
  if (!Lstat(JoinPath(root_, *relative), &st)) return std::nullopt;
  bool folder = S_ISDIR(st.st_mode);
  if (!folder && !S_ISREG(st.st_mode)) return std::nullopt;
  TreeEntry entry;
  entry.id = id;
  entry.name = BaseName(*relative);
  std::string parent = ParentOf(*relative);
  entry.parentId = parent.empty() ? std::string() : idForLocked(parent);
  entry.folder = folder;
  entry.size = folder ? 0 : static_cast<long long>(st.st_size);
  entry.mtime = static_cast<long long>(st.st_mtime);
  saveLocked();
  return entry;
}

TreeError UserTree::removeFile(const std::string& id) {
  MutexLock guard(lock_);
  if (removed_.count(id)) return TreeError::kNone;
  auto relative = pathOfLocked(id);
  if (!relative || reserved_.count(id) || !HasNoLinks(root_, *relative)) {
    return TreeError::kNotFound;
  }
  struct stat st {};
  std::string path = JoinPath(root_, *relative);
  if (!Lstat(path, &st) || !S_ISREG(st.st_mode)) return TreeError::kNotFound;
  if (::unlink(path.c_str()) != 0) return TreeError::kAccessDenied;
  atomicfile::SyncFolderOf(path);
  forgetTreeLocked(*relative, false);
  saveLocked();
  return TreeError::kNone;
}

TreeError UserTree::removeFolder(const std::string& id) {
  MutexLock guard(lock_);
  if (removed_.count(id)) return TreeError::kNone;
  auto relative = folderPathLocked(id);
  if (!relative || relative->empty()) return TreeError::kNotFound;
  if (isProtectedLocked(*relative)) return TreeError::kAccessDenied;
  std::error_code error;
  std::filesystem::remove_all(JoinPath(root_, *relative), error);  // does not follow links
  if (error) return TreeError::kAccessDenied;
  atomicfile::SyncFolderOf(JoinPath(root_, *relative));
  forgetTreeLocked(*relative, true);
  saveLocked();
  return TreeError::kNone;
}

void UserTree::forgetTreeLocked(const std::string& relative, bool remember) {
  std::string prefix = relative + "/";
  for (auto it = pathToId_.begin(); it != pathToId_.end();) {
    if (it->first != relative && it->first.compare(0, prefix.size(), prefix) != 0) {
      ++it;
      continue;
    }
    if (remember) removed_.insert(it->second);
    reserved_.erase(it->second);
    idToPath_.erase(it->second);
    it = pathToId_.erase(it);
  }
  dirty_ = true;
}

void UserTree::repathLocked(const std::string& from, const std::string& to) {
  std::string prefix = from + "/";
  std::vector<std::pair<std::string, std::string>> moved;
  for (auto it = pathToId_.begin(); it != pathToId_.end();) {
    if (it->first != from && it->first.compare(0, prefix.size(), prefix) != 0) {
      ++it;
      continue;
    }
    moved.emplace_back(to + it->first.substr(from.size()), it->second);
    it = pathToId_.erase(it);
  }
  for (const auto& [relative, id] : moved) {
    // An id recorded for the destination (a reservation) gives way to the moved entry.
    auto old = pathToId_.find(relative);
    if (old != pathToId_.end()) {
      idToPath_.erase(old->second);
      reserved_.erase(old->second);
    }
    pathToId_[relative] = id;
    idToPath_[id] = relative;
  }
  dirty_ = true;
}

TreeError UserTree::rename(const std::string& id, const std::string& newName) {
  if (!IsAcceptableName(newName)) return TreeError::kName;
  MutexLock guard(lock_);
  auto relative = pathOfLocked(id);
  if (!relative || reserved_.count(id) || !HasNoLinks(root_, *relative)) {
    return TreeError::kNotFound;
  }
  struct stat st {};
  if (!Lstat(JoinPath(root_, *relative), &st)) return TreeError::kNotFound;
  if (isProtectedLocked(*relative)) return TreeError::kAccessDenied;
  std::string target = Child(ParentOf(*relative), newName);
  if (target == *relative) return TreeError::kNone;
  if (::renameat2(AT_FDCWD, JoinPath(root_, *relative).c_str(), AT_FDCWD,
                  JoinPath(root_, target).c_str(), RENAME_NOREPLACE) != 0) {
    return errno == EEXIST ? TreeError::kExists : TreeError::kAccessDenied;
  }
  atomicfile::SyncFolderOf(JoinPath(root_, target));
  repathLocked(*relative, target);
  saveLocked();
  return TreeError::kNone;
}

TreeError UserTree::move(const std::string& id, const std::string& newParentId) {
  MutexLock guard(lock_);
  auto relative = pathOfLocked(id);
  if (!relative || reserved_.count(id) || !HasNoLinks(root_, *relative)) {
    return TreeError::kNotFound;
  }
  struct stat st {};
  if (!Lstat(JoinPath(root_, *relative), &st)) return TreeError::kNotFound;
  auto folder = folderPathLocked(newParentId);
  if (!folder) return TreeError::kNotFound;
  if (isProtectedLocked(*relative)) return TreeError::kAccessDenied;
  // A folder cannot go below itself.
  if (*folder == *relative || folder->compare(0, relative->size() + 1, *relative + "/") == 0) {
    return TreeError::kAccessDenied;
  }
  std::string target = Child(*folder, BaseName(*relative));
  if (target == *relative) return TreeError::kNone;
  if (::renameat2(AT_FDCWD, JoinPath(root_, *relative).c_str(), AT_FDCWD,
                  JoinPath(root_, target).c_str(), RENAME_NOREPLACE) != 0) {
    return errno == EEXIST ? TreeError::kExists : TreeError::kAccessDenied;
  }
  atomicfile::SyncFolderOf(JoinPath(root_, *relative));
  atomicfile::SyncFolderOf(JoinPath(root_, target));
  repathLocked(*relative, target);
  saveLocked();
  return TreeError::kNone;
}

TreeError UserTree::makeFolder(const std::string& parentId, const std::string& name,
                               std::string* newId) {
  MutexLock guard(lock_);
  auto folder = folderPathLocked(parentId);
  if (!folder) return TreeError::kNotFound;
  if (!IsAcceptableName(name)) return TreeError::kName;
  std::string target = Child(*folder, name);
  if (::mkdir(JoinPath(root_, target).c_str(), 0755) != 0) {
    return errno == EEXIST ? TreeError::kExists : TreeError::kAccessDenied;
  }
  atomicfile::SyncFolderOf(JoinPath(root_, target));
  auto stale = pathToId_.find(target);  // a reservation for a file of that name gives way
  if (stale != pathToId_.end() && reserved_.count(stale->second)) {
    reserved_.erase(stale->second);
    idToPath_.erase(stale->second);
    pathToId_.erase(stale);
  }
  *newId = idForLocked(target);
  saveLocked();
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
  struct stat st {};
  bool exists = Lstat(JoinPath(root_, target), &st);
  if (exists && !S_ISREG(st.st_mode)) {
    result.error = TreeError::kExists;
    return result;
  }
  result.id = idForLocked(target);
  if (!exists && reserved_.insert(result.id).second) dirty_ = true;
  result.size = exists ? static_cast<long long>(st.st_size) : 0;
  saveLocked();
  return result;
}

std::optional<std::string> UserTree::readablePath(const std::string& id) {
  MutexLock guard(lock_);
  auto relative = pathOfLocked(id);
  if (!relative || reserved_.count(id) || !HasNoLinks(root_, *relative)) return std::nullopt;
  struct stat st {};
  std::string path = JoinPath(root_, *relative);
  if (!Lstat(path, &st) || !S_ISREG(st.st_mode)) return std::nullopt;
  return path;
}

bool UserTree::isUploadTarget(const std::string& id) {
  MutexLock guard(lock_);
  auto relative = pathOfLocked(id);
  if (!relative || !isWritableLocked(*relative) || !HasNoLinks(root_, *relative)) return false;
  struct stat st {};
  return !Lstat(JoinPath(root_, *relative), &st) || S_ISREG(st.st_mode);
}

long long UserTree::commitUpload(const std::string& id, const std::string& tempPath) {
  MutexLock guard(lock_);
  auto relative = pathOfLocked(id);
  if (!relative || !isWritableLocked(*relative) || !HasNoLinks(root_, *relative)) return -1;
  std::string target = JoinPath(root_, *relative);
  struct stat st {};
  if (Lstat(target, &st) && !S_ISREG(st.st_mode)) return -1;
  if (!Lstat(JoinPath(root_, ParentOf(*relative)), &st) || !S_ISDIR(st.st_mode)) return -1;
  if (::rename(tempPath.c_str(), target.c_str()) != 0) return -1;
  atomicfile::SyncFolderOf(target);
  if (reserved_.erase(id)) dirty_ = true;
  saveLocked();
  if (!Lstat(target, &st)) return -1;
  return static_cast<long long>(st.st_size);
}

std::string UserTree::contentKey(const std::string& id) {
  auto path = readablePath(id);
  struct stat st {};
  if (!path || !Lstat(*path, &st)) return Md5Hex(id);
  std::ostringstream text;
  text << id << ':' << st.st_size << ':' << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec << ':'
       << st.st_ino;
  return Md5Hex(text.str());
}

}  // namespace qserver
