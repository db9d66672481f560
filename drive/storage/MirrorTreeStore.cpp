#include "drive/storage/MirrorTreeStore.h"

#include <algorithm>
#include <ctime>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/storage/ContentChanges.h"
#include "drive/storage/StorageProcess.h"
#include "drive/tree/FileListWriter.h"
#include "drive/tree/TreeBuild.h"
#include "platform/appfolder/PrivateFiles.h"
#include "platform/ticks/Ticks.h"

MirrorTreeStore::MirrorTreeStore(DriveProcess& drive, StorageProcess& shared,
                                 const std::atomic<MirrorConfig*>& config)
    : drive_(drive), shared_(shared), config_(config) {}

std::optional<NodeRecord> MirrorTreeStore::nodeOfPath(std::u16string_view path) const {
  return tables_.recordOfPath(path);
}

std::optional<NodeRecord> MirrorTreeStore::nodeOfId(const std::u16string& id) const {
  return tables_.nodes.record(id);
}

void MirrorTreeStore::addPendingUploads(FolderTables& fresh, const FolderTables* current) const {
  int32_t now = static_cast<int32_t>(std::time(nullptr));
  for (NodeRecord& pending : shared_.pendingUploads.snapshot()) {
    // The current record carries the size counted so far.
    if (current) {
      if (std::optional<NodeRecord> known = current->nodes.record(pending.key)) pending = *known;
    }
    if (std::optional<NodeRecord> listed = fresh.nodes.record(pending.key)) {
      // An overwrite in progress: the service still lists the previous content.
      listed->size = pending.size;
      listed->stale = 1;
      fresh.put(*listed);
      continue;
    }
    pending.time = now;
    fresh.put(pending);
  }
}

void MirrorTreeStore::installTree(BuiltTree& tree) {
  FolderTables& fresh = tree.tables;
  addPendingUploads(fresh, &tables_);
  std::swap(tables_, fresh);
  if (!tree.downloadFolderId.empty()) downloadFolderId_ = tree.downloadFolderId;
}

PendingNodes& MirrorTreeStore::pendingUploads() const { return shared_.pendingUploads; }

void MirrorTreeStore::dropFile(const std::u16string& id) {
  std::optional<NodeRecord> node = nodeOfId(id);
  if (!node) return;
  used_ = std::max<int64_t>(0, used_ - node->size);
  tables_.erase(id);
  shared_.pendingUploads.remove(id);
  ForgetContent(shared_, drive_.programFolder, {id});
}

void MirrorTreeStore::writeFileList() {
  FileListDraft draft = fileListDraft();
  saveFileList(draft);
}

atomicfile::StagedFile MirrorTreeStore::stageFileList(const FolderTables& tables) const {
  MirrorConfig* config = config_.load();
  std::u16string userName = config ? config->userName() : std::u16string();
  atomicfile::StagedFile file(drive_.programFolder + ".filelist", appfolder::kPrivateFileMode);
  FormatFileList(tables, static_cast<int32_t>(GetTickCount()), userName,
                 [&](std::string_view bytes) { file.write(bytes); });
  return file;
}

MirrorTreeStore::FileListDraft MirrorTreeStore::fileListDraft() {
  FileListDraft draft;
  draft.sequence = ++fileListSequence_;
  draft.file = stageFileList(tables_);
  return draft;
}

void MirrorTreeStore::saveFileList(FileListDraft& draft) {
  MutexLock guard(fileListLock_);
  if (draft.sequence <= savedFileListSequence_) {
    draft.file.discard();
    return;
  }
  savedFileListSequence_ = draft.sequence;
  if (!draft.file.commit()) {
    drive_.log().logf(kLogResults, "QLVMirror:writeFileList: cannot write %s.filelist",
                      drive_.programFolder.c_str());
  }
}
