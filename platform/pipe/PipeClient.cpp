#include "platform/pipe/PipeClient.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/pipe/PipePath.h"

namespace named_pipe {

namespace {

using Clock = std::chrono::steady_clock;

int Connect(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  // Non-blocking connect: a server whose queue is full counts as busy, like a pipe whose one
  // instance is taken, instead of holding the caller.
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Why the process listening at the other end of `fd` is not to be talked to; empty when it
// runs as this user.
std::string PeerProblem(int fd) {
  ucred peer{};
  socklen_t size = sizeof(peer);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
    return std::string("its server cannot be identified: ") + std::strerror(errno);
  if (peer.uid != ::getuid()) return "it is served by user " + std::to_string(peer.uid);
  return {};
}

}  // namespace

int OpenPipe(const std::string& path, std::string* refusal) {
  std::string problem;
  FolderTrust trust = CheckPipeFolder(path, &problem);
  if (trust == FolderTrust::kMissing) return -1;
  int fd = trust == FolderTrust::kTrusted ? Connect(path) : -1;
  if (fd >= 0) problem = PeerProblem(fd);
  if (problem.empty()) return fd;
  ClosePipe(fd);
  if (refusal != nullptr) *refusal = "control pipe " + path + " refused: " + problem;
  return -1;
}

int ServerProcessOf(int fd) {
  ucred peer{};
  socklen_t size = sizeof(peer);
  if (fd < 0 || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return -1;
  return peer.pid > 0 ? peer.pid : -1;
}

bool WritePipe(int fd, const void* data, size_t size) {
  return WritePipe(fd, data, size, std::chrono::milliseconds(-1));
}

bool WritePipe(int fd, const void* data, size_t size, std::chrono::milliseconds limit) {
  const bool limited = limit.count() >= 0;
  const Clock::time_point deadline = Clock::now() + (limited ? limit : limit.zero());
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t count = ::send(fd, next, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && errno == EAGAIN) {
      // The server's side is full: wait for room, as long as the limit allows.
      auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (limited && left.count() <= 0) return false;
      pollfd watched{fd, POLLOUT, 0};
      int ready = ::poll(&watched, 1, limited ? static_cast<int>(left.count()) : -1);
      if (ready < 0 && errno != EINTR) return false;
      if (ready == 0) return false;
      continue;
    }
    if (count <= 0) return false;
    next += count;
    size -= static_cast<size_t>(count);
  }
  return true;
}

bool ReadPipe(int fd, void* buffer, size_t size, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  char* next = static_cast<char*>(buffer);
  while (size > 0) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd watched{fd, POLLIN, 0};
    int ready = ::poll(&watched, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t count = ::recv(fd, next, size, MSG_DONTWAIT);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count <= 0) return false;
    next += count;
    size -= static_cast<size_t>(count);
  }
  return true;
}

bool ConnectionSpent(int fd) {
  pollfd watched{fd, POLLIN | POLLRDHUP, 0};
  int ready;
  do {
    ready = ::poll(&watched, 1, 0);
  } while (ready < 0 && errno == EINTR);
  return ready != 0;
}

void ClosePipe(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace named_pipe
