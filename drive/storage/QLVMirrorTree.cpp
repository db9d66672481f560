// Reading the folder tree ("list3"), refreshing one node ("file_info") and writing
// ".filelist".
#include <ctime>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/replies/ChunkedText.h"
#include "drive/replies/FileInfoReply.h"
#include "drive/replies/ListReply.h"
#include "drive/replies/ReplyText.h"
#include "drive/storage/QLVMirror.h"
#include "drive/storage/StorageProcess.h"
#include "drive/tree/FileListWriter.h"
#include "drive/tree/ListReplyReader.h"
#include "drive/tree/TreeChanges.h"
#include "platform/appfolder/PrivateFiles.h"
#include "platform/dokan/Dokan.h"
#include "platform/ticks/Ticks.h"

int QLVMirror::readDirTree() {
  MirrorLog& log = drive_.log();
  // The list is staged into new tables while it arrives, so the reply is never held whole.
  ListReplyReader list([this] { return shared_.running(); });
  StreamedReply::Status status;
  {
    MutexLock guard(webLock_);
    FormedRequest request = FormRequest(web_action::kList, {}, session(), RequestTimestamp());
    if (sendOnMirrorClient(request) != WebClient::kOk) {
      log.log(u"QLVMirror:readDirTree:-1", kLogResults);
      return -1;
    }
    status = readStreamedReplyInto([&](std::string_view bytes) { list.feed(bytes); });
  }
  if (status == StreamedReply::Status::kStopped) return -1;
  // A reply that broke off part way would show a partial tree: it counts as refused.
  if (status == StreamedReply::Status::kFailed || !list.accepted()) {
    log.log(u"QLVMirror:readDirTree:-2 " + chunked_text::AnsiToWide(list.opening()), kLogResults);
    return -2;
  }

  ListReply header = list.header();
  {
    MutexLock guard(treeLock_);
    quota_ = header.quotaBytes;
    used_ = header.usedBytes;
  }
  log.log(u"开始初始化文件信息！", kLogProgress);
  BuiltTree tree = list.finish();
  if (!tree.complete) return -1;
  if (tree.loopedNodes > 0) {
    log.logf(kLogResults, "QLVMirror:readDirTree: %zu entries left out, their parent chain loops",
             tree.loopedNodes);
  }
  log.log(u"初始化完成！", kLogProgress);

  // The new tables are still this thread's alone: the pending uploads join them and the text
  // of ".filelist" is taken from them before the lock. Under the lock the tables are swapped,
  // compared with the old ones and the file written, so that whoever sees the new tables also
  // finds them in the file. An upload in progress makes the text be taken again, from the sizes
  // counted so far.
  addPendingUploads(tree.tables, nullptr);
  FileListDraft fileList;
  fileList.file = stageFileList(tree.tables);
  size_t prepared = tree.tables.nodes.size();
  TreeChanges changes;
  {
    MutexLock guard(treeLock_);
    installTree(tree);
    changes = CompareTrees(tree.tables, tables_);
    if (tables_.nodes.size() == prepared && shared_.pendingUploads.snapshot().empty()) {
      fileList.sequence = ++fileListSequence_;
    } else {
      fileList = fileListDraft();
    }
    saveFileList(fileList);
    // A file listed with another size or time holds new content; one gone holds none. Its
    // link and head go before anyone can find the new tables, so no open takes the old
    // link for the new size.
    forgetContent(ChangedFileIds(changes));
  }
  // `tree` now holds the previous tables: the old paths of what changed are worked out from
  // them outside the lock, then they are freed.
  notifyDriveChanged(ChangedPaths(tree.tables, changes));
  return 0;
}

void QLVMirror::addPendingUploads(FolderTables& fresh, const FolderTables* current) const {
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

void QLVMirror::installTree(BuiltTree& tree) {
  FolderTables& fresh = tree.tables;
  addPendingUploads(fresh, &tables_);
  std::swap(tables_, fresh);
  if (!tree.downloadFolderId.empty()) downloadFolderId_ = tree.downloadFolderId;
}

void QLVMirror::notifyDriveChanged(const std::vector<std::u16string>& paths) {
  std::u16string letter = drive_.runDriveLetter();
  if (letter.empty()) return;
  for (const std::u16string& path : paths) DokanNotifyChanged(letter[0], path.c_str());
}

void QLVMirror::writeFileList() {
  FileListDraft draft = fileListDraft();
  saveFileList(draft);
}

atomicfile::StagedFile QLVMirror::stageFileList(const FolderTables& tables) const {
  MirrorConfig* config = config_.load();
  std::u16string userName = config ? config->userName() : std::u16string();
  atomicfile::StagedFile file(drive_.programFolder + ".filelist", appfolder::kPrivateFileMode);
  FormatFileList(tables, static_cast<int32_t>(GetTickCount()), userName,
                 [&](std::string_view bytes) { file.write(bytes); });
  return file;
}

QLVMirror::FileListDraft QLVMirror::fileListDraft() {
  FileListDraft draft;
  draft.sequence = ++fileListSequence_;
  draft.file = stageFileList(tables_);
  return draft;
}

void QLVMirror::saveFileList(FileListDraft& draft) {
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

int QLVMirror::fileInfo(const std::u16string& id, NodeRecord* record) {
  MirrorLog& log = drive_.log();
  StreamedReply reply;
  {
    MutexLock guard(webLock_);
    FormedRequest request =
        FormRequest(web_action::kFileInfo, {{u"id", id}}, session(), RequestTimestamp());
    if (sendOnMirrorClient(request) != WebClient::kOk) {
      log.log(u"QLVMirror:file_info:-1", kLogResults);
      return -1;
    }
    reply = readStreamedReply();
  }
  if (reply.status == StreamedReply::Status::kStopped) return -1;
  std::u16string text = reply.text();
  if (reply.status == StreamedReply::Status::kFailed || !StartsWithOk(text)) {
    log.log(u"QLVMirror:file_info:-2 " + text, kLogResults);
    return -1;
  }
  *record = ParseFileInfoReply(text);
  MutexLock guard(treeLock_);
  if (tables_.nodes.count(record->parentKey) != 0) {
    record->folderPath = tables_.fullPathOf(record->parentKey) + u"\\";
  }
  return 0;
}
