#include "drive/wire/CRSSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {
constexpr int kStepMs = 500;
// A send that cannot make progress for this long fails instead of blocking for ever.
constexpr int kSendLimitSeconds = 20;
}  // namespace

CRSSocket::CRSSocket() = default;

CRSSocket::~CRSSocket() { close(); }

int CRSSocket::connect(const std::string& host, const std::string& port) {
  char* end = nullptr;
  long number = std::strtol(port.c_str(), &end, 10);
  if (port.empty() || number <= 0 || number > 65535) {
    close();
    std::memset(&localAddress_, 0, sizeof localAddress_);
    std::memset(&remoteAddress_, 0, sizeof remoteAddress_);
    return -1;
  }
  return connect(host, static_cast<int>(number));
}

bool CRSSocket::connectWithin(int fd, int limitMs, const std::atomic<bool>* stop) {
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&remoteAddress_), sizeof remoteAddress_) != 0) {
    if (errno != EINPROGRESS) return false;
    int waited = 0;
    for (;;) {
      if (stop && stop->load()) return false;
      pollfd entry{fd, POLLOUT, 0};
      int ready = ::poll(&entry, 1, std::min(kStepMs, limitMs - waited));
      if (ready < 0 && errno != EINTR) return false;
      if (ready > 0) break;
      waited += kStepMs;
      if (waited >= limitMs) return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
  }
  return ::fcntl(fd, F_SETFL, flags) == 0;
}

int CRSSocket::connect(const std::string& host, int port, int limitMs,
                       const std::atomic<bool>* stop) {
  close();
  std::memset(&localAddress_, 0, sizeof localAddress_);
  std::memset(&remoteAddress_, 0, sizeof remoteAddress_);
  if (port <= 0 || port > 65535 || host.empty()) return -1;

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) == 0 && found) {
    std::memcpy(&remoteAddress_, found->ai_addr, sizeof remoteAddress_);
    ::freeaddrinfo(found);
  } else if (::inet_pton(AF_INET, host.c_str(), &remoteAddress_.sin_addr) != 1) {
    return -1;
  }
  remoteAddress_.sin_family = AF_INET;
  remoteAddress_.sin_port = htons(static_cast<uint16_t>(port));

  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (!connectWithin(fd, limitMs, stop)) {
    ::close(fd);
    return -1;
  }
  int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  timeval limit{kSendLimitSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  socklen_t length = sizeof localAddress_;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&localAddress_), &length);
  dropStaged();
  MutexLock guard(fdLock_);
  fd_ = fd;
  return 0;
}

void CRSSocket::attach(int fd) {
  close();
  dropStaged();
  MutexLock guard(fdLock_);
  fd_ = fd;
}

int CRSSocket::detach() {
  MutexLock guard(fdLock_);
  return fd_.exchange(-1);
}

void CRSSocket::close() {
  MutexLock guard(fdLock_);
  int fd = fd_.exchange(-1);
  if (fd >= 0) ::close(fd);
}

void CRSSocket::interrupt() {
  MutexLock guard(fdLock_);
  int fd = fd_;
  if (fd >= 0) ::shutdown(fd, SHUT_RD);
}

int CRSSocket::sendRequest(std::string_view text, Mutex& sendLock) {
  std::string frame = streamwire::BuildRequestFrame(text);
  if (frame.empty()) return -1;
  MutexLock guard(sendLock);
  int fd = fd_;
  if (fd < 0) return -1;
  ssize_t sent = ::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
  return static_cast<int>(sent);
}

