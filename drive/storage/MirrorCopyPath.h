// Writing inside files through local copies (LocalCopies): the opens that edit a file rather
// than replace it whole, reads, writes, set end of file and fsync on the copy, the whole copy
// uploaded as a new version when the last handle that wrote is cleaned up, and at start the
// upload of the copies an earlier run left behind.
//
// Lock order: the create lock first (an open or the last close of a copy), then the tree
// lock, then the copy table's lock, then a copy's state lock. A copy's upload lock is taken
// with none of these held. The read path's open-files lock is taken with the create lock
// held while a copy is filled, never the other way round.
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "drive/core/IOMirror.h"
#include "drive/storage/LocalCopies.h"
#include "drive/storage/MirrorTreeStore.h"
#include "drive/storage/PlaceLocks.h"

class MirrorConfig;
class MirrorReadPath;
class MirrorUploadPath;
class MirrorWebSession;
class QLVFile;
struct DriveProcess;
struct StorageProcess;

class MirrorCopyPath {
 public:
  MirrorCopyPath(DriveProcess& drive, StorageProcess& shared,
                 const std::atomic<MirrorConfig*>& config, MirrorTreeStore& tree,
                 MirrorWebSession& web, MirrorReadPath& read, MirrorUploadPath& upload,
                 LocalCopies& copies);
  MirrorCopyPath(const MirrorCopyPath&) = delete;
  MirrorCopyPath& operator=(const MirrorCopyPath&) = delete;

  // True when an open of `node` (nothing for a new name) works on a local copy: every open of
  // a file that has one; a read-write open; a write-only open of an existing file that does
  // not truncate it.
  bool wants(const std::optional<NodeRecord>& node, DWORD access, DWORD disposition) const;
  // Opens a handle on the file's copy, making the copy first when the file has none (filled
  // whole from the service unless the open truncates). 0, or -112 when the copy does not fit
  // the disk cache or the disk, or the failed step's result.
  int open(const std::u16string& path, const std::optional<NodeRecord>& node, DWORD access,
           DWORD disposition, PDOKAN_FILE_INFO info) EXCLUDES(createLock_, tree_.lock());

  // Reads from the copy when the handle's file has one (handles opened before the copy
  // included): true with the driver's result in `*result`; false when the file has no copy.
  bool readFromCopy(const std::u16string& path, void* buffer, DWORD bytesToRead, LPDWORD bytesRead,
                    LONGLONG offset, PDOKAN_FILE_INFO info, int* result) EXCLUDES(tree_.lock());
  int write(QLVFile& file, const void* buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
            LONGLONG offset, bool atEnd);
  int setEndOfFile(QLVFile& file, LONGLONG length);
  // Makes the copy and its record durable on the local disk; uploads nothing.
  int flush(QLVFile& file) EXCLUDES(tree_.lock());
  // The handle's writes are done: when no other handle has unfinished writes, the copy goes
  // up. 0, or the upload's failure (-112 for space). The handle stays open.
  int cleanup(QLVFile& file) EXCLUDES(createLock_, tree_.lock());
  // Ends a handle on a copy (other contexts are left alone); after the last one the copy goes.
  void close(PDOKAN_FILE_INFO info) EXCLUDES(createLock_, tree_.lock());

  // The size and time of the file's copy, when it has one.
  bool sizeAndTime(const std::u16string& id, int64_t* size, int32_t* time) const;
  // The size and time of the copy a handle works on.
  void sizeAndTime(const QLVFile& file, int64_t* size, int32_t* time) const;

  // Uploads the changed copies left on disk by an earlier run (after a crash, or a failed
  // upload), one log line each; one that cannot go up is kept and logged.
  void recover() EXCLUDES(createLock_, tree_.lock());

 private:
  struct SentFile {
    std::u16string id;
    int64_t stored = 0;
  };

  int copyOfServiceFile(const NodeRecord& node, bool truncating, std::shared_ptr<LocalCopy>* copy)
      REQUIRES(createLock_);
  int copyOfNewFile(const std::u16string& path, std::shared_ptr<LocalCopy>* copy)
      REQUIRES(createLock_) EXCLUDES(tree_.lock());
  // Creates the empty data file of a new copy: its number, or 0 with `*result` set.
  uint64_t createDataFile(int* fd, int* result);
  // Fills the copy with the service's content of `node`; `*version` gets its content key.
  int fill(LocalCopy& copy, const NodeRecord& node, std::string* version);
  // 0 when `bytes` more fit the disk cache limit and the disk, else -112.
  int roomFor(int64_t bytes);
  void markWritten(QLVFile& file);

  // Uploads the copy when it holds changes and no handle has unfinished writes.
  int upload(LocalCopy& copy) EXCLUDES(tree_.lock());
  // Sends the whole data file as the content of `name` in folder `parentId`.
  int sendWhole(const LocalCopy& copy, const std::u16string& parentId, const std::u16string& name,
                SentFile* sent);
  // True when the file was removed while its upload ran; the service is asked to remove it too.
  bool removedMeanwhile(LocalCopy& copy, const std::u16string& nodeId, const std::u16string& sentId)
      EXCLUDES(tree_.lock());
  // The tables after an upload: the file under the id the service gave it, at its size, at
  // `place`. With `removed` given (an open file's upload), where the tables have it now: a
  // rename meanwhile is sent to the service, and a file that left the tables sets `removed`
  // and changes nothing.
  std::u16string showUploaded(const std::u16string& nodeId, const NodeRecord& place,
                              const SentFile& sent, bool* removed = nullptr) EXCLUDES(tree_.lock());
  // After a failed upload the drive shows what the service holds; the copy stays on disk.
  void keepAfterFailure(LocalCopy& copy, const std::u16string& nodeId, int result)
      EXCLUDES(tree_.lock());

  // Recovery of one copy an earlier run left.
  void recoverCopy(uint64_t number, const LocalCopyRecord& record) EXCLUDES(tree_.lock());
  // The content key of the service's current version of `node`, empty when unknown.
  std::string currentVersion(const NodeRecord& node);

  DriveProcess& drive_;
  StorageProcess& shared_;
  const std::atomic<MirrorConfig*>& config_;
  MirrorTreeStore& tree_;
  MirrorWebSession& web_;
  MirrorReadPath& read_;
  MirrorUploadPath& upload_;
  LocalCopies& copies_;
  PlaceLocks places_;  // one upload per folder and name at a time
  // One copy per file: opens that make or share a copy, and last closes, take turns.
  Mutex createLock_;
};
