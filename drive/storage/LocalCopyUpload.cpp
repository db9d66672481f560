// Uploading a local copy whole as a new version of its file, with the requests of every
// upload ("writedist", "tw_create", "tw_write", "tw_close"), and what the tables show after.
#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <vector>

#include "drive/core/DriveProcess.h"
#include "drive/storage/ContentChanges.h"
#include "drive/storage/DriveChangeNotice.h"
#include "drive/storage/MirrorCopyPath.h"
#include "drive/storage/MirrorUploadPath.h"
#include "drive/storage/MirrorWebSession.h"
#include "drive/storage/NameRequests.h"
#include "drive/storage/QLVFile.h"
#include "drive/storage/StorageProcess.h"
#include "drive/storage/UploadState.h"
#include "drive/tree/DrivePaths.h"
#include "drive/tree/TreeNode.h"
#include "platform/codepage/CodePage.h"

namespace {

constexpr uint32_t kNewFileAttributes = 0x81;
// Pieces of the copy sent per "tw_write", as large as cp's writes.
constexpr int64_t kSendPieceBytes = 128 << 10;

std::string Utf8(std::u16string_view text) { return codepage::WideToUtf8(text); }

// The driver's result for an upload the stream server refused: a full disk when it refused
// for space, else an I/O failure.
int RefusalResult(const std::string& word) {
  return word == "quota" ? mirror_error::kDiskFull : mirror_error::kGeneral;
}

}  // namespace

int MirrorCopyPath::upload(LocalCopy& copy) {
  MutexLock uploadGuard(copy.uploadLock);
  std::u16string nodeId;
  NodeRecord place;
  {
    MutexLock state(copy.stateLock);
    if (copy.abandoned) return 0;
    // Its upload failed before: a later start retries it.
    if (copy.kept) return mirror_error::kGeneral;
    if (!copy.record.dirty || copy.writers > 0) return 0;
    // Writes from here on make it changed again (and the record on disk still says so).
    copy.record.dirty = false;
    nodeId = copy.nodeId;
    place.parentKey = copy.record.parentId;
    place.name = copy.record.name;
  }
  // The upload goes where the file is now: a rename while it was open moved it in the tables.
  // A file no longer in the tables was removed (or replaced by a rename): its copy is dropped.
  std::optional<NodeRecord> node;
  {
    MutexLock guard(tree_.lock());
    node = tree_.nodeOfId(nodeId);
  }
  if (!node) {
    MutexLock state(copy.stateLock);
    copy.abandoned = true;
    drive_.log().logf(kLogProgress, "writecache %" PRIu64 ": the file was removed; not uploaded",
                      copy.number);
    return 0;
  }
  place = *node;
  PlaceLocks::Held placeHeld = places_.hold(place.parentKey, place.name);
  SentFile sent;
  int result = sendWhole(copy, place.parentKey, place.name, &sent);
  if (result != 0) {
    keepAfterFailure(copy, nodeId, result);
    return result;
  }
  if (removedMeanwhile(copy, nodeId, sent.id)) return 0;
  bool removed = false;
  std::u16string path = showUploaded(nodeId, place, sent, &removed);
  if (removed) {
    // Taken out of the tables between the two looks: the same as removed meanwhile.
    removedMeanwhile(copy, nodeId, sent.id);
    return 0;
  }
  copies_.rename(copy, sent.id);
  {
    MutexLock state(copy.stateLock);
    copy.record.serviceId = sent.id;
    copy.record.parentId = place.parentKey;
    copy.record.name = place.name;
    if (!copy.record.dirty) copy.saveRecordLocked(false);
  }
  drive_.log().logf(kLogProgress, "writecache %" PRIu64 ": uploaded %s (%" PRId64 " bytes)",
                    copy.number, Utf8(path).c_str(), sent.stored);
  return 0;
}

int MirrorCopyPath::sendWhole(const LocalCopy& copy, const std::u16string& parentId,
                              const std::u16string& name, SentFile* sent) {
  MirrorLog& log = drive_.log();
  QLVFile context(std::u16string(), 0, web_.session(), drive_.programFolder, shared_.stream);
  int opened = upload_.openUpload(context, parentId, name);
  if (opened < 0) return opened == mirror_error::kDiskFull ? opened : mirror_error::kGeneral;
  UploadState& upload = *context.upload();
  int64_t size = copy.size();
  std::vector<uint8_t> piece(kSendPieceBytes);
  int result = 0;
  MutexLock guard(upload.connectionLock);
  for (int64_t offset = 0; result == 0 && offset < size;) {
    int64_t got = copy.read(piece.data(), offset,
                            static_cast<size_t>(std::min<int64_t>(size - offset, kSendPieceBytes)));
    if (got < 0) {
      log.logf(kLogResults, "writecache %" PRIu64 ": cannot read the copy: %s", copy.number,
               std::strerror(static_cast<int>(-got)));
      result = mirror_error::kGeneral;
    } else if (got == 0) {
      break;  // cut short meanwhile: the handle that did it uploads again
    } else if (upload.writer.write(offset, static_cast<int32_t>(got), piece.data()) < 0) {
      result = RefusalResult(upload.writer.lastError());
    }
    offset += std::max<int64_t>(got, 0);
  }
  if (result != 0) {
    // The service keeps its previous content.
    upload.writer.abandon();
    return result;
  }
  sent->stored = upload.writer.close();
  std::string status = upload.writer.closeStatus();
  if (status != "ok") {
    log.logf(kLogResults, "upload_file Close %s ERR:%s", Utf8(upload.id).c_str(), status.c_str());
    return RefusalResult(status);
  }
  sent->id = upload.id;
  context.clearFlag(QLVFile::kUpload);
  return 0;
}

