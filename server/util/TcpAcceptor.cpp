#include "server/util/TcpAcceptor.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "server/util/Log.h"
#include "server/util/SocketAddress.h"

namespace qserver {
namespace {

constexpr int kReapIntervalMs = 1000;
constexpr auto kRefusalLogInterval = std::chrono::seconds(1);

// A bound, listening socket for host:port, or -1 with a reason.
int Listen(const std::string& host, int port, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found) {
    *error = "cannot resolve " + host;
    return -1;
  }
  int listener = ::socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int yes = 1;
  // Address reuse only: SO_REUSEPORT would let a second server share the port unnoticed.
  if (listener >= 0) ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  bool bound = listener >= 0 && ::bind(listener, found->ai_addr, found->ai_addrlen) == 0 &&
               ::listen(listener, SOMAXCONN) == 0;
  ::freeaddrinfo(found);
  if (!bound) {
    *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
    if (listener >= 0) ::close(listener);
    return -1;
  }
  return listener;
}

}  // namespace

TcpAcceptor::TcpAcceptor(std::string name, ConnectionLimits limits, Handler handler)
    : name_(std::move(name)), handler_(std::move(handler)), limit_(limits) {}

TcpAcceptor::~TcpAcceptor() { stop(); }

bool TcpAcceptor::listen(const std::string& host, int port, std::string* error) {
  listener_ = Listen(host, port, error);
  if (listener_ < 0) return false;
  port_ = LocalEndpoint(listener_).port;
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) {
    *error = "cannot create a pipe";
    ::close(listener_);
    listener_ = -1;
    return false;
  }
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  return true;
}

void TcpAcceptor::start() {
  acceptor_ = std::thread([this] { acceptLoop(); });
}

void TcpAcceptor::acceptLoop() {
  while (!stopping_) {
    pollfd waits[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (::poll(waits, 2, kReapIntervalMs) < 0 && errno != EINTR) break;
    {
      MutexLock guard(lock_);
      reapFinishedLocked();
    }
    if (stopping_ || !(waits[0].revents & POLLIN)) continue;
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client >= 0) {
      serve(client, PeerEndpoint(client).ip);
    } else if (errno == EMFILE || errno == ENFILE) {
      // Out of descriptors: the pending connection stays queued; let finished ones go first.
      LogLine(name_ + ": out of file descriptors, not accepting for a moment");
      waitForWake(100);
    }
  }
}

void TcpAcceptor::serve(int client, const std::string& address) {
  if (!limit_.admit(address)) return refuse(client, address);
  auto worker = std::make_unique<Worker>();
  Worker* raw = worker.get();
  raw->socket = client;
  raw->address = address;
  try {
    raw->thread = std::thread([this, raw] {
      handler_(raw->socket);
      // The client sees the end at once; the descriptor is closed when the thread is reaped.
      ::shutdown(raw->socket, SHUT_RDWR);
      limit_.release(raw->address);
      raw->done = true;
    });
  } catch (const std::system_error&) {
    LogLine(name_ + ": cannot start a thread, refusing a connection from " + address);
    limit_.release(address);
    ::close(client);
    return;
  }
  MutexLock guard(lock_);
  workers_.push_back(std::move(worker));
}

void TcpAcceptor::refuse(int client, const std::string& address) {
  ::close(client);
  auto now = std::chrono::steady_clock::now();
  // A flood of refused connections must not flood the log as well.
  if (now - lastRefusalLogged_ < kRefusalLogInterval) return;
  lastRefusalLogged_ = now;
  LogLine(name_ + ": too many connections, refusing one from " + address);
}

void TcpAcceptor::waitForWake(int milliseconds) {
  pollfd wait{wakeRead_, POLLIN, 0};
  ::poll(&wait, 1, milliseconds);
}

void TcpAcceptor::reapFinishedLocked() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (!(*it)->done) {
      ++it;
      continue;
    }
    (*it)->thread.join();
    ::close((*it)->socket);
    it = workers_.erase(it);
  }
}

void TcpAcceptor::stop() {
  if (stopping_.exchange(true) || listener_ < 0) return;
  char byte = 1;
  ssize_t ignored = ::write(wakeWrite_, &byte, 1);
  (void)ignored;
  if (acceptor_.joinable()) acceptor_.join();
  std::list<std::unique_ptr<Worker>> workers;
  {
    MutexLock guard(lock_);
    workers.swap(workers_);
  }
  for (auto& worker : workers) ::shutdown(worker->socket, SHUT_RDWR);
  for (auto& worker : workers) {
    worker->thread.join();
    ::close(worker->socket);
  }
  ::close(listener_);
  ::close(wakeRead_);
  ::close(wakeWrite_);
  listener_ = wakeRead_ = wakeWrite_ = -1;
}

}  // namespace qserver
