// One client connection of the web interface, as the stream the HTTP library reads
// requests from and writes replies to. The request being read must arrive whole before its
// deadline, however the client spaces its bytes.
#pragma once

#include <httplib.h>

#include <array>
#include <string>

#include "server/util/SocketAddress.h"
#include "server/util/SocketWait.h"

namespace qserver {

class HttpConnection final : public httplib::Stream {
 public:
  explicit HttpConnection(int socket);

  // Waits until the next request begins; false when nothing came before `until`.
  bool awaitRequest(SteadyClock::time_point until);
  // Reads of the request now being read fail from `deadline` on.
  void setReadDeadline(SteadyClock::time_point deadline) { readDeadline_ = deadline; }

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* data, size_t size) override;
  ssize_t write(const char* data, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return socket_; }

 private:
  bool buffered() const { return begin_ < end_; }
  bool fill();

  const int socket_;
  const Endpoint remote_;
  const Endpoint local_;
  SteadyClock::time_point readDeadline_;
  bool timedOut_ = false;
  // The library reads a request line a byte at a time; these hold what came in one receive.
  std::array<char, 4096> buffer_{};
  size_t begin_ = 0;
  size_t end_ = 0;
};

}  // namespace qserver
