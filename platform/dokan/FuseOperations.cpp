// Finding entries by name, their attributes, and the name operations (make, remove, rename).
// File and folder handles are in FuseFileOperations.cpp and FuseFolderOperations.cpp.
#include "platform/dokan/FuseOperations.h"

#include <fcntl.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/dokan/DriveNames.h"
#include "platform/dokan/FuseRequest.h"

namespace dokan {

namespace {

constexpr uint64_t kStatfsBlock = 4096;

void OnInit(void* userData, fuse_conn_info* conn) {
  conn->max_read = kMaxFuseRead;
  // Writes of up to 1 MiB at once: every write is one request and reply on the upload
  // connection, so larger pieces mean fewer round trips.
  conn->max_write = kMaxWritePiece;
  if (conn->capable & FUSE_CAP_ATOMIC_O_TRUNC) conn->want |= FUSE_CAP_ATOMIC_O_TRUNC;
  // Without folder opens a folder costs the kernel one request less each time it is listed
  // (two with the release); the kernel still keeps the listings.
  if (conn->capable & FUSE_CAP_NO_OPENDIR_SUPPORT) {
    conn->want |= FUSE_CAP_NO_OPENDIR_SUPPORT;
    static_cast<DriveSession*>(userData)->foldersUnopened = true;
  }
}

// Answers a request for the entry `child` of `parent` that the file system just made or
// found: its attributes, and its number counted as looked up.
void ReplyEntry(fuse_req_t request, DriveSession& session, fuse_ino_t parent, const char* child,
                const std::u16string& name) {
  struct stat st {};
  fuse_entry_param entry{};
  CallRecord call(session, request, nullptr);
  int error = StatOf(session, name, call, &st);
  if (error == 0 && !EntryOf(session, parent, child, st, entry)) error = ENOENT;
  if (error != 0) {
    fuse_reply_err(request, error);
    return;
  }
  fuse_reply_entry(request, &entry);
}

void OnLookup(fuse_req_t request, fuse_ino_t parent, const char* child) {
  DriveSession& session = SessionOf(request);
  std::u16string name;
  if (int error = NameOfChild(session, parent, child, name)) {
    fuse_reply_err(request, error);
    return;
  }
  // Names that do not exist are not cached, so new entries show at once.
  ReplyEntry(request, session, parent, child, name);
}

void OnForget(fuse_req_t request, fuse_ino_t ino, uint64_t count) {
  SessionOf(request).inodes.forget(ino, count);
  fuse_reply_none(request);
}

void OnForgetMulti(fuse_req_t request, size_t count, fuse_forget_data* forgets) {
  InodeTable& inodes = SessionOf(request).inodes;
  for (size_t i = 0; i < count; ++i) inodes.forget(forgets[i].ino, forgets[i].nlookup);
  fuse_reply_none(request);
}

// Answers with the entry's attributes (after the call record is gone: see OnRead).
void ReplyAttributes(fuse_req_t request, DriveSession& session, fuse_ino_t ino,
                     const std::u16string& name, fuse_file_info* fi) {
  struct stat st {};
  int error = 0;
  {
    CallRecord call(session, request, fi);
    error = StatOf(session, name, call, &st);
  }
  if (error != 0) {
    fuse_reply_err(request, error);
    return;
  }
  st.st_ino = ino;
  fuse_reply_attr(request, &st, kCacheSeconds);
}

void OnGetattr(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi) {
  DriveSession& session = SessionOf(request);
  std::u16string name;
  if (int error = NameOfEntry(session, ino, name, fi != nullptr)) {
    fuse_reply_err(request, error);
    return;
  }
  ReplyAttributes(request, session, ino, name, fi);
}

int SetMode(DriveSession& session, fuse_req_t request, const std::u16string& name, mode_t mode,
            fuse_file_info* fi) {
  if (session.operations->SetFileAttributes == nullptr) return ENOSYS;
  CallRecord call(session, request, fi);
  DWORD attributes = (mode & 0222) ? 0 : FILE_ATTRIBUTE_READONLY;
  if (S_ISDIR(mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  return Answer(session.operations->SetFileAttributes(name.c_str(), attributes, &call.info));
}

int SetSize(DriveSession& session, fuse_req_t request, const std::u16string& name, off_t size,
            fuse_file_info* fi) {
  const DOKAN_OPERATIONS& ops = *session.operations;
  if (ops.SetEndOfFile == nullptr) return ENOSYS;
  if (fi != nullptr) {
    CallRecord call(session, request, fi);
    if (call.handle != nullptr) call.handle->written = true;
    return Answer(ops.SetEndOfFile(name.c_str(), size, &call.info));
  }
  // Truncating by name: the size is set through a handle opened for it, as on an open file.
  if (ops.CreateFile == nullptr) return ENOSYS;
  CallRecord call(session, request, nullptr);
  int opened = ops.CreateFile(name.c_str(), GENERIC_WRITE, kShareAll, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, &call.info);
  if (opened < 0) return Answer(opened);
  int result = ops.SetEndOfFile(name.c_str(), size, &call.info);
  CloseHandle(session, name, call);
  return Answer(result);
}

int SetTimes(DriveSession& session, fuse_req_t request, const std::u16string& name,
             const struct stat& attr, int toSet, fuse_file_info* fi) {
  if (session.operations->SetFileTime == nullptr) return ENOSYS;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const int given[2] = {FUSE_SET_ATTR_ATIME, FUSE_SET_ATTR_MTIME};
  const int current[2] = {FUSE_SET_ATTR_ATIME_NOW, FUSE_SET_ATTR_MTIME_NOW};
  const timespec values[2] = {attr.st_atim, attr.st_mtim};
  FILETIME converted[2];
  const FILETIME* chosen[2] = {nullptr, nullptr};  // null leaves that time unchanged
  for (int i = 0; i < 2; ++i) {
    if (!(toSet & (given[i] | current[i]))) continue;
    converted[i] = FiletimeOf((toSet & current[i]) ? now : values[i]);
    chosen[i] = &converted[i];
  }
  CallRecord call(session, request, fi);
  return Answer(
      session.operations->SetFileTime(name.c_str(), nullptr, chosen[0], chosen[1], &call.info));
}

// Owners are fixed: every entry belongs to the user who mounted the drive. Giving it to that
// user (as tar and cp -a do) changes nothing and succeeds; any other owner is refused.
int CheckOwner(const DriveSession& session, const struct stat& attr, int toSet) {
  if ((toSet & FUSE_SET_ATTR_UID) && attr.st_uid != session.owner) return EPERM;
  if ((toSet & FUSE_SET_ATTR_GID) && attr.st_gid != session.group) return EPERM;
  return 0;
}

void OnSetattr(fuse_req_t request, fuse_ino_t ino, struct stat* attr, int toSet,
               fuse_file_info* fi) {
  DriveSession& session = SessionOf(request);
  std::u16string name;
  int error = NameOfEntry(session, ino, name, fi != nullptr);
  if (error == 0 && (toSet & FUSE_SET_ATTR_MODE))
    error = SetMode(session, request, name, attr->st_mode, fi);
  if (error == 0) error = CheckOwner(session, *attr, toSet);
  if (error == 0 && (toSet & FUSE_SET_ATTR_SIZE))
    error = SetSize(session, request, name, attr->st_size, fi);
  const int times =
      FUSE_SET_ATTR_ATIME | FUSE_SET_ATTR_MTIME | FUSE_SET_ATTR_ATIME_NOW | FUSE_SET_ATTR_MTIME_NOW;
  if (error == 0 && (toSet & times)) error = SetTimes(session, request, name, *attr, toSet, fi);
  if (error != 0) {
    fuse_reply_err(request, error);
    return;
  }
  ReplyAttributes(request, session, ino, name, fi);
}

void OnMkdir(fuse_req_t request, fuse_ino_t parent, const char* child, mode_t) {
  DriveSession& session = SessionOf(request);
  std::u16string name;
  int error = NameOfChild(session, parent, child, name);
  if (error == 0 && session.operations->CreateDirectory == nullptr) error = ENOSYS;
  if (error == 0) {
    CallRecord call(session, request, nullptr);
    call.info.IsDirectory = 1;
    int result = session.operations->CreateDirectory(name.c_str(), &call.info);
    // A file system that opened the new folder gets its handle closed again.
    if (result >= 0 && call.info.Context != 0) CloseHandle(session, name, call);
    error = Answer(result);
  }
  if (error != 0) {
    fuse_reply_err(request, error);
    return;
  }
  ReplyEntry(request, session, parent, child, name);
}

void RemoveEntry(fuse_req_t request, fuse_ino_t parent, const char* child, bool folder) {
  DriveSession& session = SessionOf(request);
  const DOKAN_OPERATIONS& ops = *session.operations;
  std::u16string name;
  int error = NameOfChild(session, parent, child, name);
  if (error == 0 && (folder ? ops.DeleteDirectory : ops.DeleteFile) == nullptr) error = ENOSYS;
  if (error == 0) {
    CallRecord call(session, request, nullptr);
    call.info.IsDirectory = folder ? 1 : 0;
    error = Answer(folder ? ops.DeleteDirectory(name.c_str(), &call.info)
                          : ops.DeleteFile(name.c_str(), &call.info));
  }
  if (error == 0) session.inodes.removed(parent, child);
  fuse_reply_err(request, error);
}

void OnUnlink(fuse_req_t request, fuse_ino_t parent, const char* child) {
  RemoveEntry(request, parent, child, false);
}

void OnRmdir(fuse_req_t request, fuse_ino_t parent, const char* child) {
  RemoveEntry(request, parent, child, true);
}

void OnRename(fuse_req_t request, fuse_ino_t parent, const char* child, fuse_ino_t newParent,
              const char* newChild, unsigned int flags) {
  DriveSession& session = SessionOf(request);
  std::u16string existing, target;
  int error = (flags & RENAME_EXCHANGE) ? EINVAL : 0;
  if (error == 0) error = NameOfChild(session, parent, child, existing);
  if (error == 0) error = NameOfChild(session, newParent, newChild, target);
  if (error == 0 && session.operations->MoveFile == nullptr) error = ENOSYS;
  if (error == 0) {
    CallRecord call(session, request, nullptr);
    BOOL replace = (flags & RENAME_NOREPLACE) ? 0 : 1;
    error =
        Answer(session.operations->MoveFile(existing.c_str(), target.c_str(), replace, &call.info));
  }
  if (error == 0) session.inodes.moved(parent, child, newParent, newChild);
  fuse_reply_err(request, error);
}

int FillStatfs(DriveSession& session, fuse_req_t request, struct statvfs* st) {
  const DOKAN_OPERATIONS& ops = *session.operations;
  if (ops.GetDiskFreeSpace == nullptr || ops.GetVolumeInformation == nullptr) return ENOSYS;
  CallRecord call(session, request, nullptr);
  ULONGLONG available = 0, total = 0, free = 0;
  int result = ops.GetDiskFreeSpace(&available, &total, &free, &call.info);
  if (result < 0) return Answer(result);
  WCHAR volumeName[MAX_PATH + 1] = {};
  WCHAR fileSystemName[MAX_PATH + 1] = {};
  DWORD serial = 0, maxComponent = 0, flags = 0;
  result = ops.GetVolumeInformation(volumeName, MAX_PATH + 1, &serial, &maxComponent, &flags,
                                    fileSystemName, MAX_PATH + 1, &call.info);
  if (result < 0) return Answer(result);
  std::memset(st, 0, sizeof *st);
  st->f_bsize = kStatfsBlock;
  st->f_frsize = kStatfsBlock;
  st->f_blocks = total / kStatfsBlock;
  st->f_bfree = std::min(free, total) / kStatfsBlock;
  st->f_bavail = std::min(available, total) / kStatfsBlock;
  st->f_fsid = serial;
  st->f_namemax =
      (maxComponent == 0 || maxComponent > kMaxNameUnits) ? kMaxNameUnits : maxComponent;
  return 0;
}

void OnStatfs(fuse_req_t request, fuse_ino_t) {
  struct statvfs st {};
  if (int error = FillStatfs(SessionOf(request), request, &st)) {
    fuse_reply_err(request, error);
    return;
  }
  fuse_reply_statfs(request, &st);
}

}  // namespace

fuse_lowlevel_ops MakeFuseOperations() {
  fuse_lowlevel_ops ops{};
  ops.init = OnInit;
  ops.lookup = OnLookup;
  ops.forget = OnForget;
  ops.forget_multi = OnForgetMulti;
  ops.getattr = OnGetattr;
  ops.setattr = OnSetattr;
  ops.mkdir = OnMkdir;
  ops.unlink = OnUnlink;
  ops.rmdir = OnRmdir;
  ops.rename = OnRename;
  ops.statfs = OnStatfs;
  ops.open = OnOpen;
  ops.create = OnCreate;
  ops.read = OnRead;
  ops.write = OnWrite;
  ops.flush = OnFlush;
  ops.fsync = OnFsync;
  ops.release = OnRelease;
  ops.opendir = OnOpendir;
  ops.readdir = OnReaddir;
  ops.readdirplus = OnReaddirplus;
  ops.releasedir = OnReleasedir;
  return ops;
}

}  // namespace dokan
