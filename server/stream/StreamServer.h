// The stream server: accepts connections and serves each on a thread of its own, so a
// slow or dead client only ever holds up its own connection.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "platform/sync/Mutex.h"
#include "server/faults/FaultControl.h"
#include "server/state/Storage.h"
#include "server/stream/OpenStreams.h"

namespace qserver {

class StreamServer {
 public:
  StreamServer(Storage& storage, FaultControl& faults);
  ~StreamServer();

  // Binds (port 0 picks a free one) and starts accepting; false with a reason on failure.
  bool start(const std::string& host, int port, std::string* error);
  // Closes every connection and joins every thread.
  void stop();
  int port() const { return port_; }

 private:
  struct Worker {
    int socket = -1;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void acceptLoop();
  void reapFinishedLocked() REQUIRES(lock_);

  Storage& storage_;
  FaultControl& faults_;
  OpenStreams streams_;
  std::atomic<bool> stopping_{false};
  int listener_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  int port_ = 0;
  std::thread acceptor_;
  Mutex lock_;
  std::list<std::unique_ptr<Worker>> workers_ GUARDED_BY(lock_);
};

}  // namespace qserver
