#include "tools/linkrelay/LinkRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <vector>

namespace {

constexpr size_t kReadSize = 256 * 1024;
constexpr int64_t kUnlimitedQueue = 4 << 20;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

struct Chunk {
  int64_t dueNs;
  std::unique_ptr<char[]> bytes;  // read straight into, never copied inside the relay
  size_t size;
  size_t sent = 0;
};

// One direction of a connection: bytes read from `from`, due for `to` after the link's
// serialisation time and delay.
struct Direction {
  int from = -1;
  int to = -1;
  std::deque<Chunk> queue;
  int64_t queued = 0;
  bool ended = false;     // the source closed its side
  bool shutDown = false;  // passed on to the destination
  bool blocked = false;   // the destination's send buffer is full
};

struct Connection {
  int client = -1;
  int server = -1;
  bool connecting = true;
  bool dead = false;
  int64_t carried = 0;
  Direction up;    // client to server
  Direction down;  // server to client
};

}  // namespace

LinkRelay::LinkRelay(std::string targetHost, int targetPort, LinkSettings settings)
    : targetHost_(std::move(targetHost)),
      targetPort_(targetPort),
      delayMs_(settings.delayMs),
      bytesPerSecond_(settings.bytesPerSecond),
      dropAfterBytes_(settings.dropAfterBytes) {}

LinkRelay::~LinkRelay() { stop(); }

void LinkRelay::setSettings(const LinkSettings& settings) {
  delayMs_ = settings.delayMs;
  bytesPerSecond_ = settings.bytesPerSecond;
  dropAfterBytes_ = settings.dropAfterBytes;
}

void LinkRelay::stall(int ms) {
  stallUntilNs_ = NowNs() + int64_t{ms} * 1000000;
  uint64_t one = 1;
  if (wakeFd_ >= 0) (void)!::write(wakeFd_, &one, sizeof one);
}

bool LinkRelay::start(int port) {
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0) return false;
  int on = 1;
  ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  socklen_t length = sizeof address;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  port_ = ntohs(address.sin_port);
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread(&LinkRelay::run, this);
  return true;
}

void LinkRelay::stop() {
  if (!thread_.joinable()) return;
  stopping_ = true;
  uint64_t one = 1;
  (void)!::write(wakeFd_, &one, sizeof one);
  thread_.join();
  ::close(listenFd_);
  ::close(wakeFd_);
  listenFd_ = wakeFd_ = -1;
}

