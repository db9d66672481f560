#include "server/web/HttpConnection.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "server/util/Log.h"

namespace qserver {
namespace {

// A client that takes no reply data for this long is dropped.
constexpr auto kWriteStall = std::chrono::seconds(60);

}  // namespace

HttpConnection::HttpConnection(int socket)
    : socket_(socket), remote_(PeerEndpoint(socket)), local_(LocalEndpoint(socket)) {}

bool HttpConnection::awaitRequest(SteadyClock::time_point until) {
  return buffered() || WaitReadable(socket_, until);
}

bool HttpConnection::is_readable() const {
  return buffered() || WaitReadable(socket_, readDeadline_);
}

bool HttpConnection::is_writable() const {
  return WaitWritable(socket_, SteadyClock::now() + kWriteStall);
}

ssize_t HttpConnection::read(char* data, size_t size) {
  if (!buffered() && !fill()) return -1;
  size_t count = std::min(size, end_ - begin_);
  std::memcpy(data, buffer_.data() + begin_, count);
  begin_ += count;
  return static_cast<ssize_t>(count);
}

bool HttpConnection::fill() {
  while (true) {
    if (!WaitReadable(socket_, readDeadline_)) {
      if (!timedOut_) LogLine("web: no whole request in time from " + remote_.ip + ", closing");
      timedOut_ = true;
      return false;
    }
    ssize_t n = ::recv(socket_, buffer_.data(), buffer_.size(), MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    begin_ = 0;
    end_ = static_cast<size_t>(n);
    return true;
  }
}

// All of it or nothing: the library writes header lines with one call and no retry.
ssize_t HttpConnection::write(const char* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    if (!is_writable()) return -1;
    ssize_t n = ::send(socket_, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return -1;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(size);
}

void HttpConnection::get_remote_ip_and_port(std::string& ip, int& port) const {
  ip = remote_.ip;
  port = remote_.port;
}

void HttpConnection::get_local_ip_and_port(std::string& ip, int& port) const {
  ip = local_.ip;
  port = local_.port;
}

}  // namespace qserver
