// The storage client: the mirror of the user's remote tree on the storage service. It logs
// in, keeps the whole folder tree in memory (node table and lookup tables), answers the
// driver's path questions from it, writes ".filelist" after every change and refreshes the
// tree on a maintenance thread.
//
// QLVMirror is the façade the driver and the control pipe call; each concern is a class of
// its own that owns its state and its lock:
//   MirrorTreeStore    the tables, quota and use, the download folder id, ".filelist"
//                      (the tree lock; the .filelist lock, taken after it)
//   MirrorWebSession   the mirror's web client and the session, login
//                      (the web lock; the session lock, taken after it)
//   MirrorTreeReads    tree reads ("list3") and "file_info"
//   MirrorReadPath     open for reading, read links, reads, the open contexts
//                      (the open-files lock, taken with no other mirror lock held)
//   MirrorNames        delete, rmdir, rename, move, mkdir
//   MirrorUploadPath   create for writing, uploads, writes, set end of file, finishing
//   MirrorCopyPath     writing inside files through local copies (LocalCopies), their
//                      uploads, and the copies an earlier run left
//   MirrorMaintenance  the maintenance thread: closed files, tether, cache pruning, refresh
// The façade itself answers from the tables (information, listings, free space, the control
// pipe's lookups) and dispatches create-file and cleanup between the read and upload paths.
//
// Lock order, where more than one is held: tree lock, then web lock, then session lock; tree
// lock, then .filelist lock. Removing a folder sends a request for each child with the tree
// lock held, so it is the one concern that holds the tables and the mirror's client at once;
// a tree read holds the web lock for the transfer and takes the tree lock only after it. The
// open-files lock is taken with no other mirror lock held. The locks of the shared state
// (read links, pending uploads, closed files) come after all of these. The locks live in
// different objects, so clang's ordering attributes cannot name the pair; each class states
// the order of its own two locks, and the entry points that take another concern's lock say
// which they must not be called with (EXCLUDES).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "drive/core/IOMirror.h"
#include "drive/storage/LocalCopies.h"
#include "drive/storage/MirrorCopyPath.h"
#include "drive/storage/MirrorMaintenance.h"
#include "drive/storage/MirrorNames.h"
#include "drive/storage/MirrorOptions.h"
#include "drive/storage/MirrorReadPath.h"
#include "drive/storage/MirrorTreeReads.h"
#include "drive/storage/MirrorTreeStore.h"
#include "drive/storage/MirrorUploadPath.h"
#include "drive/storage/MirrorWebSession.h"

class MirrorConfig;
struct DriveProcess;
struct StorageProcess;

class QLVMirror : public IOMirror {
 public:
  // Serves the drive program `drive` (its program folder, log, run drive letter and pipe
  // state) and keeps what outlives a mount cycle in `shared`.
  QLVMirror(DriveProcess& drive, StorageProcess& shared,
            const MirrorOptions& options = MirrorOptions());
  ~QLVMirror() override;
  QLVMirror(const QLVMirror&) = delete;
  QLVMirror& operator=(const QLVMirror&) = delete;

  // Opening and reading files (MirrorReadPath); the create-file dispatch between reading and
  // writing, and cleanup, which finishes an upload and retires the context, are the façade's.
  int CreateFile(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                 DWORD flagsAndAttributes, PDOKAN_FILE_INFO info) override;
  int ReadFile(LPCWSTR fileName, void* buffer, DWORD bytesToRead, LPDWORD bytesRead,
               LONGLONG offset, PDOKAN_FILE_INFO info) override;
  int Cleanup(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;

  // Name operations (MirrorNames): one request each; the tables change only when the
  // service answered "ok".
  int CreateDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int DeleteFile(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int DeleteDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int MoveFile(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting,
               PDOKAN_FILE_INFO info) override;

  // Writing files (MirrorUploadPath).
  int WriteFile(LPCWSTR fileName, const void* buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                LONGLONG offset, PDOKAN_FILE_INFO info) override;
  int SetEndOfFile(LPCWSTR fileName, LONGLONG byteOffset, PDOKAN_FILE_INFO info) override;
  int SetFileTime(LPCWSTR fileName, const FILETIME* creationTime, const FILETIME* lastAccessTime,
                  const FILETIME* lastWriteTime, PDOKAN_FILE_INFO info) override;
  int SetFileAttributes(LPCWSTR fileName, DWORD attributes, PDOKAN_FILE_INFO info) override;

  // Driver operations answered from the tree.
  int OpenDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int CloseFile(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int FlushFileBuffers(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int GetFileInformation(LPCWSTR fileName, LPBY_HANDLE_FILE_INFORMATION information,
                         PDOKAN_FILE_INFO info) override;
  int FindFiles(LPCWSTR pathName, PFillFindData fill, PDOKAN_FILE_INFO info) override;
  int GetVolumeInformation(LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                           LPDWORD fileSystemFlags, LPWSTR fileSystemNameBuffer,
                           DWORD fileSystemNameSize, PDOKAN_FILE_INFO info) override;
  int GetDiskFreeSpace(PULONGLONG freeBytesAvailable, PULONGLONG totalBytes,
                       PULONGLONG totalFreeBytes, PDOKAN_FILE_INFO info) override;

  // Control operations.
  void SetConfig(MirrorConfig* config) override;
  std::u16string GetDrivePath(const std::u16string& key) override;
  std::u16string GetPath(const std::u16string& key) override;
  std::u16string GetIdOfPath(const std::u16string& path) override;
  int GetEntry(const std::u16string& key, NodeRecord* record) override;
  std::map<std::u16string, std::u16string> GetChildren(const std::u16string& key) override;

  // Reads the whole tree again ("list3") and replaces the tables. 0, -1 when the request was
  // not sent or the run state stopped the read, -2 when the reply was refused. A failed read
  // leaves the tables as they were.
  int readDirTree() EXCLUDES(web_.lock(), tree_.lock());

  // Fetches one node's fields ("file_info"). 0 and `record` filled, or -1.
  int fileInfo(const std::u16string& id, NodeRecord* record) EXCLUDES(web_.lock(), tree_.lock());

  // Tells the mounted drive that the entries at these paths ("\\a\\b") changed, so the
  // kernel drops the names and attributes it keeps for them: the old path of an entry removed,
  // renamed or moved, an entry whose size or time changed, and each folder whose children
  // changed. Call it after every change of the tables, without the tree lock.
  void notifyDriveChanged(const std::vector<std::u16string>& paths) EXCLUDES(tree_.lock());

  // Marks a node whose size changed locally, so the next information query asks the service.
  void markStale(const std::u16string& id);

  WebSession session();
  int64_t quota() const;
  int64_t used() const;
  std::u16string downloadFolderId() const;

 protected:
  int DoLogin() override;

 private:
  DriveProcess& drive_;
  StorageProcess& shared_;
  const MirrorOptions options_;
  std::atomic<MirrorConfig*> config_{nullptr};

  // Each concern gets references to those declared before it.
  LocalCopies copies_;
  MirrorWebSession web_;
  MirrorTreeStore tree_;
  MirrorReadPath read_;
  MirrorNames names_;
  MirrorUploadPath upload_;
  MirrorCopyPath edits_;
  MirrorTreeReads treeReads_;
  MirrorMaintenance maintenance_;  // its thread is started last, joined by the destructor
};
