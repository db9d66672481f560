// A link emulator: a TCP relay from a listening loopback port to a target, which makes the
// connections it carries behave like one network path. Each direction has a bandwidth cap that
// all connections share and a one-way delay; on request a connection is dropped after a number
// of bytes, or every connection stalls (forwards nothing) for a while. One thread serves all
// connections with epoll and a timerfd for the moments queued bytes become due.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

struct LinkSettings {
  int delayMs = 0;             // one-way delay, each direction
  int64_t bytesPerSecond = 0;  // cap per direction, shared by all connections; 0: none
  int64_t dropAfterBytes = 0;  // end a connection after it carried this many bytes; 0: never
};

class LinkRelay {
 public:
  LinkRelay(std::string targetHost, int targetPort, LinkSettings settings);
  ~LinkRelay();
  LinkRelay(const LinkRelay&) = delete;
  LinkRelay& operator=(const LinkRelay&) = delete;

  // Listens on 127.0.0.1 (`port` 0 picks a free one) and serves on a thread of its own.
  bool start(int port = 0);
  void stop();
  int port() const { return port_; }

  // Changes take effect for bytes read from now on.
  void setSettings(const LinkSettings& settings);
  // Nothing is forwarded on any connection for `ms` from now; bytes keep arriving and queue.
  void stall(int ms);
  // When set, connections are accepted but never connected onwards: nothing is answered.
  void setBlackHole(bool on) { blackHole_ = on; }

  // The address connections are relayed to, for connections accepted from now on.
  void setTarget(int port) { targetPort_ = port; }

  int64_t connectionsAccepted() const { return accepted_; }

 private:
  void run();

  const std::string targetHost_;
  std::atomic<int> targetPort_;
  std::atomic<int> delayMs_;
  std::atomic<int64_t> bytesPerSecond_;
  std::atomic<int64_t> dropAfterBytes_;
  std::atomic<int64_t> stallUntilNs_{0};
  std::atomic<bool> blackHole_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<int64_t> accepted_{0};
  int listenFd_ = -1;
  int wakeFd_ = -1;
  int port_ = 0;
  std::thread thread_;
};
