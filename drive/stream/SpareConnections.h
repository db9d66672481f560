// One connected, unused stream connection per stream server (host and port), held ready so
// that opening a file does not wait for a connect. A spare that is taken is replaced in the
// background at once; one the server closes while it waits is replaced too, for as long as
// the server was used within kKeepFor. The readers of one program share one (StreamContext).
#pragma once

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "drive/wire/CRSSocket.h"
#include "platform/sync/Mutex.h"

class SpareConnections {
 public:
  using Clock = std::chrono::steady_clock;
  // A server not opened on for this long gets no more spares.
  static constexpr std::chrono::seconds kKeepFor{300};
  // A spare the server closed sooner than this after the connect is not replaced until the
  // next open, so that a server that drops idle connections at once is not flooded.
  static constexpr std::chrono::seconds kShortestLife{1};
  // Servers followed at once; the least recently used one makes room for a new one.
  static constexpr size_t kMostServers = 8;

  SpareConnections();
  // Closes every spare and joins the thread.
  ~SpareConnections();
  SpareConnections(const SpareConnections&) = delete;
  SpareConnections& operator=(const SpareConnections&) = delete;

  // Hands the spare of host:port to `socket` (true) when one is ready and the server has not
  // closed it; false otherwise. Either way a new spare is connected for the next call. The
  // server may still close a spare just as it is taken: the caller connects afresh when its
  // first request finds the connection gone.
  bool take(const std::string& host, int port, CRSSocket& socket) EXCLUDES(lock_);

  // Closes every spare and forgets the servers (the drive goes offline).
  void closeAll() EXCLUDES(lock_);

  // Spares connected and waiting.
  int readyCount() const EXCLUDES(lock_);

 private:
  struct Server {
    std::string host;
    int port = 0;
    int fd = -1;          // the spare; -1 while none is connected
    bool wanted = false;  // a spare is to be connected
    Clock::time_point connectedAt;
    Clock::time_point lastTaken;
  };

  void run() EXCLUDES(lock_);
  // Connects the first wanted spare, outside the lock; false when none was wanted.
  bool connectOneWanted() EXCLUDES(lock_);
  // Waits for a wake-up, a spare the server closed, or the next server to forget.
  void waitForChange() EXCLUDES(lock_);
  void dropClosedSpare(int fd) REQUIRES(lock_);
  void forgetUnused() REQUIRES(lock_);
  Server& serverFor(const std::string& host, int port) REQUIRES(lock_);
  void wake();

  mutable Mutex lock_;
  std::vector<Server> servers_ GUARDED_BY(lock_);
  bool started_ GUARDED_BY(lock_) = false;
  // Read without the lock by a connect under way, which gives up when it is set.
  std::atomic<bool> stopping_{false};
  int wakeFd_ = -1;
  std::thread thread_;  // started by the first take, joined by the destructor
};
