// Creating and uploading files inside writable folders: the write branch of create-file with
// its write link ("writedist") and write connection ("tw_create"), writes at the driver's
// offsets ("tw_write"), set end of file, and finishing the upload at cleanup ("tw_close").
// The file's node is in the tree from the create on, pending until its upload is finished.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "drive/core/IOMirror.h"
#include "drive/storage/MirrorTreeStore.h"
#include "drive/storage/NameRequests.h"
#include "drive/storage/UploadState.h"

class MirrorConfig;
class MirrorReadPath;
class MirrorWebSession;
class QLVFile;
struct DriveProcess;
struct MirrorOptions;
struct StorageProcess;

class MirrorUploadPath {
 public:
  MirrorUploadPath(DriveProcess& drive, StorageProcess& shared, const MirrorOptions& options,
                   const std::atomic<MirrorConfig*>& config, MirrorTreeStore& tree,
                   MirrorWebSession& web, MirrorReadPath& read);
  MirrorUploadPath(const MirrorUploadPath&) = delete;
  MirrorUploadPath& operator=(const MirrorUploadPath&) = delete;

  int createForWriting(const std::u16string& path, DWORD desiredAccess, DWORD shareMode,
                       DWORD creationDisposition, DWORD flagsAndAttributes, PDOKAN_FILE_INFO info);
  int openForWriting(const std::u16string& path, const NodeRecord& node, DWORD desiredAccess,
                     DWORD creationDisposition, PDOKAN_FILE_INFO info);
  int writeFile(LPCWSTR fileName, const void* buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                LONGLONG offset, PDOKAN_FILE_INFO info) EXCLUDES(tree_.lock());
  int setEndOfFile(LONGLONG byteOffset, PDOKAN_FILE_INFO info) EXCLUDES(tree_.lock());
  int setFileTime(LPCWSTR fileName) EXCLUDES(tree_.lock());
  // Ends the upload of a context at cleanup: 0, or when the service did not take it -112 for
  // a refusal for space, else -1.
  int finishUpload(QLVFile& file) EXCLUDES(tree_.lock());
  // "writedist" and "tw_create" for the context: 0, or after its log line -112 when the
  // service refused for space, else -1. Also used to upload a local copy whole.
  int openUpload(QLVFile& file, const std::u16string& pid, const std::u16string& name);

 private:
  // The write branch shared by new and existing files.
  int openUploadAt(const std::u16string& path, std::optional<NodeRecord> existing,
                   DWORD creationDisposition, PDOKAN_FILE_INFO info) EXCLUDES(tree_.lock());
  // Sends the service's content of `node` as the upload's first bytes, so that later writes
  // add to it: 0, or after its log line the driver's result (the upload is then abandoned).
  int copyServiceContent(const NodeRecord& node, QLVFile& upload);
  // Puts the upload's node in the tables and the pending table, replacing the file the
  // upload replaces.
  void addUploadNode(const std::u16string& path, const NodeRecord& parent,
                     const UploadState& upload, int64_t size) REQUIRES(tree_.lock());

  // What the close of an upload leaves to do once the tables show it.
  struct FinishedUpload {
    std::vector<std::u16string> changedPaths;  // for the kernel
    std::optional<ServicePlace> shownPlace;    // where the drive shows the stored file
    bool deleteFromService = false;            // removed while the close ran
  };
  // Writes a zero at the end of a file made longer than its bytes sent: false when refused.
  bool padToLength(UploadState& upload) REQUIRES(upload.connectionLock);
  // The tables after the close: the stored file, or what the service still holds.
  FinishedUpload showFinished(const UploadState& upload, bool taken, int64_t stored)
      EXCLUDES(tree_.lock());
  // Sends the delete or the rename the close left: 0, or -1 when the service kept the file
  // elsewhere than the drive showed it.
  int placeFinished(const UploadState& upload, const FinishedUpload& finished)
      EXCLUDES(tree_.lock());

  DriveProcess& drive_;
  StorageProcess& shared_;
  const MirrorOptions& options_;
  const std::atomic<MirrorConfig*>& config_;
  MirrorTreeStore& tree_;
  MirrorWebSession& web_;
  MirrorReadPath& read_;
};
