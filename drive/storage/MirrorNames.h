// Name operations: delete, rmdir, rename, move and mkdir. Each sends one request on the
// mirror's client; only an "ok" changes the tables, and every change ends with ".filelist"
// written again.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drive/core/IOMirror.h"
#include "drive/replies/WebRequest.h"
#include "drive/storage/MirrorTreeStore.h"
#include "drive/storage/MirrorWebSession.h"
#include "drive/storage/NameRequests.h"

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
  // Puts the file `node` at `name` in `folder`, replacing the file `replaced` there: the
  // tables change at once, then the service is asked, and what it refused is shown again as
  // it was. A file whose upload is still open gets its place on the service at the close.
  int placeFile(const NodeRecord& node, const std::optional<NodeRecord>& replaced,
                const std::u16string& folder, const std::u16string& name)
      EXCLUDES(tree_.lock(), web_.lock());
  // Shows the node at `place` (".filelist" is left to the caller).
  void showAt(const std::u16string& id, const ServicePlace& place) REQUIRES(tree_.lock());

  DriveProcess& drive_;
  MirrorTreeStore& tree_;
  MirrorWebSession& web_;
  NameRequests requests_;
};
