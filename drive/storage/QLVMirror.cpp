#include "drive/storage/QLVMirror.h"

#include <algorithm>
#include <cstring>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/storage/DriveChangeNotice.h"
#include "drive/storage/QLVFile.h"
#include "drive/storage/StorageProcess.h"

namespace {

constexpr DWORD kRootAttributes = 0x50;
constexpr DWORD kOpenExisting = 3;
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

// The attributes the driver is given: read-only exactly where the drive takes no writes, so
// programs see 0644/0755 inside the writable folders and 0444/0555 elsewhere. The tables and
// ".filelist" keep the service's attributes.
DWORD DriverAttributes(uint32_t attributes, bool writable) {
  return writable ? (attributes & ~FILE_ATTRIBUTE_READONLY)
                  : (attributes | FILE_ATTRIBUTE_READONLY);
}

// The handle's context when it works on a local copy, else null.
QLVFile* CopyHandle(PDOKAN_FILE_INFO info) {
  if (!info || EmptyFileContext(*info)) return nullptr;
  QLVFile* file = ContextOf(info->Context);
  return file->hasFlag(QLVFile::kLocalCopy) ? file : nullptr;
}

bool WriteDisposition(DWORD disposition) {
  return disposition == 1 || disposition == 2 || disposition == 4 || disposition == 5;
}

}  // namespace

QLVMirror::QLVMirror(DriveProcess& drive, StorageProcess& shared, const MirrorOptions& options)
    : drive_(drive),
      shared_(shared),
      options_(options),
      copies_(WriteCacheFolder(drive.programFolder)),
      web_(shared, options_, config_),
      tree_(drive, shared, config_),
      read_(drive, shared, options_, config_, tree_, web_),
      names_(drive, tree_, web_),
      upload_(drive, shared, options_, config_, tree_, web_, read_),
      edits_(drive, shared, config_, tree_, web_, read_, upload_, copies_),
      treeReads_(drive, shared, tree_, web_),
      maintenance_(drive, shared, options_, config_, read_, treeReads_) {
  shared_.runState = run_state::kRunning;
  maintenance_.start();
}

QLVMirror::~QLVMirror() {
  int32_t running = run_state::kRunning;
  shared_.runState.compare_exchange_strong(running, run_state::kStopRequested);
  // The thread reports the stopped state as its last act; joining is the wait for it.
  maintenance_.join();
  // The drive is unmounted by now: no read can still run on a closed file.
  shared_.closedFiles.releaseAll();
  shared_.stream.spares.closeAll();  // the next mount connects its own
  web_.close();
}