int CRSSocket::sendRaw(const uint8_t* bytes, int32_t n) {
  int fd = fd_;
  if (fd < 0 || n < 0) return -1;
  int32_t total = 0;
  while (total < n) {
    ssize_t sent = ::send(fd, bytes + total, n - total, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return total > 0 ? total : -1;
    total += static_cast<int32_t>(sent);
  }
  return total;
}

int CRSSocket::waitReadable(int stepMs) {
  int fd = fd_;
  if (fd < 0) return -1;
  pollfd entry{fd, POLLIN, 0};
  int ready = ::poll(&entry, 1, stepMs);
  if (ready < 0) return errno == EINTR ? 0 : -1;
  if (ready == 0) return 0;
  if (entry.revents & POLLNVAL) return -1;
  return 1;  // readable, hung up or failed: the receive tells which
}

bool CRSSocket::bytesWaiting() {
  int fd = fd_;
  if (fd < 0) return false;
  if (stagedStart_ < stagedEnd_) return true;
  ssize_t got;
  do {
    got = ::recv(fd, staged_, sizeof staged_, MSG_DONTWAIT);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) return false;
  stagedStart_ = 0;
  stagedEnd_ = static_cast<int32_t>(got);
  return true;
}

int32_t CRSSocket::takeStaged(uint8_t* buffer, int32_t n) {
  int32_t moved = std::min(n, stagedEnd_ - stagedStart_);
  std::memcpy(buffer, staged_ + stagedStart_, static_cast<size_t>(moved));
  stagedStart_ += moved;
  if (stagedStart_ == stagedEnd_) dropStaged();
  return moved;
}

int CRSSocket::receiveExact(uint8_t* buffer, int32_t n, int idleLimitMs,
                            const std::atomic<bool>* stop) {
  if (fd_ < 0) return -1;
  int32_t total = 0;
  int idle = 0;
  while (total < n) {
    if (stop && stop->load()) return -1;
    if (stagedStart_ < stagedEnd_) {
      total += takeStaged(buffer + total, n - total);
      continue;
    }
    // Bytes already waiting are taken at once; only an empty socket costs a wait. A reply
    // usually arrives faster than it is read, so most pieces need one call instead of two.
    // A small piece goes through the staging area, which takes what follows it as well.
    bool small = n - total < static_cast<int32_t>(sizeof staged_);
    ssize_t got = small ? ::recv(fd_, staged_, sizeof staged_, MSG_DONTWAIT)
                        : ::recv(fd_, buffer + total, n - total, MSG_DONTWAIT);
    if (got > 0) {
      if (small) {
        stagedStart_ = 0;
        stagedEnd_ = static_cast<int32_t>(got);
      } else {
        total += static_cast<int32_t>(got);
      }
      idle = 0;
      continue;
    }
    if (got == 0) return 0;
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    int ready = waitReadable(kStepMs);
    if (ready < 0) return -1;
    if (ready == 0) {
      idle += kStepMs;
      if (idleLimitMs >= 0 && idle >= idleLimitMs) return -1;
    }
  }
  return total;
}

streamwire::Fields CRSSocket::receiveReply(int timeoutMs, const std::atomic<bool>* stop) {
  using namespace streamwire;
  lastText_.clear();
  if (stop && stop->load()) return {};
  // A reply already waiting is read without a wait before it.
  int waited = 0;
  for (bool waiting = bytesWaiting(); !waiting;) {
    if (stop && stop->load()) return {};
    int ready = waitReadable(kStepMs);
    if (ready < 0) return {kSocketError};
    if (ready > 0) break;
    waited += kStepMs;
    if (waited >= timeoutMs) return {kTimeout};
  }
  if (stop && stop->load()) return {};

  // Once a reply has begun, its remaining parts get the same limit for each pause.
  uint8_t header[kHeaderSize];
  if (receiveExact(header, kHeaderSize, timeoutMs, stop) != kHeaderSize) {
    return stop && stop->load() ? Fields{} : Fields{kSocketClose};
  }
  int32_t length = ReplyTextLength(header);
  if (length < 0) return {kSocketClose};  // not a frame this client can hold
  std::string text(length, '\0');
  if (receiveExact(reinterpret_cast<uint8_t*>(text.data()), length, timeoutMs, stop) != length) {
    return stop && stop->load() ? Fields{} : Fields{kSocketClose};
  }
  lastText_ = text.substr(0, text.find('\0'));
  return SplitFields(text);
}
