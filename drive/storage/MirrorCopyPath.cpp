#include "drive/storage/MirrorCopyPath.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <vector>

#include "drive/core/DriveProcess.h"
#include "drive/core/MirrorConfig.h"
#include "drive/storage/ContentChanges.h"
#include "drive/storage/DriveChangeNotice.h"
#include "drive/storage/MirrorReadPath.h"
#include "drive/storage/MirrorWebSession.h"
#include "drive/storage/QLVFile.h"
#include "drive/storage/StorageProcess.h"
#include "drive/stream/CMediaSpace.h"
#include "drive/tree/DrivePaths.h"
#include "drive/tree/TreeNode.h"
#include "platform/codepage/CodePage.h"

namespace {

constexpr uint32_t kNewFileAttributes = 0x81;
// Pieces in which a copy is filled from the service: the reader's read-ahead size.
constexpr int64_t kFillPieceBytes = 65536;
constexpr int64_t kMiB = 1048576;

std::string Utf8(std::u16string_view text) { return codepage::WideToUtf8(text); }

bool Truncating(DWORD disposition) {
  return disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING ||
         disposition == CREATE_NEW;
}

bool WritesTo(DWORD access) { return (access & (GENERIC_WRITE | FILE_APPEND_DATA)) != 0; }

// A local file error as the driver's result: a full disk says so, anything else is an I/O
// failure.
int ResultOfErrno(int error) {
  return error == ENOSPC || error == EDQUOT ? mirror_error::kDiskFull : mirror_error::kGeneral;
}

}  // namespace

MirrorCopyPath::MirrorCopyPath(DriveProcess& drive, StorageProcess& shared,
                               const std::atomic<MirrorConfig*>& config, MirrorTreeStore& tree,
                               MirrorWebSession& web, MirrorReadPath& read,
                               MirrorUploadPath& upload, LocalCopies& copies)
    : drive_(drive),
      shared_(shared),
      config_(config),
      tree_(tree),
      web_(web),
      read_(read),
      upload_(upload),
      copies_(copies) {}

bool MirrorCopyPath::wants(const std::optional<NodeRecord>& node, DWORD access,
                           DWORD disposition) const {
  if (node && copies_.find(node->key)) return true;
  bool readWrite = (access & GENERIC_READ) != 0 && WritesTo(access);
  if (readWrite) return true;
  // A write-only open that replaces the file whole streams its writes to the service.
  return node && WritesTo(access) && !Truncating(disposition);
}

int MirrorCopyPath::open(const std::u16string& path, const std::optional<NodeRecord>& node,
                         DWORD access, DWORD disposition, PDOKAN_FILE_INFO info) {
  bool truncating = Truncating(disposition);
  bool writing = truncating || WritesTo(access);
  std::shared_ptr<LocalCopy> copy;
  bool made = false;
  {
    MutexLock guard(createLock_);
    if (node) copy = copies_.find(node->key);
    // The copy went between the check and here: a plain read reads the service's file.
    if (!copy && !writing) return read_.openForReading(path, *node, info);
    if (!copy) {
      int result = node ? copyOfServiceFile(*node, truncating, &copy) : copyOfNewFile(path, &copy);
      if (result != 0) return result;
      copies_.add(copy);
      made = true;
    }
    MutexLock state(copy->stateLock);
    ++copy->handles;
  }
  auto file = std::make_unique<QLVFile>(node ? node->key : std::u16string(), 0, web_.session(),
                                        drive_.programFolder, shared_.stream);
  file->setLocalCopy(copy);
  file->setFlag(QLVFile::kLocalCopy);
  // A truncating open of a shared copy empties it; a new file must reach the service even
  // when nothing is written: either way this handle has changed the file.
  if (truncating && !made) copy->truncate(0);
  if (truncating || !node) markWritten(*file);
  info->Context = ContextValue(file.release());
  drive_.log().logf(kLogCallbacks, "%" PRId64 " %ld CreateFile:copy:%s",
                    static_cast<int64_t>(info->Context), static_cast<long>(info->ProcessId),
                    Utf8(path).c_str());
  return 0;
}