int QLVMirror::CreateFile(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                          DWORD creationDisposition, DWORD flagsAndAttributes,
                          PDOKAN_FILE_INFO info) {
  if (!fileName || !info) return mirror_error::kGeneral;
  info->Context = 0;
  std::u16string path(fileName);
  if (path == u"\\") {
    info->IsDirectory = 1;
    return 0;
  }
  std::optional<NodeRecord> node;
  {
    MutexLock guard(tree_.lock());
    node = tree_.nodeOfPath(path);
  }
  if (!node || node->key.empty()) {
    if (creationDisposition == kOpenExisting) return mirror_error::kFileNotFound;
    // A new file opened for reading as well is edited in a local copy; write-only, it streams.
    if (edits_.wants(std::nullopt, desiredAccess, creationDisposition))
      return edits_.open(path, std::nullopt, desiredAccess, creationDisposition, info);
    return upload_.createForWriting(path, desiredAccess, shareMode, creationDisposition,
                                    flagsAndAttributes, info);
  }
  bool folder = (node->attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if (creationDisposition == kOpenExisting && folder) {
    info->IsDirectory = 1;
    return 0;
  }
  if (!folder) {
    // An exclusive create of a name that exists (O_EXCL) never opens, and so never empties, it.
    if (creationDisposition == CREATE_NEW) return mirror_error::kAlreadyExists;
    bool writes = (desiredAccess & (GENERIC_WRITE | FILE_APPEND_DATA)) != 0 ||
                  info->WriteToEndOfFile || WriteDisposition(creationDisposition);
    if (writes && !node->writable) return mirror_error::kReadOnly;
    // Editing in place (read-write, or write-only without truncating), and every open of a
    // file that is being edited, work on the file's local copy.
    if (edits_.wants(node, desiredAccess, creationDisposition))
      return edits_.open(path, node, desiredAccess, creationDisposition, info);
  }
  if (creationDisposition == kOpenExisting) {
    // Appending (">>") writes a new upload that starts with the service's content; opened for
    // reading, the writes would fail one by one.
    bool appending = (desiredAccess & FILE_APPEND_DATA) != 0 || info->WriteToEndOfFile;
    if (!appending) return read_.openForReading(path, *node, info);
    if (!node->writable) return mirror_error::kReadOnly;
  }
  if (!node->writable && WriteDisposition(creationDisposition)) return mirror_error::kReadOnly;
  return upload_.openForWriting(path, *node, desiredAccess, creationDisposition, info);
}

int QLVMirror::Cleanup(LPCWSTR, PDOKAN_FILE_INFO info) {
  if (!info || EmptyFileContext(*info)) return 0;
  // A handle on a local copy stays open until CloseFile; its cleanup may upload the copy.
  if (QLVFile* copyHandle = CopyHandle(info)) return edits_.cleanup(*copyHandle);
  std::unique_ptr<QLVFile> file(ContextOf(info->Context));
  info->Context = 0;
  // An upload that the service did not take is reported, so the closing program learns of it.
  int result = file->hasFlag(QLVFile::kUpload) ? upload_.finishUpload(*file) : 0;
  read_.retireContext(std::move(file));
  return result;
}

int QLVMirror::ReadFile(LPCWSTR fileName, void* buffer, DWORD bytesToRead, LPDWORD bytesRead,
                        LONGLONG offset, PDOKAN_FILE_INFO info) {
  int result = 0;
  if (fileName &&
      edits_.readFromCopy(fileName, buffer, bytesToRead, bytesRead, offset, info, &result))
    return result;
  return read_.readFile(fileName, buffer, bytesToRead, bytesRead, offset, info);
}

int QLVMirror::CreateDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO) {
  return names_.createDirectory(fileName);
}

int QLVMirror::DeleteFile(LPCWSTR fileName, PDOKAN_FILE_INFO) {
  return names_.deleteFile(fileName);
}

int QLVMirror::DeleteDirectory(LPCWSTR fileName, PDOKAN_FILE_INFO) {
  return names_.deleteDirectory(fileName);
}

int QLVMirror::MoveFile(LPCWSTR existingName, LPCWSTR newName, BOOL replaceIfExisting,
                        PDOKAN_FILE_INFO) {
  return names_.moveFile(existingName, newName, replaceIfExisting);
}

int QLVMirror::WriteFile(LPCWSTR fileName, const void* buffer, DWORD bytesToWrite,
                         LPDWORD bytesWritten, LONGLONG offset, PDOKAN_FILE_INFO info) {
  if (QLVFile* copyHandle = CopyHandle(info))
    return edits_.write(*copyHandle, buffer, bytesToWrite, bytesWritten, offset,
                        info->WriteToEndOfFile != 0);
  return upload_.writeFile(fileName, buffer, bytesToWrite, bytesWritten, offset, info);
}

int QLVMirror::SetEndOfFile(LPCWSTR, LONGLONG byteOffset, PDOKAN_FILE_INFO info) {
  if (QLVFile* copyHandle = CopyHandle(info)) return edits_.setEndOfFile(*copyHandle, byteOffset);
  return upload_.setEndOfFile(byteOffset, info);
}

// The service keeps its own times and attributes: both are accepted for an existing entry.
int QLVMirror::SetFileTime(LPCWSTR fileName, const FILETIME*, const FILETIME*, const FILETIME*,
                           PDOKAN_FILE_INFO) {
  return upload_.setFileTime(fileName);
}

