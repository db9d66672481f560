#include "drive/core/IOMirror.h"

#include "drive/core/DriveProcess.h"

int IOMirror::CreateFile(LPCWSTR, DWORD, DWORD, DWORD, DWORD, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::OpenDirectory(LPCWSTR, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::CreateDirectory(LPCWSTR, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::CloseFile(LPCWSTR, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::Cleanup(LPCWSTR, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::ReadFile(LPCWSTR, void*, DWORD, LPDWORD, LONGLONG, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::WriteFile(LPCWSTR, const void*, DWORD, LPDWORD, LONGLONG, PDOKAN_FILE_INFO) {
  return -1;
}
int IOMirror::FlushFileBuffers(LPCWSTR, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::GetFileInformation(LPCWSTR, LPBY_HANDLE_FILE_INFORMATION, PDOKAN_FILE_INFO) {
  return -1;
}
int IOMirror::FindFiles(LPCWSTR, PFillFindData, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::DeleteFile(LPCWSTR, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::DeleteDirectory(LPCWSTR, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::MoveFile(LPCWSTR, LPCWSTR, BOOL, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::LockFile(LPCWSTR, LONGLONG, LONGLONG, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::SetEndOfFile(LPCWSTR, LONGLONG, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::SetAllocationSize(LPCWSTR, LONGLONG, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::SetFileAttributes(LPCWSTR, DWORD, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::SetFileTime(LPCWSTR, const FILETIME*, const FILETIME*, const FILETIME*,
                          PDOKAN_FILE_INFO) {
  return -1;
}
int IOMirror::UnlockFile(LPCWSTR, LONGLONG, LONGLONG, PDOKAN_FILE_INFO) { return -1; }
int IOMirror::Unmount(PDOKAN_FILE_INFO) { return 0; }
int IOMirror::GetVolumeInformation(LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD,
                                   PDOKAN_FILE_INFO) {
  return -1;
}
int IOMirror::GetDiskFreeSpace(PULONGLONG, PULONGLONG, PULONGLONG, PDOKAN_FILE_INFO) { return -1; }

void IOMirror::SetConfig(MirrorConfig*) {}
std::u16string IOMirror::GetDrivePath(const std::u16string&) { return std::u16string(); }
std::u16string IOMirror::GetPath(const std::u16string&) { return std::u16string(); }
std::u16string IOMirror::GetIdOfPath(const std::u16string&) { return std::u16string(); }
int IOMirror::GetEntry(const std::u16string&, NodeRecord*) { return 0; }
std::map<std::u16string, std::u16string> IOMirror::GetChildren(const std::u16string&) { return {}; }

int IOMirror::DoLogin() { return 0; }

int IOMirror::Login(DriveProcess& drive) {
  drive.setDriveState(drive_state::kLoggingIn);
  int result = DoLogin();
  drive.setDriveState(DriveStateForLogin(result));
  return result;
}

int32_t DriveStateForLogin(int result) {
  using namespace drive_state;
  if (result >= 0) return kLoggedIn;
  switch (result) {
    case -1:
      return kLoginFailedOne;
    case -2:
    case -3:
      return kLoginFailedConnect;
    case -4:
    case -5:
    case -6:
      return kLoginFailedRefused;
    default:
      return kFailed;
  }
}