namespace {

int ConnectOnwards(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return -1;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  int result = fd < 0 ? -1 : ::connect(fd, found->ai_addr, found->ai_addrlen);
  ::freeaddrinfo(found);
  if (fd >= 0 && result != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class Loop {
 public:
  Loop(int epollFd, int timerFd) : epoll_(epollFd), timer_(timerFd) {}

  void add(std::unique_ptr<Connection> connection) {
    Connection* c = connection.get();
    c->up.from = c->down.to = c->client;
    c->up.to = c->down.from = c->server;
    epoll_event event{};
    event.data.ptr = c;
    event.events = EPOLLIN;
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, c->client, &event);
    ::epoll_ctl(epoll_, EPOLL_CTL_ADD, c->server, &event);
    connections_.push_back(std::move(connection));
  }

  // Reads what is readable, sends what is due, and arms the timer for the next due moment.
  void serve(int64_t now, const LinkSettings& link, int64_t stallUntil) {
    int64_t next = INT64_MAX;
    for (auto& c : connections_) {
      if (c->connecting) finishConnect(*c);
      for (Direction* d : {&c->up, &c->down}) {
        if (c->dead) break;
        readFrom(*c, *d, now, link);
        if (!c->connecting && now >= stallUntil) sendDue(*c, *d, now, link);
        if (!d->queue.empty() && !d->blocked) {
          next = std::min(next, std::max(d->queue.front().dueNs, stallUntil));
        }
      }
      if (!c->dead) updateInterest(*c, link);
    }
    connections_.remove_if([](const std::unique_ptr<Connection>& c) {
      bool done = c->dead || (c->up.shutDown && c->down.shutDown);
      if (done) {
        ::close(c->client);
        ::close(c->server);
      }
      return done;
    });
    itimerspec when{};
    if (next != INT64_MAX) {
      int64_t wait = std::max<int64_t>(next - NowNs(), 1000);
      when.it_value.tv_sec = wait / 1000000000;
      when.it_value.tv_nsec = wait % 1000000000;
    }
    ::timerfd_settime(timer_, 0, &when, nullptr);
  }

  ~Loop() {
    for (auto& c : connections_) {
      ::close(c->client);
      ::close(c->server);
    }
  }

 private:
  static int64_t QueueLimit(const LinkSettings& link) {
    if (link.bytesPerSecond <= 0) return kUnlimitedQueue;
    return 256 * 1024 + link.bytesPerSecond * (link.delayMs + 10) / 1000;
  }

  void finishConnect(Connection& c) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(c.server, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
      c.dead = true;
      return;
    }
    sockaddr_in peer{};
    socklen_t peerLength = sizeof peer;
    if (::getpeername(c.server, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) return;
    c.connecting = false;
    int on = 1;
    ::setsockopt(c.server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  }

  void readFrom(Connection& c, Direction& d, int64_t now, const LinkSettings& link) {
    if (d.ended || (d.from == c.server && c.connecting)) return;
    while (d.queued < QueueLimit(link)) {
      std::unique_ptr<char[]> bytes(new char[kReadSize]);
      ssize_t got = ::recv(d.from, bytes.get(), kReadSize, 0);
      if (got < 0) {
        if (errno != EAGAIN && errno != EINTR) c.dead = true;
        return;
      }
      if (got == 0) {
        d.ended = true;
        return;
      }
      int64_t lineTime =
          link.bytesPerSecond > 0 ? got * int64_t{1000000000} / link.bytesPerSecond : 0;
      // Every connection shares the line of its direction, as on one network path.
      int64_t& lineFreeNs = &d == &c.up ? upLineFreeNs_ : downLineFreeNs_;
      lineFreeNs = std::max(lineFreeNs, now) + lineTime;
      d.queued += got;
      d.queue.push_back({lineFreeNs + int64_t{link.delayMs} * 1000000, std::move(bytes),
                         static_cast<size_t>(got)});
    }
  }

  void sendDue(Connection& c, Direction& d, int64_t now, const LinkSettings& link) {
    d.blocked = false;
    while (!d.queue.empty() && d.queue.front().dueNs <= now) {
      Chunk& chunk = d.queue.front();
      size_t left = chunk.size - chunk.sent;
      bool last = false;
      if (link.dropAfterBytes > 0 &&
          c.carried + static_cast<int64_t>(left) >= link.dropAfterBytes) {
        // The other direction may already have carried the connection past the limit.
        left = static_cast<size_t>(std::max<int64_t>(0, link.dropAfterBytes - c.carried));
        last = true;
      }
      ssize_t sent =
          left == 0 ? 0 : ::send(d.to, chunk.bytes.get() + chunk.sent, left, MSG_NOSIGNAL);
      if (sent < 0) {
        if (errno == EAGAIN)
          d.blocked = true;
        else if (errno != EINTR)
          c.dead = true;
        return;
      }
      chunk.sent += static_cast<size_t>(sent);
      c.carried += sent;
      d.queued -= sent;
      if (last && static_cast<size_t>(sent) == left) {
        c.dead = true;  // the drop: the connection ends after exactly this many bytes
        return;
      }
      if (chunk.sent < chunk.size) {
        d.blocked = true;
        return;
      }
      d.queue.pop_front();
    }
    if (d.queue.empty() && d.ended && !d.shutDown) {
      ::shutdown(d.to, SHUT_WR);
      d.shutDown = true;
    }
  }

  void updateInterest(Connection& c, const LinkSettings& link) {
    int64_t limit = QueueLimit(link);
    for (int fd : {c.client, c.server}) {
      Direction& source = fd == c.client ? c.up : c.down;
      Direction& sink = fd == c.client ? c.down : c.up;
      epoll_event event{};
      event.data.ptr = &c;
      if (!source.ended && source.queued < limit) event.events |= EPOLLIN;
      if (sink.blocked || (fd == c.server && c.connecting)) event.events |= EPOLLOUT;
      ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
    }
  }

  int epoll_;
  int timer_;
  std::list<std::unique_ptr<Connection>> connections_;
  // When the capped line of each direction has sent everything queued on it so far.
  int64_t upLineFreeNs_ = 0;
  int64_t downLineFreeNs_ = 0;
};

}  // namespace

void LinkRelay::run() {
  int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  int timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
  epoll_event event{};
  event.events = EPOLLIN;
  // The relay's own descriptors are told apart from connections (pointers) by their small
  // numbers in data.u64.
  event.data.u64 = static_cast<uint64_t>(listenFd_);
  ::epoll_ctl(epollFd, EPOLL_CTL_ADD, listenFd_, &event);
  event.data.u64 = static_cast<uint64_t>(wakeFd_);
  ::epoll_ctl(epollFd, EPOLL_CTL_ADD, wakeFd_, &event);
  event.data.u64 = static_cast<uint64_t>(timerFd);
  ::epoll_ctl(epollFd, EPOLL_CTL_ADD, timerFd, &event);
  std::vector<int> silentClients;
  {
    Loop loop(epollFd, timerFd);
    std::vector<epoll_event> events(64);
    while (!stopping_) {
      int ready = ::epoll_wait(epollFd, events.data(), static_cast<int>(events.size()), -1);
      for (int i = 0; i < ready; ++i) {
        uint64_t tag = events[i].data.u64;
        int fd = tag == static_cast<uint64_t>(wakeFd_) || tag == static_cast<uint64_t>(timerFd) ||
                         tag == static_cast<uint64_t>(listenFd_)
                     ? static_cast<int>(tag)
                     : -1;
        if (fd < 0) continue;  // a connection: served below
        if (fd == wakeFd_ || fd == timerFd) {
          uint64_t count;
          (void)!::read(fd, &count, sizeof count);
        } else if (fd == listenFd_) {
          for (;;) {
            int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0) break;
            ++accepted_;
            if (blackHole_) {
              silentClients.push_back(client);
              continue;
            }
            int server = ConnectOnwards(targetHost_, targetPort_);
            if (server < 0) {
              ::close(client);
              continue;
            }
            int on = 1;
            ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            auto connection = std::make_unique<Connection>();
            connection->client = client;
            connection->server = server;
            loop.add(std::move(connection));
          }
        }
      }
      LinkSettings link{delayMs_.load(), bytesPerSecond_.load(), dropAfterBytes_.load()};
      loop.serve(NowNs(), link, stallUntilNs_.load());
    }
  }
  for (int fd : silentClients) ::close(fd);
  ::close(timerFd);
  ::close(epollFd);
}
