// The storage client: the mirror of the user's remote tree on the storage service. It logs
// in, keeps the whole folder tree in memory (node table and lookup tables), answers the
// driver's path questions from it, writes ".filelist" after every change and refreshes the
// tree on a maintenance thread.
//
// The class is split by concern: QLVMirror.cpp (life cycle and the answers from the tables),
// QLVMirrorWeb.cpp (the mirror's web client), QLVMirrorLogin.cpp, QLVMirrorTree.cpp (tree
// reads, file_info, ".filelist") and QLVMirrorMaintenance.cpp.
//
// Locks: treeLock_ guards the tables; webLock_ serialises the requests on the mirror's web
// client. Where both are needed, treeLock_ is taken first.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "drive/core/IOMirror.h"
#include "drive/storage/FolderTree.h"
#include "drive/storage/ReplyReading.h"
#include "drive/storage/WebClient.h"
#include "drive/storage/WebRequest.h"

class MirrorConfig;
struct BuiltTree;

// Timing and port of one mirror; the defaults are the program's, tests shorten them.
struct MirrorOptions {
  uint16_t webPort = kWebPort;
  std::chrono::milliseconds maintenanceStep{100};
  int refreshSteps = 6000;     // steps between two periodic tree reads (600 s)
  int housekeepingSteps = 30;  // steps between two tether checks (3 s)
};

class QLVMirror : public IOMirror {
 public:
  explicit QLVMirror(const MirrorOptions& options = MirrorOptions());
  ~QLVMirror() override;
  QLVMirror(const QLVMirror&) = delete;
  QLVMirror& operator=(const QLVMirror&) = delete;

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
  int readDirTree();

  // Fetches one node's fields ("file_info"). 0 and `record` filled, or -1.
  int fileInfo(const std::u16string& id, NodeRecord* record);

  // Marks a node whose size changed locally, so the next information query asks the service.
  void markStale(const std::u16string& id);

  WebSession session();
  int64_t quota() const;
  int64_t used() const;
  std::u16string downloadFolderId() const;

 protected:
  int DoLogin() override;

 private:
  // QLVMirrorWeb.cpp. Both expect webLock_ held.
  int sendOnMirrorClient(const FormedRequest& request);
  StreamedReply readStreamedReply();

  // QLVMirrorTree.cpp. Expect treeLock_ held.
  // Puts the new tables in place and leaves the previous ones in `tree`.
  void installTree(BuiltTree& tree);
  void writeFileList();

  // QLVMirrorMaintenance.cpp.
  void maintenanceLoop();
  void releaseClosedFiles();
  void pruneDiskCaches();
  void checkTether();

  // Lookups; expect treeLock_ held.
  const NodeRecord* nodeOfPath(std::u16string_view path) const;
  const NodeRecord* nodeOfId(const std::u16string& id) const;

  const MirrorOptions options_;
  std::atomic<MirrorConfig*> config_{nullptr};

  std::mutex webLock_;
  WebClient web_;       // guarded by webLock_
  WebSession session_;  // guarded by webLock_

  mutable std::mutex treeLock_;
  int64_t quota_ = 0;                // guarded by treeLock_
  int64_t used_ = 0;                 // guarded by treeLock_
  FolderTables tables_;              // guarded by treeLock_
  std::u16string downloadFolderId_;  // guarded by treeLock_

  std::thread maintenance_;  // started last, joined by the destructor
};
