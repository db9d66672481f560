// An in-memory file system behind the drive front for tests: a tree of folders and files
// that the test fills and inspects, a record of every call the driver made, results the test
// forces for one operation on one path, and a gate that holds reads until several run at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "drive/core/IOMirror.h"

struct MirrorCall {
  std::string operation;
  std::u16string name;
  std::u16string newName;      // MoveFile
  uint32_t desiredAccess = 0;  // CreateFile
  uint32_t disposition = 0;    // CreateFile
  int64_t offset = 0;          // ReadFile, WriteFile, SetEndOfFile
  uint32_t length = 0;         // ReadFile, WriteFile
  int replace = 0;             // MoveFile
  uint64_t context = 0;        // the file context as the call arrived
  uint32_t processId = 0;
  uint8_t isDirectory = 0;
  DOKAN_OPTIONS options{};  // the driver's options record as the call saw it
};

struct MemoryNode {
  bool folder = false;
  std::string data;
};

class MemoryTree {
 public:
  MemoryTree();

  void addFolder(const std::u16string& path);
  void addFile(const std::u16string& path, std::string data);
  bool exists(const std::u16string& path) const;
  std::string contents(const std::u16string& path) const;

  // Makes every later `operation` on `path` answer `result` without doing anything.
  void forceResult(const std::string& operation, const std::u16string& path, int result);
  // Makes FindFiles of `folder` add this raw entry as well.
  void addRawEntry(const std::u16string& folder, const WIN32_FIND_DATAW& entry);
  // ReadFile reports this many bytes more than it was asked for.
  void overReportReads(uint32_t extra) { overReport_ = extra; }

  std::vector<MirrorCall> calls() const;
  std::vector<MirrorCall> callsOf(const std::string& operation) const;
  void clearCalls();

  // Holds each ReadFile until `count` reads are in flight together (or a 10 s deadline).
  void holdReadsUntil(int count) { readGate_ = count; }
  int mostReadsAtOnce() const { return mostReads_; }
  size_t readThreadCount() const;

  int loginResult = 0;
  std::atomic<int> liveMirrors{0};
  std::atomic<int> unmountCalls{0};

 private:
  friend class MemoryMirror;

  // Records the call; returns the forced result for it, or 1 when none. Takes lock_.
  int record(MirrorCall call);
  void enterRead();
  void leaveRead();
  // The parent folder of a path ("\\a\\b" → "\\a", "\\a" → "\\").
  static std::u16string parentOf(const std::u16string& path);
  bool hasChildren(const std::u16string& path) const;  // expects lock_ held

  mutable std::mutex lock_;
  std::map<std::u16string, MemoryNode> nodes_;                    // guarded by lock_
  std::vector<MirrorCall> calls_;                                 // guarded by lock_
  std::map<std::pair<std::string, std::u16string>, int> forced_;  // guarded by lock_
  std::multimap<std::u16string, WIN32_FIND_DATAW> rawEntries_;    // guarded by lock_
  std::set<std::thread::id> readThreads_;                         // guarded by lock_
  uint64_t nextContext_ = 1000;                                   // guarded by lock_
  int readsInFlight_ = 0;                                         // guarded by lock_
  std::condition_variable readsChanged_;
  std::atomic<int> readGate_{0};
  std::atomic<int> mostReads_{0};
  std::atomic<uint32_t> overReport_{0};
};

class MemoryMirror : public IOMirror {
 public:
  explicit MemoryMirror(std::shared_ptr<MemoryTree> tree);
  ~MemoryMirror() override;

  int CreateFile(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                 DWORD flagsAndAttributes, PDOKAN_FILE_INFO info) override;
  int OpenDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int CreateDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int CloseFile(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int Cleanup(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int ReadFile(LPCWSTR fileName, void* buffer, DWORD bytesToRead, LPDWORD bytesRead,
               LONGLONG offset, PDOKAN_FILE_INFO info) override;
  int WriteFile(LPCWSTR fileName, const void* buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                LONGLONG offset, PDOKAN_FILE_INFO info) override;
  int FlushFileBuffers(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int GetFileInformation(LPCWSTR fileName, LPBY_HANDLE_FILE_INFORMATION information,
                         PDOKAN_FILE_INFO info) override;
  int FindFiles(LPCWSTR pathName, PFillFindData fill, PDOKAN_FILE_INFO info) override;
  int DeleteFile(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int DeleteDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info) override;
  int MoveFile(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting,
               PDOKAN_FILE_INFO info) override;
  int SetEndOfFile(LPCWSTR fileName, LONGLONG byteOffset, PDOKAN_FILE_INFO info) override;
  int SetFileTime(LPCWSTR fileName, const FILETIME* creationTime, const FILETIME* lastAccessTime,
                  const FILETIME* lastWriteTime, PDOKAN_FILE_INFO info) override;
  int Unmount(PDOKAN_FILE_INFO info) override;
  int GetVolumeInformation(LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                           LPDWORD fileSystemFlags, LPWSTR fileSystemNameBuffer,
                           DWORD fileSystemNameSize, PDOKAN_FILE_INFO info) override;
  int GetDiskFreeSpace(PULONGLONG freeBytesAvailable, PULONGLONG totalBytes,
                       PULONGLONG totalFreeBytes, PDOKAN_FILE_INFO info) override;

  static constexpr uint64_t kTotalBytes = 8ull << 30;
  static constexpr uint64_t kFreeBytes = 3ull << 30;

 protected:
  int DoLogin() override { return tree_->loginResult; }

 private:
  MirrorCall callOf(const char* operation, LPCWSTR name, PDOKAN_FILE_INFO info) const;

  std::shared_ptr<MemoryTree> tree_;
};
