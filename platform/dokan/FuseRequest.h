// What every FUSE operation of the drive shares: the per-call record handed to the driver's
// callbacks, the drive paths of the kernel's entry numbers, and the conversions of the
// callbacks' answers into FUSE's.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/dokan/FuseOperations.h"

namespace dokan {

// How long the kernel keeps names and attributes: the whole tree is in memory and every
// change passes through this program, which tells the kernel of each (DokanNotifyChanged).
constexpr double kCacheSeconds = 3600.0;
// Files are opened without sharing limits: the kernel, not the driver, arbitrates access.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

inline DriveSession& SessionOf(fuse_req_t request) {
  return *static_cast<DriveSession*>(fuse_req_userdata(request));
}

inline OpenHandle* HandleOf(const fuse_file_info* fi) {
  return fi != nullptr ? reinterpret_cast<OpenHandle*>(static_cast<uintptr_t>(fi->fh)) : nullptr;
}

// The per-call record handed to one callback. DokanContext points back at this record, so
// that FindFiles' fill function reaches the listing being read.
struct CallRecord {
  CallRecord(DriveSession& session, fuse_req_t request, const fuse_file_info* fi)
      : CallRecord(session, HandleOf(fi), static_cast<uint32_t>(fuse_req_ctx(request)->pid)) {}
  CallRecord(DriveSession& session, OpenHandle* handle, uint32_t processId);
  // A context the file system set during the call stays with the handle.
  ~CallRecord();
  CallRecord(const CallRecord&) = delete;
  CallRecord& operator=(const CallRecord&) = delete;

  OpenHandle* handle = nullptr;
  const DriveSession* session = nullptr;
  DOKAN_FILE_INFO info{};
  std::vector<ListedEntry>* listing = nullptr;  // filled by FindFiles
};

// The drive form of entry `ino`'s path, or the errno for it. An open handle whose entry is
// gone (removed, or replaced by a rename) gets an empty name for its callbacks; any other
// request for such an entry gets ESTALE, which the kernel answers by looking the name up again.
int NameOfEntry(DriveSession& session, fuse_ino_t ino, std::u16string& name,
                bool handleCall = false);
// The drive form of `child` in folder `parent`.
int NameOfChild(DriveSession& session, fuse_ino_t parent, const char* child, std::u16string& name);

// errno for a driver result (0 for success).
int Answer(int result);
void FillStat(const BY_HANDLE_FILE_INFORMATION& info, const DriveSession& session, struct stat* st);
// GetFileInformation of `name` as a stat; 0 or errno.
int StatOf(DriveSession& session, const std::u16string& name, CallRecord& call, struct stat* st);
// The answer to a lookup of `child` in `parent` whose stat is `st`: the entry is counted in
// the inode table. False when the folder is no longer known.
bool EntryOf(DriveSession& session, fuse_ino_t parent, const char* child, const struct stat& st,
             fuse_entry_param& entry);

// Keeps a handle for what the file system just opened; its address goes into fi->fh.
uint64_t Adopt(DriveSession& session, const std::u16string& name, const DOKAN_FILE_INFO& info);
void Forget(DriveSession& session, OpenHandle* handle);
// Cleanup then CloseFile on the handle's context, as when the last user of a handle is gone.
void CloseHandle(DriveSession& session, const std::u16string& name, CallRecord& call);

// The file and folder operations (FuseFileOperations.cpp).
void OnOpen(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi);
void OnCreate(fuse_req_t request, fuse_ino_t parent, const char* child, mode_t, fuse_file_info* fi);
void OnRead(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi);
void OnWrite(fuse_req_t request, fuse_ino_t ino, const char* buffer, size_t size, off_t offset,
             fuse_file_info* fi);
void OnFlush(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi);
void OnFsync(fuse_req_t request, fuse_ino_t ino, int, fuse_file_info* fi);
void OnRelease(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi);
void OnOpendir(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi);
void OnReaddir(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi);
void OnReaddirplus(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset,
                   fuse_file_info* fi);
void OnReleasedir(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi);

}  // namespace dokan
