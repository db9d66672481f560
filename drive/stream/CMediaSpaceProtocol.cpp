// The read requests of CMediaSpace on its master and slave connections.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "drive/stream/CMediaSpace.h"
#include "drive/stream/HeadCache.h"
#include "drive/wire/DataReply.h"
#include "drive/wire/StreamLog.h"

using namespace streamwire;

namespace {
constexpr int kOpenLimitMs = 10000;
constexpr int kDirectReadLimitMs = 20000;
}  // namespace

std::string CMediaSpace::streamId() const {
  MutexLock guard(idLock_);
  return streamId_;
}

bool CMediaSpace::sameHead(const uint8_t* head, int32_t size) const {
  return size == headSize_ && std::memcmp(head, head_.get(), static_cast<size_t>(size)) == 0;
}

bool CMediaSpace::argumentsUsable() const {
  return !host_.empty() && port_ > 0 && !token1_.empty() && !token2_.empty() &&
         ("t1_open," + token1_ + "," + token2_).size() <= static_cast<size_t>(kMaxRequestText);
}

std::string CMediaSpace::masterOpen(bool fetchMeanwhile) {
  if (!argumentsUsable()) return kArgumentNotCorrect;
  if (closing_) return kSocketError;
  stop_ = false;
  // A close that began meanwhile set stop before this cleared it: keep it set.
  if (closing_) {
    stop_ = true;
    return kSocketError;
  }
  if (fetchMeanwhile) startSlaves();
  std::string status = openAndCheck();
  if (status != "ok" && slavesStarted_) {
    // No read can be fetched without the master's open: the fetch connections go too.
    stopSlaves();
    slavesStarted_ = false;
    for (CRSSocket& socket : slaveSockets_) socket.close();
    opened_ = false;
  }
  return status;
}

std::string CMediaSpace::openAndCheck() {
  // The head arrives in a buffer of its own, so that a reply that breaks off leaves the head
  // already held intact.
  std::unique_ptr<uint8_t[]> head(new uint8_t[kHeadCapacity]);
  int32_t headSize = 0;
  OpenReply reply;
  std::string status = openMasterConnection(&reply, head.get(), &headSize);
  if (status != "ok") return status;
  // A head taken from the disk cache must be the head of what the server holds now; under
  // the link of a file that changed since, it is the old head, which must not be followed by
  // the new rest.
  if (headSize_ > 0 && !sameHead(head.get(), headSize)) {
    log_.log(0, "ReadCacheFile(changed): %s", headcache::HeadPath(folder_, token2_).c_str());
    headcache::Remove(log_, folder_, token2_);
    master_.close();
    return kDataError;
  }
  {
    MutexLock guard(idLock_);
    streamId_ = reply.streamId;
  }
  fileLength_ = reply.fileLength;
  ext_ = reply.ext;
  afterOpen(head.get(), headSize);
  return "ok";
}

std::string CMediaSpace::slaveOpen(CRSSocket& socket) {
  if (!argumentsUsable()) return kArgumentNotCorrect;
  if (socket.connect(host_, port_, CRSSocket::kConnectLimitMs, &stop_) != 0) return kConnectFailed;
  std::string request = "t_open," + token1_ + "," + token2_;
  if (socket.sendRequest(request, sendLock_) != static_cast<int>(request.size()) + kHeaderSize) {
    return kSocketError;
  }
  int32_t ignored = 0;
  Fields fields = ReceiveDataReply(log_, socket, ReadRequest::kSlaveOpen, kOpenLimitMs, &stop_,
                                   nullptr, 0, &ignored);
  if (fields.empty()) return kDataIsNull;
  if (!IsOk(fields)) return ErrorWord(fields);
  opened_ = true;
  return "ok";
}

