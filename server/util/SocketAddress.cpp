#include "server/util/SocketAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace qserver {
namespace {

Endpoint EndpointOf(const sockaddr_storage& address) {
  char text[INET6_ADDRSTRLEN] = "";
  Endpoint endpoint;
  if (address.ss_family == AF_INET6) {
    const auto& ip6 = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &ip6.sin6_addr, text, sizeof text);
    endpoint.port = ntohs(ip6.sin6_port);
  } else if (address.ss_family == AF_INET) {
    const auto& ip4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &ip4.sin_addr, text, sizeof text);
    endpoint.port = ntohs(ip4.sin_port);
  }
  endpoint.ip = text;
  return endpoint;
}

}  // namespace

Endpoint PeerEndpoint(int socket) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) return {};
  return EndpointOf(address);
}

Endpoint LocalEndpoint(int socket) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) return {};
  return EndpointOf(address);
}

}  // namespace qserver
