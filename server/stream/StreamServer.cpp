#include "server/stream/StreamServer.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "server/stream/StreamConnection.h"

namespace qserver {
namespace {

constexpr int kSendTimeoutSeconds = 60;  // a client that stops reading is dropped

void SetTimeout(int socket, int option, int seconds) {
  timeval limit{seconds, 0};
  ::setsockopt(socket, SOL_SOCKET, option, &limit, sizeof limit);
}

}  // namespace

StreamServer::StreamServer(Storage& storage, FaultControl& faults, ConnectionLimits limits,
                           std::chrono::milliseconds firstRequest)
    : storage_(storage),
      faults_(faults),
      firstRequest_(firstRequest),
      acceptor_("stream", limits, [this](int socket) { serve(socket); }) {}

StreamServer::~StreamServer() { stop(); }

bool StreamServer::start(const std::string& host, int port, std::string* error) {
  if (!acceptor_.listen(host, port, error)) return false;
  acceptor_.start();
  return true;
}

void StreamServer::stop() {
  stopping_ = true;
  acceptor_.stop();
}

void StreamServer::serve(int socket) {
  int yes = 1;
  ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  int sendBuffer = 4 << 20;  // room for many 64 KiB replies in flight
  ::setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
  SetTimeout(socket, SO_SNDTIMEO, kSendTimeoutSeconds);
  StreamConnection connection(socket,
                              StreamContext{storage_, faults_, streams_, stopping_, firstRequest_});
  connection.serve();
}

}  // namespace qserver
