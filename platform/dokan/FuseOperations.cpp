#include "platform/dokan/FuseOperations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/dokan/DirectoryCacheReply.h"
#include "platform/dokan/DriveNames.h"

namespace dokan {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr uint64_t kStatfsBlock = 4096;
constexpr double kCacheSeconds = 3600.0;
// Longest file name the kernel will take in one directory entry.
constexpr size_t kMaxEntryNameBytes = 1024;

DriveSession& Session() { return *static_cast<DriveSession*>(fuse_get_context()->private_data); }

OpenHandle* HandleOf(const fuse_file_info* fi) {
  return fi != nullptr ? reinterpret_cast<OpenHandle*>(static_cast<uintptr_t>(fi->fh)) : nullptr;
}

uint32_t CallerProcess() { return static_cast<uint32_t>(fuse_get_context()->pid); }

// The per-call record handed to one callback, with what FindFiles' fill function needs to
// reach the FUSE listing. DokanContext points back at this record.
struct CallRecord {
  CallRecord(DriveSession& session, const fuse_file_info* fi)
      : CallRecord(session, HandleOf(fi), CallerProcess()) {}
  CallRecord(DriveSession& session, OpenHandle* handle, uint32_t processId)
      : handle(handle), session(&session) {
    if (handle != nullptr) {
      info.Context = handle->context;
      info.IsDirectory = handle->isDirectory;
    }
    info.DokanContext = reinterpret_cast<uintptr_t>(this);
    info.DokanOptions = session.options;
    info.ProcessId = processId;
  }
  // A context the file system set during the call stays with the handle.
  ~CallRecord() {
    if (handle != nullptr) handle->context = info.Context;
  }
  CallRecord(const CallRecord&) = delete;
  CallRecord& operator=(const CallRecord&) = delete;

  OpenHandle* handle = nullptr;
  const DriveSession* session = nullptr;
  DOKAN_FILE_INFO info{};
  void* listing = nullptr;
  fuse_fill_dir_t fill = nullptr;
  bool listingFull = false;
};

// The drive form of `path`, or the errno for it. On an open handle whose entry is gone
// (FUSE then hands no path) the handle's callbacks get an empty name.
int NameOf(const char* path, std::u16string& name, bool handleCall = false) {
  if (path == nullptr && handleCall) {
    name.clear();
    return 0;
  }
  return DrivePathOf(path, name);
}

int Answer(int result) { return -ErrnoOfResult(result); }

mode_t ModeOf(DWORD attributes) {
  bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return S_IFDIR | (readOnly ? 0555 : 0755);
  return S_IFREG | (readOnly ? 0444 : 0644);
}

void FillStat(const BY_HANDLE_FILE_INFORMATION& info, const DriveSession& session,
              struct stat* st) {
  std::memset(st, 0, sizeof *st);
  st->st_mode = ModeOf(info.dwFileAttributes);
  bool folder = S_ISDIR(st->st_mode);
  st->st_nlink = folder ? 2 : std::max<DWORD>(1, info.nNumberOfLinks);
  st->st_uid = session.owner;
  st->st_gid = session.group;
  uint64_t size = folder ? 0 : SizeOf(info.nFileSizeHigh, info.nFileSizeLow);
  st->st_size = static_cast<off_t>(std::min<uint64_t>(size, INT64_MAX));
  st->st_blocks = static_cast<blkcnt_t>((size + 511) / 512);
  st->st_blksize = 4096;
  st->st_atim = TimespecOf(info.ftLastAccessTime);
  st->st_mtim = TimespecOf(info.ftLastWriteTime);
  st->st_ctim = st->st_mtim;
}

DWORD AccessOf(int flags) {
  DWORD access = 0;
  switch (flags & O_ACCMODE) {
    case O_WRONLY:
      access = GENERIC_WRITE;
      break;
    case O_RDWR:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
    default:
      access = GENERIC_READ;
      break;
  }
  if (flags & O_APPEND) access |= FILE_APPEND_DATA;
  return access;
}

// The kernel sends create only for a name that does not exist yet (or with O_EXCL) and
// open for one that does, with O_CREAT and O_EXCL already taken off.
DWORD DispositionForCreate(int flags) {
  if (flags & O_EXCL) return CREATE_NEW;
  if (flags & O_TRUNC) return CREATE_ALWAYS;
  return OPEN_ALWAYS;
}

DWORD DispositionForOpen(int flags) {
  return (flags & O_TRUNC) ? TRUNCATE_EXISTING : OPEN_EXISTING;
}

// Keeps a handle for what the file system just opened; its address goes into fi->fh.
uint64_t Adopt(DriveSession& session, const std::u16string& name, const DOKAN_FILE_INFO& info) {
  auto* handle = new OpenHandle;
  handle->context = info.Context;
  handle->name = name;
  handle->isDirectory = info.IsDirectory;
  MutexLock guard(session.handlesLock);
  session.handles.insert(handle);
  return reinterpret_cast<uintptr_t>(handle);
}

void Forget(DriveSession& session, OpenHandle* handle) {
  if (handle == nullptr) return;
  {
    MutexLock guard(session.handlesLock);
    session.handles.erase(handle);
  }
  delete handle;
}

int OpenWith(const char* path, fuse_file_info* fi, DWORD disposition) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name)) return -error;
  if (session.operations->CreateFile == nullptr) return -ENOSYS;
  CallRecord call(session, nullptr);
  call.info.WriteToEndOfFile = (fi->flags & O_APPEND) ? 1 : 0;
  int result = session.operations->CreateFile(name.c_str(), AccessOf(fi->flags), kShareAll,
                                              disposition, FILE_ATTRIBUTE_NORMAL, &call.info);
  if (result < 0) return Answer(result);
  fi->fh = Adopt(session, name, call.info);
  return 0;
}

