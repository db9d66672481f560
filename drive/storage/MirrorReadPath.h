// Opening and reading files: the read link ("readdist", cached for 60 s), the media reader
// behind each open file, reads, the set of open file contexts, and handing a context to the
// closed-file list at cleanup.
#pragma once

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "drive/core/IOMirror.h"
#include "platform/sync/Mutex.h"

class MirrorConfig;
class MirrorTreeStore;
class MirrorWebSession;
class QLVFile;
struct DriveProcess;
struct MirrorOptions;
struct StorageProcess;
struct StreamLink;

// A file context the read path did not set: zero, or the calling process id that some callers
// leave in it.
bool EmptyFileContext(const DOKAN_FILE_INFO& info);

class MirrorReadPath {
 public:
  MirrorReadPath(DriveProcess& drive, StorageProcess& shared, const MirrorOptions& options,
                 const std::atomic<MirrorConfig*>& config, MirrorTreeStore& tree,
                 MirrorWebSession& web);
  MirrorReadPath(const MirrorReadPath&) = delete;
  MirrorReadPath& operator=(const MirrorReadPath&) = delete;

  int openForReading(const std::u16string& path, const NodeRecord& node, PDOKAN_FILE_INFO info);
  int readFile(LPCWSTR fileName, void* buffer, DWORD bytesToRead, LPDWORD bytesRead,
               LONGLONG offset, PDOKAN_FILE_INFO info);

  // A new context for the file with its stream open, registered as open; null on failure.
  // The opened context, or nothing with the open's result in `*result`.
  std::unique_ptr<QLVFile> openReadContext(const NodeRecord& node, int* result)
      EXCLUDES(openFilesLock_);
  // Takes a context off the open list and hands it to the closed-file list, as cleanup does.
  void retireContext(std::unique_ptr<QLVFile> file) EXCLUDES(openFilesLock_);
  // Head-file names of the contexts not yet freed.
  std::set<std::string> headKeysInUse() const EXCLUDES(openFilesLock_);

 private:
  // Gets the read link (cached or "readdist") and opens the media reader: 0, or the failed
  // request's code, or -1 when the reader did not open.
  int openStream(QLVFile& file);
  // "readdist" for the file: 0 and `link` filled, or -1 (open), -2 (send), -3 (no reply), -4,
  // -11 or -12 (refused).
  int requestReadLink(const QLVFile& file, StreamLink* link);

  DriveProcess& drive_;
  StorageProcess& shared_;
  const MirrorOptions& options_;
  const std::atomic<MirrorConfig*>& config_;
  MirrorTreeStore& tree_;
  MirrorWebSession& web_;

  mutable Mutex openFilesLock_;
  // Contexts from open to cleanup.
  std::set<const QLVFile*> openFiles_ GUARDED_BY(openFilesLock_);
};
