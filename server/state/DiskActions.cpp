#include "server/state/DiskActions.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "platform/atomicfile/AtomicFile.h"
#include "server/state/RelativePath.h"
#include "server/util/Digest.h"
#include "server/util/SafePath.h"

namespace qserver {
namespace {

std::optional<struct stat> StatusAt(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

TreeError ExistsOrDenied() {
  return errno == EEXIST ? TreeError::kExists : TreeError::kAccessDenied;
}

}  // namespace

std::string DiskActions::absolute(const std::string& relative) const {
  return JoinPath(root_, relative);
}

std::optional<struct stat> DiskActions::status(const std::string& relative) const {
  return StatusAt(absolute(relative));
}

std::optional<struct stat> DiskActions::linkFreeStatus(const std::string& relative) const {
  if (!isLinkFree(relative)) return std::nullopt;
  return status(relative);
}

bool DiskActions::isLinkFree(const std::string& relative) const {
  return HasNoLinks(root_, relative);
}

bool DiskActions::isFolder(const std::string& relative) const {
  auto st = linkFreeStatus(relative);
  return st && S_ISDIR(st->st_mode);
}

TreeError DiskActions::removeFile(const std::string& relative) {
  auto st = linkFreeStatus(relative);
  if (!st || !S_ISREG(st->st_mode)) return TreeError::kNotFound;
  std::string path = absolute(relative);
  if (::unlink(path.c_str()) != 0) return TreeError::kAccessDenied;
  atomicfile::SyncFolderOf(path);
  return TreeError::kNone;
}

TreeError DiskActions::removeFolder(const std::string& relative) {
  std::error_code error;
  std::filesystem::remove_all(absolute(relative), error);  // does not follow links
  if (error) return TreeError::kAccessDenied;
  atomicfile::SyncFolderOf(absolute(relative));
  return TreeError::kNone;
}

TreeError DiskActions::place(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, absolute(from).c_str(), AT_FDCWD, absolute(to).c_str(),
                  RENAME_NOREPLACE) != 0) {
    return ExistsOrDenied();
  }
  // A move changes two folders, a rename one.
  if (ParentOf(from) != ParentOf(to)) atomicfile::SyncFolderOf(absolute(from));
  atomicfile::SyncFolderOf(absolute(to));
  return TreeError::kNone;
}

TreeError DiskActions::makeFolder(const std::string& relative) {
  if (::mkdir(absolute(relative).c_str(), 0755) != 0) return ExistsOrDenied();
  atomicfile::SyncFolderOf(absolute(relative));
  return TreeError::kNone;
}

bool DiskActions::replaceWithUpload(const std::string& relative, const std::string& tempPath) {
  std::string target = absolute(relative);
  auto existing = StatusAt(target);
  if (existing && !S_ISREG(existing->st_mode)) return false;
  auto folder = status(ParentOf(relative));
  if (!folder || !S_ISDIR(folder->st_mode)) return false;
  if (::rename(tempPath.c_str(), target.c_str()) != 0) return false;
  atomicfile::SyncFolderOf(target);
  return true;
}

std::string ContentKey(const std::string& id, const std::optional<std::string>& absolutePath) {
  auto st = absolutePath ? StatusAt(*absolutePath) : std::nullopt;
  if (!st) return Md5Hex(id);
  std::ostringstream text;
  text << id << ':' << st->st_size << ':' << st->st_mtim.tv_sec << '.' << st->st_mtim.tv_nsec << ':'
       << st->st_ino;
  return Md5Hex(text.str());
}

}  // namespace qserver