// Cleanup then CloseFile on the handle's context, as when the last user of a handle is gone.
void CloseHandle(DriveSession& session, const std::u16string& name, CallRecord& call) {
  if (session.operations->Cleanup != nullptr) session.operations->Cleanup(name.c_str(), &call.info);
  if (session.operations->CloseFile != nullptr)
    session.operations->CloseFile(name.c_str(), &call.info);
}

int FillFindData(PWIN32_FIND_DATAW data, PDOKAN_FILE_INFO info) {
  if (data == nullptr || info == nullptr || info->DokanContext == 0) return 0;
  auto* call = reinterpret_cast<CallRecord*>(static_cast<uintptr_t>(info->DokanContext));
  if (call->fill == nullptr || call->listingFull) return 0;
  std::u16string_view wide(data->cFileName, BoundedLength(data->cFileName, MAX_PATH));
  std::string name;
  // Entries whose names cannot be shown here are left out rather than shown garbled.
  if (wide.empty() || !Utf16ToUtf8(wide, name) || name == "." || name == ".." ||
      name.find_first_of("/\\") != std::string::npos || name.size() > kMaxEntryNameBytes) {
    return 0;
  }
  // Each entry carries its full attributes, so that a listing also answers the stat calls
  // that usually follow it (the kernel keeps them when it asked for a listing with them).
  BY_HANDLE_FILE_INFORMATION entry{};
  entry.dwFileAttributes = data->dwFileAttributes;
  entry.ftCreationTime = data->ftCreationTime;
  entry.ftLastAccessTime = data->ftLastAccessTime;
  entry.ftLastWriteTime = data->ftLastWriteTime;
  entry.nFileSizeHigh = data->nFileSizeHigh;
  entry.nFileSizeLow = data->nFileSizeLow;
  entry.nNumberOfLinks = 1;
  struct stat st {};
  FillStat(entry, *call->session, &st);
  if (call->fill(call->listing, name.c_str(), &st, 0, FUSE_FILL_DIR_PLUS) != 0)
    call->listingFull = true;
  return 0;
}

