// Accepts the connections of one listening port and serves each on a thread of its own,
// so a slow or dead client only ever holds up its own connection. Connections beyond the
// port's limits (per client address and in all) are closed at once.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <thread>

#include "platform/sync/Mutex.h"
#include "server/util/ConnectionLimit.h"

namespace qserver {

class TcpAcceptor {
 public:
  // Serves one connection; the acceptor shuts the socket down and closes it afterwards.
  using Handler = std::function<void(int socket)>;

  // `name` prefixes the log lines ("stream", "web").
  TcpAcceptor(std::string name, ConnectionLimits limits, Handler handler);
  ~TcpAcceptor();
  TcpAcceptor(const TcpAcceptor&) = delete;
  TcpAcceptor& operator=(const TcpAcceptor&) = delete;

  // Binds (port 0 picks a free one); false with a reason on failure.
  bool listen(const std::string& host, int port, std::string* error);
  // Starts accepting on the bound port.
  void start();
  // Ends every connection and joins every thread.
  void stop();
  int port() const { return port_; }
  // The listening socket, -1 before listen and after stop.
  int listener() const { return listener_; }

 private:
  struct Worker {
    int socket = -1;
    std::string address;
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void acceptLoop();
  void serve(int client, const std::string& address);
  void refuse(int client, const std::string& address);
  void waitForWake(int milliseconds);
  void reapFinishedLocked() REQUIRES(lock_);

  const std::string name_;
  const Handler handler_;
  ConnectionLimit limit_;
  std::atomic<bool> stopping_{false};
  int listener_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  int port_ = 0;
  std::thread acceptor_;
  std::chrono::steady_clock::time_point lastRefusalLogged_;  // the acceptor thread's own
  Mutex lock_;
  std::list<std::unique_ptr<Worker>> workers_ GUARDED_BY(lock_);
};

}  // namespace qserver