int QLVMirror::SetFileAttributes(LPCWSTR fileName, DWORD, PDOKAN_FILE_INFO info) {
  return SetFileTime(fileName, nullptr, nullptr, nullptr, info);
}

int QLVMirror::readDirTree() { return treeReads_.readDirTree(); }

int QLVMirror::fileInfo(const std::u16string& id, NodeRecord* record) {
  return treeReads_.fileInfo(id, record);
}

void QLVMirror::notifyDriveChanged(const std::vector<std::u16string>& paths) {
  NotifyDriveChanged(drive_, paths);
}

// Login proves the password and hands out the session that signs every later request; a
// successful login reads the folder tree before it returns.
int QLVMirror::DoLogin() {
  MirrorConfig* config = config_.load();
  std::u16string userName = config ? config->userName() : std::u16string();
  std::u16string password = config ? config->passWord() : std::u16string();
  MirrorLog& log = drive_.log();
  if (userName.empty()) {
    log.log(u"QLVMirror:login:-1 UserName is Null !", kLogResults);
    return -1;
  }
  if (password.empty()) {
    log.log(u"QLVMirror:login:-1 PassWord is Null !", kLogResults);
    return -1;
  }
  int result = web_.logIn(userName, password, log);
  if (result != 0) return result;
  log.log(u"QLVMirror:login:OK ", kLogProgress);
  readDirTree();
  // Edits an earlier run could not upload go up now that the tree is known.
  edits_.recover();
  return 0;
}

int QLVMirror::OpenDirectory(LPCWSTR, PDOKAN_FILE_INFO) { return 0; }
int QLVMirror::CloseFile(LPCWSTR, PDOKAN_FILE_INFO info) {
  edits_.close(info);
  return 0;
}

// A local copy is made durable on the local disk; everything else has nothing to flush.
int QLVMirror::FlushFileBuffers(LPCWSTR, PDOKAN_FILE_INFO info) {
  QLVFile* copyHandle = CopyHandle(info);
  return copyHandle ? edits_.flush(*copyHandle) : 0;
}