void* OnInit(fuse_conn_info* conn, fuse_config* cfg) {
  conn->max_read = kMaxReadPiece;
  // Writes of up to 1 MiB at once: every write is one request and reply on the upload
  // connection, so larger pieces mean fewer round trips.
  conn->max_write = kMaxWritePiece;
  if (conn->capable & FUSE_CAP_ATOMIC_O_TRUNC) conn->want |= FUSE_CAP_ATOMIC_O_TRUNC;
  // Removing an open file removes it on the drive at once instead of hiding it under a
  // temporary name.
  cfg->hard_remove = 1;
  cfg->use_ino = 0;
  cfg->nullpath_ok = 0;
  // The whole tree is in memory and every change passes through this program: the kernel
  // keeps names and attributes for long and is told of each change (DokanNotifyChanged).
  // Names that do not exist are asked again every time, so new entries show at once.
  cfg->entry_timeout = kCacheSeconds;
  cfg->attr_timeout = kCacheSeconds;
  cfg->negative_timeout = 0.0;
  return fuse_get_context()->private_data;
}

int OnGetattr(const char* path, struct stat* st, fuse_file_info* fi) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name, fi != nullptr)) return -error;
  if (session.operations->GetFileInformation == nullptr) return -ENOSYS;
  CallRecord call(session, fi);
  BY_HANDLE_FILE_INFORMATION info{};
  int result = session.operations->GetFileInformation(name.c_str(), &info, &call.info);
  if (result < 0) return Answer(result);
  FillStat(info, session, st);
  return 0;
}

int OnOpendir(const char* path, fuse_file_info* fi) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name)) return -error;
  CallRecord call(session, nullptr);
  call.info.IsDirectory = 1;
  if (session.operations->OpenDirectory != nullptr) {
    int result = session.operations->OpenDirectory(name.c_str(), &call.info);
    if (result < 0) return Answer(result);
  }
  fi->fh = Adopt(session, name, call.info);
  // The kernel keeps the listing until it is told the folder changed (DokanNotifyChanged, or
  // a change it made itself through this drive).
  fi->cache_readdir = 1;
  fi->keep_cache = 1;
  AskToCacheListing();
  return 0;
}

int OnReaddir(const char* path, void* listing, fuse_fill_dir_t fill, off_t, fuse_file_info* fi,
              fuse_readdir_flags) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name)) return -error;
  if (session.operations->FindFiles == nullptr) return -ENOSYS;
  CallRecord call(session, fi);
  call.info.IsDirectory = 1;
  call.listing = listing;
  call.fill = fill;
  fill(listing, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(listing, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  int result = session.operations->FindFiles(name.c_str(), &FillFindData, &call.info);
  return Answer(result);
}

int OnReleasedir(const char* path, fuse_file_info* fi) {
  DriveSession& session = Session();
  std::u16string name;
  if (NameOf(path, name, true) != 0) name.clear();
  {
    CallRecord call(session, fi);
    call.info.IsDirectory = 1;
    CloseHandle(session, name, call);
  }
  Forget(session, HandleOf(fi));
  return 0;
}

int OnOpen(const char* path, fuse_file_info* fi) {
  return OpenWith(path, fi, DispositionForOpen(fi->flags));
}

int OnCreate(const char* path, mode_t, fuse_file_info* fi) {
  return OpenWith(path, fi, DispositionForCreate(fi->flags));
}

int OnRelease(const char* path, fuse_file_info* fi) {
  DriveSession& session = Session();
  std::u16string name;
  if (NameOf(path, name, true) != 0) name.clear();
  {
    CallRecord call(session, fi);
    CloseHandle(session, name, call);
  }
  Forget(session, HandleOf(fi));
  return 0;
}

int OnRead(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name, true)) return -error;
  if (session.operations->ReadFile == nullptr) return -ENOSYS;
  CallRecord call(session, fi);
  size = std::min<size_t>(size, INT32_MAX);
  size_t done = 0;
  while (done < size) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(size - done, kMaxReadPiece));
    DWORD got = 0;
    int result = session.operations->ReadFile(name.c_str(), buffer + done, piece, &got,
                                              offset + static_cast<off_t>(done), &call.info);
    if (result < 0) return done > 0 ? static_cast<int>(done) : Answer(result);
    if (got > piece) return -EIO;  // the file system claims more than the buffer holds
    done += got;
    if (got < piece) break;
  }
  return static_cast<int>(done);
}

