// The actions on one user's folder on disk, by paths relative to it. Nothing is reached
// through a symbolic link, and each change syncs the folders it touches, so that a change the
// server acknowledged survives a crash.
#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

#include "server/state/TreeError.h"

namespace qserver {

class DiskActions {
 public:
  explicit DiskActions(std::string root) : root_(std::move(root)) {}

  const std::string& root() const { return root_; }
  std::string absolute(const std::string& relative) const;

  // The entry's status, links not followed; nullopt when nothing is there.
  std::optional<struct stat> status(const std::string& relative) const;
  // The same, and nullopt also when the path passes through a link.
  std::optional<struct stat> linkFreeStatus(const std::string& relative) const;
  bool isLinkFree(const std::string& relative) const;
  bool isFolder(const std::string& relative) const;

  // kNotFound unless a regular file is there; kAccessDenied when it cannot be removed.
  TreeError removeFile(const std::string& relative);
  // Removes the folder with everything in it; kAccessDenied when that fails.
  TreeError removeFolder(const std::string& relative);
  // Renames or moves `from` to `to`, which must not exist (kExists).
  TreeError place(const std::string& from, const std::string& to);
  TreeError makeFolder(const std::string& relative);
  // Puts the finished upload `tempPath` in the place of the file `relative`, whose folder must
  // exist; false when something else is there or the rename fails.
  bool replaceWithUpload(const std::string& relative, const std::string& tempPath);

 private:
  std::string root_;
};

// A key of the content of the file at `absolutePath`: changes whenever the file is replaced
// or modified. Without a file, a key of the id alone.
std::string ContentKey(const std::string& id, const std::optional<std::string>& absolutePath);

}  // namespace qserver