int MirrorCopyPath::roomFor(int64_t bytes) {
  MirrorConfig* config = config_.load();
  int64_t limit = config ? static_cast<int64_t>(config->MaxDiskCache) * kMiB : 0;
  int64_t used = copies_.bytesOnDisk();
  if (used + bytes > limit) {
    drive_.log().logf(kLogResults,
                      "writecache: no room for a copy of %" PRId64 " bytes (%" PRId64
                      " bytes in use, MaxDiskCache %" PRId64 " MB)",
                      bytes, used, limit / kMiB);
    return mirror_error::kDiskFull;
  }
  struct statvfs disk {};
  if (::statvfs(copies_.folder().c_str(), &disk) == 0 &&
      static_cast<int64_t>(disk.f_bavail) * static_cast<int64_t>(disk.f_frsize) < bytes) {
    drive_.log().logf(kLogResults,
                      "writecache: the disk has no room for a copy of %" PRId64 " bytes", bytes);
    return mirror_error::kDiskFull;
  }
  return 0;
}

uint64_t MirrorCopyPath::createDataFile(int* fd, int* result) {
  std::error_code error;
  std::filesystem::create_directories(copies_.folder(), error);
  std::filesystem::permissions(copies_.folder(), std::filesystem::perms::owner_all, error);
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t number = copies_.nextNumber();
    std::string data = copies_.folder() + std::to_string(number) + ".data";
    *fd = ::open(data.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (*fd >= 0) return number;
    if (errno != EEXIST) break;
  }
  drive_.log().logf(kLogResults, "writecache: cannot create a copy in %s: %s",
                    copies_.folder().c_str(), std::strerror(errno));
  *result = ResultOfErrno(errno);
  return 0;
}

int MirrorCopyPath::copyOfServiceFile(const NodeRecord& node, bool truncating,
                                      std::shared_ptr<LocalCopy>* copy) {
  int64_t content = truncating ? 0 : node.size;
  if (int room = roomFor(content); room != 0) return room;
  int fd = -1;
  int result = 0;
  uint64_t number = createDataFile(&fd, &result);
  if (number == 0) return result;
  LocalCopyRecord record;
  record.serviceId = node.key;
  record.parentId = node.parentKey;
  record.name = node.name;
  auto made = std::make_shared<LocalCopy>(copies_.folder(), number, fd, node.key, record);
  std::string version;
  if (content > 0) result = fill(*made, node, &version);
  if (result == 0) {
    MutexLock state(made->stateLock);
    made->record.baseVersion = version;
    if (!made->saveRecordLocked(false)) result = mirror_error::kGeneral;
  }
  if (result != 0) {
    made->removeFiles();
    return result;
  }
  *copy = std::move(made);
  return 0;
}

int MirrorCopyPath::fill(LocalCopy& copy, const NodeRecord& node, std::string* version) {
  MirrorLog& log = drive_.log();
  int openResult = 0;
  std::unique_ptr<QLVFile> source = read_.openReadContext(node, &openResult);
  if (!source) {
    log.logf(kLogResults, "writecache %" PRIu64 ": cannot read %s from the service (%d)",
             copy.number, Utf8(node.key).c_str(), openResult);
    return mirror_error::kGeneral;
  }
  *version = source->headKey();
  std::vector<uint8_t> piece(kFillPieceBytes);
  int64_t offset = 0;
  int result = 0;
  while (result == 0 && offset < node.size) {
    int32_t want = static_cast<int32_t>(std::min<int64_t>(node.size - offset, kFillPieceBytes));
    source->enter();
    int32_t got = source->media().read(piece.data(), offset, want);
    source->leave();
    if (got <= 0) {
      result = mirror_error::kGeneral;
      break;
    }
    int64_t put = copy.write(piece.data(), offset, static_cast<size_t>(got), false);
    if (put < 0) result = ResultOfErrno(static_cast<int>(-put));
    offset += got;
  }
  read_.retireContext(std::move(source));
  if (result != 0) {
    log.logf(kLogResults, "writecache %" PRIu64 ": filled %" PRId64 " of %" PRId64 " bytes of %s",
             copy.number, offset, node.size, Utf8(node.key).c_str());
  }
  return result;
}

