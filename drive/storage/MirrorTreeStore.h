// The mirror's copy of the remote tree: the node table and its lookup tables, the quota and
// use the service reported, the id of the download folder, and ".filelist", the tables
// written out for the desktop program after every change.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "drive/tree/FolderTree.h"
#include "platform/atomicfile/StagedFile.h"
#include "platform/sync/Mutex.h"

class MirrorConfig;
struct DriveProcess;
struct StorageProcess;
struct BuiltTree;
class PendingNodes;

class MirrorTreeStore {
 public:
  MirrorTreeStore(DriveProcess& drive, StorageProcess& shared,
                  const std::atomic<MirrorConfig*>& config);
  MirrorTreeStore(const MirrorTreeStore&) = delete;
  MirrorTreeStore& operator=(const MirrorTreeStore&) = delete;

  // The lock of the tables (the tree lock).
  Mutex& lock() const RETURN_CAPABILITY(lock_) { return lock_; }

  FolderTables& tables() REQUIRES(lock_) { return tables_; }
  int64_t& quotaBytes() REQUIRES(lock_) { return quota_; }
  int64_t& usedBytes() REQUIRES(lock_) { return used_; }
  int64_t quotaBytes() const REQUIRES(lock_) { return quota_; }
  int64_t usedBytes() const REQUIRES(lock_) { return used_; }
  const std::u16string& downloadFolderId() const REQUIRES(lock_) { return downloadFolderId_; }

  // Lookups in the tables: copies of the records, with their folder paths.
  std::optional<NodeRecord> nodeOfPath(std::u16string_view path) const REQUIRES(lock_);
  std::optional<NodeRecord> nodeOfId(const std::u16string& id) const REQUIRES(lock_);

  // Puts the new tables in place and leaves the previous ones in `tree`.
  void installTree(BuiltTree& tree) REQUIRES(lock_);
  // Adds the files whose upload is not closed yet; one `fresh` lists already (an overwrite in
  // progress) keeps the size counted so far and stays stale. `current`, when given, is asked
  // for that size.
  void addPendingUploads(FolderTables& fresh, const FolderTables* current) const;

  // The uploads not closed yet (kept across mount cycles).
  PendingNodes& pendingUploads() const;

  // Takes a file out of the tables after the service removed it (or holds it empty): the use
  // it counted, its pending upload, its read link and head file go with it.
  void dropFile(const std::u16string& id) REQUIRES(lock_);

  // Writes ".filelist" now, with the tree lock held throughout.
  void writeFileList() REQUIRES(lock_);
  // The two halves of it: the content, written beside the file under the lock (or from
  // tables not yet shared), and the rename that puts it in place. A content older than the
  // one last put in place is dropped, so the file never goes back to an older tree.
  struct FileListDraft {
    uint64_t sequence = 0;
    atomicfile::StagedFile file;
  };
  FileListDraft fileListDraft() REQUIRES(lock_);
  atomicfile::StagedFile stageFileList(const FolderTables& tables) const;
  // The sequence number of a content staged from tables not yet shared.
  uint64_t nextFileListSequence() REQUIRES(lock_) { return ++fileListSequence_; }
  void saveFileList(FileListDraft& draft) EXCLUDES(fileListLock_);

 private:
  DriveProcess& drive_;
  StorageProcess& shared_;
  const std::atomic<MirrorConfig*>& config_;

  mutable Mutex lock_;
  int64_t quota_ GUARDED_BY(lock_) = 0;
  int64_t used_ GUARDED_BY(lock_) = 0;
  FolderTables tables_ GUARDED_BY(lock_);
  std::u16string downloadFolderId_ GUARDED_BY(lock_);
  uint64_t fileListSequence_ GUARDED_BY(lock_) = 0;

  // Which ".filelist" content was last put in place; taken after the tree lock.
  Mutex fileListLock_ ACQUIRED_AFTER(lock_);
  uint64_t savedFileListSequence_ GUARDED_BY(fileListLock_) = 0;
};