int QLVMirror::GetFileInformation(LPCWSTR fileName, LPBY_HANDLE_FILE_INFORMATION information,
                                  PDOKAN_FILE_INFO info) {
  if (!fileName || !information) return mirror_error::kGeneral;
  // A handle on a local copy is answered from the copy, also once its name is gone.
  if (QLVFile* copyHandle = CopyHandle(info)) {
    int64_t size = 0;
    int32_t seconds = 0;
    edits_.sizeAndTime(*copyHandle, &size, &seconds);
    FILETIME time = FileTimeOf(seconds);
    information->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    information->ftCreationTime = information->ftLastAccessTime = information->ftLastWriteTime =
        time;
    information->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size) >> 32);
    information->nFileSizeLow = static_cast<DWORD>(size & 0xffffffff);
    return 0;
  }
  std::u16string_view path(fileName);
  MutexLock lock(tree_.lock());
  if (path == u"\\") {
    // Nothing can be made at the top level.
    information->dwFileAttributes = DriverAttributes(kRootAttributes, false);
    information->nFileSizeHigh =
        static_cast<DWORD>(static_cast<uint64_t>(tree_.quotaBytes()) >> 32);
    information->nFileSizeLow = static_cast<DWORD>(tree_.quotaBytes() & 0xffffffff);
    return 0;
  }
  const TreeNode* node = tree_.tables().pathIndex.find(path);
  if (!node) return mirror_error::kFileNotFound;

  // A file being uploaded has only its local size; the service knows nothing newer.
  if (node->stale && !shared_.pendingUploads.contains(node->id().str())) {
    // The service is asked without the tree lock, so other callers are not held up by it.
    std::u16string id = node->id().str();
    lock.unlock();
    NodeRecord refreshed;
    bool fetched = treeReads_.fileInfo(id, &refreshed) == 0;
    lock.lock();
    // The tree decides where a node lives; the service's answer refreshes what it is.
    if (fetched) tree_.tables().refresh(id, refreshed.size, refreshed.time, refreshed.attributes);
    node = tree_.tables().nodes.node(id);
    if (!node) return mirror_error::kFileNotFound;
  }

  // A file being edited shows its local copy's size and time.
  int64_t size = node->size;
  int32_t seconds = node->time;
  edits_.sizeAndTime(node->id().str(), &size, &seconds);
  FILETIME time = FileTimeOf(seconds);
  information->dwFileAttributes = DriverAttributes(node->attributes, node->writable);
  information->ftCreationTime = time;
  information->ftLastAccessTime = time;
  information->ftLastWriteTime = time;
  information->nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(size) >> 32);
  information->nFileSizeLow = static_cast<DWORD>(size & 0xffffffff);
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
  MutexLock guard(tree_.lock());
  const TreeNode* folder = tree_.tables().pathIndex.find(path);
  if (!folder) return 0;
  tree_.tables().forEachChild(folder->id(), [&](const TreeNode& child) {
    if (UnlistableName(child.name())) return;
    entry = WIN32_FIND_DATAW{};
    entry.dwFileAttributes = DriverAttributes(child.attributes, child.writable);
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
  MutexLock guard(tree_.lock());
  uint64_t total = static_cast<uint64_t>(std::max<int64_t>(tree_.quotaBytes(), 0));
  uint64_t free =
      static_cast<uint64_t>(std::max<int64_t>(tree_.quotaBytes() - tree_.usedBytes(), 0));
  if (freeBytesAvailable) *freeBytesAvailable = free;
  if (totalBytes) *totalBytes = total;
  if (totalFreeBytes) *totalFreeBytes = free;
  return 0;
}

void QLVMirror::SetConfig(MirrorConfig* config) { config_ = config; }

std::u16string QLVMirror::GetDrivePath(const std::u16string& key) {
  MirrorConfig* config = config_.load();
  MutexLock guard(tree_.lock());
  if (tree_.tables().nodes.count(key) == 0) return std::u16string();
  std::u16string letter = config ? config->DriveLetter : std::u16string();
  return letter + u":" + tree_.tables().fullPathOf(key);
}

std::u16string QLVMirror::GetPath(const std::u16string& key) {
  MutexLock guard(tree_.lock());
  return tree_.tables().fullPathOf(key);
}

std::u16string QLVMirror::GetIdOfPath(const std::u16string& path) {
  MutexLock guard(tree_.lock());
  return tree_.tables().idOfPath(path).value_or(std::u16string());
}

int QLVMirror::GetEntry(const std::u16string& key, NodeRecord* record) {
  if (!record) return -1;
  MutexLock guard(tree_.lock());
  std::optional<NodeRecord> node = tree_.nodeOfId(key);
  if (!node) return -1;
  *record = std::move(*node);
  record->writable = record->writable ? 2 : 1;
  return 0;
}

std::map<std::u16string, std::u16string> QLVMirror::GetChildren(const std::u16string& key) {
  MutexLock guard(tree_.lock());
  std::optional<ChildList> children = tree_.tables().children.find(key);
  return children ? children->copy() : std::map<std::u16string, std::u16string>();
}

void QLVMirror::markStale(const std::u16string& id) {
  MutexLock guard(tree_.lock());
  tree_.tables().setStale(id, true);
}

WebSession QLVMirror::session() { return web_.session(); }

int64_t QLVMirror::quota() const {
  MutexLock guard(tree_.lock());
  return tree_.quotaBytes();
}

int64_t QLVMirror::used() const {
  MutexLock guard(tree_.lock());
  return tree_.usedBytes();
}

std::u16string QLVMirror::downloadFolderId() const {
  MutexLock guard(tree_.lock());
  return tree_.downloadFolderId();
}
