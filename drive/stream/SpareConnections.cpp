#include "drive/stream/SpareConnections.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace {

// True when nothing has arrived on the idle connection: no end, no reset, no stray bytes.
bool StillOpen(int fd) {
  char byte;
  ssize_t got = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

void CloseIfOpen(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

SpareConnections::SpareConnections() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SpareConnections::~SpareConnections() {
  stopping_ = true;
  wake();
  if (thread_.joinable()) thread_.join();
  closeAll();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void SpareConnections::wake() {
  if (wakeFd_ < 0) return;
  uint64_t one = 1;
  // A full counter already wakes the thread, so a failed write loses nothing.
  [[maybe_unused]] ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

SpareConnections::Server& SpareConnections::serverFor(const std::string& host, int port) {
  auto found = std::find_if(servers_.begin(), servers_.end(), [&](const Server& server) {
    return server.port == port && server.host == host;
  });
  if (found != servers_.end()) return *found;
  if (servers_.size() >= kMostServers) {
    auto oldest = std::min_element(
        servers_.begin(), servers_.end(),
        [](const Server& a, const Server& b) { return a.lastTaken < b.lastTaken; });
    CloseIfOpen(oldest->fd);
    servers_.erase(oldest);
  }
  Server server;
  server.host = host;
  server.port = port;
  servers_.push_back(server);
  return servers_.back();
}

bool SpareConnections::take(const std::string& host, int port, CRSSocket& socket) {
  if (wakeFd_ < 0 || host.empty() || port <= 0) return false;
  bool taken = false;
  {
    MutexLock guard(lock_);
    if (stopping_) return false;
    if (!started_) {
      started_ = true;
      try {
        thread_ = std::thread(&SpareConnections::run, this);
      } catch (const std::system_error&) {
        return false;  // no spares then: every open connects itself
      }
    }
    Server& server = serverFor(host, port);
    server.lastTaken = Clock::now();
    server.wanted = true;
    if (server.fd >= 0) {
      int fd = server.fd;
      server.fd = -1;
      if (StillOpen(fd)) {
        socket.attach(fd);
        taken = true;
      } else {
        ::close(fd);
      }
    }
  }
  wake();
  return taken;
}

void SpareConnections::closeAll() {
  MutexLock guard(lock_);
  for (Server& server : servers_) CloseIfOpen(server.fd);
  servers_.clear();
}

int SpareConnections::readyCount() const {
  MutexLock guard(lock_);
  return static_cast<int>(std::count_if(servers_.begin(), servers_.end(),
                                        [](const Server& server) { return server.fd >= 0; }));
}

void SpareConnections::run() {
  while (!stopping_) {
    if (!connectOneWanted()) waitForChange();
  }
}

bool SpareConnections::connectOneWanted() {
  std::string host;
  int port = 0;
  {
    MutexLock guard(lock_);
    auto wanted = std::find_if(servers_.begin(), servers_.end(),
                               [](const Server& server) { return server.wanted && server.fd < 0; });
    if (wanted == servers_.end()) return false;
    wanted->wanted = false;  // a failed connect waits for the next take
    host = wanted->host;
    port = wanted->port;
  }
  CRSSocket socket;
  int fd = socket.connect(host, port, CRSSocket::kConnectLimitMs, &stopping_) == 0 ? socket.detach()
                                                                                   : -1;
  MutexLock guard(lock_);
  auto server = std::find_if(servers_.begin(), servers_.end(), [&](const Server& known) {
    return known.port == port && known.host == host;
  });
  // Forgotten meanwhile (closeAll, or made room for another server): not wanted any more.
  if (server == servers_.end() || server->fd >= 0 || stopping_) {
    CloseIfOpen(fd);
    return true;
  }
  server->fd = fd;
  server->connectedAt = Clock::now();
  return true;
}

void SpareConnections::waitForChange() {
  std::vector<pollfd> watched{{wakeFd_, POLLIN, 0}};
  int timeoutMs = -1;
  {
    MutexLock guard(lock_);
    forgetUnused();
    Clock::time_point now = Clock::now();
    for (const Server& server : servers_) {
      if (server.fd >= 0) watched.push_back({server.fd, POLLIN | POLLRDHUP, 0});
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(server.lastTaken + kKeepFor - now);
      int leftMs = static_cast<int>(std::max<int64_t>(left.count(), 0) + 1);
      timeoutMs = timeoutMs < 0 ? leftMs : std::min(timeoutMs, leftMs);
    }
  }
  if (::poll(watched.data(), watched.size(), timeoutMs) <= 0) return;
  if (watched[0].revents != 0) {
    uint64_t count = 0;
    [[maybe_unused]] ssize_t got = ::read(wakeFd_, &count, sizeof count);
  }
  MutexLock guard(lock_);
  for (size_t i = 1; i < watched.size(); ++i) {
    if (watched[i].revents != 0) dropClosedSpare(watched[i].fd);
  }
}

void SpareConnections::dropClosedSpare(int fd) {
  // The descriptor may have been taken since the poll began: only a spare still held counts.
  auto server = std::find_if(servers_.begin(), servers_.end(),
                             [fd](const Server& known) { return known.fd == fd; });
  if (server == servers_.end() || StillOpen(fd)) return;
  CloseIfOpen(server->fd);
  Clock::time_point now = Clock::now();
  server->wanted = now - server->connectedAt >= kShortestLife && now - server->lastTaken < kKeepFor;
}

void SpareConnections::forgetUnused() {
  Clock::time_point now = Clock::now();
  auto unused = [&](Server& server) {
    if (now - server.lastTaken < kKeepFor) return false;
    CloseIfOpen(server.fd);
    return true;
  };
  servers_.erase(std::remove_if(servers_.begin(), servers_.end(), unused), servers_.end());
}