int OnWrite(const char* path, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name, true)) return -error;
  if (session.operations->WriteFile == nullptr) return -ENOSYS;
  CallRecord call(session, fi);
  call.info.WriteToEndOfFile = (fi->flags & O_APPEND) ? 1 : 0;
  size = std::min<size_t>(size, INT32_MAX);
  DWORD written = 0;
  if (call.handle != nullptr) call.handle->written = true;
  int result = session.operations->WriteFile(name.c_str(), buffer, static_cast<DWORD>(size),
                                             &written, offset, &call.info);
  if (result < 0) return Answer(result);
  if (written > size) return -EIO;
  return static_cast<int>(written);
}

int OnFsync(const char* path, int, fuse_file_info* fi) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name, true)) return -error;
  if (session.operations->FlushFileBuffers == nullptr) return -ENOSYS;
  CallRecord call(session, fi);
  return Answer(session.operations->FlushFileBuffers(name.c_str(), &call.info));
}

// Called at every close of a descriptor. A handle that was written is finished here with the
// driver's Cleanup, the only point where an upload the service refused can still reach the
// program that closes the file; release then finds the context gone. A handle without writes
// (or a descriptor closed before the writes, as a shell redirection does) waits for release.
int OnFlush(const char* path, fuse_file_info* fi) {
  DriveSession& session = Session();
  OpenHandle* handle = HandleOf(fi);
  if (handle == nullptr || !handle->written.exchange(false)) return 0;
  if (session.operations->Cleanup == nullptr) return 0;
  std::u16string name;
  if (NameOf(path, name, true) != 0) name.clear();
  CallRecord call(session, fi);
  return Answer(session.operations->Cleanup(name.c_str(), &call.info));
}

int OnMkdir(const char* path, mode_t) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name)) return -error;
  if (session.operations->CreateDirectory == nullptr) return -ENOSYS;
  CallRecord call(session, nullptr);
  call.info.IsDirectory = 1;
  int result = session.operations->CreateDirectory(name.c_str(), &call.info);
  // A file system that opened the new folder gets its handle closed again.
  if (result >= 0 && call.info.Context != 0) CloseHandle(session, name, call);
  return Answer(result);
}

int OnUnlink(const char* path) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name)) return -error;
  if (session.operations->DeleteFile == nullptr) return -ENOSYS;
  CallRecord call(session, nullptr);
  return Answer(session.operations->DeleteFile(name.c_str(), &call.info));
}

int OnRmdir(const char* path) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name)) return -error;
  if (session.operations->DeleteDirectory == nullptr) return -ENOSYS;
  CallRecord call(session, nullptr);
  call.info.IsDirectory = 1;
  return Answer(session.operations->DeleteDirectory(name.c_str(), &call.info));
}

int OnRename(const char* from, const char* to, unsigned int flags) {
  DriveSession& session = Session();
  if (flags & RENAME_EXCHANGE) return -EINVAL;
  std::u16string existing, target;
  if (int error = NameOf(from, existing)) return -error;
  if (int error = NameOf(to, target)) return -error;
  if (session.operations->MoveFile == nullptr) return -ENOSYS;
  CallRecord call(session, nullptr);
  BOOL replace = (flags & RENAME_NOREPLACE) ? 0 : 1;
  return Answer(
      session.operations->MoveFile(existing.c_str(), target.c_str(), replace, &call.info));
}

