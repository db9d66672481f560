// Name operations: delete, rmdir, rename, move and mkdir. Each sends one request on the
// mirror's client; only an "ok" changes the tables, and every change ends with ".filelist"
// written again.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "drive/core/IOMirror.h"
#include "drive/replies/WebRequest.h"
#include "drive/storage/MirrorTreeStore.h"
#include "drive/storage/MirrorWebSession.h"

struct DriveProcess;

class MirrorNames {
 public:
  MirrorNames(DriveProcess& drive, MirrorTreeStore& tree, MirrorWebSession& web);
  MirrorNames(const MirrorNames&) = delete;
  MirrorNames& operator=(const MirrorNames&) = delete;

  int createDirectory(LPCWSTR fileName) EXCLUDES(tree_.lock(), web_.lock());
  int deleteFile(LPCWSTR fileName) EXCLUDES(tree_.lock(), web_.lock());
  int deleteDirectory(LPCWSTR fileName) EXCLUDES(tree_.lock(), web_.lock());
  int moveFile(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting)
      EXCLUDES(tree_.lock(), web_.lock());

 private:
  // One name request on the mirror's client: 0 on "ok" (the reply in `replyText`), else -1
  // after the action's log line.
  int nameRequest(std::u16string_view action, const std::vector<WebParam>& params,
                  std::u16string* replyText = nullptr) EXCLUDES(web_.lock());
  // delete and rmdir with the tree lock already held (inside rmdir); ".filelist" is left to
  // the caller.
  int deleteLocked(const std::u16string& id) REQUIRES(tree_.lock());
  int removeFolderLocked(const std::u16string& id) REQUIRES(tree_.lock());
  void dropFolder(const std::u16string& id) REQUIRES(tree_.lock());
  // Gives the node its place (parent, name); the paths below it follow from the parent links,
  // the writable flags below it are worked out again.
  void placeNode(const std::u16string& id, const std::u16string& parentId,
                 const std::u16string& name) REQUIRES(tree_.lock());
  void markWritableBelow(const std::u16string& folderId, bool writable) REQUIRES(tree_.lock());
  // The download space and the writable folders may not be removed, renamed, moved or replaced.
  bool isProtected(const std::u16string& id) const REQUIRES(tree_.lock());
  int renameNode(const NodeRecord& node, const std::u16string& name);
  int moveNode(const NodeRecord& node, const std::u16string& folder, const std::u16string& name);

  DriveProcess& drive_;
  MirrorTreeStore& tree_;
  MirrorWebSession& web_;
};
