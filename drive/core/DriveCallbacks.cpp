#include "drive/core/DriveCallbacks.h"

#include <cinttypes>
#include <string>

#include "drive/core/DriveProcess.h"
#include "drive/core/IOMirror.h"
#include "drive/core/MountCycle.h"
#include "platform/codepage/CodePage.h"

namespace {

// The two leading numbers of every callback line: the file context and the caller's pid.
int64_t ContextOf(PDOKAN_FILE_INFO info) {
  return info != nullptr ? static_cast<int64_t>(info->Context) : 0;
}
long ProcessOf(PDOKAN_FILE_INFO info) {
  return info != nullptr ? static_cast<long>(info->ProcessId) : 0;
}

std::string Utf8Of(LPCWSTR name) {
  return name != nullptr ? codepage::WideToUtf8(name) : std::string();
}

// The drive program the driver serves: the mount hands the driver a MountOptions record,
// which the driver passes to every callback.
DriveProcess& DriveOf(PDOKAN_FILE_INFO info) {
  return *static_cast<MountOptions*>(info->DokanOptions)->drive;
}

// Calls `call` on the current mirror; -1 when no mirror is set.
template <typename Call>
int OnMirror(PDOKAN_FILE_INFO info, Call&& call) {
  IOMirror* mirror = DriveOf(info).currentMirror;
  return mirror != nullptr ? call(*mirror) : -1;
}

// The common pattern: "<context> <pid> <Operation>:<name>" before the call and
// "<context> <pid> <Operation>:<name>: [Return:<result>]" after it.
template <typename Call>
int Logged(const char* operation, LPCWSTR fileName, PDOKAN_FILE_INFO info, Call&& call) {
  MirrorLog& log = DriveOf(info).log();
  // Converted only when the debug mask asks for callback lines.
  std::string name = log.wants(kLogCallbacks) ? Utf8Of(fileName) : std::string();
  log.logf(kLogCallbacks, "%" PRId64 " %ld %s:%s", ContextOf(info), ProcessOf(info), operation,
           name.c_str());
  int result = OnMirror(info, call);
  if (log.wants(kLogCallbacks) && name.empty()) name = Utf8Of(fileName);  // mask just changed
  log.logf(kLogCallbacks, "%" PRId64 " %ld %s:%s: [Return:%d]", ContextOf(info), ProcessOf(info),
           operation, name.c_str(), result);
  return result;
}

int CreateFileCallback(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                       DWORD creationDisposition, DWORD flagsAndAttributes, PDOKAN_FILE_INFO info) {
  MirrorLog& log = DriveOf(info).log();
  std::string name = Utf8Of(fileName);
  log.logf(kLogCallbacks, "%" PRId64 " %ld CreateFile:%s CreationDisposition:%d", ContextOf(info),
           ProcessOf(info), name.c_str(), static_cast<int>(creationDisposition));
  int result = OnMirror(info, [&](IOMirror& mirror) {
    return mirror.CreateFile(fileName, desiredAccess, shareMode, creationDisposition,
                             flagsAndAttributes, info);
  });
  log.logf(kLogCallbacks, "%" PRId64 " %ld CreateFile:%s: [Return:%d]", ContextOf(info),
           ProcessOf(info), name.c_str(), result);
  return result;
}

int OpenDirectoryCallback(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  return Logged("OpenDirectory", fileName, info,
                [&](IOMirror& mirror) { return mirror.OpenDirectory(fileName, info); });
}

int CreateDirectoryCallback(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  return Logged("CreateDirectory", fileName, info,
                [&](IOMirror& mirror) { return mirror.CreateDirectory(fileName, info); });
}

int CleanupCallback(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  return Logged("Cleanup", fileName, info,
                [&](IOMirror& mirror) { return mirror.Cleanup(fileName, info); });
}

int CloseFileCallback(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  return Logged("CloseFile", fileName, info,
                [&](IOMirror& mirror) { return mirror.CloseFile(fileName, info); });
}

int ReadFileCallback(LPCWSTR fileName, void* buffer, DWORD bytesToRead, LPDWORD bytesRead,
                     LONGLONG offset, PDOKAN_FILE_INFO info) {
  return Logged("ReadFile", fileName, info, [&](IOMirror& mirror) {
    return mirror.ReadFile(fileName, buffer, bytesToRead, bytesRead, offset, info);
  });
}

int WriteFileCallback(LPCWSTR fileName, const void* buffer, DWORD bytesToWrite,
                      LPDWORD bytesWritten, LONGLONG offset, PDOKAN_FILE_INFO info) {
  return Logged("WriteFile", fileName, info, [&](IOMirror& mirror) {
    return mirror.WriteFile(fileName, buffer, bytesToWrite, bytesWritten, offset, info);
  });
}

int FlushFileBuffersCallback(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  return Logged("FlushFileBuffers", fileName, info,
                [&](IOMirror& mirror) { return mirror.FlushFileBuffers(fileName, info); });
}

int GetFileInformationCallback(LPCWSTR fileName, LPBY_HANDLE_FILE_INFORMATION information,
                               PDOKAN_FILE_INFO info) {
  return Logged("GetFileInformation", fileName, info, [&](IOMirror& mirror) {
    return mirror.GetFileInformation(fileName, information, info);
  });
}

int FindFilesCallback(LPCWSTR pathName, PFillFindData fill, PDOKAN_FILE_INFO info) {
  return Logged("FindFiles", pathName, info,
                [&](IOMirror& mirror) { return mirror.FindFiles(pathName, fill, info); });
}

int SetFileAttributesCallback(LPCWSTR fileName, DWORD attributes, PDOKAN_FILE_INFO info) {
  return Logged("SetFileAttributes", fileName, info, [&](IOMirror& mirror) {
    return mirror.SetFileAttributes(fileName, attributes, info);
  });
}

int SetFileTimeCallback(LPCWSTR fileName, const FILETIME* creation, const FILETIME* lastAccess,
                        const FILETIME* lastWrite, PDOKAN_FILE_INFO info) {
  return Logged("SetFileTime", fileName, info, [&](IOMirror& mirror) {
    return mirror.SetFileTime(fileName, creation, lastAccess, lastWrite, info);
  });
}

int DeleteFileCallback(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  return Logged("DeleteFile", fileName, info,
                [&](IOMirror& mirror) { return mirror.DeleteFile(fileName, info); });
}

int DeleteDirectoryCallback(LPCWSTR fileName, PDOKAN_FILE_INFO info) {
  return Logged("DeleteDirectory", fileName, info,
                [&](IOMirror& mirror) { return mirror.DeleteDirectory(fileName, info); });
}

int MoveFileCallback(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting,
                     PDOKAN_FILE_INFO info) {
  MirrorLog& log = DriveOf(info).log();
  std::string from = Utf8Of(existingName), to = Utf8Of(newName);
  log.logf(kLogCallbacks, "%" PRId64 " %ld MoveFile:%s - %s ", ContextOf(info), ProcessOf(info),
           from.c_str(), to.c_str());
  int result = OnMirror(info, [&](IOMirror& mirror) {
    return mirror.MoveFile(existingName, newName, replaceIfExisting, info);
  });
  log.logf(kLogCallbacks, "%" PRId64 " %ld MoveFile:%s - %s [Return:%d]", ContextOf(info),
           ProcessOf(info), from.c_str(), to.c_str(), result);
  return result;
}

int SetEndOfFileCallback(LPCWSTR fileName, LONGLONG byteOffset, PDOKAN_FILE_INFO info) {
  return Logged("SetEndOfFile", fileName, info,
                [&](IOMirror& mirror) { return mirror.SetEndOfFile(fileName, byteOffset, info); });
}

int SetAllocationSizeCallback(LPCWSTR fileName, LONGLONG allocSize, PDOKAN_FILE_INFO info) {
  return Logged("SetAllocationSize", fileName, info, [&](IOMirror& mirror) {
    return mirror.SetAllocationSize(fileName, allocSize, info);
  });
}

int LockFileCallback(LPCWSTR fileName, LONGLONG byteOffset, LONGLONG length,
                     PDOKAN_FILE_INFO info) {
  return Logged("LockFile", fileName, info, [&](IOMirror& mirror) {
    return mirror.LockFile(fileName, byteOffset, length, info);
  });
}

int UnlockFileCallback(LPCWSTR fileName, LONGLONG byteOffset, LONGLONG length,
                       PDOKAN_FILE_INFO info) {
  return Logged("UnlockFile", fileName, info, [&](IOMirror& mirror) {
    return mirror.UnlockFile(fileName, byteOffset, length, info);
  });
}

int GetDiskFreeSpaceCallback(PULONGLONG freeBytesAvailable, PULONGLONG totalBytes,
                             PULONGLONG totalFreeBytes, PDOKAN_FILE_INFO info) {
  return OnMirror(info, [&](IOMirror& mirror) {
    return mirror.GetDiskFreeSpace(freeBytesAvailable, totalBytes, totalFreeBytes, info);
  });
}

int GetVolumeInformationCallback(LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                                 LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                                 LPDWORD fileSystemFlags, LPWSTR fileSystemNameBuffer,
                                 DWORD fileSystemNameSize, PDOKAN_FILE_INFO info) {
  return OnMirror(info, [&](IOMirror& mirror) {
    return mirror.GetVolumeInformation(volumeNameBuffer, volumeNameSize, volumeSerialNumber,
                                       maximumComponentLength, fileSystemFlags,
                                       fileSystemNameBuffer, fileSystemNameSize, info);
  });
}

int UnmountCallback(PDOKAN_FILE_INFO info) {
  MirrorLog& log = DriveOf(info).log();
  log.logf(kLogCallbacks, "%" PRId64 " %ld Unmount", ContextOf(info), ProcessOf(info));
  int result = OnMirror(info, [&](IOMirror& mirror) { return mirror.Unmount(info); });
  log.logf(kLogCallbacks, "%" PRId64 " %ld Unmount: [Return:%d]", ContextOf(info), ProcessOf(info),
           result);
  return result;
}

}  // namespace

