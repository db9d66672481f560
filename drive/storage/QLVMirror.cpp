#include "drive/storage/QLVMirror.h"

#include <algorithm>
#include <cstring>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/storage/StorageProcess.h"

namespace {

constexpr DWORD kRootAttributes = 0x50;
constexpr int64_t kUnixToFileTimeSeconds = 11644473600LL;

FILETIME FileTimeOf(int32_t unixSeconds) {
  uint64_t ticks = static_cast<uint64_t>(unixSeconds + kUnixToFileTimeSeconds) * 10000000ULL;
  return FILETIME{static_cast<DWORD>(ticks & 0xffffffffu), static_cast<DWORD>(ticks >> 32)};
}

void CopyToBuffer(std::u16string_view text, LPWSTR buffer, DWORD capacity) {
  if (!buffer || capacity == 0) return;
  size_t count = std::min<size_t>(text.size(), capacity - 1);
  std::copy_n(text.data(), count, buffer);
  buffer[count] = u'\0';
}

// A name that cannot be listed as a directory entry: empty, "." or "..", or too long for the
// entry record.
bool UnlistableName(NodeText name) {
  return name.empty() || name == u"." || name == u".." ||
         name.size() >= std::size(WIN32_FIND_DATAW{}.cFileName);
}

}  // namespace

QLVMirror::QLVMirror(DriveProcess& drive, StorageProcess& shared, const MirrorOptions& options)
    : drive_(drive), shared_(shared), options_(options) {
  shared_.runState = run_state::kRunning;
  maintenance_ = std::thread(&QLVMirror::maintenanceLoop, this);
}

QLVMirror::~QLVMirror() {
  int32_t running = run_state::kRunning;
  shared_.runState.compare_exchange_strong(running, run_state::kStopRequested);
  // The thread reports the stopped state as its last act; joining is the wait for it.
  if (maintenance_.joinable()) maintenance_.join();
  // The drive is unmounted by now: no read can still run on a closed file.
  shared_.closedFiles.releaseAll();
  MutexLock guard(webLock_);
  web_.close();
}

int QLVMirror::OpenDirectory(LPCWSTR, PDOKAN_FILE_INFO) { return 0; }
int QLVMirror::CloseFile(LPCWSTR, PDOKAN_FILE_INFO) { return 0; }
int QLVMirror::FlushFileBuffers(LPCWSTR, PDOKAN_FILE_INFO) { return 0; }

std::optional<NodeRecord> QLVMirror::nodeOfPath(std::u16string_view path) const {
  return tables_.recordOfPath(path);
}

std::optional<NodeRecord> QLVMirror::nodeOfId(const std::u16string& id) const {
  return tables_.nodes.record(id);
}

int QLVMirror::GetFileInformation(LPCWSTR fileName, LPBY_HANDLE_FILE_INFORMATION information,
                                  PDOKAN_FILE_INFO) {
  if (!fileName || !information) return mirror_error::kGeneral;
  std::u16string_view path(fileName);
  MutexLock lock(treeLock_);
  if (path == u"\\") {
    information->dwFileAttributes = kRootAttributes;
    information->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(quota_) >> 32);
    information->nFileSizeLow = static_cast<DWORD>(quota_ & 0xffffffff);
    return 0;
  }
  const TreeNode* node = tables_.pathIndex.find(path);
  if (!node) return mirror_error::kFileNotFound;

  // A file being uploaded has only its local size; the service knows nothing newer.
  if (node->stale && !shared_.pendingUploads.contains(node->id().str())) {
    // The service is asked without the tree lock, so other callers are not held up by it.
    std::u16string id = node->id().str();
    lock.unlock();
    NodeRecord refreshed;
    bool fetched = fileInfo(id, &refreshed) == 0;
    lock.lock();
    // The tree decides where a node lives; the service's answer refreshes what it is.
    if (fetched) tables_.refresh(id, refreshed.size, refreshed.time, refreshed.attributes);
    node = tables_.nodes.node(id);
    if (!node) return mirror_error::kFileNotFound;
  }

  FILETIME time = FileTimeOf(node->time);
  information->dwFileAttributes = node->attributes | FILE_ATTRIBUTE_READONLY;
  information->ftCreationTime = time;
  information->ftLastAccessTime = time;
  information->ftLastWriteTime = time;
  information->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(node->size) >> 32);
  information->nFileSizeLow = static_cast<DWORD>(node->size & 0xffffffff);
  return 0;
}

