// The stream server: accepts connections and serves each on a thread of its own, so a
// slow or dead client only ever holds up its own connection.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "server/faults/FaultControl.h"
#include "server/state/Storage.h"
#include "server/stream/OpenStreams.h"
#include "server/util/TcpAcceptor.h"

namespace qserver {

class StreamServer {
 public:
  // A new connection must send its first whole request within `firstRequest`.
  StreamServer(Storage& storage, FaultControl& faults, ConnectionLimits limits,
               std::chrono::milliseconds firstRequest);
  ~StreamServer();

  // Binds (port 0 picks a free one) and starts accepting; false with a reason on failure.
  bool start(const std::string& host, int port, std::string* error);
  // Closes every connection and joins every thread.
  void stop();
  int port() const { return acceptor_.port(); }

 private:
  void serve(int socket);

  Storage& storage_;
  FaultControl& faults_;
  const std::chrono::milliseconds firstRequest_;
  OpenStreams streams_;
  std::atomic<bool> stopping_{false};
  TcpAcceptor acceptor_;
};

}  // namespace qserver
