// The storage client: the mirror of the user's remote tree on the storage service. It logs
// in, keeps the whole folder tree in memory (node table and lookup tables), answers the
// driver's path questions from it, writes ".filelist" after every change and refreshes the
// tree on a maintenance thread.
//
// The class is split by concern: QLVMirror.cpp (life cycle and the answers from the tables),
// QLVMirrorWeb.cpp (the mirror's web client), QLVMirrorLogin.cpp, QLVMirrorTree.cpp (tree
// reads, file_info, ".filelist"), QLVMirrorRead.cpp (open, read, cleanup),
// QLVMirrorNames.cpp (delete, rmdir, rename, move, mkdir), QLVMirrorWrite.cpp (create, upload,
// write, set end of file, finishing an upload) and QLVMirrorMaintenance.cpp.
//
// Locks: treeLock_ guards the tables; webLock_ serialises the requests on the mirror's web
// client; sessionLock_ guards the session (taken after webLock_ when both are held);
// fileListLock_ guards which ".filelist" content was last put in place (taken after
// treeLock_); openFilesLock_ guards the set of open file contexts. Where both treeLock_ and
// webLock_ are needed, treeLock_ is taken first.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "drive/core/IOMirror.h"
#include "drive/replies/WebRequest.h"
#include "drive/storage/ReplyReading.h"
#include "drive/storage/TetherCheck.h"
#include "drive/storage/WebClient.h"
#include "drive/tree/FolderTree.h"
#include "platform/atomicfile/StagedFile.h"
#include "platform/sync/Mutex.h"

class MirrorConfig;
class QLVFile;
struct DriveProcess;
struct StorageProcess;
struct BuiltTree;
struct StreamLink;

// Timing and port of one mirror; the defaults are the program's, tests shorten them.
struct MirrorOptions {
  uint16_t webPort = kWebPort;
  std::chrono::milliseconds maintenanceStep{100};
  int refreshSteps = 6000;     // steps between two periodic tree reads (600 s)
  int housekeepingSteps = 30;  // steps between two tether checks (3 s)
  uint32_t tetherSilenceMs = kTetherSilenceMs;
  // Called when the tether expired: unmounts the drive and ends the program. Empty: the drive
  // front's unmount, a wait for it, and the end of the process.
  std::function<void()> endOnTether;
};

class QLVMirror : public IOMirror {
 public:
  // Serves the drive program `drive` (its program folder, log, run drive letter and pipe
  // state) and keeps what outlives a mount cycle in `shared`.
  QLVMirror(DriveProcess& drive, StorageProcess& shared,
            const MirrorOptions& options = MirrorOptions());
  ~QLVMirror() override;
  QLVMirror(const QLVMirror&) = delete;
  QLVMirror& operator=(const QLVMirror&) = delete;

