// Records and callback table of the user-mode file-system driver interface that the drive
// front is written against. platform/dokan implements the driver on Linux with libfuse3.
#pragma once

#include <cstdint>

using WCHAR = char16_t;
using LPCWSTR = const char16_t*;
using LPWSTR = char16_t*;
using DWORD = uint32_t;
using LPDWORD = uint32_t*;
using ULONG64 = uint64_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using PULONGLONG = uint64_t*;
using BOOL = int;

// 100-nanosecond intervals since 1601-01-01, split into two halves.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x01;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x20;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

// Creation dispositions handed to CreateFile.
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;

// Desired access bits handed to CreateFile.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_READ_DATA = 0x0001;
constexpr DWORD FILE_WRITE_DATA = 0x0002;
constexpr DWORD FILE_APPEND_DATA = 0x0004;

constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD FILE_SHARE_DELETE = 0x4;

constexpr int MAX_PATH = 260;

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
using PWIN32_FIND_DATAW = WIN32_FIND_DATAW*;

struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
};
using LPBY_HANDLE_FILE_INFORMATION = BY_HANDLE_FILE_INFORMATION*;

// Option bits of DOKAN_OPTIONS::Options.
constexpr uint32_t DOKAN_OPTION_DEBUG = 0x01;
constexpr uint32_t DOKAN_OPTION_STDERR = 0x02;
constexpr uint32_t DOKAN_OPTION_ALT_STREAM = 0x04;
constexpr uint32_t DOKAN_OPTION_KEEP_ALIVE = 0x08;
constexpr uint32_t DOKAN_OPTION_NETWORK = 0x10;
constexpr uint32_t DOKAN_OPTION_REMOVABLE = 0x20;

// Results of DokanMain.
constexpr int DOKAN_SUCCESS = 0;
constexpr int DOKAN_ERROR = -1;
constexpr int DOKAN_DRIVE_LETTER_ERROR = -2;
constexpr int DOKAN_DRIVER_INSTALL_ERROR = -3;
constexpr int DOKAN_START_ERROR = -4;
constexpr int DOKAN_MOUNT_ERROR = -5;

struct DOKAN_OPTIONS {
  WCHAR DriveLetter;
  uint16_t ThreadCount;
  uint32_t Options;
  ULONG64 GlobalContext;
};
using PDOKAN_OPTIONS = DOKAN_OPTIONS*;

// Per-call record: Context is the 64-bit value the file system stores when it opens a file
// and gets back on every later call on the same handle.
struct DOKAN_FILE_INFO {
  ULONG64 Context;
  ULONG64 DokanContext;
  PDOKAN_OPTIONS DokanOptions;
  uint32_t ProcessId;
  uint8_t IsDirectory;
  uint8_t DeleteOnClose;
  uint8_t PagingIo;
  uint8_t SynchronousIo;
  uint8_t Nocache;
  uint8_t WriteToEndOfFile;
};
using PDOKAN_FILE_INFO = DOKAN_FILE_INFO*;

// Adds one entry to a directory listing; returns 0.
using PFillFindData = int (*)(PWIN32_FIND_DATAW, PDOKAN_FILE_INFO);

// The driver's callback table, 23 entries in the driver's order.
struct DOKAN_OPERATIONS {
  int (*CreateFile)(LPCWSTR, DWORD desiredAccess, DWORD shareMode, DWORD creationDisposition,
                    DWORD flagsAndAttributes, PDOKAN_FILE_INFO);
  int (*OpenDirectory)(LPCWSTR, PDOKAN_FILE_INFO);
  int (*CreateDirectory)(LPCWSTR, PDOKAN_FILE_INFO);
  int (*Cleanup)(LPCWSTR, PDOKAN_FILE_INFO);
  int (*CloseFile)(LPCWSTR, PDOKAN_FILE_INFO);
  int (*ReadFile)(LPCWSTR, void* buffer, DWORD bytesToRead, LPDWORD bytesRead, LONGLONG offset,
                  PDOKAN_FILE_INFO);
  int (*WriteFile)(LPCWSTR, const void* buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                   LONGLONG offset, PDOKAN_FILE_INFO);
  int (*FlushFileBuffers)(LPCWSTR, PDOKAN_FILE_INFO);
  int (*GetFileInformation)(LPCWSTR, LPBY_HANDLE_FILE_INFORMATION, PDOKAN_FILE_INFO);
  int (*FindFiles)(LPCWSTR pathName, PFillFindData, PDOKAN_FILE_INFO);
  int (*FindFilesWithPattern)(LPCWSTR pathName, LPCWSTR pattern, PFillFindData, PDOKAN_FILE_INFO);
  int (*SetFileAttributes)(LPCWSTR, DWORD attributes, PDOKAN_FILE_INFO);
  int (*SetFileTime)(LPCWSTR, const FILETIME* creation, const FILETIME* lastAccess,
                     const FILETIME* lastWrite, PDOKAN_FILE_INFO);
  int (*DeleteFile)(LPCWSTR, PDOKAN_FILE_INFO);
  int (*DeleteDirectory)(LPCWSTR, PDOKAN_FILE_INFO);
  int (*MoveFile)(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting, PDOKAN_FILE_INFO);
  int (*SetEndOfFile)(LPCWSTR, LONGLONG byteOffset, PDOKAN_FILE_INFO);
  int (*SetAllocationSize)(LPCWSTR, LONGLONG allocSize, PDOKAN_FILE_INFO);
  int (*LockFile)(LPCWSTR, LONGLONG byteOffset, LONGLONG length, PDOKAN_FILE_INFO);
  int (*UnlockFile)(LPCWSTR, LONGLONG byteOffset, LONGLONG length, PDOKAN_FILE_INFO);
  int (*GetDiskFreeSpace)(PULONGLONG freeBytesAvailable, PULONGLONG totalBytes,
                          PULONGLONG totalFreeBytes, PDOKAN_FILE_INFO);
  int (*GetVolumeInformation)(LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                              LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength,
                              LPDWORD fileSystemFlags, LPWSTR fileSystemNameBuffer,
                              DWORD fileSystemNameSize, PDOKAN_FILE_INFO);
  int (*Unmount)(PDOKAN_FILE_INFO);
};
using PDOKAN_OPERATIONS = DOKAN_OPERATIONS*;