int OnTruncate(const char* path, off_t size, fuse_file_info* fi) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name, fi != nullptr)) return -error;
  const DOKAN_OPERATIONS& ops = *session.operations;
  if (ops.SetEndOfFile == nullptr) return -ENOSYS;
  if (fi != nullptr) {
    CallRecord call(session, fi);
    if (call.handle != nullptr) call.handle->written = true;
    return Answer(ops.SetEndOfFile(name.c_str(), size, &call.info));
  }
  // Truncating by name: the size is set through a handle opened for it, as on an open file.
  if (ops.CreateFile == nullptr) return -ENOSYS;
  CallRecord call(session, nullptr);
  int opened = ops.CreateFile(name.c_str(), GENERIC_WRITE, kShareAll, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, &call.info);
  if (opened < 0) return Answer(opened);
  int result = ops.SetEndOfFile(name.c_str(), size, &call.info);
  CloseHandle(session, name, call);
  return Answer(result);
}

int OnChmod(const char* path, mode_t mode, fuse_file_info* fi) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name, fi != nullptr)) return -error;
  if (session.operations->SetFileAttributes == nullptr) return -ENOSYS;
  CallRecord call(session, fi);
  DWORD attributes = (mode & 0222) ? 0 : FILE_ATTRIBUTE_READONLY;
  if (S_ISDIR(mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (attributes == 0) attributes = FILE_ATTRIBUTE_NORMAL;
  return Answer(session.operations->SetFileAttributes(name.c_str(), attributes, &call.info));
}

int OnUtimens(const char* path, const timespec times[2], fuse_file_info* fi) {
  DriveSession& session = Session();
  std::u16string name;
  if (int error = NameOf(path, name, fi != nullptr)) return -error;
  if (session.operations->SetFileTime == nullptr) return -ENOSYS;
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  FILETIME converted[2];
  const FILETIME* chosen[2] = {nullptr, nullptr};  // null leaves that time unchanged
  for (int i = 0; i < 2; ++i) {
    timespec value = times != nullptr ? times[i] : now;
    if (value.tv_nsec == UTIME_OMIT) continue;
    if (value.tv_nsec == UTIME_NOW) value = now;
    converted[i] = FiletimeOf(value);
    chosen[i] = &converted[i];
  }
  CallRecord call(session, fi);
  return Answer(
      session.operations->SetFileTime(name.c_str(), nullptr, chosen[0], chosen[1], &call.info));
}

int OnStatfs(const char*, struct statvfs* st) {
  DriveSession& session = Session();
  const DOKAN_OPERATIONS& ops = *session.operations;
  if (ops.GetDiskFreeSpace == nullptr || ops.GetVolumeInformation == nullptr) return -ENOSYS;
  CallRecord call(session, nullptr);
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

}  // namespace

void DriveSession::finish() {
  std::set<OpenHandle*> left;
  {
    MutexLock guard(handlesLock);
    left.swap(handles);
  }
  for (OpenHandle* handle : left) {
    {
      CallRecord call(*this, handle, 0);
      CloseHandle(*this, handle->name, call);
    }
    delete handle;
  }
  if (operations->Unmount != nullptr) {
    CallRecord call(*this, nullptr, 0);
    operations->Unmount(&call.info);
  }
}

fuse_operations MakeFuseOperations() {
  fuse_operations ops{};
  ops.init = OnInit;
  ops.getattr = OnGetattr;
  ops.opendir = OnOpendir;
  ops.readdir = OnReaddir;
  ops.releasedir = OnReleasedir;
  ops.open = OnOpen;
  ops.create = OnCreate;
  ops.release = OnRelease;
  ops.read = OnRead;
  ops.write = OnWrite;
  ops.fsync = OnFsync;
  ops.flush = OnFlush;
  ops.mkdir = OnMkdir;
  ops.unlink = OnUnlink;
  ops.rmdir = OnRmdir;
  ops.rename = OnRename;
  ops.truncate = OnTruncate;
  ops.chmod = OnChmod;
  ops.utimens = OnUtimens;
  ops.statfs = OnStatfs;
  return ops;
}

}  // namespace dokan
