// The three fetch threads of CMediaSpace and their request queue.
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <ctime>
#include <memory>
#include <system_error>
#include <utility>

#include "drive/stream/CMediaSpace.h"
#include "drive/wire/DataReply.h"
#include "drive/wire/StreamLog.h"

using namespace streamwire;

namespace {
constexpr int kFetchReplyLimitMs = 5000;
// Replies that may stay out in a row before the connection counts as dead and is reopened.
constexpr int kSilentRepliesBeforeReopen = 4;
constexpr int kReopenStepMs = 500;
constexpr int kReopenEveryMs = 5000;
}  // namespace

void CMediaSpace::queueRequest(const FetchRequest& request) {
  FetchRequest stamped = request;
  stamped.seeks = seeks_;
  {
    MutexLock guard(queueLock_);
    log_.log(5, "RequestMedia: Offset=%" PRId64 " Size=%ld", request.offset,
             static_cast<long>(request.size));
    queue_.push_back(stamped);
  }
  queueWake_.notify_one();
}

void CMediaSpace::requestStop() {
  {
    MutexLock guard(queueLock_);
    stop_ = true;
  }
  queueWake_.notify_all();
  stopWake_.notify_all();
}

std::optional<FetchRequest> CMediaSpace::takeRequest() {
  MutexLock guard(queueLock_);
  guard.wait(queueWake_, [&]() REQUIRES(queueLock_) { return stop_ || !queue_.empty(); });
  if (stop_) return std::nullopt;
  FetchRequest request = queue_.front();
  queue_.pop_front();
  ++busyRequests_;
  return request;
}

std::optional<FetchRequest> CMediaSpace::takeQueuedRequest() {
  MutexLock guard(queueLock_);
  if (stop_ || queue_.empty()) return std::nullopt;
  FetchRequest request = queue_.front();
  queue_.pop_front();
  ++busyRequests_;
  return request;
}

bool CMediaSpace::fetchPending() {
  MutexLock guard(queueLock_);
  return !queue_.empty() || busyRequests_ > 0;
}

void CMediaSpace::planAndQueue(int64_t offset) {
  // The first request at a new place brings what the link carries until a further request
  // could: asked for one at a time, the rest of the run would come a round trip later.
  int64_t size = std::exchange(askRoundTripNext_, false) ? link_->bytesPerRoundTrip() : 0;
  std::optional<FetchRequest> request = cache_.plan(offset, window_, size);
  // A grown window reaches past the end of the file near its end: nothing to fetch there.
  if (request && (window_ <= CMemCache::kRequestSize || request->offset < fileLength_))
    queueRequest(*request);
}

void CMediaSpace::leaveOldPlace() {
  ++seeks_;
  {
    MutexLock guard(queueLock_);
    queue_.clear();
  }
  cache_.forgetPlanned();  // what was dropped or left behind may be asked for again
}

bool CMediaSpace::leftBehind(const TakenRequest& taken, const std::optional<TakenRequest>& next,
                             int32_t owed) const {
  uint32_t seeks = seeks_;
  if (taken.request.seeks == seeks) return false;
  int64_t owedBytes = owed;
  if (next && next->sent && next->request.seeks != seeks) owedBytes += next->request.size;
  // Until a new connection has answered, the link would have brought this much: less than
  // that is cheaper to take.
  int64_t worthTaking = link_->bytesPerConnectionOpen();
  return owedBytes > std::max<int64_t>(CMemCache::kLargestChunk, worthTaking);
}

void CMediaSpace::abandonConnection(int index, const TakenRequest& taken,
                                    std::optional<TakenRequest>* next) {
  log_.log(5, "RequestReceive(Seek): Index=%ld ReqOffset=%" PRId64 " ReqSize=%ld",
           static_cast<long>(index), taken.request.offset, static_cast<long>(taken.request.size));
  if (*next && (*next)->request.seeks != seeks_) {
    next->reset();
    MutexLock guard(queueLock_);
    --busyRequests_;  // taken from the queue, now given up
  } else if (*next) {
    (*next)->sent = false;  // the new connection knows nothing of it
  }
  reopenSlave(index, 0);
}

