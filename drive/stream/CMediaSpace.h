// The reader of one remote file. Reads are answered from the file's head (delivered with the
// open or taken from the disk cache), the memory cache that three fetch threads fill ahead of
// the reader, or a direct read on the master connection for large requests.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "drive/stream/CMemCache.h"
#include "drive/stream/LinkMeter.h"
#include "drive/stream/ManualResetEvent.h"
#include "drive/stream/ReadStatistics.h"
#include "drive/stream/StreamContext.h"
#include "drive/wire/CRSSocket.h"
#include "drive/wire/ReplyFrame.h"
#include "platform/sync/Mutex.h"

class CMediaSpace {
 public:
  static constexpr int kSlaves = 3;
  static constexpr int32_t kHeadCapacity = 65536;

  // Uses the program folder for "vod.log", "media.ini" and the head files; the folder ends
  // in "/". Logs to the stream log of `context` and counts its rings in its ring budget.
  CMediaSpace(const std::string& programFolder, StreamContext& context);
  virtual ~CMediaSpace();
  CMediaSpace(const CMediaSpace&) = delete;
  CMediaSpace& operator=(const CMediaSpace&) = delete;

  // "ok" or a status word. With a head file in the disk cache no connection is made yet.
  std::string open(const std::string& host, int port, const std::string& token1,
                   const std::string& token2);

  // Bytes placed in `buffer`, 0 at the end of the file, -1 for an offset past the end, a
  // failed open or a read given up at close, -2 when a direct read got an error reply.
  int32_t read(void* buffer, int64_t offset, int32_t size);
  // A long read as consecutive reads of at most CMemCache::kLargestChunk, each answered by
  // read() (from the head, the memory cache or the fetch threads). Stops at the end of the
  // file; a piece that fails after others were read ends the read short, one that fails first
  // gives its result.
  int32_t readInPieces(void* buffer, int64_t offset, int32_t size);

  void close();

  int64_t fileLength() const { return fileLength_; }
  int32_t headSize() const { return headSize_; }

  // Observers for tests and the benchmark.
  const CMemCache& memCache() const { return cache_; }
  const CReadStatistics& statistics() const { return stats_; }

 private:
  // Protocol steps (CMediaSpaceProtocol.cpp).
  // `fetchMeanwhile`: the fetch connections open while the master connection does (an open
  // put off until the first read past the head, which needs them next).
  std::string masterOpen(bool fetchMeanwhile = false) REQUIRES(readLock_);
  // The open on the master connection, and the check of its head against the one held.
  std::string openAndCheck() REQUIRES(readLock_);
  // Runs on the fetch threads, which read the open arguments without readLock_: they are not
  // written while the threads live (open() joins them first).
  std::string slaveOpen(CRSSocket& socket) NO_THREAD_SAFETY_ANALYSIS;
  int32_t directRead(uint8_t* buffer, int64_t offset, int32_t size) REQUIRES(readLock_);
  int32_t directReadOnce(uint8_t* buffer, int64_t offset, int32_t size, bool* broken)
      REQUIRES(readLock_);
  bool reconnectMaster() REQUIRES(readLock_);
  // Connects the master connection (or takes the server's spare connection) and sends
  // "t1_open": "ok" with the reply and the head (kHeadCapacity bytes of room) filled in, else
  // a status word.
  std::string openMasterConnection(streamwire::OpenReply* reply, uint8_t* head, int32_t* headSize)
      REQUIRES(readLock_);
  // Sends "t1_open" on the connected master connection and reads its reply.
  std::string requestOpen(streamwire::OpenReply* reply, uint8_t* head, int32_t* headSize)
      REQUIRES(readLock_);
  // The size asked (cut at the file length), 0 when nothing is left to ask for, -1 when the
  // frame could not be sent whole (the connection is broken).
  int32_t fetchRequest(CRSSocket& socket, int64_t offset, int32_t size);
  std::string streamId() const EXCLUDES(idLock_);
  bool argumentsUsable() const REQUIRES(readLock_);
  // True when `head` (from an open reply) is the head the reader holds.
  bool sameHead(const uint8_t* head, int32_t size) const REQUIRES(readLock_);

