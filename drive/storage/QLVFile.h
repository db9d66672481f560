// The context of one open file: what the read path needs from the node at open time, the
// session it signs its link request with, and the reader of the file's contents. The driver
// holds it from open to cleanup; the closed-file list then keeps it until no read can still
// be running on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "drive/replies/WebRequest.h"
#include "platform/sync/Mutex.h"

class CMediaSpace;
class LocalCopy;
struct StreamContext;
struct UploadState;

class QLVFile {
 public:
  static constexpr uint32_t kMediaOpen = 0x1;    // the media reader is open
  static constexpr uint32_t kUpload = 0x2;       // the context of an upload
  static constexpr uint32_t kLocalCopy = 0x4;    // a handle on the file's local copy
  static constexpr uint32_t kCopyWritten = 0x8;  // written since its last cleanup

  // The reader of the file keeps its head files in `programFolder` and shares `stream`.
  QLVFile(std::u16string id, int64_t size, WebSession session, const std::string& programFolder,
          StreamContext& stream);
  ~QLVFile();
  QLVFile(const QLVFile&) = delete;
  QLVFile& operator=(const QLVFile&) = delete;

  const std::u16string id;
  const int64_t size;
  const WebSession session;  // copy of the mirror's session at open

  // Created with the context; used by reading contexts.
  CMediaSpace& media() { return *media_; }

  Mutex linkLock;  // held while the read link is looked up or requested

  bool hasFlag(uint32_t flag) const { return (flags_.load() & flag) != 0; }
  void setFlag(uint32_t flag) { flags_.fetch_or(flag); }
  void clearFlag(uint32_t flag) { flags_.fetch_and(~flag); }
  // Set or clear a flag; true when this call changed it.
  bool raiseFlag(uint32_t flag) { return (flags_.fetch_or(flag) & flag) == 0; }
  bool lowerFlag(uint32_t flag) { return (flags_.fetch_and(~flag) & flag) != 0; }

  // Operations running on the context; a context is not freed while any runs.
  void enter();
  void leave();
  int32_t busyCount() const;

  uint32_t closeTime() const { return closeTime_.load(); }
  void setCloseTime(uint32_t ticks) { closeTime_ = ticks; }

  // The upload of a context whose "tw_create" succeeded; null for reading contexts.
  UploadState* upload() const { return upload_.get(); }
  void setUpload(std::unique_ptr<UploadState> upload);

  // The local copy a handle works on (flag kLocalCopy); null otherwise.
  const std::shared_ptr<LocalCopy>& localCopy() const { return localCopy_; }
  void setLocalCopy(std::shared_ptr<LocalCopy> copy);

  // The head-file name of the open reader (its token 2), empty until the stream is open.
  std::string headKey() const;
  void setHeadKey(const std::string& key);

 private:
  std::unique_ptr<CMediaSpace> media_;
  std::unique_ptr<UploadState> upload_;
  std::shared_ptr<LocalCopy> localCopy_;
  std::atomic<uint32_t> flags_{0};
  std::atomic<uint32_t> closeTime_{0};  // tick count at cleanup
  mutable Mutex contextLock_;
  int32_t busy_ GUARDED_BY(contextLock_) = 0;
  std::string headKey_ GUARDED_BY(contextLock_);
};

// The value stored in the driver's file context for a context, and back.
uint64_t ContextValue(QLVFile* file);
QLVFile* ContextOf(uint64_t value);