int MirrorCopyPath::copyOfNewFile(const std::u16string& path, std::shared_ptr<LocalCopy>* copy) {
  SplitPath split = SplitAtLastSeparator(path);
  if (UnacceptableName(split.name)) return mirror_error::kGeneral;
  NodeRecord folder;
  {
    MutexLock guard(tree_.lock());
    std::optional<NodeRecord> found = tree_.nodeOfPath(split.folder);
    if (!found || !found->isFolder()) return mirror_error::kPathNotFound;
    folder = *found;
  }
  if (!folder.writable) return mirror_error::kReadOnly;
  if (int room = roomFor(0); room != 0) return room;
  int fd = -1;
  int result = 0;
  uint64_t number = createDataFile(&fd, &result);
  if (number == 0) return result;
  LocalCopyRecord record;
  record.parentId = folder.key;
  record.name = split.name;
  record.dirty = true;
  std::u16string id = LocalCopies::LocalIdOf(number);
  auto made = std::make_shared<LocalCopy>(copies_.folder(), number, fd, id, record);
  if (!made->saveRecord(false)) {
    made->removeFiles();
    return mirror_error::kGeneral;
  }
  NodeRecord node;
  node.key = id;
  node.name = split.name;
  node.folderPath = FolderPathBelow(folder);
  node.parentKey = folder.key;
  node.attributes = kNewFileAttributes;
  node.time = static_cast<int32_t>(std::time(nullptr));
  node.writable = 1;
  {
    MutexLock guard(tree_.lock());
    tree_.tables().put(node);
    // Kept through tree reads until its upload, as the service does not list it yet; its mark
    // tells the name operations that no request is needed for it.
    shared_.pendingUploads.put(node, std::make_shared<UploadMark>());
    tree_.writeFileList();
  }
  *copy = std::move(made);
  return 0;
}

void MirrorCopyPath::markWritten(QLVFile& file) {
  LocalCopy& copy = *file.localCopy();
  if (file.raiseFlag(QLVFile::kCopyWritten)) {
    MutexLock state(copy.stateLock);
    ++copy.writers;
  }
  copy.markDirty();
}

bool MirrorCopyPath::readFromCopy(const std::u16string& path, void* buffer, DWORD bytesToRead,
                                  LPDWORD bytesRead, LONGLONG offset, PDOKAN_FILE_INFO info,
                                  int* result) {
  if (!info || !bytesRead || (!buffer && bytesToRead > 0) || offset < 0) return false;
  std::shared_ptr<LocalCopy> copy;
  if (!EmptyFileContext(*info)) {
    QLVFile& file = *ContextOf(info->Context);
    copy = file.localCopy();
    if (!copy && !file.id.empty()) copy = copies_.find(file.id);
  } else {
    std::optional<std::u16string> id;
    {
      MutexLock guard(tree_.lock());
      id = tree_.tables().idOfPath(path);
    }
    if (id) copy = copies_.find(*id);
  }
  if (!copy) return false;
  int64_t got = copy->read(buffer, offset, bytesToRead);
  if (got < 0) {
    *bytesRead = static_cast<DWORD>(-1);
    *result = mirror_error::kGeneral;
  } else {
    *bytesRead = static_cast<DWORD>(got);
    *result = 0;
  }
  return true;
}