  // Fetch threads (CMediaSpaceSlaves.cpp).
  void startSlaves() REQUIRES(readLock_);
  void stopSlaves() REQUIRES(readLock_);
  // Sets stop under the queue lock, so that a fetch thread between its check and its wait
  // cannot miss the wake-up.
  void requestStop() EXCLUDES(queueLock_);
  void slaveLoop(int index);
  // Wakes the reader when it waits for bytes in [offset, offset + size).
  void wakeReaderFor(int64_t offset, int32_t size);
  // A request taken by a fetch thread; `sent` once its frame went out on the connection.
  struct TakenRequest {
    FetchRequest request;
    bool sent = false;
  };
  // Serves `taken` on the thread's connection. While a grown read-ahead request comes in, the
  // next queued request is sent behind it (`*next`), so the connection never idles for a
  // round trip between two requests.
  bool serveRequest(int index, const TakenRequest& taken, std::optional<TakenRequest>* next,
                    uint8_t* chunk, int64_t* total);
  std::string reopenSlave(int index, int firstDelayMs);
  // Whether the connection still owes more bytes for a place the reader has left than the
  // link carries in a round trip: reopening it then costs less than waiting for them.
  bool leftBehind(const TakenRequest& taken, const std::optional<TakenRequest>& next,
                  int32_t owed) const;
  // Drops the connection with what it still owes and opens it again for the new place. A
  // following request for the new place is sent again on the new connection.
  void abandonConnection(int index, const TakenRequest& taken, std::optional<TakenRequest>* next);
  bool sleepUnlessStopped(int ms);
  void queueRequest(const FetchRequest& request) EXCLUDES(queueLock_);
  // Waits until a request is queued or stop is set; nothing when stopped.
  std::optional<FetchRequest> takeRequest() EXCLUDES(queueLock_);
  // The front request if one is queued, without waiting.
  std::optional<FetchRequest> takeQueuedRequest() EXCLUDES(queueLock_);
  bool fetchPending() EXCLUDES(queueLock_);
  void planAndQueue(int64_t offset) REQUIRES(readLock_);
  // After a seek: queued requests are dropped and the ones already sent are left behind, so
  // that the new place's request does not wait for the old place's bytes.
  void leaveOldPlace() REQUIRES(readLock_);

  // Read steps (CMediaSpace.cpp).
  int32_t readHeld(uint8_t* buffer, int64_t offset, int32_t size) REQUIRES(readLock_);
  void noteRead(int64_t offset, int32_t size) REQUIRES(readLock_);
  // Where a read lies against the reads before it.
  enum class ReadPlace {
    kSequential,  // continues the current run
    kNewPlace,    // starts a new run (a seek)
    // Belongs to the run just left: the kernel still hands over reads ahead of the old place
    // after the first read at the new one.
    kLeftPlace,
  };
  // Sizes the read-ahead window for a read at `offset`: after a seek, half the window when
  // the run before was long, else one request. A late read of the place just left changes
  // nothing, so the new place keeps its window and its requests.
  ReadPlace followReadPattern(int64_t offset, int32_t size) REQUIRES(readLock_);
  // The window after a sequential read had to wait: doubled, but no larger than three times
  // what the link carries in a round trip under load (the bytes that keep it busy while the
  // next requests are on their way), so a seek never has much to wait behind.
  int32_t grownWindow() const REQUIRES(readLock_);
  int32_t waitForFetched(uint8_t* buffer, int64_t offset, int32_t size) REQUIRES(readLock_);
  void afterOpen(const uint8_t* head, int32_t headSize) REQUIRES(readLock_);

  const std::string folder_;
  CStreamLog& log_;
  SpareConnections& spares_;
  LinkMeters& links_;
  CMemCache cache_;
  CRSSocket slaveSockets_[kSlaves];
  CRSSocket master_;
  Mutex sendLock_;  // held around every request frame on the four connections
  Mutex readLock_;  // held for the whole of each read, open and close
  CReadStatistics stats_;

