#include "drive/storage/MirrorNames.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>

#include "drive/core/DriveProcess.h"
#include "drive/replies/ReplyText.h"
#include "drive/replies/TextDigest.h"
#include "drive/storage/PendingNodes.h"
#include "drive/tree/DrivePaths.h"

namespace {

constexpr uint32_t kFolderAttributes = 0x11;

std::u16string Trimmed(std::u16string_view text) {
  auto blank = [](char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::u16string(text);
}

// True when `path` is `folder` itself or lies below it.
bool InsideOf(std::u16string_view path, std::u16string_view folder) {
  std::u16string upperPath = UpperCasePath(path) + u"\\";
  std::u16string upperFolder = UpperCasePath(folder) + u"\\";
  return upperPath.compare(0, upperFolder.size(), upperFolder) == 0;
}

}  // namespace

MirrorNames::MirrorNames(DriveProcess& drive, MirrorTreeStore& tree, MirrorWebSession& web)
    : drive_(drive), tree_(tree), web_(web), requests_(drive, web) {}

bool MirrorNames::isProtected(const std::u16string& id) const {
  if (id.empty()) return true;  // the root
  if (!tree_.downloadFolderId().empty() && id == tree_.downloadFolderId()) return true;
  return tree_.tables().writableFolders.count(id) != 0;
}

void MirrorNames::dropFolder(const std::u16string& id) {
  if (!tree_.nodeOfId(id)) return;
  // Each child is removed with a request of its own, while the tree lock is held.
  std::vector<std::u16string> childIds;
  tree_.tables().forEachChild(id,
                              [&](const TreeNode& child) { childIds.push_back(child.id().str()); });
  for (const std::u16string& childId : childIds) {
    std::optional<NodeRecord> child = tree_.nodeOfId(childId);
    if (!child) continue;
    if (child->isFolder()) {
      removeFolderLocked(childId);
    } else {
      deleteLocked(childId);
    }
  }
  tree_.tables().erase(id);
}

int MirrorNames::deleteLocked(const std::u16string& id) {
  if (!tree_.nodeOfId(id)) return mirror_error::kFileNotFound;
  if (requests_.send(web_action::kDelete, {{u"id", id}}) != 0) return mirror_error::kGeneral;
  tree_.dropFile(id);
  return 0;
}

int MirrorNames::removeFolderLocked(const std::u16string& id) {
  if (!tree_.nodeOfId(id)) return mirror_error::kFileNotFound;
  if (isProtected(id)) return mirror_error::kAccessDenied;
  if (requests_.send(web_action::kRemoveFolder, {{u"id", id}}) != 0) return mirror_error::kGeneral;
  dropFolder(id);
  return 0;
}

int MirrorNames::deleteFile(LPCWSTR fileName) {
  if (!fileName) return mirror_error::kGeneral;
  std::u16string id;
  std::shared_ptr<UploadMark> upload;
  {
    MutexLock guard(tree_.lock());
    std::optional<NodeRecord> node = tree_.nodeOfPath(fileName);
    if (!node || node->key.empty()) return mirror_error::kFileNotFound;
    id = node->key;
    upload = tree_.pendingUploads().markOf(id);
  }
  // A new file whose upload is still open is not on the service yet: its name goes at once
  // and its upload is dropped at the close. Should the upload finish meanwhile, the service
  // holds the file and is asked to delete it.
  bool onService = !upload || upload->replacesServiceFile;
  for (;;) {
    if (onService && requests_.send(web_action::kDelete, {{u"id", id}}) != 0)
      return mirror_error::kGeneral;
    MutexLock guard(tree_.lock());
    if (!onService && tree_.pendingUploads().markOf(id) != upload) {
      onService = true;
      continue;
    }
    if (upload) upload->abandoned = true;
    tree_.dropFile(id);
    tree_.writeFileList();
    return 0;
  }
}

int MirrorNames::deleteDirectory(LPCWSTR fileName) {
  if (!fileName) return mirror_error::kGeneral;
  std::u16string id;
  {
    MutexLock guard(tree_.lock());
    std::optional<NodeRecord> node = tree_.nodeOfPath(fileName);
    if (!node) return mirror_error::kFileNotFound;
    if (isProtected(node->key)) return mirror_error::kAccessDenied;
    id = node->key;
  }
  if (requests_.send(web_action::kRemoveFolder, {{u"id", id}}) != 0) return mirror_error::kGeneral;
  MutexLock guard(tree_.lock());
  dropFolder(id);
  tree_.writeFileList();
  return 0;
}

void MirrorNames::placeNode(const std::u16string& id, const std::u16string& parentId,
                            const std::u16string& name) {
  std::optional<NodeRecord> parent = tree_.nodeOfId(parentId);
  if (!parent || !tree_.tables().move(id, name, parentId)) return;
  markWritableBelow(id, parent->writable != 0);
}

void MirrorNames::markWritableBelow(const std::u16string& id, bool writableAbove) {
  bool writable = writableAbove || tree_.tables().writableFolders.count(id) != 0;
  tree_.tables().setWritable(id, writable);
  std::vector<std::u16string> childIds;
  tree_.tables().forEachChild(id,
                              [&](const TreeNode& child) { childIds.push_back(child.id().str()); });
  for (const std::u16string& childId : childIds) markWritableBelow(childId, writable);
}

int MirrorNames::moveFile(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting) {
  if (!existingName || !newName) return mirror_error::kGeneral;
  std::u16string from(existingName);
  std::u16string to(newName);
  SplitPath source = SplitAtLastSeparator(from);
  SplitPath target = SplitAtLastSeparator(to);
  NodeRecord node;
  std::optional<NodeRecord> replaced;
  bool replacedProtected = false;
  bool nodeProtected = false;
  {
    MutexLock guard(tree_.lock());
    std::optional<NodeRecord> found = tree_.nodeOfPath(from);
    if (!found) return mirror_error::kFileNotFound;
    node = *found;
    nodeProtected = isProtected(node.key);
    // A new path that differs only in case names the node itself, not a target to replace.
    std::optional<NodeRecord> existing = tree_.nodeOfPath(to);
    if (existing && existing->key != node.key) {
      replaced = *existing;
      replacedProtected = isProtected(existing->key);
    }
  }
  if (replaced) {
    if (!replaceIfExisting) {
      errno = EEXIST;
      return mirror_error::kAlreadyExists;
    }
    if (replacedProtected) return mirror_error::kReadOnly;
  }
  // Checked before a replaced target is deleted, so a refused move loses nothing.
  if (nodeProtected) return mirror_error::kReadOnly;
  // A name shown with its id may be kept by a move: the move sends no name.
  bool keepsShownName = target.name == node.name && source.folder != target.folder;
  if (!keepsShownName && UnacceptableName(target.name)) return mirror_error::kGeneral;
  if (node.isFolder() && InsideOf(target.folder, from)) return mirror_error::kGeneral;
  if (replaced && replaced->isFolder()) {
    if (deleteDirectory(to.c_str()) != 0) return mirror_error::kGeneral;
    replaced.reset();
  }
  return placeFile(node, replaced, target.folder, target.name);
}

int MirrorNames::placeFile(const NodeRecord& node, const std::optional<NodeRecord>& replaced,
                           const std::u16string& folder, const std::u16string& name) {
  const ServicePlace from{node.parentKey, node.name};
  ServicePlace to;
  std::shared_ptr<UploadMark> upload, replacedUpload;
  {
    MutexLock guard(tree_.lock());
    std::optional<NodeRecord> parent = tree_.nodeOfPath(folder);
    if (!parent) return mirror_error::kGeneral;
    to = {parent->key, name};
    upload = tree_.pendingUploads().markOf(node.key);
    replacedUpload = replaced ? tree_.pendingUploads().markOf(replaced->key) : nullptr;
    if (replacedUpload) replacedUpload->abandoned = true;
    // The drive shows the result at once and in one step, before the requests: a file that
    // is replaced gives way to the node in the same change of the tables, so that no lookup
    // finds the name missing.
    if (replaced) tree_.dropFile(replaced->key);
    showAt(node.key, to);
    tree_.writeFileList();
  }
  // A replaced file still being uploaded, new to the service, needs no request: its upload
  // is dropped at its close.
  bool deleteReplaced = replaced && (!replacedUpload || replacedUpload->replacesServiceFile);
  if (deleteReplaced && requests_.send(web_action::kDelete, {{u"id", replaced->key}}) != 0) {
    MutexLock guard(tree_.lock());
    showAt(node.key, from);
    tree_.tables().put(*replaced);
    tree_.usedBytes() += replaced->size;
    if (replacedUpload) {
      replacedUpload->abandoned = false;
      tree_.pendingUploads().put(*replaced, replacedUpload);
    }
    tree_.writeFileList();
    return mirror_error::kGeneral;
  }
  // An upload still open is put in its place by its close, once the service holds the file.
  if (upload) return 0;
  ServicePlace held = requests_.place(node.key, from, to);
  if (held == to) return 0;
  // The drive shows the place the service kept. A move whose rename was refused keeps the
  // file in its new folder under its old name and succeeds, as the service has moved it.
  MutexLock guard(tree_.lock());
  showAt(node.key, held);
  tree_.writeFileList();
  return held == from ? mirror_error::kGeneral : 0;
}

void MirrorNames::showAt(const std::u16string& id, const ServicePlace& place) {
  placeNode(id, place.parentId, place.name);
  // A file still being uploaded is put back by tree reads where the drive shows it now.
  if (tree_.pendingUploads().contains(id)) {
    if (std::optional<NodeRecord> node = tree_.nodeOfId(id)) tree_.pendingUploads().put(*node);
  }
}

int MirrorNames::createDirectory(LPCWSTR fileName) {
  if (!fileName) return mirror_error::kGeneral;
  std::u16string path(fileName);
  SplitPath split = SplitAtLastSeparator(path);
  std::u16string parentId;
  {
    MutexLock guard(tree_.lock());
    if (tree_.tables().pathIndex.count(UpperCasePath(path)) != 0)
      return mirror_error::kAlreadyExists;
    std::optional<NodeRecord> parent = tree_.nodeOfPath(split.folder);
    if (!parent) return mirror_error::kPathNotFound;
    parentId = parent->key;
  }
  if (UnacceptableName(split.name)) return mirror_error::kGeneral;
  std::u16string reply;
  if (requests_.send(web_action::kMakeFolder,
                     {{u"pid", parentId}, {u"name", text_digest::Base64OfUtf8(split.name)}},
                     &reply) != 0)
    return mirror_error::kGeneral;
  std::u16string id = Trimmed(std::u16string_view(reply).substr(std::min<size_t>(3, reply.size())));
  if (id.empty()) {
    drive_.log().log(u"QLVMirror:mkdir:-2 " + reply, kLogResults);
    return mirror_error::kGeneral;
  }

  MutexLock guard(tree_.lock());
  std::optional<NodeRecord> parent = tree_.nodeOfId(parentId);
  if (!parent) return 0;  // the parent went meanwhile; the next tree read shows the folder
  NodeRecord folder;
  folder.key = id;
  folder.name = split.name;
  folder.folderPath = FolderPathBelow(*parent);
  folder.parentKey = parentId;
  folder.attributes = kFolderAttributes;
  folder.time = static_cast<int32_t>(std::time(nullptr));
  // Writable at once inside a writable folder, as the next tree read will show it.
  folder.writable = parent->writable;
  tree_.tables().put(folder);
  tree_.writeFileList();
  return 0;
}
