#include "drive/storage/LocalCopies.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>

#include "platform/atomicfile/AtomicFile.h"

namespace fs = std::filesystem;

namespace {

constexpr char16_t kLocalIdPrefix[] = u"local-";

// The number of a copy's file name ("<n>.data" or "<n>.json"), or nothing.
std::optional<uint64_t> NumberOf(const fs::path& file) {
  std::string stem = file.stem().string();
  if (stem.empty() || stem.size() > 19 || stem.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return std::stoull(stem);
}

}  // namespace

std::string WriteCacheFolder(const std::string& programFolder) {
  return programFolder + "writecache/";
}

LocalCopy::LocalCopy(const std::string& folder, uint64_t copyNumber, int fd,
                     std::u16string fileNodeId, LocalCopyRecord fileRecord)
    : number(copyNumber),
      dataPath(folder + std::to_string(copyNumber) + ".data"),
      recordPath(folder + std::to_string(copyNumber) + ".json"),
      nodeId(std::move(fileNodeId)),
      record(std::move(fileRecord)),
      fd_(fd) {}

LocalCopy::~LocalCopy() { ::close(fd_); }

int64_t LocalCopy::read(void* buffer, int64_t offset, size_t size) const {
  size_t done = 0;
  while (done < size) {
    ssize_t got = ::pread(fd_, static_cast<char*>(buffer) + done, size - done,
                          static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -errno;
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<int64_t>(done);
}

int64_t LocalCopy::write(const void* buffer, int64_t offset, size_t size, bool atEnd) {
  MutexLock appendGuard(appendLock_);
  if (atEnd) offset = this->size();
  if (offset < 0) return -EIO;
  size_t done = 0;
  while (done < size) {
    ssize_t put = ::pwrite(fd_, static_cast<const char*>(buffer) + done, size - done,
                           static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return -errno;
    done += static_cast<size_t>(put);
  }
  return static_cast<int64_t>(done);
}

int LocalCopy::truncate(int64_t newSize) {
  MutexLock appendGuard(appendLock_);
  return ::ftruncate(fd_, static_cast<off_t>(newSize)) == 0 ? 0 : errno;
}

int64_t LocalCopy::size() const {
  struct stat st {};
  return ::fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

int32_t LocalCopy::modifiedTime() const {
  struct stat st {};
  return ::fstat(fd_, &st) == 0 ? static_cast<int32_t>(st.st_mtime) : 0;
}

void LocalCopy::markDirty() {
  MutexLock guard(stateLock);
  if (record.dirty) return;
  record.dirty = true;
  saveRecordLocked(false);
}

bool LocalCopy::saveRecord(bool sync) {
  MutexLock guard(stateLock);
  return saveRecordLocked(sync);
}

bool LocalCopy::saveRecordLocked(bool sync) {
  if (sync && ::fsync(fd_) != 0) return false;
  // Unchanged since its last write (the size, informative only, is taken at each write), the
  // record is not written again: a database's every fsync would otherwise do it.
  std::string text = RecordText(record);
  if (text == savedText_ && (savedSynced_ || !sync)) return true;
  record.size = size();
  atomicfile::ReplaceOptions options;
  options.syncFile = sync;
  options.syncFolder = sync;
  options.mode = 0600;
  std::string written = RecordText(record);
  if (!atomicfile::ReplaceFile(recordPath, written, options)) return false;
  savedText_ = std::move(written);
  savedSynced_ = sync;
  return true;
}

void LocalCopy::removeFiles() {
  // The record goes first: a data file without one is never taken for a copy to upload.
  ::unlink(recordPath.c_str());
  ::unlink(dataPath.c_str());
}

LocalCopies::LocalCopies(std::string folder) : folder_(std::move(folder)) {}

std::shared_ptr<LocalCopy> LocalCopies::find(const std::u16string& nodeId) const {
  MutexLock guard(lock_);
  auto found = copies_.find(nodeId);
  return found == copies_.end() ? nullptr : found->second;
}

void LocalCopies::add(const std::shared_ptr<LocalCopy>& copy) {
  MutexLock guard(lock_);
  MutexLock copyGuard(copy->stateLock);
  copies_[copy->nodeId] = copy;
}

void LocalCopies::remove(LocalCopy& copy) {
  MutexLock guard(lock_);
  MutexLock copyGuard(copy.stateLock);
  auto found = copies_.find(copy.nodeId);
  if (found != copies_.end() && found->second.get() == &copy) copies_.erase(found);
}

void LocalCopies::rename(LocalCopy& copy, const std::u16string& newId) {
  MutexLock guard(lock_);
  MutexLock copyGuard(copy.stateLock);
  auto found = copies_.find(copy.nodeId);
  if (found == copies_.end() || found->second.get() != &copy) {
    copy.nodeId = newId;
    return;
  }
  std::shared_ptr<LocalCopy> held = found->second;
  copies_.erase(found);
  copy.nodeId = newId;
  copies_[newId] = held;
}

bool LocalCopies::abandon(const std::u16string& nodeId) {
  MutexLock guard(lock_);
  auto found = copies_.find(nodeId);
  if (found == copies_.end()) return false;
  {
    MutexLock copyGuard(found->second->stateLock);
    found->second->abandoned = true;
  }
  // A later file of the same name starts a copy of its own.
  copies_.erase(found);
  return true;
}

bool LocalCopies::inUse(uint64_t number) const {
  MutexLock guard(lock_);
  for (const auto& [id, copy] : copies_) {
    if (copy->number == number) return true;
  }
  return false;
}

uint64_t LocalCopies::nextNumber() {
  MutexLock guard(lock_);
  if (nextNumber_ == 0) {
    nextNumber_ = 1;
    std::error_code error;
    for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
      if (std::optional<uint64_t> number = NumberOf(it->path()))
        nextNumber_ = std::max(nextNumber_, *number + 1);
    }
  }
  return nextNumber_++;
}

std::u16string LocalCopies::LocalIdOf(uint64_t number) {
  std::string digits = std::to_string(number);
  return kLocalIdPrefix + std::u16string(digits.begin(), digits.end());
}

bool LocalCopies::IsLocalId(const std::u16string& id) { return id.rfind(kLocalIdPrefix, 0) == 0; }

int64_t LocalCopies::BytesOnDisk(const std::string& folder) {
  int64_t total = 0;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code entryError;
    if (it->path().extension() != ".data" || !it->is_regular_file(entryError)) continue;
    uintmax_t size = it->file_size(entryError);
    if (!entryError) total += static_cast<int64_t>(size);
  }
  return total;
}