int32_t CMediaSpace::directReadOnce(uint8_t* buffer, int64_t offset, int32_t size, bool* broken) {
  *broken = true;
  char request[kFrameArea];
  std::string id = streamId();
  int length = std::snprintf(request, sizeof request, "t_read,%s,%" PRId64 ",%ld", id.c_str(),
                             offset, static_cast<long>(size));
  if (length < 0 || length > kMaxRequestText) return -1;
  if (master_.sendRequest(request, sendLock_) != length + kHeaderSize) return -1;
  int32_t got = 0;
  Fields fields = ReceiveDataReply(log_, master_, ReadRequest::kRead, kDirectReadLimitMs, &stop_,
                                   buffer, size, &got);
  if (fields.empty()) return -1;  // given up at close
  if (IsOk(fields)) {
    *broken = false;
    return got;
  }
  // An error reply from the server leaves the connection usable; a client status word means
  // the connection is out of step or gone.
  *broken = IsClientWord(fields[0]);
  return -2;
}

int32_t CMediaSpace::directRead(uint8_t* buffer, int64_t offset, int32_t size) {
  if (size == 0) return 0;
  bool broken = false;
  int32_t result = master_.isOpen() ? directReadOnce(buffer, offset, size, &broken) : -1;
  if (result >= 0 || (!broken && master_.isOpen()) || stop_) return result;
  // The master connection broke (dropped by the server, or out of step): open it once more
  // and repeat the read, so that one dropped connection does not fail every later read.
  master_.close();
  if (!reconnectMaster()) return result;
  return directReadOnce(buffer, offset, size, &broken);
}

std::string CMediaSpace::requestOpen(OpenReply* reply, uint8_t* head, int32_t* headSize) {
  std::string request = "t1_open," + token1_ + "," + token2_;
  if (master_.sendRequest(request, sendLock_) != static_cast<int>(request.size()) + kHeaderSize) {
    return kSocketError;
  }
  Fields fields = ReceiveDataReply(log_, master_, ReadRequest::kOpen, kOpenLimitMs, &stop_, head,
                                   kHeadCapacity, headSize);
  if (ParseOpenReply(fields, reply)) return "ok";
  return IsOk(fields) ? kDataError : ErrorWord(fields);
}

std::string CMediaSpace::openMasterConnection(OpenReply* reply, uint8_t* head, int32_t* headSize) {
  // The spare saves the connect. The server may have closed it an instant before it was
  // taken; the open then finds the connection gone and is sent again on a new one.
  if (spares_.take(host_, port_, master_)) {
    std::string status = requestOpen(reply, head, headSize);
    if ((status != kSocketError && status != kSocketClose) || stop_) return status;
    log_.log(5, "Open: spare connection gone (%s), connecting again", status.c_str());
  }
  if (master_.connect(host_, port_, CRSSocket::kConnectLimitMs, &stop_) != 0) return kConnectFailed;
  return requestOpen(reply, head, headSize);
}

bool CMediaSpace::reconnectMaster() {
  std::unique_ptr<uint8_t[]> head(new uint8_t[kHeadCapacity]);
  int32_t headSize = 0;
  OpenReply reply;
  // The file changed since the reader opened: its rest would not follow what was read.
  if (openMasterConnection(&reply, head.get(), &headSize) != "ok" ||
      !sameHead(head.get(), headSize)) {
    master_.close();
    return false;
  }
  MutexLock guard(idLock_);
  streamId_ = reply.streamId;
  return true;
}

int32_t CMediaSpace::fetchRequest(CRSSocket& socket, int64_t offset, int32_t size) {
  int64_t length = fileLength_;
  if (offset + size > length) size = static_cast<int32_t>(std::max<int64_t>(0, length - offset));
  if (size <= 0) return 0;
  char request[kFrameArea];
  std::string id = streamId();
  int textLength = std::snprintf(request, sizeof request, "t1_read,%s,%" PRId64 ",%ld", id.c_str(),
                                 offset, static_cast<long>(size));
  if (textLength < 0 || textLength > kMaxRequestText) return 0;
  if (socket.sendRequest(request, sendLock_) != textLength + kHeaderSize) return -1;
  return size;
}