void FillDriveCallbacks(DOKAN_OPERATIONS& operations) {
  operations.CreateFile = CreateFileCallback;
  operations.OpenDirectory = OpenDirectoryCallback;
  operations.CreateDirectory = CreateDirectoryCallback;
  operations.Cleanup = CleanupCallback;
  operations.CloseFile = CloseFileCallback;
  operations.ReadFile = ReadFileCallback;
  operations.WriteFile = WriteFileCallback;
  operations.FlushFileBuffers = FlushFileBuffersCallback;
  operations.GetFileInformation = GetFileInformationCallback;
  operations.FindFiles = FindFilesCallback;
  operations.FindFilesWithPattern = nullptr;
  operations.SetFileAttributes = SetFileAttributesCallback;
  operations.SetFileTime = SetFileTimeCallback;
  operations.DeleteFile = DeleteFileCallback;
  operations.DeleteDirectory = DeleteDirectoryCallback;
  operations.MoveFile = MoveFileCallback;
  operations.SetEndOfFile = SetEndOfFileCallback;
  operations.SetAllocationSize = SetAllocationSizeCallback;
  operations.LockFile = LockFileCallback;
  operations.UnlockFile = UnlockFileCallback;
  operations.GetDiskFreeSpace = GetDiskFreeSpaceCallback;
  operations.GetVolumeInformation = GetVolumeInformationCallback;
  operations.Unmount = UnmountCallback;
}
