#include "platform/pipe/PipeServer.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/pipe/PipePath.h"

namespace named_pipe {

namespace {

bool FillAddress(const std::string& path, sockaddr_un* address) {
  std::memset(address, 0, sizeof(*address));
  address->sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address->sun_path)) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// True when a server answers on the socket at `address`.
bool ServerAlive(const sockaddr_un& address) {
  int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (probe < 0) return true;  // cannot tell: leave the socket alone
  int result = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  bool alive = result == 0 || errno == EAGAIN || errno == EINPROGRESS;
  ::close(probe);
  return alive;
}

// Removes a socket a dead server left at `path`; false when the path is in use or is not a
// socket (which is never removed).
bool ClearStaleSocket(const std::string& path, const sockaddr_un& address) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISSOCK(st.st_mode) || ServerAlive(address)) return false;
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

using Clock = std::chrono::steady_clock;

constexpr int kQueueLength = 16;

// Whole milliseconds from now to `deadline`, rounded up; 0 once it has passed.
int MillisecondsUntil(Clock::time_point deadline) {
  auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until `fd` is readable, `wakeFd` is (wake() came) or `limitMs` passed (-1: no limit).
// 1 when readable, 0 when the time ran out, -1 for wake() or a failed wait.
int WaitReadable(int fd, int wakeFd, int limitMs) {
  pollfd watched[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  for (;;) {
    int ready = ::poll(watched, wakeFd >= 0 ? 2 : 1, limitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (watched[1].revents & POLLIN) != 0) return -1;
    if (ready == 0) return 0;
    return watched[0].revents != 0 ? 1 : -1;
  }
}

long ReadClient(int fd, int wakeFd, void* buffer, size_t size, std::chrono::milliseconds limit) {
  const bool limited = limit >= std::chrono::milliseconds::zero();
  const Clock::time_point deadline = Clock::now() + (limited ? limit : limit.zero());
  char* next = static_cast<char*>(buffer);
  size_t left = size;
  while (fd >= 0 && left > 0) {
    int ready = WaitReadable(fd, wakeFd, limited ? MillisecondsUntil(deadline) : -1);
    if (ready == 0) return PipeServer::kTimedOut;
    if (ready < 0) return -1;
    // Only what is still missing is taken, so bytes of the next record stay in the socket.
    ssize_t count = ::recv(fd, next, left, MSG_DONTWAIT);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (count <= 0) return -1;
    next += count;
    left -= static_cast<size_t>(count);
  }
  return fd >= 0 ? static_cast<long>(size) : -1;
}

bool WriteClient(int fd, const void* data, size_t size) {
  const char* next = static_cast<const char*>(data);
  while (fd >= 0 && size > 0) {
    ssize_t count = ::send(fd, next, size, MSG_NOSIGNAL);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return false;
    next += count;
    size -= static_cast<size_t>(count);
  }
  return fd >= 0;
}

}  // namespace

ServedClient::~ServedClient() { ::close(fd_); }

long ServedClient::read(void* buffer, size_t size, std::chrono::milliseconds limit) {
  return ReadClient(fd_, wakeFd_, buffer, size, limit);
}

bool ServedClient::write(const void* data, size_t size) { return WriteClient(fd_, data, size); }

PipeServer::PipeServer() : wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

PipeServer::~PipeServer() {
  close();
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

bool PipeServer::create(const std::string& path) {
  close();
  sockaddr_un address{};
  if (!FillAddress(path, &address) || !PreparePipeFolder(path) ||
      !ClearStaleSocket(path, address)) {
    return false;
  }
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return false;
  }
  // The folder is closed to others, so nobody can reach the socket before its mode is set.
  // The queue holds the parties that come at the same moment (the drive watcher, the page and
  // the upload workers) until they are taken.
  if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd, kQueueLength) != 0) {
    ::close(fd);
    ::unlink(path.c_str());
    return false;
  }
  listener_ = fd;
  path_ = path;
  return true;
}

int PipeServer::takeClient() {
  if (listener_ < 0) return -1;
  for (;;) {
    if (WaitReadable(listener_, wakeFd_, -1) != 1) return -1;
    int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return fd;
    // A client that gave up before it was taken is no failure of the pipe.
    if (errno != EINTR && errno != ECONNABORTED && errno != EAGAIN) return -1;
  }
}

bool PipeServer::connect() {
  if (listener_ < 0) return false;
  disconnect();
  client_ = takeClient();
  return client_ >= 0;
}

std::unique_ptr<ServedClient> PipeServer::accept() {
  int fd = takeClient();
  if (fd < 0) return nullptr;
  return std::make_unique<ServedClient>(fd, wakeFd_);
}

long PipeServer::read(void* buffer, size_t size, std::chrono::milliseconds limit) {
  return ReadClient(client_, wakeFd_, buffer, size, limit);
}

bool PipeServer::write(const void* data, size_t size) { return WriteClient(client_, data, size); }

void PipeServer::disconnect() {
  if (client_ >= 0) ::close(client_);
  client_ = -1;
}

void PipeServer::close() {
  disconnect();
  if (listener_ >= 0) {
    ::close(listener_);
    ::unlink(path_.c_str());
  }
  listener_ = -1;
}

void PipeServer::wake() {
  if (wakeFd_ >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(wakeFd_, &one, sizeof(one));
  }
}

}  // namespace named_pipe
