#include "server/stream/StreamServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "server/stream/StreamConnection.h"
#include "server/util/Log.h"

namespace qserver {
namespace {

constexpr int kSendTimeoutSeconds = 60;   // a client that stops reading is dropped
constexpr int kIdleTimeoutSeconds = 900;  // a client that sends nothing is dropped
constexpr size_t kMaxConnections = 1024;  // beyond this, new connections are refused

void SetTimeout(int socket, int option, int seconds) {
  timeval limit{seconds, 0};
  ::setsockopt(socket, SOL_SOCKET, option, &limit, sizeof limit);
}

}  // namespace

StreamServer::StreamServer(Storage& storage, FaultControl& faults)
    : storage_(storage), faults_(faults) {}

StreamServer::~StreamServer() { stop(); }

bool StreamServer::start(const std::string& host, int port, std::string* error) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
    *error = "cannot resolve " + host + " to an IPv4 address";
    return false;
  }
  address.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
  ::freeaddrinfo(found);
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int yes = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
      ::listen(listener_, 128)) {
    *error = "cannot listen on " + host + ":" + std::to_string(port) + ": " + std::strerror(errno);
    return false;
  }
  socklen_t size = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) {
    *error = "cannot create a pipe";
    return false;
  }
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  acceptor_ = std::thread([this] { acceptLoop(); });
  return true;
}

void StreamServer::acceptLoop() {
  StreamContext context{storage_, faults_, streams_, stopping_};
  while (!stopping_) {
    pollfd waits[2] = {{listener_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (::poll(waits, 2, 1000) < 0 && errno != EINTR) break;
    {
      MutexLock guard(lock_);
      reapFinishedLocked();
    }
    if (stopping_ || !(waits[0].revents & POLLIN)) continue;
    int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) continue;
    MutexLock guard(lock_);
    if (workers_.size() >= kMaxConnections) {
      LogLine("stream: too many connections, refusing one");
      ::close(client);
      continue;
    }
    int yes = 1;
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    int sendBuffer = 4 << 20;  // room for many 64 KiB replies in flight
    ::setsockopt(client, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
    SetTimeout(client, SO_SNDTIMEO, kSendTimeoutSeconds);
    SetTimeout(client, SO_RCVTIMEO, kIdleTimeoutSeconds);
    auto worker = std::make_unique<Worker>();
    Worker* raw = worker.get();
    raw->socket = client;
    raw->thread = std::thread([raw, context] {
      {
        StreamConnection connection(raw->socket, context);
        connection.serve();
      }
      // The client sees the end at once; the descriptor is closed when the thread is reaped.
      ::shutdown(raw->socket, SHUT_RDWR);
      raw->done = true;
    });
    workers_.push_back(std::move(worker));
  }
}

void StreamServer::reapFinishedLocked() {
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

void StreamServer::stop() {
  if (stopping_.exchange(true) || listener_ < 0) return;
  if (wakeWrite_ >= 0) {
    char byte = 1;
    ssize_t ignored = ::write(wakeWrite_, &byte, 1);
    (void)ignored;
  }
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
