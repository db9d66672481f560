// Local copies of files being worked on: a file opened for writing without being replaced
// whole (read-write, or write-only without truncation) is edited in a copy on the local disk,
// "<n>.data" in the program folder's "writecache/", with its record "<n>.json". Every handle of
// the file reads and writes the copy while it exists; the copy goes up whole as a new version
// when the last handle that wrote is cleaned up. A copy whose upload failed, or that a crash
// left behind, stays on disk with its record until a later start uploads it.
//
// LocalCopies is the table of the copies in use, by the id the drive shows for the file (a
// service id, or a local id for a file the service does not hold yet). Locks: the table lock,
// then a copy's state lock; both are taken after the tree lock and before nothing else. A
// copy's upload lock is taken before its state lock, never with the table or tree lock held.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "drive/storage/LocalCopyRecord.h"
#include "platform/sync/Mutex.h"

// "<program folder>/writecache/".
std::string WriteCacheFolder(const std::string& programFolder);

class LocalCopy {
 public:
  // Takes over `fd`, the open data file "<number>.data" in `folder`.
  LocalCopy(const std::string& folder, uint64_t number, int fd, std::u16string nodeId,
            LocalCopyRecord record);
  ~LocalCopy();
  LocalCopy(const LocalCopy&) = delete;
  LocalCopy& operator=(const LocalCopy&) = delete;

  const uint64_t number;
  const std::string dataPath;
  const std::string recordPath;

  // The data file. Reads and writes give the count, or minus an errno; a write `atEnd` goes
  // to the end of the file whatever `offset` says.
  int64_t read(void* buffer, int64_t offset, size_t size) const;
  int64_t write(const void* buffer, int64_t offset, size_t size, bool atEnd);
  int truncate(int64_t size);  // 0 or an errno
  int64_t size() const;
  int32_t modifiedTime() const;  // seconds since 1970
  int fd() const { return fd_; }

  // Marks the copy changed; the record says so on disk from the first change on, so that a
  // copy a crash leaves behind is never taken for an unchanged one.
  void markDirty();
  // Writes the record now; with `sync` the data file, the record and the folder reach the
  // disk before it returns. False when a step failed.
  bool saveRecord(bool sync);
  bool saveRecordLocked(bool sync) REQUIRES(stateLock);
  // Removes the data file and the record (after an upload, or when abandoned).
  void removeFiles();

  Mutex uploadLock ACQUIRED_BEFORE(stateLock);  // one upload of the copy at a time
  Mutex stateLock;
  std::u16string nodeId GUARDED_BY(stateLock);
  LocalCopyRecord record GUARDED_BY(stateLock);
  int handles GUARDED_BY(stateLock) = 0;         // open handles of the file on the copy
  int writers GUARDED_BY(stateLock) = 0;         // handles written since their last cleanup
  bool abandoned GUARDED_BY(stateLock) = false;  // unlinked: never uploaded
  bool kept GUARDED_BY(stateLock) = false;       // upload failed: left for a later start

 private:
  // The record as last written, and whether that write reached the disk.
  std::string savedText_ GUARDED_BY(stateLock);
  bool savedSynced_ GUARDED_BY(stateLock) = false;
  const int fd_;
  Mutex appendLock_;  // an append finds the end and writes there in one step
};

class LocalCopies {
 public:
  // The copies live in `folder` ("<program folder>/writecache/").
  explicit LocalCopies(std::string folder);
  LocalCopies(const LocalCopies&) = delete;
  LocalCopies& operator=(const LocalCopies&) = delete;

  const std::string& folder() const { return folder_; }

  std::shared_ptr<LocalCopy> find(const std::u16string& nodeId) const EXCLUDES(lock_);
  void add(const std::shared_ptr<LocalCopy>& copy) EXCLUDES(lock_);
  // Takes `copy` out of the table (when it is still the copy of its file).
  void remove(LocalCopy& copy) EXCLUDES(lock_);
  // The file's id changed (an upload got a new one): the copy follows.
  void rename(LocalCopy& copy, const std::u16string& newId) EXCLUDES(lock_);
  // The file was unlinked: its copy is never uploaded and goes at its last close. False when
  // the file has no copy.
  bool abandon(const std::u16string& nodeId) EXCLUDES(lock_);
  bool inUse(uint64_t number) const EXCLUDES(lock_);

  // A number no copy on disk uses yet.
  uint64_t nextNumber() EXCLUDES(lock_);
  // The id of a file the service does not hold yet, edited in copy `number`; it never looks
  // like a service id.
  static std::u16string LocalIdOf(uint64_t number);
  static bool IsLocalId(const std::u16string& id);

  // Bytes of the data files in the folder, the copies of earlier runs included.
  int64_t bytesOnDisk() const { return BytesOnDisk(folder_); }
  static int64_t BytesOnDisk(const std::string& folder);

 private:
  const std::string folder_;
  mutable Mutex lock_;
  std::map<std::u16string, std::shared_ptr<LocalCopy>> copies_ GUARDED_BY(lock_);
  uint64_t nextNumber_ GUARDED_BY(lock_) = 0;
};
