// The reader of one remote file. Reads are answered from the file's head (delivered with the
// open or taken from the disk cache), the memory cache that three fetch threads fill ahead of
// the reader, or a direct read on the master connection for large requests.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "drive/stream/CMemCache.h"
#include "drive/stream/CRSSocket.h"
#include "drive/stream/ManualResetEvent.h"
#include "drive/stream/ReadStatistics.h"
#include "drive/stream/ReplyFrame.h"

class CMediaSpace {
 public:
  static constexpr int kSlaves = 3;
  static constexpr int32_t kHeadCapacity = 65536;

  // Uses the program folder for "vod.log", "media.ini" and the head files; the folder ends
  // in "/".
  explicit CMediaSpace(const std::string& programFolder);
  CMediaSpace();  // the drive program's folder
  virtual ~CMediaSpace();
  CMediaSpace(const CMediaSpace&) = delete;
  CMediaSpace& operator=(const CMediaSpace&) = delete;

  // "ok" or a status word. With a head file in the disk cache no connection is made yet.
  std::string open(const std::string& host, int port, const std::string& token1,
                   const std::string& token2);

  // Bytes placed in `buffer`, 0 at the end of the file, -1 for an offset past the end, a
  // failed open or a read given up at close, -2 when a direct read got an error reply.
  int32_t read(void* buffer, int64_t offset, int32_t size);

  void close();

  int64_t fileLength() const { return fileLength_; }
  int32_t headSize() const { return headSize_; }

  // Observers for tests and the benchmark.
  const CMemCache& memCache() const { return cache_; }
  const CReadStatistics& statistics() const { return stats_; }

 private:
  // Protocol steps (CMediaSpaceProtocol.cpp).
  std::string masterOpen();  // expects readLock_ held
  std::string slaveOpen(CRSSocket& socket);
  int32_t directRead(uint8_t* buffer, int64_t offset, int32_t size);  // expects readLock_ held
  int32_t directReadOnce(uint8_t* buffer, int64_t offset, int32_t size, bool* broken);
  bool reconnectMaster();  // expects readLock_ held
  // Connects the master connection and sends "t1_open": "ok" with the reply and the head
  // (kHeadCapacity bytes of room) filled in, else a status word. Expects readLock_ held.
  std::string openMasterConnection(streamwire::OpenReply* reply, uint8_t* head, int32_t* headSize);
  int32_t fetchRequest(CRSSocket& socket, int64_t offset, int32_t size);
  std::string streamId() const;
  bool argumentsUsable() const;

  // Fetch threads (CMediaSpaceSlaves.cpp).
  void startSlaves();  // expects readLock_ held
  void stopSlaves();
  void slaveLoop(int index);
  bool serveRequest(int index, const FetchRequest& request, uint8_t* chunk, int64_t* total);
  std::string reopenSlave(int index);
  bool sleepUnlessStopped(int ms);
  void queueRequest(const FetchRequest& request);
  std::optional<FetchRequest> takeRequest();
  bool fetchPending();
  void planAndQueue(int64_t offset);

  // Read steps (CMediaSpace.cpp).
  void noteRead(int64_t offset, int32_t size);                            // expects readLock_ held
  int32_t waitForFetched(uint8_t* buffer, int64_t offset, int32_t size);  // expects readLock_
  void afterOpen(const uint8_t* head, int32_t headSize);                  // expects readLock_ held

  const std::string folder_;
  CMemCache cache_;
  CRSSocket slaveSockets_[kSlaves];
  CRSSocket master_;
  std::mutex sendLock_;  // held around every request frame on the four connections
  std::mutex readLock_;  // held for the whole of each read, open and close
  CReadStatistics stats_;

  // guarded by readLock_ (written before the fetch threads start, so they read it freely):
  std::unique_ptr<uint8_t[]> head_;
  std::string host_;
  int port_ = 0;
  std::string token1_;
  std::string token2_;
  std::string ext_;
  std::string readPattern_;
  bool slavesStarted_ = false;

  std::atomic<int32_t> headSize_{0};
  std::atomic<int64_t> fileLength_{0};
  std::atomic<bool> opened_{false};
  std::atomic<bool> stop_{true};
  std::atomic<bool> closing_{false};  // set by close(): nothing may restart until open()

  mutable std::mutex idLock_;
  std::string streamId_;  // guarded by idLock_

  std::mutex queueLock_;
  std::deque<FetchRequest> queue_;  // guarded by queueLock_
  int busyRequests_ = 0;            // guarded by queueLock_: requests taken, not finished

  std::thread slaves_[kSlaves];
  std::atomic<int> liveSlaves_{0};
  // Set when fetched data failed to come in time; misses then go to the master connection
  // until a fetch thread delivers again.
  std::atomic<bool> slavesStalled_{false};
  ManualResetEvent requestEvent_;
  ManualResetEvent dataEvent_;
  std::mutex stopWaitLock_;
  std::condition_variable stopWake_;
};
