// A bare client of the control pipe for tests: sends records or loose bytes and receives
// replies with a deadline, so a missing reply or a closed connection can be told apart.
#pragma once

#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "platform/pipe/PipeClient.h"
#include "platform/pipe/PipeMessage.h"
#include "tests/support/Wait.h"

class RawPipeClient {
 public:
  explicit RawPipeClient(const std::string& path) : fd_(named_pipe::OpenPipe(path)) {}
  ~RawPipeClient() { named_pipe::ClosePipe(fd_); }
  bool connected() const { return fd_ >= 0; }

  bool send(const PipeMessage& message) { return sendBytes(&message, sizeof(message)); }
  bool sendBytes(const void* data, size_t size) { return named_pipe::WritePipe(fd_, data, size); }
  // Waits until the server has read everything sent so far.
  bool waitTaken(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    return WaitFor(
        [&] {
          int queued = 0;
          return ::ioctl(fd_, SIOCOUTQ, &queued) == 0 && queued == 0;
        },
        limit);
  }
  // The next reply record, or nothing when none came in time or the server closed.
  std::optional<PipeMessage> receive(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    PipeMessage reply;
    if (!named_pipe::ReadPipe(fd_, &reply, sizeof(reply), limit)) return std::nullopt;
    return reply;
  }
  // True when the server closed the connection within `limit`.
  bool closedByServer(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    pollfd watched{fd_, POLLIN, 0};
    if (::poll(&watched, 1, static_cast<int>(limit.count())) != 1) return false;
    char byte;
    return ::recv(fd_, &byte, 1, MSG_PEEK) == 0;
  }
  // Sends a request and returns the reply's text ("<none>" when no reply came).
  std::string ask(const PipeMessage& request) {
    if (!send(request)) return "<send failed>";
    auto reply = receive();
    return reply ? std::string(reply->body()) : "<none>";
  }

 private:
  int fd_;
};