bool MirrorCopyPath::removedMeanwhile(LocalCopy& copy, const std::u16string& nodeId,
                                      const std::u16string& sentId) {
  {
    MutexLock guard(tree_.lock());
    if (tree_.nodeOfId(nodeId)) return false;
  }
  // Removed while its upload ran: the service, which holds the file now, is asked to remove it.
  NameRequests(drive_, web_).send(web_action::kDelete, {{u"id", sentId}});
  MutexLock state(copy.stateLock);
  copy.abandoned = true;
  return true;
}

std::u16string MirrorCopyPath::showUploaded(const std::u16string& nodeId, const NodeRecord& place,
                                            const SentFile& sent, bool* removed) {
  std::vector<std::u16string> changed;
  std::u16string path;
  ServicePlace sentTo{place.parentKey, place.name};
  ServicePlace shownAt = sentTo;
  {
    MutexLock guard(tree_.lock());
    // For an open file's upload (`removed` given) the tables say where it is now: a rename or
    // move while the upload ran changed only them, and the service is asked to follow below.
    // A copy left by an earlier run goes where `place` says.
    NodeRecord node = place;
    if (removed != nullptr) {
      std::optional<NodeRecord> current = tree_.nodeOfId(nodeId);
      if (!current) {
        *removed = true;  // removed since removedMeanwhile looked
        return path;
      }
      node = *current;
    }
    shownAt = {node.parentKey, node.name};
    std::optional<NodeRecord> parent = tree_.nodeOfId(node.parentKey);
    if (nodeId != sent.id) {
      tree_.tables().erase(nodeId);
      shared_.pendingUploads.remove(nodeId);
    }
    if (!parent) return path;  // the folder went meanwhile; the next tree read shows the file
    node.key = sent.id;
    node.folderPath = FolderPathBelow(*parent);
    node.size = sent.stored;
    node.time = static_cast<int32_t>(std::time(nullptr));
    if (node.attributes == 0) node.attributes = kNewFileAttributes;
    node.writable = 1;
    node.stale = 0;
    path = FullPath(node);
    // An empty file stays shown until a tree read, as an empty upload does, so that the
    // program that made it can still remove it.
    tree_.tables().put(node);
    tree_.writeFileList();
    // Only the file: telling the kernel a folder changed drops its entry, which a program
    // working inside it (its current folder) would lose.
    changed = {path};
  }
  // Read links and head files of the old content are not used again.
  ForgetContent(shared_, drive_.programFolder, {sent.id});
  NotifyDriveChanged(drive_, changed);
  if (shownAt != sentTo && !path.empty()) {
    ServicePlace held = NameRequests(drive_, web_).place(sent.id, sentTo, shownAt);
    if (held != shownAt) {
      drive_.log().logf(kLogResults,
                        "writecache: %s was renamed while uploading; the service "
                        "kept it at its old name",
                        Utf8(path).c_str());
    }
  }
  return path;
}

void MirrorCopyPath::keepAfterFailure(LocalCopy& copy, const std::u16string& nodeId, int result) {
  {
    MutexLock state(copy.stateLock);
    copy.record.dirty = true;
    copy.kept = true;
    copy.saveRecordLocked(true);
  }
  copies_.remove(copy);
  std::u16string path;
  {
    MutexLock guard(tree_.lock());
    path = tree_.tables().fullPathOf(nodeId);
    // A file the service never held leaves the drive; one it holds shows its old version again.
    if (LocalCopies::IsLocalId(nodeId)) {
      tree_.dropFile(nodeId);
      tree_.writeFileList();
    }
  }
  drive_.log().logf(kLogResults,
                    "writecache %" PRIu64 ": upload of %s failed (%d); the copy is kept in %s",
                    copy.number, Utf8(path).c_str(), result, copy.dataPath.c_str());
  NotifyDriveChanged(drive_, {path});
}