void CMediaSpace::wakeReaderFor(int64_t offset, int32_t size) {
  int64_t awaited = awaited_;
  if (awaited >= 0 && offset < awaited + CMemCache::kLargestChunk && offset + size > awaited)
    dataEvent_.set();
}

void CMediaSpace::startSlaves() {
  if (stop_ || closing_) return;
  slavesStarted_ = true;
  for (int i = 0; i < kSlaves; ++i) {
    ++liveSlaves_;
    try {
      slaves_[i] = std::thread(&CMediaSpace::slaveLoop, this, i);
    } catch (const std::system_error&) {
      --liveSlaves_;
      log_.log(0, "Create ReqRecvThread (%ld) Fail", static_cast<long>(i));
    }
  }
}

void CMediaSpace::stopSlaves() {
  requestStop();
  for (std::thread& slave : slaves_) {
    if (slave.joinable()) slave.join();
  }
  MutexLock guard(queueLock_);
  queue_.clear();
  busyRequests_ = 0;
}

bool CMediaSpace::sleepUnlessStopped(int ms) {
  MutexLock guard(queueLock_);
  return !guard.waitFor(stopWake_, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
}

void CMediaSpace::slaveLoop(int index) {
  std::time_t started = std::time(nullptr);
  int64_t total = 0;
  std::chrono::steady_clock::time_point opening = std::chrono::steady_clock::now();
  if (slaveOpen(slaveSockets_[index]) != "ok") {
    log_.log(0, "Slave Service: SlaveOpen(%ld) Failed", static_cast<long>(index));
  } else {
    link_->noteConnectionOpened(std::chrono::steady_clock::now() - opening);
    log_.log(0, "Enter Thread: Start Slave(%ld) Service", static_cast<long>(index));
    std::unique_ptr<uint8_t[]> chunk(new uint8_t[kMaxChunk]);
    std::optional<TakenRequest> next;
    while (!stop_) {
      std::optional<TakenRequest> taken = std::move(next);
      next.reset();
      if (!taken) {
        std::optional<FetchRequest> request = takeRequest();
        if (!request) break;  // stopped
        taken = TakenRequest{*request, false};
      }
      serveRequest(index, *taken, &next, chunk.get(), &total);
      {
        MutexLock guard(queueLock_);
        --busyRequests_;
      }
      dataEvent_.set();
    }
    log_.log(0, "Exit Thread: FileLength=%" PRId64 " ReceiveSize=%" PRId64 " PlayTime=%ld(S)",
             fileLength_.load(), total, static_cast<long>(std::time(nullptr) - started));
  }
  --liveSlaves_;
  dataEvent_.set();  // a reader waiting on this thread looks again
}

// Sends one fetch request and stores its replies until the range is in. A broken connection
// is reopened (at the reopen spacing) for as long as the reader is open. Returns false when
// stopped.
bool CMediaSpace::serveRequest(int index, const TakenRequest& taken,
                               std::optional<TakenRequest>* next, uint8_t* chunk, int64_t* total) {
  const FetchRequest& request = taken.request;
  CRSSocket& socket = slaveSockets_[index];
  log_.log(2, "RequestReceive: Index=%ld Times=%ld %" PRId64 " %ld", static_cast<long>(index),
           static_cast<long>(stats_.readCount()), request.offset, static_cast<long>(request.size));
  int64_t left = fileLength_ - request.offset;
  int32_t asked = static_cast<int32_t>(std::clamp<int64_t>(left, 0, request.size));
  if (asked == 0) return true;                                    // nothing of the file lies there
  if (!taken.sent && taken.request.seeks != seeks_) return true;  // the reader has moved on
  bool connected = taken.sent || fetchRequest(socket, request.offset, asked) > 0;
  // Timed only when the connection had nothing else to answer first.
  bool timed = !taken.sent;
  std::chrono::steady_clock::time_point sentAt = std::chrono::steady_clock::now();
  bool pipelined = request.size > CMemCache::kRequestSize;
  int32_t received = 0;
  int silent = 0;
  int reopenDelayMs = 0;  // a connection that worked is opened again at once
  while (!stop_) {
    if (connected) {
      int32_t got = 0;
      Fields fields = ReceiveDataReply(log_, socket, ReadRequest::kFetch, kFetchReplyLimitMs,
                                       &stop_, chunk, kMaxChunk, &got);
      if (fields.empty()) return false;  // stopped
      if (IsOk(fields)) {
        std::chrono::steady_clock::time_point arrived = std::chrono::steady_clock::now();
        if (timed) {
          link_->noteRoundTrip(arrived - sentAt);
          timed = false;
        }
        link_->noteDelivered(got, arrived);
        DataReply reply;
        ParseDataReply(fields, kMaxChunk, &reply);
        silent = 0;
        received += got;
        *total += got;
        cache_.store(chunk, reply.offset, got);
        slavesStalled_ = false;
        wakeReaderFor(reply.offset, got);  // it need not wait for the rest of the request
        log_.log(5,
                 "RequestReceive: Recv--FetchTimes=%ld ReqOffset=%" PRId64
                 " ReqSize=%ld Offset=%" PRId64 " Size=%ld RSize=%ld TotalSize=%" PRId64,
                 static_cast<long>(stats_.readCount()), request.offset,
                 static_cast<long>(request.size), reply.offset, static_cast<long>(got),
                 static_cast<long>(asked), *total);
        if (received >= asked) return true;
        if (leftBehind(taken, *next, asked - received)) {
          abandonConnection(index, taken, next);
          return !stop_;
        }
        if (pipelined && !*next) {
          if (std::optional<FetchRequest> following = takeQueuedRequest()) {
            *next = TakenRequest{*following,
                                 fetchRequest(socket, following->offset, following->size) > 0};
          }
        }
        continue;
      }
      if (fields[0] == kTimeout && ++silent < kSilentRepliesBeforeReopen) {
        log_.log(5, "RequestReceive(Timeout): ReqOffset=%" PRId64 " ReqSize=%ld RSize=%ld",
                 request.offset, static_cast<long>(request.size), static_cast<long>(asked));
        continue;
      }
    }
    silent = 0;
    timed = false;
    if (*next) (*next)->sent = false;  // a new connection knows nothing of it
    if (reopenSlave(index, reopenDelayMs) == "ok") {
      reopenDelayMs = 0;
      log_.log(7, "RequestReceive(ReOpen Success): ReqOffset=%" PRId64 " ReqSize=%ld RSize=%ld",
               request.offset, static_cast<long>(request.size), static_cast<long>(asked));
      if (received >= asked) return true;
      connected = fetchRequest(socket, request.offset + received, asked - received) > 0;
    } else {
      log_.log(7, "RequestReceive(ReOpen Failed): ReqOffset=%" PRId64 " ReqSize=%ld RSize=%ld",
               request.offset, static_cast<long>(request.size), static_cast<long>(asked));
      connected = false;
      reopenDelayMs = kReopenEveryMs;  // later attempts keep the reopen spacing
    }
  }
  return false;
}

// Closes the connection and opens it again: the first attempt after `firstDelayMs` (0 for a
// connection that just broke, so that a dropped connection costs one reconnect), then one every
// 5 s while the server answers "timeout". Ends at once when stop is set.
std::string CMediaSpace::reopenSlave(int index, int firstDelayMs) {
  CRSSocket& socket = slaveSockets_[index];
  socket.close();
  if (firstDelayMs > 0 && !sleepUnlessStopped(firstDelayMs)) return kSocketError;
  for (int counter = 0;; counter += kReopenStepMs) {
    if (stop_) return kSocketError;
    if (counter > 0 && !sleepUnlessStopped(kReopenStepMs)) return kSocketError;
    if (counter % kReopenEveryMs != 0) continue;
    std::chrono::steady_clock::time_point opening = std::chrono::steady_clock::now();
    std::string status = slaveOpen(socket);
    if (status == "ok") {
      link_->noteConnectionOpened(std::chrono::steady_clock::now() - opening);
      log_.log(0, "RequestReceive: ReOpen Success(Interval=%ld)", static_cast<long>(counter));
      return status;
    }
    if (status != kTimeout) return status;
  }
}
