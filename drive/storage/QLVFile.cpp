#include "drive/storage/QLVFile.h"

#include "drive/storage/LocalCopies.h"
#include "drive/storage/UploadState.h"
#include "drive/stream/CMediaSpace.h"

QLVFile::QLVFile(std::u16string fileId, int64_t fileSize, WebSession fileSession,
                 const std::string& programFolder, StreamContext& stream)
    : id(std::move(fileId)),
      size(fileSize),
      session(std::move(fileSession)),
      media_(std::make_unique<CMediaSpace>(programFolder, stream)) {}

QLVFile::~QLVFile() = default;

void QLVFile::setUpload(std::unique_ptr<UploadState> upload) { upload_ = std::move(upload); }

void QLVFile::setLocalCopy(std::shared_ptr<LocalCopy> copy) { localCopy_ = std::move(copy); }

void QLVFile::enter() {
  MutexLock guard(contextLock_);
  ++busy_;
}

void QLVFile::leave() {
  MutexLock guard(contextLock_);
  --busy_;
}

int32_t QLVFile::busyCount() const {
  MutexLock guard(contextLock_);
  return busy_;
}

std::string QLVFile::headKey() const {
  MutexLock guard(contextLock_);
  return headKey_;
}

void QLVFile::setHeadKey(const std::string& key) {
  MutexLock guard(contextLock_);
  headKey_ = key;
}

uint64_t ContextValue(QLVFile* file) { return reinterpret_cast<uintptr_t>(file); }
QLVFile* ContextOf(uint64_t value) {
  return reinterpret_cast<QLVFile*>(static_cast<uintptr_t>(value));
}