  // Opening and reading files (QLVMirrorRead.cpp).
  int CreateFile(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                 DWORD flagsAndAttributes, PDOKAN_FILE_INFO info) override;
  int ReadFile(LPCWSTR fileName, void* buffer, DWORD bytesToRead, LPDWORD bytesRead,
               LONGLONG offset, PDOKAN_FILE_INFO info) override;
  int Cleanup(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;

  // Name operations (QLVMirrorNames.cpp): one request each; the tables change only when the
  // service answered "ok".
  int CreateDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int DeleteFile(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int DeleteDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int MoveFile(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting,
               PDOKAN_FILE_INFO info) override;

  // Writing files (QLVMirrorWrite.cpp).
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
  int readDirTree() EXCLUDES(webLock_, treeLock_);

  // Fetches one node's fields ("file_info"). 0 and `record` filled, or -1.
  int fileInfo(const std::u16string& id, NodeRecord* record) EXCLUDES(webLock_, treeLock_);

  // Tells the mounted drive that the entries at these paths ("\\a\\b") changed, so the
  // kernel drops the names and attributes it keeps for them: the old path of an entry removed,
  // renamed or moved, an entry whose size or time changed, and each folder whose children
  // changed. Call it after every change of the tables, without the tree lock.
  void notifyDriveChanged(const std::vector<std::u16string>& paths) EXCLUDES(treeLock_);

  // Marks a node whose size changed locally, so the next information query asks the service.
  void markStale(const std::u16string& id);

  WebSession session() EXCLUDES(sessionLock_);
  int64_t quota() const;
  int64_t used() const;
  std::u16string downloadFolderId() const;

 protected:
  int DoLogin() override;

 private:
  // QLVMirrorWeb.cpp.
  int sendOnMirrorClient(const FormedRequest& request) REQUIRES(webLock_);
  StreamedReply readStreamedReply() REQUIRES(webLock_);
  StreamedReply::Status readStreamedReplyInto(const std::function<void(std::string_view)>& consume)
      REQUIRES(webLock_);

  // QLVMirrorTree.cpp.
  // Puts the new tables in place and leaves the previous ones in `tree`.
  void installTree(BuiltTree& tree) REQUIRES(treeLock_);
  // Adds the files whose upload is not closed yet; one `fresh` lists already (an overwrite in
  // progress) keeps the size counted so far and stays stale. `current`, when given, is asked
  // for that size.
  void addPendingUploads(FolderTables& fresh, const FolderTables* current) const;
  // Writes ".filelist" now, with the tree lock held throughout.
  void writeFileList() REQUIRES(treeLock_);
  // The two halves of it: the content, written beside the file under the lock (or from
  // tables not yet shared), and the rename that puts it in place. A content older than the
  // one last put in place is dropped, so the file never goes back to an older tree.
  struct FileListDraft {
    uint64_t sequence = 0;
    atomicfile::StagedFile file;
  };
  FileListDraft fileListDraft() REQUIRES(treeLock_);
  atomicfile::StagedFile stageFileList(const FolderTables& tables) const;
  void saveFileList(FileListDraft& draft) EXCLUDES(fileListLock_);

  // QLVMirrorRead.cpp.
  int openForReading(const std::u16string& path, const NodeRecord& node, PDOKAN_FILE_INFO info);
  // A new context for the file with its stream open, registered as open; null on failure.
  // The opened context, or nothing with the open's result in `*result`.
  std::unique_ptr<QLVFile> openReadContext(const NodeRecord& node, int* result);
  // Gets the read link (cached or "readdist") and opens the media reader: 0, or the failed
  // request's code, or -1 when the reader did not open.
  int openStream(QLVFile& file);
  // "readdist" for the file: 0 and `link` filled, or -1 (open), -2 (send), -3 (no reply), -4,
  // -11 or -12 (refused).
  int requestReadLink(const QLVFile& file, StreamLink* link);
  // Head-file names of the contexts not yet freed.
  std::set<std::string> headKeysInUse() const;
  // The content of these files changed or they are gone: their read links and head files are
  // dropped, so that the next open asks for a new link and reads one version whole.
  void forgetContent(const std::vector<std::u16string>& ids) const;

  // QLVMirrorNames.cpp.
  // One name request on the mirror's client: 0 on "ok" (the reply in `replyText`), else -1
  // after the action's log line.
  int nameRequest(std::u16string_view action, const std::vector<WebParam>& params,
                  std::u16string* replyText = nullptr) EXCLUDES(webLock_);
  // delete and rmdir with the tree lock already held (inside rmdir); ".filelist" is left to
  // the caller.
  int deleteLocked(const std::u16string& id) REQUIRES(treeLock_);
  int removeFolderLocked(const std::u16string& id) REQUIRES(treeLock_);
  // Table changes after "ok".
  void dropFile(const std::u16string& id) REQUIRES(treeLock_);
  void dropFolder(const std::u16string& id) REQUIRES(treeLock_);
  // Gives the node its place (parent, name); the paths below it follow from the parent links,
  // the writable flags below it are worked out again.
  void placeNode(const std::u16string& id, const std::u16string& parentId,
                 const std::u16string& name) REQUIRES(treeLock_);
  void markWritableBelow(const std::u16string& folderId, bool writable) REQUIRES(treeLock_);
  // The download space and the writable folders may not be removed, renamed, moved or replaced.
  bool isProtected(const std::u16string& id) const REQUIRES(treeLock_);
  int renameNode(const NodeRecord& node, const std::u16string& name);
  int moveNode(const NodeRecord& node, const std::u16string& folder, const std::u16string& name);

  // QLVMirrorWrite.cpp.
  int createForWriting(const std::u16string& path, DWORD desiredAccess, DWORD shareMode,
                       DWORD creationDisposition, DWORD flagsAndAttributes, PDOKAN_FILE_INFO info);
  int openForWriting(const std::u16string& path, const NodeRecord& node, DWORD desiredAccess,
                     DWORD creationDisposition, PDOKAN_FILE_INFO info);
  // The write branch shared by new and existing files.
  int openUploadAt(const std::u16string& path, std::optional<NodeRecord> existing,
                   DWORD creationDisposition, PDOKAN_FILE_INFO info);
  // "writedist" and "tw_create" for the context: 0, or after its log line -112 when the
  // service refused for space, else -1.
  int openUpload(QLVFile& file, const std::u16string& pid, const std::u16string& name);
  // Sends the service's content of `node` as the upload's first bytes, so that later writes
  // add to it: 0, or after its log line the driver's result (the upload is then abandoned).
  int copyServiceContent(const NodeRecord& node, QLVFile& upload);
  // Takes a context off the open list and hands it to the closed-file list, as cleanup does.
  void retireContext(std::unique_ptr<QLVFile> file);
  // Puts the upload's node in the tables and the pending table, replacing `replacedId`.
  void addUploadNode(const std::u16string& path, const NodeRecord& parent, const std::u16string& id,
                     const std::u16string& replacedId, int64_t size) REQUIRES(treeLock_);
  // Ends the upload of a context at cleanup: 0, or when the service did not take it -112 for
  // a refusal for space, else -1.
  int finishUpload(QLVFile& file) EXCLUDES(treeLock_);

  // QLVMirrorMaintenance.cpp.
  void maintenanceLoop();
  void releaseClosedFiles();
  void pruneDiskCaches();
  void checkTether();

  // Lookups in the tables: copies of the records, with their folder paths.
  std::optional<NodeRecord> nodeOfPath(std::u16string_view path) const REQUIRES(treeLock_);
  std::optional<NodeRecord> nodeOfId(const std::u16string& id) const REQUIRES(treeLock_);

  DriveProcess& drive_;
  StorageProcess& shared_;
  const MirrorOptions options_;
  std::atomic<MirrorConfig*> config_{nullptr};

  Mutex webLock_;
  WebClient web_ GUARDED_BY(webLock_);
  // A lock of its own, so that opening a file does not wait for a tree read, which holds the
  // web lock for its whole transfer. Taken after the web lock when both are held.
  Mutex sessionLock_ ACQUIRED_AFTER(webLock_);
  WebSession session_ GUARDED_BY(sessionLock_);

  mutable Mutex treeLock_ ACQUIRED_BEFORE(webLock_);
  int64_t quota_ GUARDED_BY(treeLock_) = 0;
  int64_t used_ GUARDED_BY(treeLock_) = 0;
  FolderTables tables_ GUARDED_BY(treeLock_);
  std::u16string downloadFolderId_ GUARDED_BY(treeLock_);
  uint64_t fileListSequence_ GUARDED_BY(treeLock_) = 0;

  Mutex fileListLock_ ACQUIRED_AFTER(treeLock_);
  uint64_t savedFileListSequence_ GUARDED_BY(fileListLock_) = 0;

  mutable Mutex openFilesLock_;
  // Contexts from open to cleanup.
  std::set<const QLVFile*> openFiles_ GUARDED_BY(openFilesLock_);

  std::thread maintenance_;  // started last, joined by the destructor
};
