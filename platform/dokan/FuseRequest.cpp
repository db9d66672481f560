#include "platform/dokan/FuseRequest.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/dokan/DriveNames.h"

namespace dokan {

namespace {

mode_t ModeOf(DWORD attributes) {
  bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return S_IFDIR | (readOnly ? 0555 : 0755);
  return S_IFREG | (readOnly ? 0444 : 0644);
}

}  // namespace

CallRecord::CallRecord(DriveSession& session, OpenHandle* handle, uint32_t processId)
    : handle(handle), session(&session) {
  if (handle != nullptr) {
    info.Context = handle->context;
    info.IsDirectory = handle->isDirectory;
  }
  info.DokanContext = reinterpret_cast<uintptr_t>(this);
  info.DokanOptions = session.options;
  info.ProcessId = processId;
}

CallRecord::~CallRecord() {
  if (handle != nullptr) handle->context = info.Context;
}

int NameOfEntry(DriveSession& session, fuse_ino_t ino, std::u16string& name, bool handleCall) {
  std::string path;
  if (!session.inodes.pathOf(ino, path)) {
    name.clear();
    // The kernel can send a request for a number it found just before the entry was removed
    // or replaced by a rename (an open racing a save by rename). ESTALE makes it walk the
    // path again, so the name reaches what holds it now, or ENOENT if nothing does.
    return handleCall ? 0 : ESTALE;
  }
  return DrivePathOf(path.c_str(), name);
}

int NameOfChild(DriveSession& session, fuse_ino_t parent, const char* child, std::u16string& name) {
  std::string path;
  if (!session.inodes.pathOf(parent, child, path)) return ENOENT;
  return DrivePathOf(path.c_str(), name);
}

int Answer(int result) { return ErrnoOfResult(result); }

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

int StatOf(DriveSession& session, const std::u16string& name, CallRecord& call, struct stat* st) {
  if (session.operations->GetFileInformation == nullptr) return ENOSYS;
  BY_HANDLE_FILE_INFORMATION info{};
  int result = session.operations->GetFileInformation(name.c_str(), &info, &call.info);
  if (result < 0) return Answer(result);
  FillStat(info, session, st);
  return 0;
}

bool EntryOf(DriveSession& session, fuse_ino_t parent, const char* child, const struct stat& st,
             fuse_entry_param& entry) {
  InodeTable::Known known = session.inodes.remember(parent, child);
  if (known.ino == 0) return false;
  std::memset(&entry, 0, sizeof entry);
  entry.ino = known.ino;
  entry.generation = known.generation;
  entry.attr = st;
  entry.attr.st_ino = known.ino;
  entry.attr_timeout = kCacheSeconds;
  entry.entry_timeout = kCacheSeconds;
  return true;
}

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

void CloseHandle(DriveSession& session, const std::u16string& name, CallRecord& call) {
  if (session.operations->Cleanup != nullptr) session.operations->Cleanup(name.c_str(), &call.info);
  if (session.operations->CloseFile != nullptr)
    session.operations->CloseFile(name.c_str(), &call.info);
}

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
    CallRecord call(*this, static_cast<OpenHandle*>(nullptr), 0);
    operations->Unmount(&call.info);
  }
}

}  // namespace dokan
