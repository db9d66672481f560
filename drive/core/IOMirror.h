// The abstract file system behind the drive: every driver callback is forwarded to one of
// these operations with the driver's own arguments, followed by the control operations the
// control pipe uses. Each operation has a default body, so an implementation overrides only
// what it supports; a file-system operation that is not overridden fails with -1.
//
// Results of the file-system operations: 0 success, or a negative code: -1 general failure,
// -2 file not found, -3 path not found, -5 access denied, -148 path busy, -183 already
// exists, -6009 read-only.
//
// Thread safety: the driver calls CreateFile..GetDiskFreeSpace from several threads at once
// while the control pipe thread calls GetDrivePath..GetChildren; implementations must make
// them safe against each other. SetConfig and Login run before the driver starts.
#pragma once

#include <map>
#include <string>

#include "drive/node/NodeRecord.h"
#include "platform/dokan/DokanTypes.h"
#include "platform/driveprotocol/DriveProtocol.h"

class MirrorConfig;
struct DriveProcess;

namespace mirror_error {
constexpr int kGeneral = pipe_result::kGeneral;
constexpr int kFileNotFound = pipe_result::kFileNotFound;
constexpr int kPathNotFound = pipe_result::kPathNotFound;
constexpr int kAccessDenied = -5;
constexpr int kDiskFull = -112;  // the service refused for space or quota
constexpr int kPathBusy = -148;
constexpr int kAlreadyExists = pipe_result::kAlreadyExists;
constexpr int kReadOnly = -6009;
}  // namespace mirror_error

class IOMirror {
 public:
  virtual ~IOMirror() = default;

  virtual int CreateFile(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                         DWORD creationDisposition, DWORD flagsAndAttributes,
                         PDOKAN_FILE_INFO info);
  virtual int OpenDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info);
  virtual int CreateDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info);
  virtual int CloseFile(LPCWSTR fileName, PDOKAN_FILE_INFO info);
  virtual int Cleanup(LPCWSTR fileName, PDOKAN_FILE_INFO info);
  virtual int ReadFile(LPCWSTR fileName, void* buffer, DWORD bytesToRead, LPDWORD bytesRead,
                       LONGLONG offset, PDOKAN_FILE_INFO info);
  virtual int WriteFile(LPCWSTR fileName, const void* buffer, DWORD bytesToWrite,
                        LPDWORD bytesWritten, LONGLONG offset, PDOKAN_FILE_INFO info);
  virtual int FlushFileBuffers(LPCWSTR fileName, PDOKAN_FILE_INFO info);
  virtual int GetFileInformation(LPCWSTR fileName, LPBY_HANDLE_FILE_INFORMATION information,
                                 PDOKAN_FILE_INFO info);
  virtual int FindFiles(LPCWSTR pathName, PFillFindData fill, PDOKAN_FILE_INFO info);
  virtual int DeleteFile(LPCWSTR fileName, PDOKAN_FILE_INFO info);
  virtual int DeleteDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO info);
  virtual int MoveFile(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting,
                       PDOKAN_FILE_INFO info);
  virtual int LockFile(LPCWSTR fileName, LONGLONG byteOffset, LONGLONG length,
                       PDOKAN_FILE_INFO info);
  virtual int SetEndOfFile(LPCWSTR fileName, LONGLONG byteOffset, PDOKAN_FILE_INFO info);
  virtual int SetAllocationSize(LPCWSTR fileName, LONGLONG allocSize, PDOKAN_FILE_INFO info);
  virtual int SetFileAttributes(LPCWSTR fileName, DWORD attributes, PDOKAN_FILE_INFO info);
  virtual int SetFileTime(LPCWSTR fileName, const FILETIME* creationTime,
                          const FILETIME* lastAccessTime, const FILETIME* lastWriteTime,
                          PDOKAN_FILE_INFO info);
  virtual int UnlockFile(LPCWSTR fileName, LONGLONG byteOffset, LONGLONG length,
                         PDOKAN_FILE_INFO info);
  virtual int Unmount(PDOKAN_FILE_INFO info);
  virtual int GetVolumeInformation(LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                                   LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                                   LPDWORD fileSystemFlags, LPWSTR fileSystemNameBuffer,
                                   DWORD fileSystemNameSize, PDOKAN_FILE_INFO info);
  virtual int GetDiskFreeSpace(PULONGLONG freeBytesAvailable, PULONGLONG totalBytes,
                               PULONGLONG totalFreeBytes, PDOKAN_FILE_INFO info);

  // Keeps the mount cycle's settings (not owned; they outlive the mirror).
  virtual void SetConfig(MirrorConfig* config);
  // Drive letter, colon and path of the entry with this key; "" when unknown.
  virtual std::u16string GetDrivePath(const std::u16string& key);
  // Path of the entry below the drive root; "" when unknown.
  virtual std::u16string GetPath(const std::u16string& key);
  // Key of the entry at `path`; "" when unknown.
  virtual std::u16string GetIdOfPath(const std::u16string& path);
  // Fills `record` with the entry's fields: 0 found, -1 not found.
  virtual int GetEntry(const std::u16string& key, NodeRecord* record);
  // The folder's children: child key → child's upper-cased path, in key order.
  virtual std::map<std::u16string, std::u16string> GetChildren(const std::u16string& key);

  // Logs in: sets the DriveState of `drive` to 4 on entry and then from the result (see
  // DoLogin). Returns 0 or more on success, a negative login code on failure.
  int Login(DriveProcess& drive);

 protected:
  // The login itself; the base behaviour succeeds at once.
  virtual int DoLogin();
};

// DriveState value for a login result.
int32_t DriveStateForLogin(int result);
