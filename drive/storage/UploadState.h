// What an upload context carries besides the common file context: the id the service handed
// out for the upload, the write connection, and whether any write on it failed.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "drive/stream/CRSWriter.h"
#include "platform/sync/Mutex.h"

struct UploadState {
  std::u16string id;     // the id "writedist" handed out; the node's id from then on
  int64_t linkSize = 0;  // the size "writedist" reported
  Mutex connectionLock;  // one request and its reply on the connection at a time
  CRSWriter writer GUARDED_BY(connectionLock);
  std::atomic<bool> failed{false};  // a write failed: the upload must not be finished
};