  // The open arguments are written before the fetch threads start and not again until they
  // are joined, so the fetch threads read them without the lock (see slaveOpen).
  std::unique_ptr<uint8_t[]> head_ GUARDED_BY(readLock_);
  std::string host_ GUARDED_BY(readLock_);
  int port_ GUARDED_BY(readLock_) = 0;
  std::string token1_ GUARDED_BY(readLock_);
  std::string token2_ GUARDED_BY(readLock_);
  std::string ext_ GUARDED_BY(readLock_);
  std::string readPattern_ GUARDED_BY(readLock_);
  bool slavesStarted_ GUARDED_BY(readLock_) = false;
  // Read-ahead: the bytes kept asked for ahead of the reader. It starts at one request and
  // doubles each time a sequential read has to wait for fetched data, so it grows until it
  // covers the link's bandwidth times its round trip under load (at most
  // CMemCache::kLargestWindow; two requests on a link whose round trip is under 1 ms, unless
  // that link carries more in a round trip).
  int32_t window_ GUARDED_BY(readLock_) = CMemCache::kRequestSize;
  int64_t lastReadEnd_ GUARDED_BY(readLock_) = -1;
  int64_t runStart_ GUARDED_BY(readLock_) = 0;  // where the current sequential run began
  // The end of the run left at the last seek, and how many bytes of late reads there may
  // still count as belonging to it: the kernel reads at most a few of its own read-ahead
  // requests behind a seek.
  static constexpr int64_t kLateReadBytes = 256 << 10;
  int64_t leftPlaceEnd_ GUARDED_BY(readLock_) = -1;
  int64_t leftPlaceBytes_ GUARDED_BY(readLock_) = 0;
  // Set when the reader moved to a new place after a long run: the first request there asks
  // for a round trip's bytes of the link at once.
  bool askRoundTripNext_ GUARDED_BY(readLock_) = false;
  // A run at least this long counts as streaming, whose next run after a seek is long too.
  static constexpr int64_t kLongRunBytes = 2 << 20;
  // How far apart reads may come and still continue one run.
  static constexpr int64_t kReorderBytes = 2 << 20;

  std::atomic<int32_t> headSize_{0};
  std::atomic<int64_t> fileLength_{0};
  std::atomic<bool> opened_{false};
  std::atomic<bool> stop_{true};
  std::atomic<bool> closing_{false};  // set by close(): nothing may restart until open()

  mutable Mutex idLock_;
  std::string streamId_ GUARDED_BY(idLock_);

  // The queue lock also orders stop_ against the fetch threads' waits: queueWake_ is notified
  // after a request is queued and after stop is set, both under the lock. A request wakes one
  // fetch thread; a thread waiting to reopen its connection waits on stopWake_ instead, so it
  // never takes the wake-up meant for a thread that would serve the request.
  Mutex queueLock_;
  std::condition_variable queueWake_;
  std::condition_variable stopWake_;
  std::deque<FetchRequest> queue_ GUARDED_BY(queueLock_);
  int busyRequests_ GUARDED_BY(queueLock_) = 0;  // requests taken, not finished

  std::thread slaves_[kSlaves];
  std::atomic<int> liveSlaves_{0};
  // Set when fetched data failed to come in time; misses then go to the master connection
  // until a fetch thread delivers again.
  std::atomic<bool> slavesStalled_{false};
  // Round trips of fetch requests (from sending one on an idle connection to its first
  // reply) and the rate fetched data arrives at, on the link to the server opened: shared
  // with the other readers of that server. Set by open() while no fetch thread runs, like
  // the open arguments.
  std::shared_ptr<LinkMeter> link_ = std::make_shared<LinkMeter>();
  // Counts the seeks that left requests behind; each request carries the count it was
  // queued under.
  std::atomic<uint32_t> seeks_{0};
  ManualResetEvent dataEvent_;
  // The offset of the bytes (at most CMemCache::kLargestChunk) the reader waits for, -1 while
  // it waits for none: a fetched reply wakes the reader only when it brings some of them.
  std::atomic<int64_t> awaited_{-1};
};
