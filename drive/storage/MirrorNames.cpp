#include "drive/storage/MirrorNames.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <optional>

#include "drive/core/DriveProcess.h"
#include "drive/replies/ReplyText.h"
#include "drive/replies/TextDigest.h"
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
    : drive_(drive), tree_(tree), web_(web) {}

int MirrorNames::nameRequest(std::u16string_view action, const std::vector<WebParam>& params,
                             std::u16string* replyText) {
  MirrorLog& log = drive_.log();
  std::u16string tag = u"QLVMirror:" + std::u16string(action);
  StreamedReply reply;
  {
    MutexLock guard(web_.lock());
    FormedRequest request = FormRequest(action, params, web_.session(), RequestTimestamp());
    if (web_.send(request) != WebClient::kOk) {
      log.log(tag + u":-1", kLogResults);
      return mirror_error::kGeneral;
    }
    reply = web_.readStreamedReply();
  }
  if (reply.status == StreamedReply::Status::kStopped) return mirror_error::kGeneral;
  std::u16string text = reply.text();
  if (reply.status == StreamedReply::Status::kFailed || !StartsWithOk(text)) {
    log.log(tag + u":-2 " + text, kLogResults);
    return mirror_error::kGeneral;
  }
  if (replyText) *replyText = std::move(text);
  return 0;
}

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
  if (nameRequest(web_action::kDelete, {{u"id", id}}) != 0) return mirror_error::kGeneral;
  tree_.dropFile(id);
  return 0;
}

int MirrorNames::removeFolderLocked(const std::u16string& id) {
  if (!tree_.nodeOfId(id)) return mirror_error::kFileNotFound;
  if (isProtected(id)) return mirror_error::kAccessDenied;
  if (nameRequest(web_action::kRemoveFolder, {{u"id", id}}) != 0) return mirror_error::kGeneral;
  dropFolder(id);
  return 0;
}

int MirrorNames::deleteFile(LPCWSTR fileName) {
  if (!fileName) return mirror_error::kGeneral;
  std::u16string id;
  {
    MutexLock guard(tree_.lock());
    std::optional<NodeRecord> node = tree_.nodeOfPath(fileName);
    if (!node || node->key.empty()) return mirror_error::kFileNotFound;
    id = node->key;
  }
  if (nameRequest(web_action::kDelete, {{u"id", id}}) != 0) return mirror_error::kGeneral;
  MutexLock guard(tree_.lock());
  tree_.dropFile(id);
  tree_.writeFileList();
  return 0;
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
  if (nameRequest(web_action::kRemoveFolder, {{u"id", id}}) != 0) return mirror_error::kGeneral;
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
  if (replaced) {
    int removed = replaced->isFolder() ? deleteDirectory(to.c_str()) : deleteFile(to.c_str());
    if (removed != 0) return mirror_error::kGeneral;
  }
  if (source.folder == target.folder) return renameNode(node, target.name);
  return moveNode(node, target.folder, target.name);
}

int MirrorNames::renameNode(const NodeRecord& node, const std::u16string& name) {
  if (nameRequest(web_action::kRename,
                  {{u"id", node.key}, {u"name", text_digest::Base64OfUtf8(name)}}) != 0)
    return mirror_error::kGeneral;
  MutexLock guard(tree_.lock());
  if (std::optional<NodeRecord> current = tree_.nodeOfId(node.key)) {
    placeNode(node.key, current->parentKey, name);
  }
  tree_.writeFileList();
  return 0;
}

// "move" carries only the new parent; when the name changes too, "rename" follows, so that
// the service keeps the name the drive shows. Should that rename be refused, the drive shows
// the name the service kept.
int MirrorNames::moveNode(const NodeRecord& node, const std::u16string& folder,
                          const std::u16string& name) {
  std::u16string parentId;
  {
    MutexLock guard(tree_.lock());
    std::optional<NodeRecord> parent = tree_.nodeOfPath(folder);
    if (!parent) return mirror_error::kGeneral;
    parentId = parent->key;
  }
  if (nameRequest(web_action::kMove, {{u"id", node.key}, {u"pid", parentId}}) != 0)
    return mirror_error::kGeneral;
  std::u16string shownName = node.name;
  if (name != node.name &&
      nameRequest(web_action::kRename,
                  {{u"id", node.key}, {u"name", text_digest::Base64OfUtf8(name)}}) == 0) {
    shownName = name;
  }
  MutexLock guard(tree_.lock());
  placeNode(node.key, parentId, shownName);
  tree_.writeFileList();
  return 0;
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
  if (nameRequest(web_action::kMakeFolder,
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