int QLVMirror::FindFiles(LPCWSTR pathName, PFillFindData fill, PDOKAN_FILE_INFO info) {
  if (!pathName || !fill) return mirror_error::kGeneral;
  std::u16string path(pathName);
  if (path.empty()) path = u"\\";

  WIN32_FIND_DATAW entry{};
  entry.dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
  entry.cFileName[0] = u'.';
  fill(&entry, info);
  entry.cFileName[1] = u'.';
  fill(&entry, info);

  // The children are read in place under the lock: nothing is copied per listing.
  MutexLock guard(treeLock_);
  const TreeNode* folder = tables_.pathIndex.find(path);
  if (!folder) return 0;
  tables_.forEachChild(folder->id(), [&](const TreeNode& child) {
    if (UnlistableName(child.name())) return;
    entry = WIN32_FIND_DATAW{};
    entry.dwFileAttributes = child.attributes;
    entry.ftCreationTime = entry.ftLastAccessTime = entry.ftLastWriteTime = FileTimeOf(child.time);
    entry.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(child.size) >> 32);
    entry.nFileSizeLow = static_cast<DWORD>(child.size & 0xffffffff);
    child.name().copyTo(entry.cFileName);
    fill(&entry, info);
  });
  return 0;
}

int QLVMirror::GetVolumeInformation(LPWSTR volumeNameBuffer, DWORD volumeNameSize, LPDWORD,
                                    LPDWORD maximumComponentLength, LPDWORD fileSystemFlags,
                                    LPWSTR fileSystemNameBuffer, DWORD fileSystemNameSize,
                                    PDOKAN_FILE_INFO) {
  CopyToBuffer(u"Ondrel", volumeNameBuffer, volumeNameSize);
  if (maximumComponentLength) *maximumComponentLength = 256;
  if (fileSystemFlags) *fileSystemFlags = 0;
  CopyToBuffer(u"NTFS", fileSystemNameBuffer, fileSystemNameSize);
  return 0;
}

int QLVMirror::GetDiskFreeSpace(PULONGLONG freeBytesAvailable, PULONGLONG totalBytes,
                                PULONGLONG totalFreeBytes, PDOKAN_FILE_INFO) {
  MutexLock guard(treeLock_);
  uint64_t total = static_cast<uint64_t>(std::max<int64_t>(quota_, 0));
  uint64_t free = static_cast<uint64_t>(std::max<int64_t>(quota_ - used_, 0));
  if (freeBytesAvailable) *freeBytesAvailable = free;
  if (totalBytes) *totalBytes = total;
  if (totalFreeBytes) *totalFreeBytes = free;
  return 0;
}

void QLVMirror::SetConfig(MirrorConfig* config) { config_ = config; }

std::u16string QLVMirror::GetDrivePath(const std::u16string& key) {
  MirrorConfig* config = config_.load();
  MutexLock guard(treeLock_);
  if (tables_.nodes.count(key) == 0) return std::u16string();
  std::u16string letter = config ? config->DriveLetter : std::u16string();
  return letter + u":" + tables_.fullPathOf(key);
}

std::u16string QLVMirror::GetPath(const std::u16string& key) {
  MutexLock guard(treeLock_);
  return tables_.fullPathOf(key);
}

std::u16string QLVMirror::GetIdOfPath(const std::u16string& path) {
  MutexLock guard(treeLock_);
  return tables_.idOfPath(path).value_or(std::u16string());
}

int QLVMirror::GetEntry(const std::u16string& key, NodeRecord* record) {
  if (!record) return -1;
  MutexLock guard(treeLock_);
  std::optional<NodeRecord> node = nodeOfId(key);
  if (!node) return -1;
  *record = std::move(*node);
  record->writable = record->writable ? 2 : 1;
  return 0;
}

std::map<std::u16string, std::u16string> QLVMirror::GetChildren(const std::u16string& key) {
  MutexLock guard(treeLock_);
  const ChildList* children = tables_.children.find(key);
  return children ? children->copy() : std::map<std::u16string, std::u16string>();
}

void QLVMirror::markStale(const std::u16string& id) {
  MutexLock guard(treeLock_);
  tables_.setStale(id, true);
}

WebSession QLVMirror::session() {
  MutexLock guard(sessionLock_);
  return session_;
}

int64_t QLVMirror::quota() const {
  MutexLock guard(treeLock_);
  return quota_;
}

int64_t QLVMirror::used() const {
  MutexLock guard(treeLock_);
  return used_;
}

std::u16string QLVMirror::downloadFolderId() const {
  MutexLock guard(treeLock_);
  return downloadFolderId_;
}
