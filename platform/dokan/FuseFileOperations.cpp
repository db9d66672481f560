// Opening, reading, writing and closing files.
#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/dokan/FuseRequest.h"

namespace dokan {

namespace {

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

// CreateFile on `name`; on success fi->fh holds the new handle. 0 or errno.
int OpenByName(DriveSession& session, fuse_req_t request, const std::u16string& name,
               fuse_file_info* fi, DWORD disposition) {
  if (session.operations->CreateFile == nullptr) return ENOSYS;
  CallRecord call(session, request, nullptr);
  call.info.WriteToEndOfFile = (fi->flags & O_APPEND) ? 1 : 0;
  int result = session.operations->CreateFile(name.c_str(), AccessOf(fi->flags), kShareAll,
                                              disposition, FILE_ATTRIBUTE_NORMAL, &call.info);
  if (result < 0) return Answer(result);
  fi->fh = Adopt(session, name, call.info);
  return 0;
}

void CloseAndForget(DriveSession& session, fuse_req_t request, const std::u16string& name,
                    fuse_file_info* fi) {
  {
    CallRecord call(session, request, fi);
    CloseHandle(session, name, call);
  }
  Forget(session, HandleOf(fi));
}

// Fills `buffer` from the file; the number of bytes read, or minus an errno.
long ReadInto(fuse_req_t request, fuse_ino_t ino, char* buffer, size_t size, off_t offset,
              fuse_file_info* fi) {
  DriveSession& session = SessionOf(request);
  if (session.operations->ReadFile == nullptr) return -ENOSYS;
  std::u16string name;
  NameOfEntry(session, ino, name, true);
  CallRecord call(session, request, fi);
  size_t done = 0;
  while (done < size) {
    DWORD piece = static_cast<DWORD>(std::min<size_t>(size - done, kMaxReadPiece));
    DWORD got = 0;
    int result = session.operations->ReadFile(name.c_str(), buffer + done, piece, &got,
                                              offset + static_cast<off_t>(done), &call.info);
    if (result < 0) return done > 0 ? static_cast<long>(done) : -Answer(result);
    if (got > piece) return -EIO;  // the file system claims more than the buffer holds
    done += got;
    if (got < piece) break;
  }
  return static_cast<long>(done);
}

// Writes `buffer` to the file; the number of bytes written, or minus an errno.
long WriteFrom(fuse_req_t request, fuse_ino_t ino, const char* buffer, size_t size, off_t offset,
               fuse_file_info* fi) {
  DriveSession& session = SessionOf(request);
  if (session.operations->WriteFile == nullptr) return -ENOSYS;
  std::u16string name;
  NameOfEntry(session, ino, name, true);
  CallRecord call(session, request, fi);
  call.info.WriteToEndOfFile = (fi->flags & O_APPEND) ? 1 : 0;
  DWORD written = 0;
  if (call.handle != nullptr) call.handle->written = true;
  int result = session.operations->WriteFile(name.c_str(), buffer, static_cast<DWORD>(size),
                                             &written, offset, &call.info);
  if (result < 0) return -Answer(result);
  if (written > size) return -EIO;
  return written;
}

int FlushFile(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi) {
  DriveSession& session = SessionOf(request);
  if (session.operations->FlushFileBuffers == nullptr) return ENOSYS;
  std::u16string name;
  NameOfEntry(session, ino, name, true);
  CallRecord call(session, request, fi);
  return Answer(session.operations->FlushFileBuffers(name.c_str(), &call.info));
}

int CleanupWritten(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi) {
  DriveSession& session = SessionOf(request);
  OpenHandle* handle = HandleOf(fi);
  if (handle == nullptr || !handle->written.exchange(false) ||
      session.operations->Cleanup == nullptr)
    return 0;
  std::u16string name;
  NameOfEntry(session, ino, name, true);
  CallRecord call(session, request, fi);
  return Answer(session.operations->Cleanup(name.c_str(), &call.info));
}

}  // namespace

void OnOpen(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi) {
  DriveSession& session = SessionOf(request);
  std::u16string name;
  int error = NameOfEntry(session, ino, name);
  if (error == 0) error = OpenByName(session, request, name, fi, DispositionForOpen(fi->flags));
  if (error != 0) {
    fuse_reply_err(request, error);
    return;
  }
  fuse_reply_open(request, fi);
}

void OnCreate(fuse_req_t request, fuse_ino_t parent, const char* child, mode_t,
              fuse_file_info* fi) {
  DriveSession& session = SessionOf(request);
  std::u16string name;
  int error = NameOfChild(session, parent, child, name);
  if (error == 0) error = OpenByName(session, request, name, fi, DispositionForCreate(fi->flags));
  if (error != 0) {
    fuse_reply_err(request, error);
    return;
  }
  struct stat st {};
  fuse_entry_param entry{};
  {
    CallRecord call(session, request, fi);
    error = StatOf(session, name, call, &st);
  }
  if (error == 0 && !EntryOf(session, parent, child, st, entry)) error = ENOENT;
  if (error != 0) {
    CloseAndForget(session, request, name, fi);
    fuse_reply_err(request, error);
    return;
  }
  fuse_reply_create(request, &entry, fi);
}

// Every answer below is sent after the call record is gone: once the kernel has the answer,
// it may release the handle (from another thread), and the record writes to the handle when
// it ends.

void OnRead(fuse_req_t request, fuse_ino_t ino, size_t size, off_t offset, fuse_file_info* fi) {
  // Each FUSE thread keeps its buffer: reads are at most max_read long.
  thread_local std::vector<char> buffer;
  size = std::min<size_t>(size, INT32_MAX);
  if (buffer.size() < size) buffer.resize(size);
  long done = ReadInto(request, ino, buffer.data(), size, offset, fi);
  if (done < 0) {
    fuse_reply_err(request, static_cast<int>(-done));
    return;
  }
  fuse_reply_buf(request, buffer.data(), static_cast<size_t>(done));
}

void OnWrite(fuse_req_t request, fuse_ino_t ino, const char* buffer, size_t size, off_t offset,
             fuse_file_info* fi) {
  long written = WriteFrom(request, ino, buffer, std::min<size_t>(size, INT32_MAX), offset, fi);
  if (written < 0) {
    fuse_reply_err(request, static_cast<int>(-written));
    return;
  }
  fuse_reply_write(request, static_cast<size_t>(written));
}

void OnFsync(fuse_req_t request, fuse_ino_t ino, int, fuse_file_info* fi) {
  fuse_reply_err(request, FlushFile(request, ino, fi));
}

// Called at every close of a descriptor. A handle that was written is finished here with the
// driver's Cleanup, the only point where an upload the service refused can still reach the
// program that closes the file; release then finds the context gone. A handle without writes
// (or a descriptor closed before the writes, as a shell redirection does) waits for release.
void OnFlush(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi) {
  fuse_reply_err(request, CleanupWritten(request, ino, fi));
}

void OnRelease(fuse_req_t request, fuse_ino_t ino, fuse_file_info* fi) {
  DriveSession& session = SessionOf(request);
  std::u16string name;
  NameOfEntry(session, ino, name, true);
  CloseAndForget(session, request, name, fi);
  fuse_reply_err(request, 0);
}

}  // namespace dokan
