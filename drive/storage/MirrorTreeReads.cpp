#include "drive/storage/MirrorTreeReads.h"

#include <malloc.h>

#include <optional>

#include "drive/core/DriveProcess.h"
#include "drive/replies/ChunkedText.h"
#include "drive/replies/FileInfoReply.h"
#include "drive/replies/ListReply.h"
#include "drive/replies/ReplyText.h"
#include "drive/storage/ContentChanges.h"
#include "drive/storage/DriveChangeNotice.h"
#include "drive/storage/StorageProcess.h"
#include "drive/tree/ListReplyReader.h"
#include "drive/tree/PreviousTexts.h"
#include "drive/tree/TreeChanges.h"

namespace {

// Frees tables no longer shown and hands the freed pages back to the system. The tables lie
// among the blocks of everything else on the heap, so without the trim the process would keep
// the size it had while it held two trees.
void FreeTables(FolderTables& tables) {
  tables = FolderTables();
  malloc_trim(0);
}

}  // namespace

MirrorTreeReads::MirrorTreeReads(DriveProcess& drive, StorageProcess& shared, MirrorTreeStore& tree,
                                 MirrorWebSession& web)
    : drive_(drive), shared_(shared), tree_(tree), web_(web) {}

int MirrorTreeReads::readDirTree() {
  MirrorLog& log = drive_.log();
  // The list is staged into new tables while it arrives, so the reply is never held whole.
  // Entries that keep their id and name share their texts with the tables in use. The tree
  // lock is taken for each entry, inside the web lock; nothing takes them the other way round.
  ListReplyReader list([this] { return shared_.running(); });
  std::optional<PreviousTexts> previous;
  {
    MutexLock guard(tree_.lock());
    previous.emplace(tree_.tables(), tree_.lock());
  }
  list.shareTextsWith(&*previous);
  StreamedReply::Status status;
  {
    MutexLock guard(web_.lock());
    FormedRequest request = FormRequest(web_action::kList, {}, web_.session(), RequestTimestamp());
    if (web_.send(request) != WebClient::kOk) {
      log.log(u"QLVMirror:readDirTree:-1", kLogResults);
      return -1;
    }
    status = web_.readStreamedReplyInto([&](std::string_view bytes) { list.feed(bytes); });
  }
  if (status == StreamedReply::Status::kStopped) return -1;
  // A reply that broke off part way would show a partial tree: it counts as refused.
  if (status == StreamedReply::Status::kFailed || !list.accepted()) {
    log.log(u"QLVMirror:readDirTree:-2 " + chunked_text::AnsiToWide(list.opening()), kLogResults);
    return -2;
  }

  ListReply header = list.header();
  {
    MutexLock guard(tree_.lock());
    tree_.quotaBytes() = header.quotaBytes;
    tree_.usedBytes() = header.usedBytes;
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
  tree_.addPendingUploads(tree.tables, nullptr);
  MirrorTreeStore::FileListDraft fileList;
  fileList.file = tree_.stageFileList(tree.tables);
  size_t prepared = tree.tables.nodes.size();
  TreeChanges changes;
  {
    MutexLock guard(tree_.lock());
    tree_.installTree(tree);
    changes = CompareTrees(tree.tables, tree_.tables());
    if (tree_.tables().nodes.size() == prepared && shared_.pendingUploads.snapshot().empty()) {
      fileList.sequence = tree_.nextFileListSequence();
    } else {
      fileList = tree_.fileListDraft();
    }
    tree_.saveFileList(fileList);
    // A file listed with another size or time holds new content; one gone holds none. Its
    // link and head go before anyone can find the new tables, so no open takes the old
    // link for the new size.
    ForgetContent(shared_, drive_.programFolder, ChangedFileIds(changes));
  }
  // `tree` now holds the previous tables: the old paths of what changed are worked out from
  // them outside the lock, then they are freed.
  NotifyDriveChanged(drive_, ChangedPaths(tree.tables, changes));
  FreeTables(tree.tables);
  return 0;
}

int MirrorTreeReads::fileInfo(const std::u16string& id, NodeRecord* record) {
  MirrorLog& log = drive_.log();
  StreamedReply reply;
  {
    MutexLock guard(web_.lock());
    FormedRequest request =
        FormRequest(web_action::kFileInfo, {{u"id", id}}, web_.session(), RequestTimestamp());
    if (web_.send(request) != WebClient::kOk) {
      log.log(u"QLVMirror:file_info:-1", kLogResults);
      return -1;
    }
    reply = web_.readStreamedReply();
  }
  if (reply.status == StreamedReply::Status::kStopped) return -1;
  std::u16string text = reply.text();
  if (reply.status == StreamedReply::Status::kFailed || !StartsWithOk(text)) {
    log.log(u"QLVMirror:file_info:-2 " + text, kLogResults);
    return -1;
  }
  *record = ParseFileInfoReply(text);
  MutexLock guard(tree_.lock());
  if (tree_.tables().nodes.count(record->parentKey) != 0) {
    record->folderPath = tree_.tables().fullPathOf(record->parentKey) + u"\\";
  }
  return 0;
}
