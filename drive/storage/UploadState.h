// What an upload context carries besides the common file context: the id the service handed
// out for the upload, the write connection, whether any write on it failed, where the service
// will put it, and what it replaces.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "drive/node/NodeRecord.h"
#include "drive/storage/PendingNodes.h"
#include "drive/stream/CRSWriter.h"
#include "platform/sync/Mutex.h"

struct UploadState {
  std::u16string id;     // the id "writedist" handed out; the node's id from then on
  int64_t linkSize = 0;  // the size "writedist" reported
  Mutex connectionLock;  // one request and its reply on the connection at a time
  CRSWriter writer GUARDED_BY(connectionLock);
  // The end of the bytes sent, and the file's length as the program sees it (raised by
  // writes, set by ftruncate); a length past the bytes sent is filled with zeros at the close.
  int64_t writtenEnd GUARDED_BY(connectionLock) = 0;
  int64_t length GUARDED_BY(connectionLock) = 0;
  std::atomic<bool> failed{false};  // a write failed: the upload must not be finished

  // The folder id and name "writedist" was given: where the service puts the file. A rename
  // while the file is open is sent after the close.
  std::u16string serviceParent;
  std::u16string serviceName;
  // The record of the file the upload replaces, shown again when the service refuses it.
  std::optional<NodeRecord> replaced;
  std::shared_ptr<UploadMark> mark = std::make_shared<UploadMark>();
};
