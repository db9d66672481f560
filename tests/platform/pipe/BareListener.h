// A listening Unix socket made without any of the pipe server's checks: stands in for a
// socket someone else put at the pipe's path, and tells whether a client came.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

class BareListener {
 public:
  explicit BareListener(const std::string& path) : path_(path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    // Non-blocking, so that asking whether a client came never waits.
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(fd_, 4) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~BareListener() {
    if (fd_ >= 0) ::close(fd_), ::unlink(path_.c_str());
  }
  bool listening() const { return fd_ >= 0; }
  // True when a client connected since the last call (it is taken off the queue and closed).
  bool clientCame() {
    int client = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0) return false;
    ::close(client);
    return true;
  }

 private:
  std::string path_;
  int fd_ = -1;
};
