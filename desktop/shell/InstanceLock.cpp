#include "desktop/shell/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/pipe/PipePath.h"

namespace instance_lock {

namespace {

constexpr char kLockName[] = "quellanview.lock";
constexpr char kRaiseName[] = "quellanview.raise";
constexpr char kRaiseRequest[] = "raise\n";
constexpr auto kRetryPause = std::chrono::milliseconds(50);

std::string InFolder(const char* name) { return LockFolder() + "/" + name; }

bool SendRaiseRequest() {
  std::string path = RaiseSocketPath();
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  bool sent = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
              ::send(fd, kRaiseRequest, sizeof kRaiseRequest - 1, MSG_NOSIGNAL) ==
                  static_cast<ssize_t>(sizeof kRaiseRequest - 1);
  ::close(fd);
  return sent;
}

}  // namespace

std::string LockFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return runtime;
  return "/tmp/quellan-" + std::to_string(::getuid());
}

std::string RaiseSocketPath() { return InFolder(kRaiseName); }

Outcome Acquire(std::string* problem) {
  std::string path = InFolder(kLockName);
  // The folder is checked as the control pipe's is: a folder planted by another user (under
  // /tmp) must not decide whether this user's program runs.
  if (!named_pipe::PreparePipeFolder(path)) {
    named_pipe::CheckPipeFolder(path, problem);
    if (problem->empty()) *problem = LockFolder() + ": " + std::strerror(errno);
    return Outcome::kFailed;
  }
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *problem = path + ": " + std::strerror(errno);
    return Outcome::kFailed;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Outcome::kAcquired;  // fd stays open
  int error = errno;
  ::close(fd);
  if (error == EWOULDBLOCK) return Outcome::kRunning;
  *problem = path + ": " + std::strerror(error);
  return Outcome::kFailed;
}

bool AskRunningCopyToRaise(std::chrono::milliseconds limit) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (SendRaiseRequest()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kRetryPause);
  }
}

}  // namespace instance_lock