int MirrorCopyPath::write(QLVFile& file, const void* buffer, DWORD bytesToWrite,
                          LPDWORD bytesWritten, LONGLONG offset, bool atEnd) {
  if (!bytesWritten || (!buffer && bytesToWrite > 0) || (offset < 0 && !atEnd))
    return mirror_error::kAccessDenied;
  LocalCopy& copy = *file.localCopy();
  int64_t done = copy.write(buffer, offset, bytesToWrite, atEnd);
  if (done < 0) {
    drive_.log().logf(kLogResults, "writecache %" PRIu64 ": write failed: %s", copy.number,
                      std::strerror(static_cast<int>(-done)));
    return ResultOfErrno(static_cast<int>(-done));
  }
  markWritten(file);
  *bytesWritten = static_cast<DWORD>(done);
  return 0;
}

int MirrorCopyPath::setEndOfFile(QLVFile& file, LONGLONG length) {
  if (length < 0) return mirror_error::kAccessDenied;
  LocalCopy& copy = *file.localCopy();
  if (int error = copy.truncate(length); error != 0) return ResultOfErrno(error);
  markWritten(file);
  return 0;
}

int MirrorCopyPath::flush(QLVFile& file) {
  LocalCopy& copy = *file.localCopy();
  std::optional<NodeRecord> node;
  std::u16string nodeId;
  {
    MutexLock state(copy.stateLock);
    nodeId = copy.nodeId;
  }
  {
    MutexLock guard(tree_.lock());
    node = tree_.nodeOfId(nodeId);
  }
  MutexLock state(copy.stateLock);
  // A later start uploads it where the file is now.
  if (node) {
    copy.record.parentId = node->parentKey;
    copy.record.name = node->name;
  }
  return copy.saveRecordLocked(true) ? 0 : mirror_error::kGeneral;
}

int MirrorCopyPath::cleanup(QLVFile& file) {
  if (!file.lowerFlag(QLVFile::kCopyWritten)) return 0;
  LocalCopy& copy = *file.localCopy();
  {
    MutexLock state(copy.stateLock);
    if (--copy.writers > 0) return 0;
  }
  return upload(copy);
}

void MirrorCopyPath::close(PDOKAN_FILE_INFO info) {
  if (!info || EmptyFileContext(*info)) return;
  if (!ContextOf(info->Context)->hasFlag(QLVFile::kLocalCopy)) return;
  std::unique_ptr<QLVFile> file(ContextOf(info->Context));
  info->Context = 0;
  std::shared_ptr<LocalCopy> copy = file->localCopy();
  bool last = false;
  {
    MutexLock guard(createLock_);
    {
      MutexLock state(copy->stateLock);
      // A handle closed without its cleanup still ends its writes.
      if (file->lowerFlag(QLVFile::kCopyWritten)) --copy->writers;
      last = --copy->handles == 0;
    }
    if (last) copies_.remove(*copy);
  }
  read_.retireContext(std::move(file));
  if (!last) return;
  bool changed;
  {
    MutexLock state(copy->stateLock);
    changed = copy->record.dirty && !copy->abandoned && !copy->kept;
  }
  // Changes whose handle never got its cleanup go up now.
  if (changed) upload(*copy);
  MutexLock state(copy->stateLock);
  if (copy->abandoned || (!copy->kept && !copy->record.dirty)) copy->removeFiles();
}

bool MirrorCopyPath::sizeAndTime(const std::u16string& id, int64_t* size, int32_t* time) const {
  std::shared_ptr<LocalCopy> copy = copies_.find(id);
  if (!copy) return false;
  *size = std::max<int64_t>(copy->size(), 0);
  *time = copy->modifiedTime();
  return true;
}

void MirrorCopyPath::sizeAndTime(const QLVFile& file, int64_t* size, int32_t* time) const {
  const LocalCopy& copy = *file.localCopy();
  *size = std::max<int64_t>(copy.size(), 0);
  *time = copy.modifiedTime();
}
